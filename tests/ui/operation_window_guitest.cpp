// The instrument commands of the main window as a person uses them, on the offscreen platform,
// against the virtual instrument on a pseudo-terminal: the progress window of every operation
// (title, log colours, counters, the stop and close buttons and their exit code), the compare
// report after its window, initialisation, the EEPROM image, the one-parameter commands of the
// context menu, immediate writing, the connection indicator, the connection search at
// start-up and "APLY". Boxes are answered through the recording prompter.
// The virtual instrument first: its headers use "slots" as a name, which Qt's headers make a
// keyword.
#include "support/virtual_instrument.h"
// clang-format off
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolButton>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QtTest/QtTest>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/start_rules.h"
#include "control/channel_words.h"
#include "control/net_config.h"
#include "files/kba604_doc.h"
#include "link/net_rs485.h"
#include "link/network_rules.h"
#include "operations/device.h"
#include "operations/network_commands.h"
#include "operations/scanner.h"
#include "platform/ini_settings_store.h"
#include "platform/port_names.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "runner/document_handler.h"
#include "support/recording_prompter.h"
#include "support/short_wait_clock.h"
#include "support/test_home.h"
#include "ui/link_indicator.h"
#include "ui/main_window.h"
#include "ui/network_dialogs.h"
#include "ui/operation_commands.h"
#include "ui/polling_binding.h"
#include "ui/progress_window.h"
#include "ui/qt_services.h"
#include "ui/window_program.h"
// clang-format on

using namespace kba604;

