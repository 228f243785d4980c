// The instrument's dialogs opened from the main window's menu, as a person opens them, against
// the virtual instrument: the calibration wizard (and its availability, and the command line's
// "calibrate" through the window front end), the single-parameter dialog with "find in the
// tree", the regulation dialog, and the parameter list's page handed to the desktop.
// The virtual instrument first: its headers use "slots" as a name.
#include "support/virtual_instrument.h"
// clang-format off
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest/QtTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/start_rules.h"
#include "files/kba604_doc.h"
#include "operations/device.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "runner/document_handler.h"
#include "support/recording_notification_sink.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "ui/calibration_dialogs.h"
#include "ui/device_dialog_wiring.h"
#include "ui/main_window.h"
#include "ui/qt_services.h"
#include "ui/regul_dlg.h"
#include "ui/single_point_dlg.h"
#include "ui/traffic_monitor.h"
#include "ui/window_program.h"
// clang-format on

using namespace kba604;

namespace {

// What the workers announce is recorded and handed on to the window, as the program's own sink
// does.
class ForwardingSink final : public NotificationSink {
 public:
  explicit ForwardingSink(QtNotificationSink& window) : window_(window) {}
  void value_polled(std::uint32_t key, std::string_view value) override {
    window_.value_polled(key, value);
  }
  void views_changed() override {
    record.views_changed();
    window_.views_changed();
  }
  void command_finished(int command) override { window_.command_finished(command); }
  void parameter_changed(std::size_t index) override {
    record.parameter_changed(index);
    window_.parameter_changed(index);
  }
  bool announced(const ParameterTable& table, const Parameter& p) const {
    const std::optional<std::size_t> i = table.index_of(p);
    if (!i) return false;
    for (std::size_t c : record.changed_parameters()) {
      if (c == *i) return true;
    }
    return false;
  }
  test::RecordingNotificationSink record;

 private:
  QtNotificationSink& window_;
};

// The program's start-up over the virtual instrument; the window comes from the window front
// end, wired as the program wires it.
struct Rig {
  explicit Rig(const std::vector<std::string>& params = {}) {
    store.set_value("Ports/COM9", sim.path());
    store.set_uint32("port_number", 9);
    store.set_uint32("baud_rate", 115200);
    store.set_uint32("RS485type", 1);
    app.options.clear();
    CmyCommandLineInfo info(app.options);
    info.parse(params);
    apply_no_port_rule(app.options);
    apply_start_modes(app.options, app.modes);
    handler = make_document_handler();
    start = handler->construct(context);
    if (start != DocumentStart::Ready) return;
    front_end.on_window = [this](MainWindow& w) { wire_device_dialogs(w, prompter); };
    front_end.document_ready(context, *handler);
  }
  ~Rig() {
    delete front_end.window();
    if (handler) handler->shutdown();
  }
  MainWindow& window() { return *front_end.window(); }
  CKBA604Doc& doc() { return *handler->document(); }
  Device& device() { return dynamic_cast<Device&>(doc().device()); }
  Parameter* param(const char* name, int index = -1) {
    for (Parameter& p : doc().table()) {
      if (platform::iequals(p.short_name, name) && (index < 0 || p.linear_index == index)) {
        return &p;
      }
    }
    return nullptr;
  }
  QAction* action(int id) {
    window().refresh_commands();
    return window().command_action(id);
  }

  test::TestHome home;
  test::VirtualInstrument sim{{"--baud", "115200"}};
  test::RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore store, registration;
  ProgramSettings settings{store};
  StatusOperationView view;
  QtNotificationSink window_sink;
  ForwardingSink sink{window_sink};
  UiQueue ui;
  platform::Event close_requested{platform::Event::Reset::Manual};
  platform::Event automation_done{platform::Event::Reset::Manual};
  RunContext context{app,      settings,        registration,    view, sink, "", "",
                     "kba604", close_requested, automation_done, ui};
  std::unique_ptr<DocumentHandler> handler;
  DocumentStart start = DocumentStart::Refused;
  WindowFrontEnd front_end{view, window_sink, false};
};

// Acts on a modal dialog of type T as soon as it is shown. Whatever the act leaves open is
// closed afterwards, so that a failed check never leaves the test waiting on a dialog.
template <class T>
class WhenModal {
 public:
  explicit WhenModal(std::function<void(T&)> act) : act_(std::move(act)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      timer_.stop();
      seen = true;
      act_(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    timer_.start();
  }
  bool seen = false;

 private:
  std::function<void(T&)> act_;
  QTimer timer_;
};

QString row_value(MainWindow& window, const Parameter* p) {
  const QModelIndex row = window.model().index_of(p);
  return row.siblingAtColumn(ParameterTreeModel::kValue).data().toString();
}

// Receives the pages the program hands to the desktop.
class DesktopCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;

