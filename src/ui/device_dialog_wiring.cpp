#include "ui/device_dialog_wiring.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <memory>

#include "app/commands.h"
#include "calibration/calibration_texts.h"
#include "files/kba604_doc.h"
#include "operations/device.h"
#include "operations/direct_exchange.h"
#include "ui/calibration_dialogs.h"
#include "ui/main_window.h"
#include "ui/regul_dlg.h"
#include "ui/single_point_dlg.h"
#include "ui/traffic_monitor.h"

namespace kba604 {
namespace {

constexpr int kSinglePointCommand = 141;  // "Опрос отдельного параметра..."
constexpr int kRegulationCommand = 32885;  // "Запуск / Остановка регулирования..."

// The window's dialogs over its document's device; a child of the window, so it goes with it.
class DeviceDialogWiring final : public QObject {
 public:
  DeviceDialogWiring(MainWindow& window, Device& device, Prompter& prompter)
      : QObject(&window), window_(window), device_(device), prompter_(prompter) {
    setObjectName(QStringLiteral("deviceDialogWiring"));
    // The window closes without the person (the exit event, a signal, the end of the command
    // line's work) while a dialog is open: each dialog is left as its "Отмена" leaves it, one
    // after another, until none is open; the window's loop can then end.
    connect(&window, &MainWindow::closed, this, [this] {
      if (open_dialogs_ > 0) closer_.start();
    });
    closer_.setInterval(20);
    connect(&closer_, &QTimer::timeout, this, [this] {
      if (open_dialogs_ == 0) {
        closer_.stop();
        return;
      }
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        dialog->reject();
      }
    });
  }

  bool calibration_enabled() const {
    const CKBA604App& app = window_.app();
    return !calibrating_ && !device_.busy() && !app.options.no_port() &&
           calibration::calibration_available(device_.identified(), app.modes.access_level.load(),
                                              app.modes.modification.load());
  }

  // The wizard to its end; the tree is redrawn when a type selection went on to the steps.
  void calibrate() {
    if (calibrating_) return;
    calibrating_ = true;
    DialogOpen open(open_dialogs_);
    const CKBA604App& app = window_.app();
    const bool continued = Dialogs::run_calibration_wizard(
        device_, prompter_, app.modes.access_level.load(), app.modes.modification.load(), &window_);
    calibrating_ = false;
    if (continued) views_changed();
  }

  void single_point() {
    DialogOpen open(open_dialogs_);
    Dialogs::CSinglePoint dialog(
        link(), device_.table(), prompter_,
        [this](Parameter& p) { return show_in_tree(window_, p); }, &window_);
    dialog.exec();
    views_changed();
  }

  void regulation() {
    DialogOpen open(open_dialogs_);
    Dialogs::CRegulDlg::run(link(), device_.table(), prompter_, &window_);
    views_changed();
  }

  void export_parameter_list() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    window_.document().export_parameter_list();
    QApplication::restoreOverrideCursor();
  }

 private:
  // The dialogs' link: the device's request layer, announcing what it changed through the
  // device's notification sink. The device lives as long as the document, which outlives the
  // window and every dialog over it.
  std::shared_ptr<DirectExchange> link() {
    Device* device = &device_;
    std::shared_ptr<DeviceIO> io(std::shared_ptr<DeviceIO>(), device);
    return std::make_shared<LinkExchange>(
        std::move(io), [device](const Parameter& p) { device->notify_changed(p); });
  }

  void views_changed() { window_.document().UpdateAllViews(); }

  // Counts a dialog (with everything it opens) while it runs.
  struct DialogOpen {
    explicit DialogOpen(int& count) : count_(count) { ++count_; }
    ~DialogOpen() { --count_; }
    DialogOpen(const DialogOpen&) = delete;
    DialogOpen& operator=(const DialogOpen&) = delete;
    int& count_;
  };

  MainWindow& window_;
  Device& device_;
  Prompter& prompter_;
  bool calibrating_ = false;
  int open_dialogs_ = 0;
  QTimer closer_;
};

