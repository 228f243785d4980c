#include "ui/operation_commands.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QModelIndex>
#include <QStatusBar>

#include "description/elements.h"
#include "files/kba604_doc.h"
#include "operations/device.h"
#include "operations/network_commands.h"
#include "operations/scanner.h"
#include "runner/document_handler.h"
#include "ui/link_indicator.h"
#include "ui/main_window.h"
#include "ui/network_dialogs.h"
#include "ui/progress_window.h"
#include "ui/qt_services.h"

namespace kba604 {
namespace {

std::string str(const QString& s) {
  return s.toStdString();
}

// The wait cursor for as long as a command prepares its operation on the UI thread.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

class OperationCommands::Polling final : public PollingGuard {
 public:
  Polling(CKBA604Doc& doc, const PollingGuard* scanners) : doc_(doc), scanners_(scanners) {}
  bool AnyPollingOn() const override {
    if (scanners_ != nullptr && scanners_->AnyPollingOn()) return true;
    const DescBranch* branch = doc_.operational_tree();
    return branch != nullptr && kba604::AnyPollingOn(*branch);
  }

 private:
  CKBA604Doc& doc_;
  const PollingGuard* scanners_;
};

OperationCommands::OperationCommands(Services services)
    : QObject(&services.window),
      s_(services),
      polling_(std::make_unique<Polling>(s_.doc, s_.polling)) {
  pool_.setMaxThreadCount(1);
  choose_file_ = [this](bool save, const QString& title) {
    const QString filter = tr(kEepromFilter);
    if (!save) return QFileDialog::getOpenFileName(&s_.window, title, {}, filter);
    QFileDialog dialog(&s_.window, title, {}, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("eep"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().front();
  };
  ask_aply_ = [this](Dialogs::CApply& apply) {
    ApplyDialog dialog(apply, &s_.window);
    return dialog.exec() == QDialog::Accepted;
  };

  MainWindow& w = s_.window;
  w.set_command_handler(command::kWriteFactory, [this] { initialise(); });
  w.set_command_handler(command::kSaveEepromImage, [this] { save_eeprom_image(); });
  w.set_command_handler(command::kLoadEepromImage, [this] { load_eeprom_image(); });
  w.set_command_handler(command::kWriteErroneous, [this] { write_erroneous(); });
  w.set_command_handler(command::kSendPrtl, [this] { send_prtl(); });
  w.set_command_handler(command::kSendAply, [this] { send_aply(); });
  w.set_command_handler(command::kProgramNetSettings, [this] { program_network_settings(); });
  // A run started with switches never waits on a dialog of its own: the commands that begin
  // with one are greyed for the whole run, rather than doing nothing when chosen.
  if (s_.quiet) {
    for (int id : {command::kSaveEepromImage, command::kLoadEepromImage, command::kSendAply}) {
      w.set_command_enabler(id, [] { return false; });
    }
  }

  // The offer of "APLY" comes once the operation that wrote the settings has ended and its
  // window has gone; an immediate write has no window, so the flag is looked at regularly.
  poll_timer_.setInterval(250);
  connect(&poll_timer_, &QTimer::timeout, this, &OperationCommands::poll);
  poll_timer_.start();
}

OperationCommands::~OperationCommands() {
  poll_timer_.stop();
  pool_.waitForDone();
}

Device* OperationCommands::device() const {
  return dynamic_cast<Device*>(&s_.doc.device());
}

bool OperationCommands::busy() const {
  return running_ > 0 || s_.doc.device().busy() || s_.view.is_open();
}

bool OperationCommands::wait_done(int timeout_ms) {
  return run_events_until([this] { return running_ == 0; }, timeout_ms);
}

void OperationCommands::run_off_ui(std::function<void()> work, std::function<void()> done) {
  ++running_;
  QPointer<OperationCommands> self(this);
  pool_.start([self, work = std::move(work), done = std::move(done)] {
    work();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, done] {
          if (self == nullptr) return;
          --self->running_;
          if (done) done();
          emit self->exchange_done();
        },
        Qt::QueuedConnection);
  });
}

// ---- initialisation and the EEPROM image -----------------------------------------------------

void OperationCommands::initialise() {
  if (busy()) return;
  DescBranch* root = s_.doc.main_tree();
  if (root == nullptr) {
    s_.app.prompter().show(kNoTreeText, kOperationImpossibleCaption, PromptIcon::Error);
    return;
  }
  // The guards and the question come first, on this thread; the writes run on the worker.
  WaitCursor cursor;
  s_.doc.device_commands().start_initialise(*root, polling_.get());
}

void OperationCommands::save_eeprom_image() {
  if (busy() || s_.quiet) return;
  QString path = choose_file_(true, tr(kSaveEepromTitle));
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".eep");
  s_.doc.device_commands().start_save_eeprom_image(str(QFileInfo(path).absoluteFilePath()));
}

void OperationCommands::load_eeprom_image() {
  if (busy() || s_.quiet) return;
  const QString path = choose_file_(false, tr(kOpenEepromTitle));
  if (path.isEmpty()) return;
  s_.doc.device_commands().start_load_eeprom_image(str(QFileInfo(path).absoluteFilePath()));
  s_.window.model().refresh_all();
}

void OperationCommands::write_erroneous() {
  if (busy()) return;
  WaitCursor cursor;
  s_.doc.OnCommand(command::kWriteErroneous);
}

// ---- the network commands ----------------------------------------------------------------------

void OperationCommands::send_prtl() {
  Device* d = device();
  if (busy() || d == nullptr) return;
  const Parameter* prot = s_.doc.table().find_by_name("prot");
  const std::string protocol = prot != nullptr ? prot->value : std::string(kNoData);
  // The question needs a person, the write needs the line: asked here, sent off this thread.
  if (!s_.app.prompter().confirm(prtl_question(protocol), kPrtlCaption, PromptIcon::Warning)) {
    return;
  }
  run_off_ui([d] { write_prtl(*d); }, [this] { s_.window.model().refresh_all(); });
}

void OperationCommands::send_aply() {
  Device* d = device();
  if (busy() || s_.quiet) return;
  auto apply = std::make_shared<Dialogs::CApply>(d, &s_.doc.instrument_network());
  if (!ask_aply_(*apply)) return;
  run_off_ui([apply] { apply->OnOK(); },
             [this] {
               // The program's own settings may have followed the instrument's.
               s_.window.model().refresh_all();
               s_.window.refresh_commands();
             });
}

void OperationCommands::poll() {
  const bool now_busy = busy();
  if (now_busy != was_busy_) {
    was_busy_ = now_busy;
    s_.window.refresh_commands();
  }
  offer_aply();
}

void OperationCommands::offer_aply() {
  DeviceOperations& d = s_.doc.device();
  if (!d.network_settings_written() || busy()) return;
  d.clear_network_settings_written();
  if (s_.quiet || s_.app.options.any_switch()) return;
  if (s_.app.prompter().confirm(kOfferAplyText, kOfferAplyCaption, PromptIcon::Question)) {
    send_aply();
  }
}

void OperationCommands::program_network_settings() {
  // The program's own settings are a branch of the tree, edited in place with the rules of
  // the network settings; the command takes the person there.
  ParameterTreeModel& model = s_.window.model();
  for (int r = 0; r < model.rowCount(); ++r) {
    const QModelIndex root = model.index(r, 0);
    for (int c = 0; c < model.rowCount(root); ++c) {
      const QModelIndex branch = model.index(c, 0, root);
      if (model.element(branch) == nullptr ||
          dynamic_cast<Elements::NetRS485prg*>(model.element(branch)) == nullptr) {
        continue;
      }
      QTreeView& tree = s_.window.tree();
      tree.expand(root);
      tree.expand(branch);
      const QModelIndex first = model.rowCount(branch) > 0 ? model.index(0, 0, branch) : branch;
      tree.setCurrentIndex(first);
      tree.scrollTo(first);
      tree.setFocus();
      return;
    }
  }
}

OperationCommands* wire_window_operations(MainWindow& window, ConfiguratorDocument& document,
                                          ProgressOperationView& view, QtNotificationSink& sink,
                                          bool quiet) {
  CKBA604Doc* doc = document.document();
  auto* device = doc != nullptr ? dynamic_cast<Device*>(&doc->device()) : nullptr;
  if (device == nullptr) return nullptr;
  CKBA604App& app = device->app();
  view.set_parent_window(&window);
  view.set_quiet(quiet);
  window.statusBar()->addPermanentWidget(new LinkIndicator(device, app.options.no_port(), &window));
  // The control channel's "!open" goes through the tree, which lets its rows go before the
  // description is loaded again; once the window has gone nothing is opened any more.
  document.set_channel_document_opener(
      [w = QPointer<MainWindow>(&window)](const std::string& path) {
        return w != nullptr && w->replace_document(QString::fromStdString(path));
      });
  return new OperationCommands(
      OperationCommands::Services{app, window, *doc, view, sink, document.scanner(), quiet});
}

}  // namespace kba604
