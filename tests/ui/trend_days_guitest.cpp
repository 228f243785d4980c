// Recorded days in the trend view on the offscreen platform: a hand-made day file with failed
// polls and a torn end, a day kept only in its monthly archive, a long day drawn thinned, the
// live polls kept apart while a day is shown and back with one action, and a damaged archive
// that leaves the view as it was and says why.
#include <QChart>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/protocol_archive.h"
#include "measurement/day_file_reader.h"
#include "model/parameter_table.h"
#include "support/test_home.h"
#include "ui/trend_days.h"
#include "ui/trend_view.h"

using namespace kba604;
namespace fs = std::filesystem;

namespace {

// 2026-12-07 10:00:00 UTC.
constexpr std::int64_t kTen = 1796637600;
// 12.5 and 100.0 as the instrument sends a measured value: IEEE single, most significant first.
const std::vector<std::uint8_t> k12_5 = {0x41, 0x48, 0x00, 0x00};
const std::vector<std::uint8_t> k100 = {0x42, 0xC8, 0x00, 0x00};

PollSnapshot live_poll(const char* name, qint64 ms, std::string value) {
  PollSnapshot s;
  s.short_name = name;
  s.wall_ms = ms;
  s.value = std::move(value);
  return s;
}

// Every point the chart draws for a line, over all its stretches.
std::vector<QPointF> drawn(const TrendView& view, const QString& key, int* stretches = nullptr) {
  std::vector<QPointF> points;
  int n = 0;
  for (QAbstractSeries* s : view.chart()->series()) {
    if (s->name() != key) continue;
    ++n;
    for (const QPointF& p : static_cast<QLineSeries*>(s)->points()) points.push_back(p);
  }
  if (stretches != nullptr) *stretches = n;
  return points;
}

int csv_rows(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  return static_cast<int>(QString::fromStdString(text).split("\r\n", Qt::SkipEmptyParts).size()) -
         1;
}

}  // namespace

class TrendDaysTest : public QObject {
  Q_OBJECT

 private:
  test::TestHome home_;
  ParameterTable table_;
  std::vector<std::uint8_t> bytes_;

