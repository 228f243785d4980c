// The operational branch of the window bound to polling and recording, against the virtual
// instrument on a pseudo-terminal: ticking a row polls it and repaints it, the protocol-file
// row switches the recording and names its file, the period column, the guards while polling,
// the daily change of the day file, and the rows read under the value lock while a worker
// writes them.
// The virtual instrument first: its headers use "slots" as a name, which Qt's headers make a
// keyword.
#include "support/virtual_instrument.h"
// clang-format off
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest/QtTest>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/start_rules.h"
#include "files/kba604_doc.h"
#include "link/device_io.h"
#include "measurement/day_file_reader.h"
#include "measurement/day_file_writer.h"
#include "measurement/recording.h"
#include "operations/operation_hooks.h"
#include "operations/scanner.h"
#include "platform/ini_settings_store.h"
#include "platform/paths.h"
#include "runner/document_handler.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "support/window_rig.h"
#include "ui/main_window.h"
#include "ui/polling_binding.h"
#include "ui/qt_services.h"
#include "ui/trend_days.h"
#include "ui/trend_view.h"
#include "ui/window_program.h"
// clang-format on

using namespace kba604;

namespace {

constexpr int kLimitMs = 60'000;
// 2027-01-15 09:12:00 in Moscow (06:12:00 UTC).
constexpr std::int64_t kTwelvePastNine = 1799993520000;

// The window over the program's document, with a scanner of the test's own: its clock is a
// manual one, so a poll falls due as soon as the scanner waits for it, and a wall clock the
// test sets.
struct PollingRig : test::ProgramParts {
  PollingRig() {
    sim = std::make_unique<test::VirtualInstrument>(std::vector<std::string>{"--baud", "115200"});
    store.set_value("Ports/COM9", sim->path());
    store.set_uint32("port_number", 9);
    store.set_uint32("baud_rate", 115200);
    store.set_uint32("RS485type", 1);
    parse_switches({});
    handler = make_document_handler();
    start = handler->construct(context);
    if (start != DocumentStart::Ready) return;
    apply_window_modes(app.options, settings, app.modes);

    auto* io = dynamic_cast<DeviceIO*>(&doc().device());
    if (io == nullptr) return;
    scanner = std::make_unique<Scanner>(
        [io](Parameter& p) { return io->transact_parameter(nullptr, &p, 1, false); },
        std::shared_ptr<std::recursive_mutex>(std::shared_ptr<void>(), &io->link_lock()), clock,
        [this] { return wall.load(); });
    doc().set_polling_guard(scanner.get());
    doc().set_before_release([this] { scanner->StopScanners(); });
    std::filesystem::create_directories(platform::program_directory() / kProtocolFolder);
    recording =
        std::make_unique<Recording>(platform::program_directory(), [this] { return wall.load(); });
    recording->start();

    auto* h = static_cast<ConfiguratorDocument*>(handler.get());
    MainWindow::Services s{
        app, doc(), settings, *profile, h->program_settings(), {}, app.options.quiet()};
    window = std::make_unique<MainWindow>(std::move(s), view, sink);
    window->resize(1200, 800);
    binding = new PollingBinding(*window, doc(), scanner.get(), *recording, prompter);
  }
  ~PollingRig() {
    window.reset();
    scanner.reset();
    if (handler) {
      doc().set_polling_guard(nullptr);
      doc().set_before_release({});
      handler->shutdown();
    }
  }
  CKBA604Doc& doc() { return *handler->document(); }
  ParameterTreeModel& model() { return window->model(); }
  QModelIndex operational_branch() {
    const QModelIndex root = model().index(0, 0);
    return model().index(model().rowCount(root) - 1, 0, root);
  }
  // Row 0 of the branch is the protocol file, row 1 the header, then the polled parameters.
  QModelIndex polled_row(int n) { return model().index(2 + n, 0, operational_branch()); }
  bool prompted(const std::string& part) {
    for (const auto& r : prompter.records()) {
      if (r.text.find(part) != std::string::npos) return true;
    }
    return false;
  }