 public slots:
  void open(const QUrl& url) { urls << url; }
};

}  // namespace

class DeviceDialogWiringTest : public QObject {
  Q_OBJECT

 private slots:
  void calibrationIsEnabledOnlyForAnIdentifiedInstrumentAndLevel();
  void calibrationFromTheMenuWritesTheSensorAndAnnouncesIt();
  void commandLineCalibrationEndsTheAutomationWhenTheWizardCloses();
  void singlePointFindsTheRowAndAnnouncesWhatItRead();
  void regulationFromTheMenuStartsTheInstrument();
  void parameterListGoesToTheDesktopViewer();
  void trafficMonitorShowsTheLineOnlyWhileOpen();
  void closingTheWindowLeavesAnOpenDialog();
};

void DeviceDialogWiringTest::calibrationIsEnabledOnlyForAnIdentifiedInstrumentAndLevel() {
  Rig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  // The start-up check asked "dev" and the instrument named itself.
  QVERIFY(rig.device().identified());
  QVERIFY(rig.action(command::kCalibrate)->isEnabled());
  QVERIFY(rig.action(141)->isEnabled());
  QVERIFY(rig.action(32885)->isEnabled());
  // Level 1: the modifications 3, 4 and 6 only; level 0 never.
  rig.app.modes.access_level.store(1);
  rig.app.modes.modification.store(2);
  QVERIFY(!rig.action(command::kCalibrate)->isEnabled());
  rig.app.modes.modification.store(4);
  QVERIFY(rig.action(command::kCalibrate)->isEnabled());
  rig.app.modes.access_level.store(0);
  QVERIFY(!rig.action(command::kCalibrate)->isEnabled());
  QVERIFY(!calibration_enabled(rig.window()));
  rig.app.modes.access_level.store(2);
  // Another model on the line.
  rig.sim.with([](sim::Instrument& i) { i.options().model = "KBA117"; });
  rig.doc().OnCommand(command::kCheckConnection);
  QVERIFY(!rig.device().identified());
  QVERIFY(!rig.action(command::kCalibrate)->isEnabled());
  // Asked again with the right one.
  rig.sim.with([](sim::Instrument& i) { i.options().model = "KBA604"; });
  rig.doc().OnCommand(command::kCheckConnection);
  QVERIFY(rig.device().identified());
  QVERIFY(rig.action(command::kCalibrate)->isEnabled());
}

