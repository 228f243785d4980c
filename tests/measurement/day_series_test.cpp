// Recorded days turned into lines to plot: replies decoded with the description's formats,
// failed polls as gaps (never zeros), torn and damaged files read as far as they go, days found
// on disk and in monthly archives, and the thinning of a dense range for drawing, checked
// against a brute-force count of every pixel column.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "files/protocol_archive.h"
#include "measurement/day_file_reader.h"
#include "measurement/day_series.h"
#include "measurement/recorded_days.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

// 2026-12-07 10:00:00 UTC.
constexpr std::int64_t kTen = 1796637600;
// 12.5 and 100.0 as the instrument sends a measured value: IEEE single, most significant first.
const std::vector<std::uint8_t> k12_5 = {0x41, 0x48, 0x00, 0x00};
const std::vector<std::uint8_t> k100 = {0x42, 0xC8, 0x00, 0x00};
const std::vector<std::uint8_t> kZero = {0x00, 0x00, 0x00, 0x00};

class DaySeriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(protocol());
    table_.reset(4, "parameters.zip");
    set(0, "rEAd", "Измерение", "float", 0);
    set(1, "rEAd", "Измерение 2", "float", 2);
    set(2, "r.Mod", "Режим", "Стоп:Пуск", 0);
    set(3, "r.Cn", "Входы", "DEC_dot", 0);
  }
  void set(std::size_t i, const char* name, const char* title, const char* format, int offset) {
    table_[i].short_name = name;
    table_[i].title = title;
    table_[i].format = format;
    table_[i].address_offset = offset;
  }
  fs::path protocol() const { return home_.data_dir() / "protocol"; }
  fs::path temp() const { return home_.data_dir() / "temp"; }
  void add(std::int64_t t, const char* name, int offset, bool error,
           const std::vector<std::uint8_t>& data) {
    encode_day_record(make_day_record(t, name, static_cast<std::uint8_t>(offset), error, data),
                      bytes_);
  }
  fs::path write_day(const char* name, std::size_t cut = 0) {
    fs::path file = protocol() / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes_.data()),
              static_cast<std::streamsize>(bytes_.size() - cut));
    bytes_.clear();
    return file;
  }
  void pack(const char* archive_name, const char* day) {
    ProtocolArchive archive;
    ASSERT_TRUE(archive.open(protocol() / archive_name, true));
    ASSERT_TRUE(archive.pack(day, protocol() / day)) << archive.error();
  }

  test::TestHome home_;
  ParameterTable table_;
  std::vector<std::uint8_t> bytes_;
};

std::vector<double> finite(const DaySeries& s) {
  std::vector<double> v;
  for (double x : s.values) {
    if (!std::isnan(x)) v.push_back(x);
  }
  return v;
}

TEST(PlottedNumber, ReadsValueTextsInAnyLocaleAndRefusesTheRest) {
  EXPECT_EQ(plotted_number("12.500000"), 12.5);
  EXPECT_EQ(plotted_number("1000,5"), 1000.5);
  EXPECT_EQ(plotted_number(" -3 "), -3.0);
  EXPECT_EQ(plotted_number("+2"), 2.0);
  for (const char* no : {"", "Стоп", "12.5 В", "1.2.3", "inf", "nan", "-", "0x10"}) {
    EXPECT_FALSE(plotted_number(no)) << no;
  }
  EXPECT_EQ(line_key("rEAd", 0), "rEAd");
  EXPECT_EQ(line_key("rEAd", 2), "rEAd@2");
}