  std::unique_ptr<test::VirtualInstrument> sim;
  std::unique_ptr<DocumentHandler> handler;
  DocumentStart start = DocumentStart::Refused;
  // Owned after the document, gone before it.
  platform::ManualClock clock;
  std::atomic<std::int64_t> wall{kTwelvePastNine - 3600 * 1000};
  std::unique_ptr<Scanner> scanner;
  std::unique_ptr<Recording> recording;
  std::unique_ptr<MainWindow> window;
  PollingBinding* binding = nullptr;
};

QString cell(const QModelIndex& row, int column) {
  return row.siblingAtColumn(column).data().toString();
}

QString commit_typed(QTreeView& tree, const QModelIndex& index, const QString& typed) {
  tree.setCurrentIndex(index);
  tree.scrollTo(index);
  tree.edit(index);
  QCoreApplication::processEvents();
  auto* edit = qobject_cast<QLineEdit*>(tree.indexWidget(index) ? tree.indexWidget(index)
                                                                : QApplication::focusWidget());
  if (edit == nullptr) return QStringLiteral("<no editor>");
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  // Typed one character at a time through the editor's filter (QTest knows no Cyrillic keys).
  for (const QChar c : typed) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(edit, &press);
  }
  const QString shown = edit->text();
  QTest::keyClick(edit, Qt::Key_Return);
  QCoreApplication::processEvents();
  return shown;
}

// The records of a day file: name, offset, error flag and data bytes of each.
std::vector<MeasurementRecord> read_day_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<unsigned char> bytes(std::istreambuf_iterator<char>(in), {});
  std::vector<MeasurementRecord> out;
  std::size_t at = 0;
  while (at + kRecordHeaderSize <= bytes.size()) {
    MeasurementRecord r;
    const std::size_t n = bytes[at + 18];
    if (at + kRecordHeaderSize + n > bytes.size()) break;
    r.short_name.assign(reinterpret_cast<const char*>(&bytes[at + 8]),
                        strnlen(reinterpret_cast<const char*>(&bytes[at + 8]), kRecordNameSize));
    r.address_offset = bytes[at + 16];
    r.error = bytes[at + 17] != 0;
    r.data.assign(bytes.begin() + static_cast<long>(at + kRecordHeaderSize),
                  bytes.begin() + static_cast<long>(at + kRecordHeaderSize + n));
    out.push_back(std::move(r));
    at += kRecordHeaderSize + n;
  }
  return out;
}

}  // namespace

class PollingTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // The day files are named after the local date of Moscow.
    ::setenv("TZ", "MSK-3", 1);
    ::tzset();
  }

  void tickingARowStartsItsPollingAndTheRowRefreshes() {
    PollingRig rig;
    QCOMPARE(rig.start, DocumentStart::Ready);
    ParameterTreeModel& m = rig.model();
    const QModelIndex branch = rig.operational_branch();
    QCOMPARE(cell(branch, 0), QString("Опрос оперативных параметров"));
    // The protocol-file row above the header, unchecked, with today's file.
    const QModelIndex file = m.index(0, 0, branch);
    QCOMPARE(cell(file, 0), QString("Имя файла для сохранения протокола"));
    QCOMPARE(cell(file, 1), QString("    "));
    QCOMPARE(cell(file, 2), QString("15-01-2027.log"));
    QCOMPARE(file.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(cell(m.index(1, 0, branch), 0), QString("     Имя параметра"));
    QVERIFY(rig.scanner->running());  // started with the tree

    QVERIFY(m.setData(file, Qt::Checked, Qt::CheckStateRole));
    QVERIFY(rig.recording->recording());
    QCOMPARE(file.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    const QModelIndex row = rig.polled_row(0);
    Parameter* p = m.parameter(row);
    QVERIFY(p != nullptr && p->owns_polling_timer());
    QSignalSpy repainted(&m, &QAbstractItemModel::dataChanged);
    QVERIFY(m.setData(row, Qt::Checked, Qt::CheckStateRole));
    QVERIFY(p->timer_armed());
    QCOMPARE(row.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QTRY_VERIFY_WITH_TIMEOUT(rig.binding->shown_polls() >= 3, kLimitMs);
    // The row was repainted by the polls and shows what the instrument answered.
    bool row_repainted = false;
    for (const QList<QVariant>& args : repainted) {
      const QModelIndex top = args[0].toModelIndex();
      if (top.row() == row.row() && top.parent() == branch) row_repainted = true;
    }
    QVERIFY(row_repainted);
    bool number = false;
    cell(row, 2).toDouble(&number);
    QVERIFY2(number, qPrintable(cell(row, 2)));

    // The trend view opened later has every poll shown so far, then a point per poll.
    TrendView& trend = rig.binding->trend_view();
    const QString key = QString::fromStdString(p->short_name) +
                        (p->address_offset != 0 ? "@" + QString::number(p->address_offset) : "");
    QCOMPARE(trend.point_count(key), rig.binding->shown_polls());
    const int before = rig.binding->shown_polls();
    QTRY_VERIFY_WITH_TIMEOUT(rig.binding->shown_polls() >= before + 2, kLimitMs);
    QVERIFY(m.setData(row, Qt::Unchecked, Qt::CheckStateRole));
    QVERIFY(!p->timer_armed());
    // A poll under way when the box was cleared still arrives; then nothing more.
    const std::filesystem::path day = rig.recording->current_path();
    QTRY_VERIFY_WITH_TIMEOUT(
        static_cast<int>(read_day_file(day).size()) == rig.binding->shown_polls(), kLimitMs);
    QCOMPARE(trend.point_count(key), rig.binding->shown_polls());

    // One record per poll, each answered one decoding to a number with the parameter's
    // format (a poll that a loaded machine let time out is recorded with its error flag).
    const std::vector<MeasurementRecord> records = read_day_file(day);
    QVERIFY(records.size() >= 5);
    int answered = 0;
    for (const MeasurementRecord& r : records) {
      QCOMPARE(QString::fromStdString(r.short_name), QString::fromStdString(p->short_name));
      QCOMPARE(r.address_offset, p->address_offset & 0xFF);
      if (r.error) {
        QVERIFY(r.data.empty());
        continue;
      }
      ++answered;
      std::string text;
      p->ConvertFromData(r.data.data(), r.data.size(), false, text);
      QString::fromStdString(text).toDouble(&number);
      QVERIFY2(number, text.c_str());
    }
    QVERIFY(answered > 0);
  }

  void periodColumnProtocolFileAndGuardsWhilePolling() {
    PollingRig rig;
    QCOMPARE(rig.start, DocumentStart::Ready);
    rig.window->show();
    ParameterTreeModel& m = rig.model();
    QTreeView& tree = rig.window->tree();
    tree.expandAll();
    const QModelIndex row = rig.polled_row(1);
    Parameter* p = m.parameter(row);
    QVERIFY(m.setData(row, Qt::Checked, Qt::CheckStateRole));
    const int shown = rig.binding->shown_polls();
    QTRY_VERIFY_WITH_TIMEOUT(rig.binding->shown_polls() > shown, kLimitMs);

    // The period column, typed while the row is repainted by its polls: the scanner's rule, its box
    // and caption; a taken period re-arms.
    const std::int64_t now = rig.clock.now_ms();
    QCOMPARE(commit_typed(tree, row.siblingAtColumn(1), "2500"), QString("2500"));
    QCOMPARE(p->polling_period(), 2500);
    QVERIFY(p->timer_armed());
    QVERIFY(p->next_due_ms() >= now + 2500);
    commit_typed(tree, row.siblingAtColumn(1), "999");
    QCOMPARE(p->polling_period(), 2500);
    QCOMPARE(cell(row, 1), QString("2500"));
    QVERIFY(!rig.prompter.records().empty());
    QCOMPARE(rig.prompter.records().back().caption, std::string(kPollingPeriodCaption));

    // While polling: no new document, no other file, no initialisation, no port settings edit.
    // (The edited period made the document changed: its question is answered "No".)
    rig.prompter.clear();
    rig.prompter.answer_next(PromptAnswer::No);
    QVERIFY(!rig.window->new_document());
    QVERIFY(rig.prompted(std::string(kPollingRunsText)));
    rig.prompter.clear();
    const std::filesystem::path other = rig.home->root() / "other.604";
    rig.prompter.answer_next(PromptAnswer::No);
    QVERIFY(!rig.window->open_document(QString::fromStdString(other.string())));
    QVERIFY(rig.prompted(std::string(kPollingRunsText)));
    QVERIFY(p->timer_armed());  // the tree was rebuilt on the same parameters, still polled
    rig.prompter.clear();
    rig.doc().OnCommand(command::kWriteFactory);
    QVERIFY(rig.prompted("Перед инициализацией"));

    // The protocol-file row takes a name, with ".log" added, and refuses one with "/".
    const QModelIndex file = m.index(0, 0, rig.operational_branch());
    commit_typed(tree, file.siblingAtColumn(2), "завтра");
    QCOMPARE(QString::fromStdString(rig.recording->current_file()), QString("завтра.log"));
    QCOMPARE(cell(file, 2), QString("завтра.log"));
    rig.prompter.clear();
    commit_typed(tree, file.siblingAtColumn(2), "../x");
    QCOMPARE(QString::fromStdString(rig.recording->current_file()), QString("завтра.log"));
    QVERIFY(rig.prompted(std::string(kProtocolFileRefusedText)));

    // Polling off: a new document is made again.
    QVERIFY(m.setData(rig.polled_row(1), Qt::Unchecked, Qt::CheckStateRole));
    rig.prompter.clear();
    rig.prompter.answer_next(PromptAnswer::No);
    QVERIFY(rig.window->new_document());
    QVERIFY(!rig.prompted(std::string(kPollingRunsText)));
  }

  void theDayFileChangesAtTwelvePastNineAndTheRowShowsIt() {
    PollingRig rig;
    QCOMPARE(rig.start, DocumentStart::Ready);
    const QModelIndex file = rig.model().index(0, 0, rig.operational_branch());
    QVERIFY(rig.recording->set_file_name("вчера", nullptr));
    QSignalSpy repainted(&rig.model(), &QAbstractItemModel::dataChanged);
    rig.wall = kTwelvePastNine - 1000;  // 09:11:59
    QVERIFY(!rig.binding->tick());
    QCOMPARE(cell(file, 2), QString("вчера.log"));
    rig.wall = kTwelvePastNine + 30'000;
    QVERIFY(rig.binding->tick());
    QCOMPARE(cell(file, 2), QString("15-01-2027.log"));
    QVERIFY(!repainted.isEmpty());
    QVERIFY(rig.recording->set_file_name("вчера", nullptr));
    rig.wall = kTwelvePastNine + 60'000;  // 09:13: not any more
    QVERIFY(!rig.binding->tick());
    QCOMPARE(cell(file, 2), QString("вчера.log"));
  }

  void aRecordedDayOpensFromTheTreeMenuAndFromTheTrendView() {
    PollingRig rig;
    QCOMPARE(rig.start, DocumentStart::Ready);
    TrendDays* days = wire_trend_days(*rig.window);
    QVERIFY(days != nullptr);
    // Yesterday's day file: "rEAd" of the first input with one time-out among its polls.
    std::vector<std::uint8_t> bytes;
    const std::int64_t start = kTwelvePastNine / 1000 - 86400;
    for (int i = 0; i < 10; ++i) {
      encode_day_record(make_day_record(start + i, "rEAd", 0, i == 4,
                                        i == 4 ? std::vector<std::uint8_t>{}
                                               : std::vector<std::uint8_t>{0x41, 0x48, 0, 0}),
                        bytes);
    }
    {
      std::ofstream out(rig.doc().protocol_directory() / "14-01-2027.log", std::ios::binary);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<std::string> offered;
    days->set_chooser([&offered](const std::vector<RecordedDay>& list, QWidget*) {
      offered.clear();
      for (const RecordedDay& d : list) offered.push_back(d.name);
      return list.empty() ? std::nullopt : std::optional<RecordedDay>(list.front());
    });

    QAction* command = nullptr;
    for (QAction* a : rig.binding->trend_menu()->actions()) {
      if (a->text() == "Открыть записанный день в графике...") command = a;
    }
    QVERIFY(command != nullptr);
    QSignalSpy read(days, &TrendDays::day_read);
    command->trigger();
    QVERIFY(read.wait(kLimitMs));
    QCOMPARE(offered, std::vector<std::string>{"14-01-2027.log"});
    TrendView& trend = rig.binding->trend_view();
    QVERIFY(trend.showing_day());
    QVERIFY(trend.windowTitle().contains("14.01.2027"));
    QCOMPARE(trend.lines(), QStringList{"rEAd"});
    QCOMPARE(trend.point_count("rEAd"), 10);
    QCOMPARE(trend.drawn_points("rEAd"), 9);  // the time-out is a gap

    // The view's own button offers the days again; one action brings the live lines back.
    QPushButton* again = nullptr;
    QPushButton* live = nullptr;
    for (QPushButton* b : trend.findChildren<QPushButton*>()) {
      if (b->text() == "Открыть день...") again = b;
      if (b->text() == "Текущие данные") live = b;
    }
    QVERIFY(again != nullptr && live != nullptr);
    offered.clear();
    again->click();
    QVERIFY(read.wait(kLimitMs));
    QCOMPARE(offered.size(), std::size_t{1});
    live->click();
    QVERIFY(!trend.showing_day());
    QCOMPARE(trend.windowTitle(), QString("График опрашиваемых параметров"));
  }

  void rowsAreReadUnderTheValueLockWhileAWorkerWritesThem() {
    PollingRig rig;
    QCOMPARE(rig.start, DocumentStart::Ready);
    ParameterTreeModel& m = rig.model();
    ParameterTable& table = rig.doc().table();
    // A parameter of the instrument's tree and its position in the table.
    std::size_t at = table.size();
    QModelIndex row;
    for (std::size_t i = 0; i < table.size(); ++i) {
      if (!table[i].owns_polling_timer() && m.index_of(&table[i]).isValid()) {
        at = i;
        row = m.index_of(&table[i]);
        break;
      }
    }
    QVERIFY(row.isValid());
    Parameter& p = table[at];
    QSignalSpy repainted(&m, &QAbstractItemModel::dataChanged);
    std::atomic<bool> go{false}, done{false};
    std::thread worker([&] {
      while (!go.load()) std::this_thread::yield();
      for (int k = 0; k < 3000; ++k) {
        {
          ValueWriteLock lock(p);
          p.value = std::to_string(k) + ".5";
          p.note = (k % 2) ? std::string("Таймаут при передаче данных") : std::string();
        }
        rig.sink.parameter_changed(at);
      }
      done = true;
    });
    // The window paints the row as fast as it can meanwhile.
    int reads = 0;
    go = true;
    do {
      cell(row, 2);
      cell(row, 5);
      row.data(Qt::ForegroundRole);
      QCoreApplication::processEvents();
      ++reads;
    } while (!done.load());
    worker.join();
    QTRY_VERIFY_WITH_TIMEOUT(cell(row, 2) == "2999.5", kLimitMs);
    QVERIFY(reads > 0);
    QCOMPARE(cell(row, 5), QString("Таймаут при передаче данных"));
    // Only the rows of that parameter were repainted.
    QTRY_VERIFY_WITH_TIMEOUT(!repainted.isEmpty(), kLimitMs);
    QCoreApplication::processEvents();
    for (const QList<QVariant>& args : repainted) {
      const QModelIndex top = args[0].toModelIndex();
      const QModelIndex bottom = args[1].toModelIndex();
      QCOMPARE(m.parameter(top), &p);
      QCOMPARE(top.row(), bottom.row());
    }
  }
};

QTEST_MAIN(PollingTest)
#include "polling_guitest.moc"