  fs::path protocol() const { return home_.data_dir() / "protocol"; }
  fs::path temp() const { return home_.data_dir() / "temp"; }
  void add(std::int64_t t, const char* name, int offset, bool error,
           const std::vector<std::uint8_t>& data) {
    encode_day_record(make_day_record(t, name, static_cast<std::uint8_t>(offset), error, data),
                      bytes_);
  }
  void write_day(const char* name, std::size_t cut = 0) {
    std::ofstream out(protocol() / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size() - cut));
    bytes_.clear();
  }
  TrendDays::Sources sources(TrendView& view) {
    TrendDays::Sources s;
    s.view = [&view]() -> TrendView& { return view; };
    s.table = [this] { return &table_; };
    s.protocol_dir = protocol();
    s.temp_dir = temp();
    return s;
  }
  RecordedDay day_named(const char* name) {
    for (const RecordedDay& d : recorded_days(protocol())) {
      if (d.name == name) return d;
    }
    return {};
  }
  static bool open(TrendDays& days, const RecordedDay& day) {
    QSignalSpy read(&days, &TrendDays::day_read);
    days.open_day(day);
    if (!read.wait(10000)) return false;
    return read.front().front().toBool();
  }

 private slots:
  void initTestCase() {
    fs::create_directories(protocol());
    table_.reset(2, "parameters.zip");
    table_[0].short_name = "rEAd";
    table_[0].format = "float";
    table_[1].short_name = "rEAd";
    table_[1].format = "float";
    table_[1].address_offset = 2;

    // The 7th: two lines, time-outs and a refusal among the polls, the last record torn.
    for (int i = 0; i < 60; ++i) {
      const bool failed = i >= 20 && i < 25;
      add(kTen + i, "rEAd", 0, failed,
          failed ? std::vector<std::uint8_t>{} : (i % 2 ? k12_5 : k100));
      add(kTen + i, "rEAd", 2, i == 40, i == 40 ? std::vector<std::uint8_t>{0x28} : k100);
    }
    write_day("07-12-2026.log", 5);
    // The 6th: a whole day of one poll a second, kept only in its archive.
    for (int i = 0; i < 86400; ++i) {
      add(kTen - 86400 + i, "rEAd", 0, false, i == 50000 ? k100 : k12_5);
    }
    write_day("06-12-2026.log");
    ProtocolArchive archive;
    QVERIFY(archive.open(protocol() / "12-2026.var", true));
    QVERIFY(archive.pack("06-12-2026.log", protocol() / "06-12-2026.log"));
    archive.close();
    fs::remove(protocol() / "06-12-2026.log");
  }

  void the_days_are_listed_newest_first_with_their_archive() {
    CTrendDayDlg dialog(recorded_days(protocol()));
    QCOMPARE(dialog.list()->count(), 2);
    QCOMPARE(dialog.list()->item(0)->text(), QString("07.12.2026"));
    QCOMPARE(dialog.list()->item(1)->text(), QString("06.12.2026  (архив 12-2026.var)"));
    dialog.list()->setCurrentRow(1);
    QCOMPARE(dialog.chosen()->name, std::string("06-12-2026.log"));
    CTrendDayDlg none({});
    QVERIFY(!none.chosen());
  }

  void a_day_file_shows_its_lines_with_gaps_apart_from_the_live_ones() {
    TrendView view;
    view.setWindowTitle("График опрашиваемых параметров");
    view.add_snapshot(live_poll("r.OUt", kTen * 1000 + 86400000, "3.5"));
    TrendDays days(sources(view));
    QVERIFY(open(days, day_named("07-12-2026.log")));

    QVERIFY(view.showing_day());
    QVERIFY(view.chart()->title().contains("07.12.2026"));
    QVERIFY(view.windowTitle().contains("07.12.2026"));
    QCOMPARE(view.lines(), (QStringList{"rEAd", "rEAd@2"}));
    // The torn last record (of "rEAd@2") is left out and the status line says so.
    QCOMPARE(view.point_count("rEAd"), 60);
    QCOMPARE(view.point_count("rEAd@2"), 59);
    QVERIFY(view.status().contains("оборвана"));
    // Five time-outs and one refusal: gaps that split the lines, never zeros.
    int stretches = 0;
    const std::vector<QPointF> read = drawn(view, "rEAd", &stretches);
    QCOMPARE(stretches, 2);
    QCOMPARE(static_cast<int>(read.size()), 55);
    drawn(view, "rEAd@2", &stretches);
    QCOMPARE(stretches, 2);
    for (const QPointF& p : read) QVERIFY(p.y() == 12.5 || p.y() == 100.0);
    QCOMPARE(view.range_start().toSecsSinceEpoch(), kTen);
    QVERIFY(view.value_min() < 12.5 && view.value_max() > 100.0);

    // A live poll while the day is shown is kept, not drawn.
    view.add_snapshot(live_poll("r.OUt", kTen * 1000 + 86401000, "4.5"));
    QCOMPARE(view.lines(), (QStringList{"rEAd", "rEAd@2"}));
    QCOMPARE(drawn(view, "r.OUt").size(), std::size_t{0});

    // The day's CSV: the visible lines' polls, gaps as empty values.
    const QString csv = QString::fromStdString((home_.root() / "day.csv").string());
    view.set_line_visible("rEAd@2", false);
    QVERIFY(view.export_csv(csv));
    QCOMPARE(csv_rows(csv), 60);

    // One action back to the live lines, with the poll that came meanwhile.
    QPushButton* live = nullptr;
    for (QPushButton* b : view.findChildren<QPushButton*>()) {
      if (b->text() == "Текущие данные") live = b;
    }
    QVERIFY(live != nullptr && live->isVisibleTo(&view));
    live->click();
    QVERIFY(!view.showing_day());
    QCOMPARE(view.lines(), QStringList{"r.OUt"});
    QCOMPARE(view.point_count("r.OUt"), 2);
    QCOMPARE(drawn(view, "r.OUt").size(), std::size_t{2});
    QCOMPARE(drawn(view, "rEAd").size(), std::size_t{0});
    QCOMPARE(view.windowTitle(), QString("График опрашиваемых параметров"));
    QVERIFY(view.status().isEmpty());
  }

  void an_archived_day_is_unpacked_read_and_drawn_thinned() {
    TrendView view;
    view.resize(900, 500);
    TrendDays days(sources(view));
    QVERIFY(open(days, day_named("06-12-2026.log")));
    QVERIFY(view.chart()->title().contains("06.12.2026"));
    QVERIFY(view.chart()->title().contains("архив"));
    QCOMPARE(view.point_count("rEAd"), 86400);
    QVERIFY(view.status().isEmpty());
    // The unpacked copy is gone.
    QVERIFY(fs::is_empty(temp()));
    // A whole day in a few points per pixel column, the one spike among them.
    QCOMPARE(view.window_seconds(), 86400);
    const std::vector<QPointF> whole = drawn(view, "rEAd");
    QVERIFY(whole.size() <= 8 * 1000 + 2);
    QVERIFY(
        std::any_of(whole.begin(), whole.end(), [](const QPointF& p) { return p.y() == 100.0; }));

    // An hour, moved through the day: only that hour's polls (and one either side) are drawn.
    view.set_window_seconds(3600);
    const QDateTime start = QDateTime::fromSecsSinceEpoch(kTen - 86400 + 2 * 3600);
    view.set_range_start(start);
    QCOMPARE(view.range_start(), start);
    QCOMPARE(view.range_end(), start.addSecs(3600));
    const std::vector<QPointF> hour = drawn(view, "rEAd");
    QVERIFY(!hour.empty());
    for (const QPointF& p : hour) {
      QVERIFY(p.x() >= (start.toMSecsSinceEpoch() - 1000) &&
              p.x() <= start.addSecs(3600).toMSecsSinceEpoch() + 1000);
    }
    // The range stays inside the day.
    view.set_range_start(start.addDays(5));
    QCOMPARE(view.range_end().toSecsSinceEpoch(), kTen - 1);
  }

  void a_damaged_archive_leaves_the_view_as_it_was_and_says_why() {
    const RecordedDay archived = day_named("06-12-2026.log");
    fs::copy_file(protocol() / "12-2026.var", home_.root() / "kept.var");
    {
      std::ofstream damage(protocol() / "12-2026.var", std::ios::binary | std::ios::trunc);
      damage << "no compound file";
    }
    TrendView view;
    view.add_snapshot(live_poll("r.OUt", kTen * 1000, "3.5"));
    TrendDays days(sources(view));
    QVERIFY(!open(days, archived));
    QVERIFY(!view.showing_day());
    QCOMPARE(view.lines(), QStringList{"r.OUt"});
    QVERIFY(view.status().contains("12-2026.var"));
    fs::rename(home_.root() / "kept.var", protocol() / "12-2026.var");
  }

  void a_new_choice_gives_up_the_reading_under_way() {
    TrendView view;
    TrendDays days(sources(view));
    QSignalSpy read(&days, &TrendDays::day_read);
    days.open_day(day_named("06-12-2026.log"));
    days.open_day(day_named("07-12-2026.log"));
    QVERIFY(read.wait(10000));
    // The first reading was given up: it reports nothing, now or later.
    QCoreApplication::processEvents();
    QCOMPARE(read.count(), 1);
    QVERIFY(view.chart()->title().contains("07.12.2026"));
  }
};

QTEST_MAIN(TrendDaysTest)
#include "trend_days_guitest.moc"