TEST_F(DaySeriesTest, RepliesBecomePointsAndFailedPollsGapsNeverZeros) {
  add(kTen, "rEAd", 0, false, k12_5);
  add(kTen, "rEAd", 2, false, k100);
  add(kTen, "r.Mod", 0, false, {0x01});    // an item of a list: no line
  add(kTen + 1, "rEAd", 0, true, {});      // time-out
  add(kTen + 1, "READ", 2, true, {0x28});  // the instrument's refusal; any case
  add(kTen + 2, "rEAd", 0, false, kZero);  // a real zero stays a zero
  add(kTen + 2, "XYZ", 0, false, {0x01});  // not in the description
  add(kTen + 2, "rEAd", 7, false, k12_5);  // no "rEAd" at offset 7
  add(-5, "rEAd", 0, false, k12_5);        // no date of this era
  add(kTen + 3, "r.Cn", 0, false, {0x05});
  add(kTen - 10, "rEAd", 0, false, k100);  // written out of order (clock set back)
  write_day("07-12-2026.log");

  DaySeriesSet day = DaySeriesBuilder(table_).read(protocol() / "07-12-2026.log");
  ASSERT_TRUE(day.error.empty()) << day.error;
  EXPECT_EQ(day.records, 11u);
  EXPECT_EQ(day.unknown_records, 2u);
  EXPECT_EQ(day.bad_times, 1u);
  ASSERT_EQ(day.series.size(), 3u);
  EXPECT_EQ(day.series[0].key, "r.Cn");
  EXPECT_EQ(day.series[1].key, "rEAd");
  EXPECT_EQ(day.series[2].key, "rEAd@2");

  const DaySeries& read = *day.find("rEAd");
  EXPECT_EQ(read.title, "Измерение");
  EXPECT_EQ(read.times, (std::vector<std::int64_t>{kTen - 10, kTen, kTen + 1, kTen + 2}));
  ASSERT_EQ(read.values.size(), 4u);
  EXPECT_EQ(read.values[0], 100.0);
  EXPECT_EQ(read.values[1], 12.5);
  EXPECT_TRUE(std::isnan(read.values[2]));
  EXPECT_EQ(read.values[3], 0.0);
  EXPECT_EQ(read.gaps, 1u);

  const DaySeries& second = *day.find("rEAd@2");
  EXPECT_EQ(second.address_offset, 2);
  ASSERT_EQ(second.values.size(), 2u);
  EXPECT_EQ(second.values[0], 100.0);
  EXPECT_TRUE(std::isnan(second.values[1]));
  EXPECT_EQ(day.find("r.Cn")->values, std::vector<double>{5.0});
  EXPECT_EQ(day.find("r.Mod"), nullptr);

  EXPECT_EQ(day.extent(), std::make_pair(kTen - 10, kTen + 3));
  EXPECT_FALSE(day.torn);
  EXPECT_EQ(day.problems(),
            "2 записей параметров, которых нет в описании, не показаны; "
            "1 записей с неверным временем не показаны");
}

TEST_F(DaySeriesTest, TornAndMissingFilesShowWhatCouldBeReadAndSaySoWithoutThrowing) {
  for (int i = 0; i < 10; ++i) add(kTen + i, "rEAd", 0, false, i % 2 ? k12_5 : k100);
  write_day("07-12-2026.log", 7);  // the last record lost its last 7 bytes
  DaySeriesSet day = DaySeriesBuilder(table_).read(protocol() / "07-12-2026.log");
  EXPECT_TRUE(day.error.empty());
  EXPECT_TRUE(day.torn);
  EXPECT_EQ(day.records, 9u);
  EXPECT_EQ(day.unread_bytes, 23u - 7u);
  ASSERT_NE(day.find("rEAd"), nullptr);
  EXPECT_EQ(day.find("rEAd")->size(), 9u);
  EXPECT_EQ(day.problems(), "последняя запись оборвана, 16 байт в конце файла не прочитаны");

  // Nothing but half a header.
  add(kTen, "rEAd", 0, false, k12_5);
  write_day("08-12-2026.log", 10);
  DaySeriesSet half = DaySeriesBuilder(table_).read(protocol() / "08-12-2026.log");
  EXPECT_TRUE(half.series.empty());
  EXPECT_TRUE(half.torn);
  EXPECT_EQ(half.unread_bytes, 13u);

  DaySeriesSet missing = DaySeriesBuilder(table_).read(protocol() / "01-01-2020.log");
  EXPECT_FALSE(missing.error.empty());
  EXPECT_EQ(missing.problems().rfind("Не удалось прочитать 01-01-2020.log: ", 0), 0u);
  // A folder where a file was expected.
  EXPECT_FALSE(DaySeriesBuilder(table_).read(protocol()).error.empty());
}

TEST_F(DaySeriesTest, ReadingHearsItsCancelAndReportsProgressToTheEnd) {
  for (int i = 0; i < 20000; ++i) add(kTen + i, "rEAd", 0, false, k12_5);
  write_day("07-12-2026.log");
  DaySeriesBuilder builder(table_);
  std::vector<int> progress;
  DaySeriesSet whole = builder.read(protocol() / "07-12-2026.log", nullptr,
                                    [&progress](int p) { progress.push_back(p); });
  EXPECT_EQ(whole.find("rEAd")->size(), 20000u);
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 100);

  std::atomic<bool> cancel{true};
  DaySeriesSet cut = builder.read(protocol() / "07-12-2026.log", &cancel);
  EXPECT_TRUE(cut.cancelled);
  EXPECT_LT(cut.records, 20000u);
  EXPECT_EQ(cut.problems(), "чтение прервано");
}