void DeviceDialogWiringTest::calibrationFromTheMenuWritesTheSensorAndAnnouncesIt() {
  Rig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  Parameter* sensor = rig.param("in-t", 0);
  QVERIFY(sensor != nullptr);
  const int views_before = rig.sink.record.views_changed_count();
  // Type 1, the thermocouple "TХК (L)" (sensor code 5), the code, then the step dialog is left
  // at once.
  WhenModal<Dialogs::CCalibrate> selection([](Dialogs::CCalibrate& d) {
    d.type_list()->setFocus();
    QTest::keyClick(d.type_list(), Qt::Key_Down);
    QTRY_COMPARE(d.sensor_list()->count(), 25);
    QTRY_VERIFY(!d.busy());
    QCOMPARE(d.sensor_list()->currentIndex(), 3);  // what the instrument holds
    QTest::keyClick(d.sensor_list(), Qt::Key_Up);
    QTest::keyClick(d.sensor_list(), Qt::Key_Up);
    QTest::keyClicks(d.code_field(), "476");
    QTRY_VERIFY(d.continue_button()->isEnabled());
    QTest::mouseClick(d.continue_button(), Qt::LeftButton);
    QTRY_VERIFY(!d.isVisible());
  });
  WhenModal<Dialogs::CCalibrate2> steps([](Dialogs::CCalibrate2& d) {
    QTRY_VERIFY(!d.busy());
    QTest::mouseClick(d.cancel_button(), Qt::LeftButton);
    QTRY_VERIFY(!d.isVisible());
  });
  rig.action(command::kCalibrate)->trigger();
  QVERIFY(selection.seen);
  QVERIFY(steps.seen);
  // The instrument holds the new sensor; the row was announced and the tree shows it.
  QCOMPARE(rig.sim.with([](sim::Instrument& i) { return i.value("in-t", 0)->back(); }), 5);
  QVERIFY(rig.sink.announced(rig.doc().table(), *sensor));
  QVERIFY(rig.sink.record.views_changed_count() > views_before);
  const std::string written = sensor->parsed_format().items.at(5);
  QTRY_COMPARE(row_value(rig.window(), sensor), QString::fromStdString(written));
  // The wizard has ended: the command may be chosen again.
  QVERIFY(rig.action(command::kCalibrate)->isEnabled());
}

void DeviceDialogWiringTest::commandLineCalibrationEndsTheAutomationWhenTheWizardCloses() {
  Rig rig({"/calibrate/port:9"});
  QCOMPARE(rig.start, DocumentStart::Ready);
  // Other commands of the command line are the document's.
  QVERIFY(!rig.front_end.start_command(rig.context, command::kReadAll).has_value());
  // Not available at this level: refused at once, the automation never waits for it.
  rig.app.modes.access_level.store(0);
  QCOMPARE(rig.front_end.start_command(rig.context, command::kCalibrate),
           std::optional<bool>(false));
  QTest::qWait(20);
  QVERIFY(!rig.automation_done.is_set());
  QVERIFY(QApplication::activeModalWidget() == nullptr);

  rig.app.modes.access_level.store(2);
  WhenModal<Dialogs::CCalibrate> selection([&rig](Dialogs::CCalibrate& d) {
    // The wizard runs inside the window's loop; the automation waits for it.
    QVERIFY(!rig.automation_done.is_set());
    QTest::mouseClick(d.cancel_button(), Qt::LeftButton);
  });
  QCOMPARE(rig.front_end.start_command(rig.context, command::kCalibrate),
           std::optional<bool>(true));
  QVERIFY(!rig.automation_done.is_set());
  QTRY_VERIFY(selection.seen);
  QTRY_VERIFY(rig.automation_done.is_set());
}

void DeviceDialogWiringTest::singlePointFindsTheRowAndAnnouncesWhatItRead() {
  Rig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  Parameter* sensor = rig.param("in-t", 3);
  QVERIFY(sensor != nullptr);
  QModelIndex selected;
  WhenModal<Dialogs::CSinglePoint> dialog([&](Dialogs::CSinglePoint& d) {
    d.name_box()->setEditText(QStringLiteral("in-t"));
    d.index_check()->setChecked(true);
    d.from_edit()->setText(QStringLiteral("3"));
    d.to_edit()->setText(QStringLiteral("3"));
    QTest::mouseClick(d.find_button(), Qt::LeftButton);
    selected = rig.window().tree().currentIndex();
    // An index the instrument's table does not have finds nothing.
    d.from_edit()->setText(QStringLiteral("9"));
    QTest::mouseClick(d.find_button(), Qt::LeftButton);
    d.from_edit()->setText(QStringLiteral("3"));
    QTest::mouseClick(d.execute_button(), Qt::LeftButton);
    QTRY_VERIFY(!d.busy());
    QTest::mouseClick(d.exit_button(), Qt::LeftButton);
  });
  rig.action(141)->trigger();
  QVERIFY(dialog.seen);
  QVERIFY(selected.isValid());
  QCOMPARE(rig.window().model().parameter(selected), sensor);
  QCOMPARE(rig.window().tree().currentIndex(), selected);
  QCOMPARE(rig.prompter.count(), std::size_t{1});
  QCOMPARE(rig.prompter.records()[0].text,
           std::string("Данный параметр не найден!\nВозможно, ошибка в индексе параметра."));
  // The read went into the table's parameter: announced, and shown by the tree.
  QVERIFY(rig.sink.announced(rig.doc().table(), *sensor));
  QTRY_VERIFY(row_value(rig.window(), sensor) != QString::fromUtf8("Нет данных"));
}