namespace {

constexpr int kLimitMs = 120'000;

bool wait_until(const std::function<bool()>& done, int limit_ms = kLimitMs) {
  // Sleeps between events as the program's loop does: a spinning wait would take a core
  // from the worker and the virtual instrument it waits for.
  if (!run_events_until(done, limit_ms)) return false;
  QCoreApplication::processEvents();
  return true;
}

// The program as the start-up builds it, with the window, its progress window and its
// instrument commands, over the virtual instrument (at sim_baud) reached as COM9 at baud.
struct OperationRig {
  struct Options {
    std::vector<std::string> params;
    std::vector<std::string> sim_args;
    std::uint32_t baud = 115200;
    // The connection search of the window; none keeps the headless one.
    std::function<bool(Device&)> search;
    // A control channel over a pipe pair, the test at its other end (say, answer).
    bool channel = false;
  };
  OperationRig() : OperationRig(Options{}) {}
  explicit OperationRig(Options o) {
    std::vector<std::string> args = o.sim_args;
    if (args.empty()) args = {"--baud", "115200"};
    sim = std::make_unique<test::VirtualInstrument>(args);
    store.set_value("Ports/COM9", sim->path());
    store.set_uint32("port_number", 9);
    store.set_uint32("baud_rate", o.baud);
    store.set_uint32("RS485type", 1);
    app.options.clear();
    CmyCommandLineInfo info(app.options);
    info.parse(o.params);
    apply_no_port_rule(app.options);
    apply_start_modes(app.options, app.modes);
    // The worker hands the compare report and the views over to the UI thread's queue.
    connect_queue();
    if (o.channel) open_channel();
    handler = make_document_handler();
    configurator = static_cast<ConfiguratorDocument*>(handler.get());
    if (o.search) configurator->set_connection_search(o.search);
    start = handler->construct(context);
    if (start != DocumentStart::Ready) return;
    app.modes.rs485_type.store(initial_rs485_type(app.options, settings));
    apply_window_modes(app.options, settings, app.modes);
    app.modes.auto_read.store(false);
    MainWindow::Services s{
        app, *handler->document(), settings, *profile, configurator->program_settings(),
        {},  app.options.quiet()};
    s.reopen_port = [h = configurator] { h->reopen_port(); };
    window = std::make_unique<MainWindow>(std::move(s), status, sink);
    window->resize(1200, 800);
    commands = wire_window_operations(*window, *configurator, view, sink, app.options.quiet());
    window->show();
    QCoreApplication::processEvents();
  }
  ~OperationRig() {
    window.reset();
    if (handler) handler->shutdown();
    channel.reset();
    for (int fd : {to_program[0], to_program[1], from_program[0], from_program[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }
  void open_channel() {
    if (::pipe2(to_program, O_CLOEXEC) != 0 || ::pipe2(from_program, O_CLOEXEC) != 0) return;
    channel = std::make_unique<NetConfig::CStdio>(app.exit_flags, "peer", platform::Clock::real(),
                                                  to_program[0], from_program[1]);
    context.channel = channel.get();
  }
  // The peer's side of the channel.
  void say(const std::string& line) {
    const std::string bytes = platform::to_cp1251(line) + "\n";
    QCOMPARE(::write(to_program[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  // The next message (UTF-8), the window's events running meanwhile; empty when none came.
  std::string answer(int limit_ms = 30'000) {
    std::string message;
    wait_until(
        [&] {
          for (;;) {
            const std::size_t end = received.find("\n\n");
            if (end != std::string::npos) {
              message = received.substr(0, end);
              received.erase(0, end + 2);
              return true;
            }
            pollfd p{from_program[0], POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0) return false;
            char buffer[1024];
            const ssize_t n = ::read(from_program[0], buffer, sizeof buffer);
            if (n <= 0) return false;
            received.append(buffer, static_cast<std::size_t>(n));
          }
        },
        limit_ms);
    return platform::from_cp1251(message);
  }
  // The answers up to the end of an operation ("!done ..."), which is returned; the progress
  // lines and the others are kept.
  std::string until_done(std::vector<std::string>& progress, std::vector<std::string>& others) {
    for (std::string line = answer(); !line.empty(); line = answer()) {
      if (line.starts_with("!done ")) return line;
      (line.starts_with("!progress ") ? progress : others).push_back(line);
    }
    return {};
  }
  void connect_queue() {
    tasks = std::make_unique<QSocketNotifier>(ui.ready().fd(), QSocketNotifier::Read);
    QObject::connect(tasks.get(), &QSocketNotifier::activated, [this] { ui.run_pending(); });
  }

  CKBA604Doc& doc() { return *handler->document(); }
  Parameter* param(const char* name, int index = -1) {
    for (Parameter& p : doc().table()) {
      if (p.short_name == name && (index < 0 || p.linear_index == index)) return &p;
    }
    return nullptr;
  }
  ProgressWindow& progress() { return *view.window(); }
  // As from the menu, which looks at the enabling of its commands as it opens. A person opens
  // the menu again when a command is still held back for a moment after an operation (its
  // completion reaches the window through the event loop, late on a loaded machine); a
  // command that stays disabled is triggered anyway and does nothing.
  void trigger(int command) {
    QAction* action = window->command_action(command);
    wait_until(
        [&] {
          window->refresh_commands();
          return action->isEnabled();
        },
        10'000);
    action->trigger();
  }
  // As from the keyboard, once the command is enabled: the key goes to the active window.
  bool press(int command, const QKeySequence& key) {
    QAction* action = window->command_action(command);
    if (action->shortcut() != key) return false;
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get())) return false;
    const bool enabled = wait_until(
        [&] {
          window->refresh_commands();
          return action->isEnabled();
        },
        10'000);
    QTest::keySequence(window.get(), key);
    return enabled;
  }
  // As from the toolbar's button, once the command is enabled.
  bool click_tool(int command) {
    QAction* action = window->command_action(command);
    auto* bar = window->findChild<QToolBar*>(QStringLiteral("standardBar"));
    auto* button =
        bar != nullptr ? qobject_cast<QToolButton*>(bar->widgetForAction(action)) : nullptr;
    if (button == nullptr) return false;
    const bool enabled = wait_until(
        [&] {
          window->refresh_commands();
          return button->isEnabled();
        },
        10'000);
    QTest::mouseClick(button, Qt::LeftButton);
    return enabled;
  }
  // As from the menu while an operation runs: no waiting for the command to be enabled.
  void trigger_now(int command) {
    window->refresh_commands();
    window->command_action(command)->trigger();
  }
  // Until the operation has ended and its window has gone.
  bool wait_closed() {
    return wait_until(
        [this] { return !doc().device().busy() && !view.is_open() && !view.shown(); });
  }
  // Holds the line: the worker waits at its next exchange, so that an operation cannot end
  // before the test has looked at its running window, however loaded the machine is.
  std::unique_lock<std::recursive_mutex> hold_line() {
    return std::unique_lock(dynamic_cast<Device&>(doc().device()).link_lock());
  }
  bool wait_worker() {
    return wait_until([this] { return !doc().device().busy(); });
  }
  void select(const Parameter* p) {
    const QModelIndex i = window->model().index_of(p);
    for (QModelIndex up = i.parent(); up.isValid(); up = up.parent()) window->tree().expand(up);
    window->tree().setCurrentIndex(i);
  }
  QString log_text() { return progress().log().toPlainText(); }
  // The look of the first log line that contains text.
  std::optional<QTextCharFormat> log_format(const QString& text) {
    for (QTextBlock b = progress().log().document()->begin(); b.isValid(); b = b.next()) {
      if (b.text().contains(text)) return b.begin().fragment().charFormat();
    }
    return std::nullopt;
  }
  bool prompted(const QString& caption, const QString& text_start) {
    for (const test::PromptRecord& r : prompter.records()) {
      if (QString::fromStdString(r.caption) == caption &&
          QString::fromStdString(r.text).startsWith(text_start)) {
        return true;
      }
    }
    return false;
  }

  std::unique_ptr<test::TestHome> home = std::make_unique<test::TestHome>();
  std::unique_ptr<test::VirtualInstrument> sim;
  test::RecordingPrompter prompter;
  test::ShortWaitClock clock;
  CKBA604App app{prompter, clock};
  platform::MemorySettingsStore store, registration;
  std::unique_ptr<platform::IniSettingsStore> profile = open_window_profile();
  ProgramSettings settings{store};
  StatusOperationView status;
  ProgressOperationView view{clock, &status};
  QtNotificationSink sink;
  UiQueue ui;
  std::unique_ptr<QSocketNotifier> tasks;
  platform::Event close_requested{platform::Event::Reset::Manual};
  platform::Event automation_done{platform::Event::Reset::Manual};
  RunContext context{app,      settings,        registration,    view, sink, "", "",
                     "kba604", close_requested, automation_done, ui};
  std::unique_ptr<DocumentHandler> handler;
  ConfiguratorDocument* configurator = nullptr;
  DocumentStart start = DocumentStart::Refused;
  std::unique_ptr<MainWindow> window;
  OperationCommands* commands = nullptr;
  int to_program[2] = {-1, -1};
  int from_program[2] = {-1, -1};
  std::string received;
  std::unique_ptr<NetConfig::CStdio> channel;
};

QString processed(int done, int total) {
  return QStringLiteral("%1 из %2").arg(done).arg(total);
}

}  // namespace

class OperationWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void readAllShowsItsWindowAndClosesByItself();
  void stopAndCloseAndTheExitCodeOfAPersonsClose();
  void writesWithAndWithoutErrorsAndTheErroneousOnes();
  void compareReportsAfterItsWindowAndOneParameterCommands();
  void initialisationAndTheEepromImage();
  void immediateWriteHasNoWindowAndTheIndicatorFollowsTheLine();
  void searchAtStartUpFindsTheInstrumentOrEndsTheProgram();
  void aplyIsOfferedAfterANewSpeedAndTheProgramFollows();
  void withSwitchesNothingWaitsForAPerson();
  void dialogsKeepTheirRulesAndKeys();
  void searchDialogRefusesBadSettingsAndTakesTheFactoryOnes();
  void channelWordsLeaveTheWindowFreeAndGoThroughItsTree();
};

void OperationWindowTest::readAllShowsItsWindowAndClosesByItself() {
  OperationRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  auto held = rig.hold_line();
  QVERIFY(rig.press(command::kReadAll, QKeySequence(Qt::ALT | Qt::Key_R)));
  QCoreApplication::processEvents();
  ProgressWindow& w = rig.progress();
  QVERIFY(w.isVisible());
  QCOMPARE(w.windowTitle(), QString("Идет чтение параметров из прибора"));
  QCOMPARE(w.windowModality(), Qt::WindowModal);
  QCOMPARE(w.button().text(), QString("Остановить"));
  QVERIFY(w.auto_close_box().isChecked());
  // One operation at a time: a second command while the window is open starts nothing, and
  // the initialisation does not even ask.
  rig.window->refresh_commands();
  QVERIFY(!rig.window->command_action(command::kWriteAll)->isEnabled());
  rig.trigger_now(command::kWriteAll);
  rig.commands->initialise();
  QCOMPARE(rig.prompter.count(), std::size_t(0));
  QCOMPARE(w.windowTitle(), QString("Идет чтение параметров из прибора"));
  held.unlock();

  QVERIFY(rig.wait_closed());
  const int total = rig.doc().device().total();
  QVERIFY(total > 100);
  QCOMPARE(w.processed_label().text(), processed(total, total));
  QCOMPARE(w.errors_label().text(), QString("0"));
  QVERIFY(w.errors_label().styleSheet().isEmpty());
  QCOMPARE(w.progress().value(), total);
  QVERIFY2(rig.log_text().contains("  Чтение: dev = KBA604"), qPrintable(rig.log_text().left(500)));
  // Branch lines come before their parameters; the finishing pause (2 s) counts in the time.
  QVERIFY(rig.log_text().contains("Читаем ветвь '"));
  QVERIFY(w.elapsed_label().text() >= QString("00:00:02"));
  // Closing by itself is no person's "Закрыть".
  QVERIFY(rig.app.exit_flags.exit_code() != 205);
  QCOMPARE(QString::fromStdString(rig.param("dev")->value).toLower(), QString("kba604"));
}

void OperationWindowTest::stopAndCloseAndTheExitCodeOfAPersonsClose() {
  OperationRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  ProgressWindow& w = rig.progress();
  // Stopped with the box ticked: the window goes by itself, nobody pressed "Закрыть".
  auto held = rig.hold_line();
  rig.trigger(command::kReadAll);
  QCoreApplication::processEvents();
  QTest::mouseClick(&w.button(), Qt::LeftButton);
  QCOMPARE(w.button().text(), QString("Закрыть"));
  held.unlock();
  QVERIFY(rig.wait_closed());
  QVERIFY(rig.doc().device().done() < rig.doc().device().total());
  QVERIFY(rig.app.exit_flags.exit_code() != 205);

  // With the box cleared the stopped window stays, with its hint, until a person closes it.
  held.lock();
  rig.trigger(command::kReadAll);
  QCoreApplication::processEvents();
  QVERIFY(w.isVisible());
  w.auto_close_box().click();
  QVERIFY(!w.auto_close_box().isChecked());
  QCOMPARE(w.button().text(), QString("Остановить"));
  QTest::mouseClick(&w.button(), Qt::LeftButton);
  QCOMPARE(w.button().text(), QString("Закрыть"));
  held.unlock();
  QVERIFY(rig.wait_worker());
  QVERIFY(w.isVisible());
  const int done = rig.doc().device().done();
  QVERIFY(done < rig.doc().device().total());
  // "Остановить" stops after the parameter in progress: the log has no read after the count.
  QCOMPARE(rig.log_text().count("  Чтение: "), done);
  const std::optional<QTextCharFormat> hint =
      rig.log_format("Для закрытия окна нажмите кнопку \"Закрыть\".");
  QVERIFY(hint.has_value());
  QCOMPARE(hint->foreground().color(), QColor(128, 0, 0));
  QCOMPARE(hint->fontWeight(), int(QFont::Bold));
  QVERIFY(rig.app.exit_flags.exit_code() != 205);
  // Nothing else starts while the window is there.
  QVERIFY(!rig.window->command_action(command::kReadAll)->isEnabled());
  QTest::mouseClick(&w.button(), Qt::LeftButton);
  QVERIFY(rig.wait_closed());
  QCOMPARE(rig.app.exit_flags.exit_code(), 205);
  QVERIFY(rig.window->command_action(command::kReadAll)->isEnabled());
}

void OperationWindowTest::writesWithAndWithoutErrorsAndTheErroneousOnes() {
  OperationRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  ProgressWindow& w = rig.progress();
  rig.trigger(command::kReadAll);
  QVERIFY(rig.wait_closed());

  // Write changed: the one edited value, in black with its mark.
  Parameter* low = rig.param("in.L", 0);
  QVERIFY(low != nullptr);
  const QModelIndex cell = rig.window->model().index_of(low).siblingAtColumn(2);
  QVERIFY(rig.window->model().setData(cell, QString("12.5"), Qt::EditRole));
  QVERIFY(rig.click_tool(command::kWriteChanged));
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет запись измененных значений параметров в прибор"));
  QVERIFY(rig.wait_closed());
  QCOMPARE(w.processed_label().text(), processed(1, 1));
  QVERIFY(rig.log_text().contains("  Запись: in.L:0 [новое значение] = 12.5"));
  QCOMPARE(rig.log_format("  Запись: in.L:0")->foreground().color(), QColor(0, 0, 0));

  // Write all against a silent instrument: red lines, the light red count, and the stop after
  // five failed writes in a row.
  rig.sim->with([](sim::Instrument& i) { i.faults().silent = true; });
  rig.trigger(command::kWriteAll);
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет запись параметров в прибор"));
  QVERIFY(rig.wait_closed());
  QVERIFY(rig.log_text().contains("Прошло 5 безуспешных попыток записи!"));
  const int errors = rig.doc().device().errors();
  QVERIFY(errors >= 5);
  QCOMPARE(w.errors_label().text(), QString::number(errors));
  QVERIFY(w.errors_label().styleSheet().contains("255, 166, 166"));
  const std::optional<QTextCharFormat> failed = rig.log_format("Таймаут при передаче данных");
  QVERIFY(failed.has_value());
  QCOMPARE(failed->foreground().color(), QColor(255, 0, 0));

  // The instrument answers again: only the parameters with errors are written, as a group.
  rig.sim->with([](sim::Instrument& i) { i.faults().silent = false; });
  rig.prompter.clear();
  rig.trigger(command::kWriteErroneous);
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет запись группы параметров в прибор"));
  QVERIFY(rig.wait_closed());
  QCOMPARE(w.errors_label().text(), QString("0"));
  QVERIFY(rig.doc().device().total() >= 5);
  rig.trigger(command::kWriteErroneous);
  QVERIFY(wait_until([&] { return rig.prompter.count() > 0; }));
  QCOMPARE(rig.prompter.records().back().text, std::string("Ошибочных параметров не обнаружено!"));
  QVERIFY(!rig.view.is_open());

  // A count the instrument changes one step at a time: read first, each step written, then the
  // parameters it changes read again in the same window; the notices in dark blue italics.
  Parameter* channels = rig.param("n.Ch");
  QVERIFY(channels != nullptr);
  const int now = std::stoi(channels->value);
  const int wanted = now > 2 ? now - 2 : now + 2;
  QVERIFY(rig.window->model().setData(rig.window->model().index_of(channels).siblingAtColumn(2),
                                      QString::number(wanted), Qt::EditRole));
  rig.trigger(command::kWriteChanged);
  QVERIFY(rig.wait_closed());
  const QString log = rig.log_text();
  QVERIFY2(log.contains("Прочитаем предварительно этот параметр:"), qPrintable(log));
  QVERIFY(log.contains(QString("  Запись: n.Ch [новое значение] = %1").arg((now + wanted) / 2)));
  QVERIFY(log.contains(QString("  Запись: n.Ch [новое значение] = %1").arg(wanted)));
  QVERIFY(log.indexOf("Принудительное перечитывание некоторых параметров:") >
          log.indexOf(QString("= %1").arg(wanted)));
  QVERIFY(log.contains("  Чтение: S.idx:"));
  for (const char* notice :
       {"Прочитаем предварительно этот параметр:", "Принудительное перечитывание некоторых"}) {
    const std::optional<QTextCharFormat> f = rig.log_format(notice);
    QVERIFY(f.has_value());
    QCOMPARE(f->foreground().color(), QColor(0, 0, 150));
    QVERIFY(f->fontItalic());
  }
  QCOMPARE(channels->value, std::to_string(wanted));
}

void OperationWindowTest::compareReportsAfterItsWindowAndOneParameterCommands() {
  OperationRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  ProgressWindow& w = rig.progress();
  rig.trigger(command::kReadAll);
  QVERIFY(rig.wait_closed());

  // The instrument gets another value through the context menu's one-parameter write; the
  // configuration keeps the old one.
  Parameter* low = rig.param("in.L", 0);
  const std::string old_value = low->value;
  const QString other = old_value == "7.5" ? "8.5" : "7.5";
  QVERIFY(rig.window->model().setData(rig.window->model().index_of(low).siblingAtColumn(2), other,
                                      Qt::EditRole));
  rig.select(low);
  rig.trigger(command::kWriteParameter);
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет запись параметров в прибор"));
  QVERIFY(rig.wait_closed());
  QCOMPARE(w.processed_label().text(), processed(1, 1));
  {
    ValueWriteLock lock(*low);
    low->value = old_value;
  }

  // The compare report waits until a person has closed the window.
  rig.prompter.clear();
  auto held = rig.hold_line();
  rig.trigger(command::kCompare);
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет сравнение параметров в конфигурации и в приборе"));
  w.auto_close_box().click();
  held.unlock();
  QVERIFY(rig.wait_worker());
  QCoreApplication::processEvents();
  QVERIFY(!rig.prompted("Результат сравнения", ""));
  QTest::mouseClick(&w.button(), Qt::LeftButton);
  QVERIFY(
      wait_until([&] { return rig.prompted("Результат сравнения", "Обнаружено 1 отличий:\n"); }));
  const std::string report = rig.prompter.records().back().text;
  QVERIFY(report.find("in.L") != std::string::npos);
  QVERIFY(report.find(" (показанны только первые 10)") == std::string::npos);
  QVERIFY(rig.log_text().contains("  Сравниваем: in.L="));

  // One parameter from the context menu: compare, then read back what the instrument holds.
  rig.prompter.clear();
  rig.select(low);
  rig.trigger(command::kCompareParameter);
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет сравнение параметров в конфигурации и в приборе"));
  QVERIFY(rig.wait_closed());
  QCOMPARE(w.processed_label().text(), processed(1, 1));
  QVERIFY(wait_until([&] { return rig.prompted("Результат сравнения", "Обнаружено 1 отличий"); }));
  rig.select(low);
  rig.trigger(command::kReadParameter);
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет чтение параметров из прибора"));
  QVERIFY(rig.wait_closed());
  QCOMPARE(w.processed_label().text(), processed(1, 1));
  QCOMPARE(QString::fromStdString(low->value), other);
  QCOMPARE(rig.log_text().count("  Чтение: "), 1);

  // Twelve values differ on the instrument (written as changes, then taken back in the
  // configuration) and one has no data: the skipped count first, then the count with the
  // first ten differences.
  std::vector<std::pair<Parameter*, std::string>> differing;
  for (int i = 0; i < 12; ++i) {
    Parameter* p = rig.param(i < 8 ? "in.L" : "in.H", i % 8);
    QVERIFY(p != nullptr);
    ValueWriteLock lock(*p);
    differing.emplace_back(p, p->value);
    p->value = p->value == "21.5" ? "22.5" : "21.5";
    p->changed = true;
  }
  rig.trigger(command::kWriteChanged);
  QVERIFY(rig.wait_closed());
  QCOMPARE(w.processed_label().text(), processed(12, 12));
  for (auto& [p, kept] : differing) {
    ValueWriteLock lock(*p);
    p->value = kept;
  }
  Parameter* unknown = rig.param("in.H", 7);
  {
    ValueWriteLock lock(*unknown);
    unknown->value = std::string(kNoData);
  }
  rig.prompter.clear();
  rig.trigger(command::kCompare);
  QVERIFY(rig.wait_closed());
  QVERIFY(wait_until([&] { return rig.prompter.count() >= 2; }));
  const std::vector<test::PromptRecord> boxes = rig.prompter.records();
  QCOMPARE(boxes[0].caption, std::string("Результат сравнения"));
  QVERIFY(boxes[0].text.starts_with("Пропущено параметров из-за отсутствия данных: "));
  QCOMPARE(boxes[1].caption, std::string("Результат сравнения"));
  const std::string twelve = boxes[1].text;
  QVERIFY2(twelve.starts_with("Обнаружено 12 отличий (показанны только первые 10):\n"),
           twelve.c_str());
  QVERIFY(twelve.find("\n10) Параметер 'in.") != std::string::npos);
  QVERIFY(twelve.find("\n11) ") == std::string::npos);
  QVERIFY(differing[11].first->note.starts_with("Знач-е в приборе: '"));

  // A group comparison shows its differences itself, in one box, before its window closes.
  rig.prompter.clear();
  {
    auto held = rig.hold_line();
    QVERIFY(rig.doc().device().StartGroup(group_kind::kCompare,
                                          {differing[0].first, differing[1].first, low}));
    QCoreApplication::processEvents();
    QCOMPARE(w.windowTitle(), QString("Идет сравнение группы значений параметров"));
  }
  QVERIFY(rig.wait_closed());
  QVERIFY(rig.prompted("Сообщение", "Найдены следующие различия:\n\n"));
  const std::string group = rig.prompter.records().front().text;
  QVERIFY(group.find("in.L") != std::string::npos);
  QCOMPARE(w.processed_label().text(), processed(3, 3));
}

void OperationWindowTest::initialisationAndTheEepromImage() {
  OperationRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  ProgressWindow& w = rig.progress();
  // Polling on: refused before any question.
  DescBranch* polled = rig.doc().operational_tree();
  QVERIFY(polled != nullptr);
  std::vector<Parameter*> timed;
  QVERIFY(CollectPolled(*polled, timed) > 0);
  Parameter* first = timed.front();
  first->ArmTimer(rig.clock.now_ms());
  rig.trigger(command::kWriteFactory);
  QCOMPARE(rig.prompter.count(), std::size_t(1));
  QCOMPARE(rig.prompter.records()[0].caption, std::string("Запись заводских параметров"));
  QVERIFY(!rig.view.is_open());
  first->DisarmTimer();
  // Declined: nothing starts; agreed: the initialisation window.
  rig.trigger(command::kWriteFactory);
  QCOMPARE(rig.prompter.records().back().caption,
           std::string("Вы уверены, что хотите продолжить?"));
  QVERIFY(!rig.view.is_open());
  rig.prompter.answer_next(PromptAnswer::Yes);
  rig.trigger(command::kWriteFactory);
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет инициализация прибора"));
  QVERIFY(rig.wait_closed());
  QVERIFY(w.processed_label().text().endsWith(QString(" из %1").arg(rig.doc().device().total())));

  // The image into a file chosen in the file dialog ("*.eep" added), and back.
  const std::filesystem::path image = rig.home->root() / "device";
  QString asked_title;
  rig.commands->set_file_chooser([&](bool save, const QString& title) {
    asked_title = title;
    Q_UNUSED(save);
    return QString::fromStdString(image.string());
  });
  rig.trigger(command::kSaveEepromImage);
  QCOMPARE(asked_title, QString("Сохранить образ EEPROM..."));
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет считывание EEPROM из прибора"));
  QVERIFY(rig.wait_closed());
  // Every parameter of the table that is not polled, but the error counter and the reset.
  auto image_count = [&](std::initializer_list<const char*> left_out) {
    int n = 0;
    for (const Parameter& p : rig.doc().table()) {
      bool out = p.owns_polling_timer();
      for (const char* name : left_out) out = out || platform::iequals(p.short_name, name);
      n += out ? 0 : 1;
    }
    return n;
  };
  const int read_count = image_count({"n.Err", "r-s"});
  QVERIFY(read_count > 100);
  QCOMPARE(w.processed_label().text(), processed(read_count, read_count));
  QCOMPARE(w.errors_label().text(), QString("0"));
  const std::filesystem::path saved = rig.home->root() / "device.eep";
  QVERIFY(wait_until([&] { return std::filesystem::exists(saved); }));
  QVERIFY(std::filesystem::file_size(saved) > 100);

  Parameter* low = rig.param("in.L", 0);
  const std::string kept = low->value;
  {
    ValueWriteLock lock(*low);
    low->value = "3.25";
  }
  rig.commands->set_file_chooser([&](bool save, const QString& title) {
    asked_title = title;
    return save ? QString() : QString::fromStdString(saved.string());
  });
  rig.prompter.answer_next(PromptAnswer::Yes);
  rig.trigger(command::kLoadEepromImage);
  QCOMPARE(asked_title, QString("Открыть образ EEPROM..."));
  QVERIFY(rig.prompted("Подтверждение", "Образ EEPROM загружен в конфигуратор!"));
  QCOMPARE(low->value, kept);
  QCoreApplication::processEvents();
  QCOMPARE(w.windowTitle(), QString("Идет запись EEPROM в прибор"));
  QVERIFY(rig.wait_closed());
  QVERIFY(rig.log_text().contains("  Запись: "));
  // Everything but the identity, the error counter and the commands, each once ("n.Ch" is read
  // and stepped besides, which the total counts too).
  const int write_total = rig.doc().device().total();
  QVERIFY(write_total >= image_count({"dev", "ver", "n.Err", "r-s", "r.co"}));
  QCOMPARE(w.processed_label().text(), processed(write_total, write_total));
  // The image holds the read-only values too; the instrument refuses only those (and the
  // program cannot build a write of the "exit" command): every failure is one of them.
  int refused = 0;
  for (const QString& line : rig.log_text().split('\n')) {
    if (!line.startsWith("  Запись: ") || line.contains(" [новое значение]")) continue;
    const QString name = line.mid(10).section(' ', 0, 0).section(':', 0, 0);
    const Parameter* p = rig.param(name.toUtf8().constData());
    QVERIFY2(p != nullptr && (!p->writable() || name == "exit"), qPrintable(line));
    ++refused;
  }
  QCOMPARE(w.errors_label().text(), QString::number(refused));
  for (const char* never : {"  Запись: dev ", "  Запись: ver ", "  Запись: n.Err ",
                            "  Запись: r-s ", "  Запись: r.co "}) {
    QVERIFY2(!rig.log_text().contains(never), never);
  }
}

void OperationWindowTest::immediateWriteHasNoWindowAndTheIndicatorFollowsTheLine() {
  OperationRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  auto* indicator = rig.window->findChild<LinkIndicator*>();
  QVERIFY(indicator != nullptr);
  QVERIFY(indicator->text().startsWith("COM9: 115200, 8N1, адрес "));
  // The start-up check has reached the instrument.
  indicator->refresh();
  QCOMPARE(indicator->state(), DeviceIO::LinkState::Answers);
  QCOMPARE(indicator->colour(), QColor(0, 170, 0));

  rig.app.modes.immediate_write.store(true);
  Parameter* low = rig.param("in.L", 0);
  const QModelIndex cell = rig.window->model().index_of(low).siblingAtColumn(2);
  QVERIFY(rig.window->model().setData(cell, QString("4.5"), Qt::EditRole));
  QVERIFY(wait_until([&] { return !low->any_change() && !rig.doc().device().busy(); }));
  QVERIFY(low->note.empty());
  QVERIFY(!rig.view.shown());
  QCOMPARE(rig.progress().windowTitle(), QString("Прибор <==> программа"));
  QVERIFY(rig.progress().log().toPlainText().isEmpty());

  // "Проверка связи" (F5) says who answers.
  QVERIFY(rig.press(command::kCheckConnection, QKeySequence(Qt::Key_F5)));
  QVERIFY(wait_until([&] { return rig.prompted("Проверка прибора", "Прибор: "); }));

  // A silent instrument turns the dot red at the next request.
  rig.sim->with([](sim::Instrument& i) { i.faults().silent = true; });
  rig.select(low);
  rig.trigger(command::kReadParameter);
  QVERIFY(rig.wait_closed());
  indicator->refresh();
  QCOMPARE(indicator->state(), DeviceIO::LinkState::Silent);
  QCOMPARE(indicator->colour(), QColor(220, 0, 0));
  // A failed read is a bold dark red line with the note, and counts as an error.
  const std::optional<QTextCharFormat> failed = rig.log_format("  Чтение: in.L:0 = ");
  QVERIFY2(failed.has_value(), qPrintable(rig.log_text()));
  QVERIFY(rig.log_text().contains("  Чтение: in.L:0 = Таймаут при передаче данных"));
  QCOMPARE(failed->foreground().color(), QColor(200, 0, 0));
  QCOMPARE(failed->fontWeight(), int(QFont::Bold));
  QCOMPARE(rig.progress().errors_label().text(), QString("1"));
}

void OperationWindowTest::searchAtStartUpFindsTheInstrumentOrEndsTheProgram() {
  // The instrument listens at 19200, the program starts at 9600: the dialog's scan finds it.
  QString shown_title;
  int rows = 0;
  OperationRig::Options o;
  o.sim_args = {"--baud", "19200"};
  o.baud = 9600;
  o.search = [&](Device& device) {
    SetupCarrierDialog dialog(device, device.app().prompter());
    shown_title = dialog.windowTitle();
    rows = dialog.table().rowCount();
    dialog.show();
    // The port row offers the ports that exist, the program's own among them.
    auto* port = qobject_cast<QComboBox*>(dialog.row_editor(rows - 1));
    if (port == nullptr || port->findText("COM9") < 0) return false;
    QTest::mouseClick(&dialog.scan_button(), Qt::LeftButton);
    if (!wait_until([&] { return dialog.ended_with() != 0; })) return false;
    return dialog.ended_with() == PreStart::kResultConnected &&
           dialog.status().text() == QString("Связь установлена!");
  };
  {
    OperationRig rig(o);
    QCOMPARE(shown_title, QString("Установка сетевых параметров программы"));
    QCOMPARE(rows, 7);
    QCOMPARE(rig.start, DocumentStart::Ready);
    QCOMPARE(rig.configurator->program_settings()->GetValueByName("bPS"), std::string("19200"));
    rig.trigger(command::kReadAll);
    QVERIFY(rig.wait_closed());
    QCOMPARE(rig.progress().errors_label().text(), QString("0"));
  }

  // "Выход" ends the start-up: the program refuses to go on.
  OperationRig::Options quit;
  quit.sim_args = {"--baud", "19200"};
  quit.baud = 9600;
  quit.search = [&](Device& device) {
    SetupCarrierDialog dialog(device, device.app().prompter());
    dialog.show();
    QTest::mouseClick(&dialog.exit_button(), Qt::LeftButton);
    wait_until([&] { return dialog.ended_with() != 0; });
    return dialog.ended_with() == PreStart::kResultConnected;
  };
  OperationRig gone(quit);
  QCOMPARE(gone.start, DocumentStart::NoConnection);
}

void OperationWindowTest::aplyIsOfferedAfterANewSpeedAndTheProgramFollows() {
  OperationRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  rig.trigger(command::kReadAll);
  QVERIFY(rig.wait_closed());
  // The instrument's speed is written; the program offers "APLY" once the window has gone.
  Parameter* speed = rig.doc().instrument_network().FindByName("bPS");
  QVERIFY(speed != nullptr);
  const QModelIndex cell = rig.window->model().index_of(speed).siblingAtColumn(2);
  QVERIFY(cell.isValid());
  QVERIFY(rig.window->model().setData(cell, QString("19200"), Qt::EditRole));
  bool asked = false;
  rig.commands->set_aply_asker([&](Dialogs::CApply& apply) {
    asked = true;
    ApplyDialog dialog(apply);
    // The dialog shows the instrument's new settings and the fixed "three times" option.
    if (!dialog.parameters_label().text().contains("19200")) return false;
    if (dialog.three_times_box().isEnabled() || !dialog.change_program_box().isChecked()) {
      return false;
    }
    dialog.accept();
    return true;
  });
  rig.prompter.clear();
  rig.prompter.answer_next(PromptAnswer::Yes);
  rig.trigger(command::kWriteChanged);
  QVERIFY(rig.wait_closed());
  QVERIFY(wait_until([&] { return asked; }));
  QVERIFY(rig.prompted(kOfferAplyCaption, "В прибор записаны новые сетевые параметры."));
  QVERIFY(rig.commands->wait_done(kLimitMs));
  QCOMPARE(rig.configurator->program_settings()->GetValueByName("bPS"), std::string("19200"));
  QVERIFY(!rig.prompted("Имела место ошибка", ""));
  // The program follows the instrument: a read at the new speed gets its answers.
  rig.trigger(command::kReadAll);
  QVERIFY(rig.wait_closed());
  QCOMPARE(rig.progress().errors_label().text(), QString("0"));
  auto* indicator = rig.window->findChild<LinkIndicator*>();
  indicator->refresh();
  QVERIFY(indicator->text().startsWith("COM9: 19200"));

  // "PRTL" asks with the protocol first; No sends nothing.
  rig.prompter.clear();
  rig.trigger(command::kSendPrtl);
  QVERIFY(rig.prompted(kPrtlCaption.data(),
                       "ВНИМАНИЕ: Данная операция приведет к переключению на новый протокол"));
  QVERIFY(rig.prompter.records().back().text.find("Новый протокол обмена: ") != std::string::npos);
  QVERIFY(rig.commands->wait_done(1000));
}

void OperationWindowTest::withSwitchesNothingWaitsForAPerson() {
  OperationRig::Options o;
  o.params = {"/port:9", "/bps:115200"};
  OperationRig rig(o);
  QCOMPARE(rig.start, DocumentStart::Ready);
  bool chosen = false;
  rig.commands->set_file_chooser([&](bool, const QString&) {
    chosen = true;
    return QString();
  });
  // The commands that begin with a dialog are greyed for the whole run; even a trigger that
  // slips through opens nothing.
  rig.window->refresh_commands();
  for (int id : {command::kSaveEepromImage, command::kLoadEepromImage, command::kSendAply}) {
    QVERIFY2(!rig.window->command_action(id)->isEnabled(), std::to_string(id).c_str());
  }
  QVERIFY(rig.window->command_action(command::kReadAll)->isEnabled());
  rig.trigger_now(command::kSaveEepromImage);
  QVERIFY(!chosen);
  // The progress window is there, but holds nothing back.
  rig.trigger(command::kReadAll);
  QCoreApplication::processEvents();
  QVERIFY(rig.view.shown());
  QCOMPARE(rig.progress().windowModality(), Qt::NonModal);
  QVERIFY(rig.wait_closed());
  QCOMPARE(rig.progress().errors_label().text(), QString("0"));
}

void OperationWindowTest::dialogsKeepTheirRulesAndKeys() {
  OperationRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  // "Сетевые параметры программы" takes the person to the program's own branch.
  rig.trigger(command::kProgramNetSettings);
  const QModelIndex current = rig.window->tree().currentIndex();
  QVERIFY(current.isValid());
  QVERIFY(dynamic_cast<Elements::NetRS485prg*>(rig.window->model().element(current.parent())) !=
          nullptr);
  QVERIFY(rig.window->tree().isExpanded(current.parent()));

  // There the program's own settings keep the network rules: 7 data bits with 1 stop bit and
  // no parity is refused with its box and the old value stays.
  Elements::InvisibleElement* own = rig.configurator->program_settings();
  auto value_cell = [&](const char* name) {
    return rig.window->model().index_of(own->FindByName(name)).siblingAtColumn(2);
  };
  rig.prompter.clear();
  rig.window->model().setData(value_cell("LEn"), QString("7"), Qt::EditRole);
  QCOMPARE(own->GetValueByName("LEn"), std::string("8"));
  QVERIFY(rig.prompted(
      QString::fromUtf8(kEditRefusedCaption.data(), kEditRefusedCaption.size()),
      QString::fromUtf8(kCharFormatRefusedText.data(), kCharFormatRefusedText.size())));
  // Nothing of them changes while a ticked operational row is polled.
  bind_polling(*rig.window, *rig.configurator, rig.prompter);
  std::vector<Parameter*> timed;
  QVERIFY(CollectPolled(*rig.doc().operational_tree(), timed) > 0);
  const QModelIndex tick = rig.window->model().index_of(timed.front()).siblingAtColumn(0);
  QVERIFY(rig.window->model().setData(tick, Qt::Checked, Qt::CheckStateRole));
  rig.prompter.clear();
  rig.window->model().setData(value_cell("Addr"), QString("24"), Qt::EditRole);
  QVERIFY(rig.window->model().setData(tick, Qt::Unchecked, Qt::CheckStateRole));
  QCOMPARE(own->GetValueByName("Addr"), std::string("16"));
  QVERIFY(rig.prompted("", QString::fromUtf8(kPollingRunsText.data(), kPollingRunsText.size())));
  // A change that the rules take reopens the port with it.
  Sio& port = dynamic_cast<Device&>(rig.doc().device()).sio();
  QCOMPARE(port.device_address(), 16);
  QVERIFY(rig.window->model().setData(value_cell("Addr"), QString("24"), Qt::EditRole));
  QCOMPARE(own->GetValueByName("Addr"), std::string("24"));
  QCOMPARE(port.device_address(), 24);
  QVERIFY(rig.window->model().setData(value_cell("Addr"), QString("16"), Qt::EditRole));
  QCOMPARE(port.device_address(), 16);

  // Escape in the progress window is its button: "Остановить" first.
  auto held = rig.hold_line();
  rig.trigger(command::kReadAll);
  QCoreApplication::processEvents();
  ProgressWindow& w = rig.progress();
  w.auto_close_box().click();
  QTest::keyClick(&w, Qt::Key_Escape);
  QCOMPARE(w.button().text(), QString("Закрыть"));
  held.unlock();
  QVERIFY(rig.wait_worker());
  QVERIFY(w.isVisible());
  QTest::keyClick(&w, Qt::Key_Escape);
  QVERIFY(rig.wait_closed());
}

void OperationWindowTest::searchDialogRefusesBadSettingsAndTakesTheFactoryOnes() {
  OperationRig rig;
  QCOMPARE(rig.start, DocumentStart::Ready);
  // COM1 of the factory settings leads nowhere in the test's home.
  rig.store.set_value("Ports/COM1", (rig.home->root() / "no-such-port").string());
  Device& device = *dynamic_cast<Device*>(&rig.doc().device());
  // The port row's choices carry the device path behind each name as their hint.
  auto hint = [&rig](const QString& port) {
    return QString::fromStdString(platform::port_device(rig.store, port.toStdString()));
  };
  SetupCarrierDialog dialog(device, rig.prompter, hint);
  dialog.show();
  auto* ports = qobject_cast<QComboBox*>(dialog.row_editor(6));
  QVERIFY(ports != nullptr && ports->findText("COM9") >= 0);
  QCOMPARE(ports->itemData(ports->findText("COM9"), Qt::ToolTipRole).toString(),
           QString::fromStdString(rig.sim->path()));
  QCOMPARE(ports->findText("COM7"), -1);
  QCOMPARE(dialog.table().item(0, 0)->text(), QString("Скорость обмена"));
  // An address that is no multiple of 8 is refused by the address rules with their box; the
  // row keeps the old one.
  auto* address = qobject_cast<QLineEdit*>(dialog.row_editor(5));
  QVERIFY(address != nullptr);
  const QString before = address->text();
  rig.prompter.clear();
  dialog.edit_row(5, "17");
  QCOMPARE(rig.prompter.count(), std::size_t(1));
  QCOMPARE(rig.prompter.records()[0].caption, std::string("Неудалось изменить значение"));
  QVERIFY(rig.prompted("Неудалось изменить значение",
                       "Не выполняются следующие требования:\n - при использовании протокола "
                       "ТАЛВ адрес прибора должен быть кратен 8"));
  QCOMPARE(address->text(), before);
  dialog.edit_row(5, "24");
  QCOMPARE(address->text(), QString("24"));
  QCOMPARE(rig.configurator->program_settings()->GetValueByName("Addr"), std::string("24"));
  // The factory settings go into the table and the element, then a check that finds nothing.
  QTest::mouseClick(&dialog.factory_button(), Qt::LeftButton);
  QVERIFY(wait_until([&] { return dialog.status_is_error(); }));
  QCOMPARE(dialog.status().text(), QString("Не удалось установить связь с прибором!"));
  QCOMPARE(qobject_cast<QComboBox*>(dialog.row_editor(0))->currentText(), QString("9600"));
  QCOMPARE(address->text(), QString("16"));
  QCOMPARE(qobject_cast<QComboBox*>(dialog.row_editor(6))->currentText(), QString("COM1"));
  QCOMPARE(rig.configurator->program_settings()->GetValueByName("Port"), std::string("COM1"));
  QVERIFY(dialog.table().isEnabled());
  // "Выход" once nothing runs: the dialog ends with 2.
  QTest::mouseClick(&dialog.exit_button(), Qt::LeftButton);
  QVERIFY(wait_until([&] { return dialog.ended_with() != 0; }));
  QCOMPARE(dialog.ended_with(), PreStart::kResultQuit);

  // While a check runs the table is closed to edits; "Работать offline" interrupts it and,
  // once it has stopped, leaves the program offline with automatic reading off and no other
  // mode of the command line.
  // The port list is made anew at each opening: a port mapped meanwhile is offered.
  rig.store.set_value("Ports/COM7", rig.sim->path());
  SetupCarrierDialog second(device, rig.prompter, hint);
  second.show();
  QVERIFY(qobject_cast<QComboBox*>(second.row_editor(6))->findText("COM7") >= 0);
  rig.app.options.mode_flags.store(
      static_cast<std::uint16_t>(StartOptions::kAutoReadOff | StartOptions::kNewNetParam));
  {
    auto held = rig.hold_line();
    QTest::mouseClick(&second.connect_button(), Qt::LeftButton);
    QVERIFY(wait_until([&] { return !second.table().isEnabled(); }));
    QCOMPARE(second.status().text(), QString("Идет сканирование..."));
    QVERIFY(!second.factory_button().isEnabled());
    QTest::mouseClick(&second.offline_button(), Qt::LeftButton);
    QVERIFY(wait_until([&] { return second.status().text() == "Прерывание операции..."; }));
    QCOMPARE(second.ended_with(), 0);
  }
  QVERIFY(wait_until([&] { return second.ended_with() != 0; }));
  QCOMPARE(second.ended_with(), PreStart::kResultConnected);
  QVERIFY(!second.status_is_error());
  QCOMPARE(rig.app.options.mode_flags.load(), StartOptions::kAutoReadOff);
}

void OperationWindowTest::channelWordsLeaveTheWindowFreeAndGoThroughItsTree() {
  OperationRig::Options o;
  o.channel = true;
  OperationRig rig(o);
  QCOMPARE(rig.start, DocumentStart::Ready);
  rig.say("!?");
  QCOMPARE(rig.answer(), std::string("!! peer"));

  // The exchange of "!get" runs off the UI thread: while the line is held, the window answers
  // "!status", holds its instrument and file commands back, and the value comes afterwards.
  {
    auto held = rig.hold_line();
    rig.say("!get ver");
    rig.say("!status");
    const std::string status = rig.answer();
    QVERIFY2(status.starts_with("!status port COM9 bps 115200 ") &&
                 status.ends_with(" operation running"),
             status.c_str());
    rig.window->refresh_commands();
    QVERIFY(!rig.window->command_action(command::kReadAll)->isEnabled());
    QVERIFY(!rig.window->command_action(command::kFileOpen)->isEnabled());
    rig.say("!read");
    QCOMPARE(rig.answer(), std::string("!busy !read"));
  }
  const std::string version = rig.answer();
  QVERIFY2(version == "!value ver " + rig.param("ver")->value, version.c_str());
  rig.say("!status");
  QVERIFY(rig.answer().ends_with(" operation idle"));

  // "!open" replaces the parameters the window's tree shows: the tree lets its rows go and is
  // built again over the new ones.
  const std::string file = (rig.home->root() / "by channel.604").string();
  rig.say("!save \"" + file + "\"");
  QCOMPARE(rig.answer(), "!ok save \"" + file + "\"");
  QSignalSpy reset(&rig.window->model(), &QAbstractItemModel::modelReset);
  rig.say("!open \"" + file + "\"");
  QCOMPARE(rig.answer(), "!ok open \"" + file + "\"");
  QVERIFY(reset.count() >= 2);
  QVERIFY(rig.window->model().index_of(rig.param("in.L", 0)).isValid());
  QCOMPARE(rig.doc().path(), file);

  // Unsaved changes hold "!open" back unless "force" follows; polling holds it back always,
  // with the text of the menu's refusal and no box.
  rig.doc().set_modified(true);
  rig.say("!open \"" + file + "\"");
  QVERIFY(rig.answer().starts_with("!error !open the configuration has unsaved changes"));
  std::vector<Parameter*> timed;
  QVERIFY(CollectPolled(*rig.doc().operational_tree(), timed) > 0);
  timed.front()->ArmTimer(rig.clock.now_ms());
  rig.prompter.clear();
  rig.say("!open \"" + file + "\" force");
  QCOMPARE(rig.answer(), "!error !open " + escape_for_line(kPollingRunsText));
  QCOMPARE(rig.prompter.count(), std::size_t(0));
  timed.front()->DisarmTimer();
  rig.say("!open \"" + file + "\" force");
  QCOMPARE(rig.answer(), "!ok open \"" + file + "\"");

  // A whole-tree word shows its progress window like the menu's command; "!stop" ends it
  // after the parameter in progress with 205.
  std::vector<std::string> progress, others;
  rig.say("!compare");
  QCOMPARE(rig.until_done(progress, others), std::string("!done 0 0"));
  QVERIFY(!progress.empty());
  QVERIFY(others.empty());
  QVERIFY(rig.wait_closed());
  QCOMPARE(rig.progress().windowTitle(),
           QString("Идет сравнение параметров в конфигурации и в приборе"));
  progress.clear();
  {
    auto held = rig.hold_line();
    rig.say("!write");
    const std::string first = rig.answer();
    QVERIFY2(first.starts_with("!progress "), first.c_str());
    rig.say("!stop");
    QCOMPARE(rig.answer(), std::string("!ok stop"));
  }
  const std::string done = rig.until_done(progress, others);
  QVERIFY2(done.starts_with("!done 205 "), done.c_str());
  QVERIFY(rig.wait_closed());
  QVERIFY(rig.doc().device().done() < rig.doc().device().total());

  // A window that a person keeps open after its operation holds the next word back at once.
  ProgressWindow& w = rig.progress();
  {
    auto held = rig.hold_line();
    rig.say("!read");
    const std::string first = rig.answer();
    QVERIFY2(first.starts_with("!progress "), first.c_str());
    QVERIFY(wait_until([&] { return w.isVisible(); }));
    w.auto_close_box().click();
  }
  progress.clear();
  QCOMPARE(rig.until_done(progress, others), std::string("!done 0 0"));
  QVERIFY(w.isVisible());
  rig.say("!compare");
  QCOMPARE(rig.answer(1000), std::string("!busy !compare"));
  QTest::mouseClick(&w.button(), Qt::LeftButton);
  QVERIFY(rig.wait_closed());
  rig.say("!status");
  QVERIFY(rig.answer().ends_with(" operation idle"));
}

QTEST_MAIN(OperationWindowTest)
#include "operation_window_guitest.moc"