DeviceDialogWiring* wiring_of(MainWindow& window) {
  return window.findChild<DeviceDialogWiring*>(QStringLiteral("deviceDialogWiring"),
                                               Qt::FindDirectChildrenOnly);
}

// The desktop's viewer for a page the document wrote.
bool open_with_desktop(const std::filesystem::path& path, std::string* error) {
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())))) {
    return true;
  }
  if (error != nullptr) *error = "нет программы для просмотра страниц";
  return false;
}

// "Монитор обмена": docked below the tree, closed (and not tapping the line) until chosen at
// the end of the menu "Прибор".
void add_traffic_monitor(MainWindow& window, Device& device, Prompter& prompter) {
  auto* monitor = new TrafficMonitor(device.sio(), device.table(), prompter, &window);
  window.addDockWidget(Qt::BottomDockWidgetArea, monitor);
  monitor->hide();
  QAction* toggle = monitor->toggleViewAction();
  toggle->setText(QObject::tr("Монитор обмена"));
  for (QAction* top : window.menuBar()->actions()) {
    if (top->menu() != nullptr && top->text() == QObject::tr("&Прибор")) {
      top->menu()->addSeparator();
      top->menu()->addAction(toggle);
      return;
    }
  }
  window.addAction(toggle);
}

}  // namespace

TrafficMonitor* traffic_monitor(MainWindow& window) {
  return window.findChild<TrafficMonitor*>(QStringLiteral("trafficMonitor"));
}

void wire_device_dialogs(MainWindow& window, Prompter& prompter) {
  auto* device = dynamic_cast<Device*>(&window.document().device());
  window.document().set_file_viewer(open_with_desktop);
  window.set_command_handler(command::kExportParameterList, [&window] {
    if (DeviceDialogWiring* w = wiring_of(window)) {
      w->export_parameter_list();
    } else {
      window.document().export_parameter_list();
    }
  });
  if (device == nullptr || wiring_of(window) != nullptr) return;
  auto* wiring = new DeviceDialogWiring(window, *device, prompter);
  window.set_command_handler(command::kCalibrate, [wiring] { wiring->calibrate(); });
  window.set_command_enabler(command::kCalibrate,
                             [wiring] { return wiring->calibration_enabled(); });
  window.set_command_handler(kSinglePointCommand, [wiring] { wiring->single_point(); });
  window.set_command_handler(kRegulationCommand, [wiring] { wiring->regulation(); });
  add_traffic_monitor(window, *device, prompter);
  // While an operation runs, its exchanges own the line: the dialogs wait for its end.
  for (int id : {kSinglePointCommand, kRegulationCommand}) {
    window.set_command_enabler(id, [device] { return !device->busy(); });
  }
}

bool calibration_enabled(MainWindow& window) {
  DeviceDialogWiring* wiring = wiring_of(window);
  return wiring != nullptr && wiring->calibration_enabled();
}

bool start_command_line_calibration(MainWindow& window, std::function<void()> done) {
  DeviceDialogWiring* wiring = wiring_of(window);
  if (wiring == nullptr) {
    std::fputs("kba604: мастер калибровки работает только в окне программы\n", stderr);
    return false;
  }
  if (!wiring->calibration_enabled()) {
    std::fputs(
        "kba604: юстировка недоступна: прибор не назвал себя KBA604, или ее не допускает "
        "уровень доступа и модификация\n",
        stderr);
    return false;
  }
  QPointer<DeviceDialogWiring> guard(wiring);
  QTimer::singleShot(0, wiring, [guard, done = std::move(done)] {
    if (guard != nullptr) guard->calibrate();
    done();
  });
  return true;
}

bool show_in_tree(MainWindow& window, const Parameter& parameter) {
  const QModelIndex row = window.model().index_of(&parameter);
  if (!row.isValid()) return false;
  for (QModelIndex up = row.parent(); up.isValid(); up = up.parent()) window.tree().expand(up);
  window.tree().setCurrentIndex(row);
  window.tree().scrollTo(row);
  return true;
}

}  // namespace kba604