void DeviceDialogWiringTest::regulationFromTheMenuStartsTheInstrument() {
  Rig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  Parameter* state = rig.param("r.St");
  Parameter* command = rig.param("r-s");
  QVERIFY(state != nullptr && command != nullptr);
  WhenModal<Dialogs::CRegulDlg> dialog([](Dialogs::CRegulDlg& d) {
    QTRY_COMPARE(d.table()->item(0, 3)->text(), QString::fromUtf8("Режим СТОП"));
    d.table()->selectRow(0);
    QTest::mouseClick(d.start_button(), Qt::LeftButton);
    QTRY_COMPARE(d.table()->item(0, 3)->text(), QString::fromUtf8("Режим РАБОТА"));
    QTest::mouseClick(d.cancel_button(), Qt::LeftButton);
    QTRY_VERIFY(!d.isVisible());
  });
  rig.action(32885)->trigger();
  QVERIFY(dialog.seen);
  QVERIFY(rig.sim.with([](sim::Instrument& i) { return i.regulating(); }));
  QVERIFY(rig.sink.announced(rig.doc().table(), *state));
  QVERIFY(rig.sink.announced(rig.doc().table(), *command));
  {
    ValueReadLock lock(*state);
    QCOMPARE(QString::fromStdString(state->value), QString::fromUtf8("Режим РАБОТА"));
  }
  if (rig.window().model().index_of(state).isValid()) {
    QTRY_COMPARE(row_value(rig.window(), state), QString::fromUtf8("Режим РАБОТА"));
  }
}

void DeviceDialogWiringTest::parameterListGoesToTheDesktopViewer() {
  Rig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  DesktopCatcher desktop;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
  QVERIFY(rig.action(command::kExportParameterList)->isEnabled());
  rig.action(command::kExportParameterList)->trigger();
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  QCOMPARE(desktop.urls.size(), 1);
  const std::filesystem::path page = desktop.urls[0].toLocalFile().toStdString();
  QCOMPARE(QString::fromStdString(page.filename().string()), QStringLiteral("parlist.html"));
  QVERIFY(std::filesystem::file_size(page) > 1000);
  QCOMPARE(rig.prompter.count(), std::size_t{0});
}