TEST_F(DaySeriesTest, DaysOnDiskAndInArchivesAreListedOnceNewestFirstAndReadAlike) {
  add(kTen - 86400, "rEAd", 0, false, k12_5);
  add(kTen - 86400 + 1, "rEAd", 0, true, {});
  add(kTen - 86400 + 2, "rEAd", 0, false, k100);
  write_day("06-12-2026.log");
  pack("12-2026.var", "06-12-2026.log");
  // The same day read from its file, then (the file gone) from the archive alone.
  DaySeriesBuilder builder(table_);
  DaySeriesSet plain = builder.read(protocol() / "06-12-2026.log");
  fs::remove(protocol() / "06-12-2026.log");

  add(kTen - 40 * 86400, "rEAd", 0, false, k100);
  write_day("28-10-2026.log");
  pack("10-2026.var", "28-10-2026.log");  // packed and still on disk
  add(kTen, "rEAd", 0, false, k100);
  write_day("07-12-2026.log");  // today's, not packed
  add(kTen, "rEAd", 0, false, k100);
  write_day("test.log");  // a name the engineer chose
  std::ofstream(protocol() / "notes.txt") << "not a day";

  std::vector<RecordedDay> days = recorded_days(protocol());
  ASSERT_EQ(days.size(), 4u);
  EXPECT_EQ(days[0].name, "07-12-2026.log");
  EXPECT_TRUE(days[0].on_disk);
  EXPECT_TRUE(days[0].archive.empty());
  EXPECT_EQ(days[1].name, "06-12-2026.log");
  EXPECT_FALSE(days[1].on_disk);
  EXPECT_EQ(days[1].archive, protocol() / "12-2026.var");
  EXPECT_EQ(days[1].date_text(), "06.12.2026");
  EXPECT_EQ(days[2].name, "28-10-2026.log");
  EXPECT_TRUE(days[2].on_disk);
  EXPECT_EQ(days[2].archive, protocol() / "10-2026.var");
  EXPECT_EQ(days[3].name, "test.log");
  EXPECT_FALSE(days[3].dated());
  EXPECT_EQ(days[3].date_text(), "test.log");

  DaySeriesSet archived = load_recorded_day(builder, days[1], protocol(), temp());
  ASSERT_TRUE(archived.error.empty()) << archived.error;
  EXPECT_TRUE(archived.from_archive);
  EXPECT_EQ(archived.day, "06-12-2026.log");
  ASSERT_EQ(archived.series.size(), 1u);
  EXPECT_EQ(archived.series[0].times, plain.series[0].times);
  EXPECT_EQ(finite(archived.series[0]), finite(plain.series[0]));
  EXPECT_TRUE(std::isnan(archived.series[0].values[1]));
  // The unpacked copy is gone again, and so is its folder.
  EXPECT_TRUE(fs::is_empty(temp()));

  // A day both on disk and packed is read from its file.
  EXPECT_FALSE(load_recorded_day(builder, days[2], protocol(), temp()).from_archive);

  // A damaged archive: nothing read, the reason given, nothing left in temp.
  std::ofstream(protocol() / "12-2026.var", std::ios::trunc) << "garbage, no compound file";
  DaySeriesSet damaged = load_recorded_day(builder, days[1], protocol(), temp());
  EXPECT_TRUE(damaged.series.empty());
  EXPECT_NE(damaged.problems().find("12-2026.var"), std::string::npos) << damaged.problems();
  EXPECT_TRUE(fs::is_empty(temp()));
  // ... and is passed over when days are listed.
  EXPECT_EQ(recorded_days(protocol()).size(), 3u);
}

// ---- thinning ----

DaySeries series_of(const std::vector<double>& values, std::int64_t start = kTen) {
  DaySeries s;
  s.key = "rEAd";
  for (std::size_t i = 0; i < values.size(); ++i) {
    s.times.push_back(start + static_cast<std::int64_t>(i));
    s.values.push_back(values[i]);
  }
  return s;
}

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

TEST(PlotStretches, ASparseRangeGivesEveryPointAndBreaksAtEachGap) {
  DaySeries s = series_of({1, 2, kNan, kNan, 5, 6, kNan, 8, 9, 10});
  // Range covers polls 1..8: polls 0 and 9 come along so the line reaches the edges.
  auto stretches = plot_stretches(s, (kTen + 1) * 1000, (kTen + 8) * 1000, 100);
  ASSERT_EQ(stretches.size(), 3u);
  EXPECT_EQ(stretches[0], (std::vector<PlotPoint>{{kTen * 1000, 1}, {(kTen + 1) * 1000, 2}}));
  EXPECT_EQ(stretches[1].size(), 2u);
  EXPECT_EQ(stretches[2],
            (std::vector<PlotPoint>{
                {(kTen + 7) * 1000, 8}, {(kTen + 8) * 1000, 9}, {(kTen + 9) * 1000, 10}}));
  // Outside the day: nothing but the nearest poll.
  EXPECT_EQ(plot_stretches(s, (kTen + 100) * 1000, (kTen + 200) * 1000, 100).size(), 1u);
  EXPECT_TRUE(plot_stretches(DaySeries{}, 0, 1000, 100).empty());
  // At most max_stretches come back: the shortest gaps are joined first.
  DaySeries many = series_of({1, kNan, 2, kNan, kNan, kNan, 3, kNan, 4});
  auto joined = plot_stretches(many, kTen * 1000, (kTen + 8) * 1000, 100, 2);
  ASSERT_EQ(joined.size(), 2u);
  EXPECT_EQ(joined[0].size(), 2u);  // 1 and 2 joined over the one-poll gap
  EXPECT_EQ(joined[1].size(), 2u);  // 3 and 4 likewise; the long gap stays
}

TEST(PlotStretches, ADenseDayKeepsEveryColumnsExtremesWithAFewPointsPerColumn) {
  // A day polled every second with a slow wave, spikes, and failed polls: ten minutes of
  // them, three minutes of them, and single ones.
  std::vector<double> v(86400);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = std::sin(static_cast<double>(i) / 3000.0) * 50;
  v[12345] = 900;
  v[54321] = -900;
  for (std::size_t i = 30000; i < 30600; ++i) v[i] = kNan;
  for (std::size_t i = 60000; i < 60180; ++i) v[i] = kNan;
  for (std::size_t i = 100; i < 86400; i += 500) v[i] = kNan;
  const DaySeries s = series_of(v);
  const int columns = 800;  // 108 s each
  const std::int64_t from = kTen * 1000, to = (kTen + 86400) * 1000;
  auto stretches = plot_stretches(s, from, to, columns);

  std::size_t points = 0;
  for (const auto& st : stretches) points += st.size();
  EXPECT_LE(points, static_cast<std::size_t>(columns) * 8 + 2);
  // The ten and the three minutes are wider than a column: the line breaks there. A single
  // failed poll is narrower than a pixel and leaves the line whole.
  ASSERT_EQ(stretches.size(), 3u);
  EXPECT_LT(stretches[0].back().ms, (kTen + 30000) * 1000);
  EXPECT_GE(stretches[1].front().ms, (kTen + 30600) * 1000);
  EXPECT_LT(stretches[1].back().ms, (kTen + 60000) * 1000);
  EXPECT_GE(stretches[2].front().ms, (kTen + 60180) * 1000);

  // Brute force: every column's smallest and largest value is among the points drawn in it.
  const double width = static_cast<double>(to - from) / columns;
  std::vector<double> low(columns, 1e300), high(columns, -1e300), drawn_low(columns, 1e300),
      drawn_high(columns, -1e300);
  auto column = [&](std::int64_t ms) {
    return std::clamp(static_cast<int>((ms - from) / width), 0, columns - 1);
  };
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (std::isnan(v[i])) continue;
    const int c = column(s.times[i] * 1000);
    low[c] = std::min(low[c], v[i]);
    high[c] = std::max(high[c], v[i]);
  }
  for (const auto& st : stretches) {
    EXPECT_TRUE(std::is_sorted(st.begin(), st.end(),
                               [](const PlotPoint& a, const PlotPoint& b) { return a.ms < b.ms; }));
    for (const PlotPoint& p : st) {
      ASSERT_FALSE(std::isnan(p.value));
      const int c = column(p.ms);
      drawn_low[c] = std::min(drawn_low[c], p.value);
      drawn_high[c] = std::max(drawn_high[c], p.value);
    }
  }
  EXPECT_EQ(drawn_low, low);
  EXPECT_EQ(drawn_high, high);

  // A poll that answers once in three, on columns of a little over two seconds: every gap is
  // wider than a column, but the stretches stay bounded and the longest gaps are kept.
  std::vector<double> third(3000);
  for (std::size_t i = 0; i < third.size(); ++i) third[i] = i % 3 ? kNan : 1.0;
  third[1500] = kNan;  // one gap of six seconds among those of three
  const DaySeries sparse = series_of(third);
  auto all = plot_stretches(sparse, from, from + 3000 * 1000, 1400, 100000);
  EXPECT_GT(all.size(), 900u);
  EXPECT_LE(all.size(), 1400u + 2);
  auto capped = plot_stretches(sparse, from, from + 3000 * 1000, 1400, 2);
  ASSERT_EQ(capped.size(), 2u);
  EXPECT_EQ(capped[0].back().ms, (kTen + 1497) * 1000);
  EXPECT_EQ(capped[1].front().ms, (kTen + 1503) * 1000);
  EXPECT_EQ(plot_stretches(sparse, from, from + 3000 * 1000, 1400).size(), 64u);
}

}  // namespace
}  // namespace kba604