void DeviceDialogWiringTest::trafficMonitorShowsTheLineOnlyWhileOpen() {
  Rig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  // Nothing but the test's own requests on the line.
  rig.app.modes.auto_read.store(false);
  rig.window().show();
  TrafficMonitor* monitor = traffic_monitor(rig.window());
  QVERIFY(monitor != nullptr);
  // Closed, it does not tap the line.
  QVERIFY(!monitor->isVisible() && !monitor->tapping());
  rig.doc().OnCommand(command::kCheckConnection);
  monitor->drain();
  QCOMPARE(monitor->kept(), std::size_t{0});

  // Opened from the end of the menu "Прибор".
  QAction* open = nullptr;
  for (QAction* top : rig.window().menuBar()->actions()) {
    if (top->menu() != nullptr && top->text() == QString::fromUtf8("&Прибор")) {
      open = top->menu()->actions().last();
    }
  }
  QVERIFY(open != nullptr);
  QCOMPARE(open->text(), QString::fromUtf8("Монитор обмена"));
  open->trigger();
  QTRY_VERIFY(monitor->isVisible() && monitor->tapping());
  rig.doc().OnCommand(command::kCheckConnection);  // "dev" and "ver"
  QTRY_COMPARE(monitor->kept(), std::size_t{2});
  QString text = monitor->view()->toPlainText();
  QVERIFY2(text.contains(QString::fromUtf8(" dev, данные: нет, КС верна")), qPrintable(text));
  QVERIFY(text.contains(QString::fromUtf8("КС верна; ответ, ")));

  // A silent instrument: every request times out and is repeated three times.
  rig.sim.with([](sim::Instrument& i) { i.faults().silent = true; });
  rig.doc().OnCommand(command::kCheckConnection);
  QTRY_COMPARE(monitor->kept(), std::size_t{10});
  monitor->failures_only()->setChecked(true);
  text = monitor->view()->toPlainText();
  QCOMPARE(text.count(QString::fromUtf8("таймаут")), 8);
  QVERIFY(!text.contains(QString::fromUtf8("; ответ")));
  QCOMPARE(text.count(QString::fromUtf8(", повтор 3")), 2);
  monitor->name_filter()->setText(QStringLiteral("VER"));
  text = monitor->view()->toPlainText();
  QCOMPARE(text.count(QString::fromUtf8("таймаут")), 4);
  QVERIFY(!text.contains(QStringLiteral(" dev,")));

  // Paused, the view stands still while the line is still recorded; resumed, it catches up.
  monitor->name_filter()->clear();
  monitor->failures_only()->setChecked(false);
  const QString before = monitor->view()->toPlainText();
  QTest::mouseClick(monitor->pause_button(), Qt::LeftButton);
  rig.sim.with([](sim::Instrument& i) { i.faults().silent = false; });
  rig.doc().OnCommand(command::kCheckConnection);
  QTRY_COMPARE(monitor->kept(), std::size_t{12});
  QCOMPARE(monitor->view()->toPlainText(), before);
  QTest::mouseClick(monitor->pause_button(), Qt::LeftButton);
  QCOMPARE(monitor->view()->toPlainText().count(QString::fromUtf8("; ответ")), 4);

  // Saved as CSV: the header and two rows a transfer; a file that cannot be written is said.
  const QString csv = QString::fromStdString((rig.home.root() / "line.csv").string());
  QVERIFY(monitor->save_csv(csv));
  QFile file(csv);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QStringList rows = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  QCOMPARE(rows.size(), 1 + 2 * 12);
  QCOMPARE(rows[0], QString::fromStdString(traffic_csv_header()));
  const std::size_t boxes = rig.prompter.count();
  QVERIFY(!monitor->save_text(QString::fromStdString((rig.home.root() / "no" / "t.txt").string())));
  QCOMPARE(rig.prompter.count(), boxes + 1);

  // Closed again: the line is no longer tapped.
  open->trigger();
  QTRY_VERIFY(!monitor->isVisible());
  QVERIFY(!monitor->tapping());
  rig.doc().OnCommand(command::kCheckConnection);
  monitor->drain();
  QCOMPARE(monitor->kept(), std::size_t{12});
}

// The exit event or a signal closes the window while the person has a dialog open: the dialog
// is left as its "Отмена" leaves it, so the program can end.
void DeviceDialogWiringTest::closingTheWindowLeavesAnOpenDialog() {
  {
    Rig rig;
    QCOMPARE(rig.start, DocumentStart::Ready);
    rig.window().show();
    bool left = false;
    WhenModal<Dialogs::CCalibrate> selection([&](Dialogs::CCalibrate& d) {
      rig.window().close_now();
      QTRY_VERIFY(!d.isVisible());
      left = true;
    });
    rig.action(command::kCalibrate)->trigger();
    QVERIFY(selection.seen);
    QVERIFY(left);
    QVERIFY(!rig.window().isVisible());
  }
  {
    Rig rig;
    QCOMPARE(rig.start, DocumentStart::Ready);
    rig.window().show();
    bool left = false;
    WhenModal<Dialogs::CRegulDlg> regulation([&](Dialogs::CRegulDlg& d) {
      rig.window().close_now();
      QTRY_VERIFY(!d.isVisible());
      left = true;
    });
    rig.action(32885)->trigger();
    QVERIFY(regulation.seen);
    QVERIFY(left);
  }
}

QTEST_MAIN(DeviceDialogWiringTest)
#include "device_dialog_wiring_guitest.moc"
