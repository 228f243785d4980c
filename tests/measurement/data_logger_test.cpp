// The data logger in-process, through the manual clock: the poll list, the periods and the
// duration, the CSV rows and the day file's records decoding to the values that were read.
#include "measurement/data_logger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <map>
#include <set>
#include <optional>
#include <sstream>

#include "support/test_home.h"

namespace kba604 {
namespace {

TEST(PollList, ItemsTakeNameOffsetAndPeriod) {
  std::vector<PollRequest> list;
  std::string error;
  ASSERT_TRUE(parse_poll_list("rEAd@3=2500, r.St ,Set.P=1000.9", list, error)) << error;
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, "rEAd");
  EXPECT_EQ(list[0].offset, 3);
  EXPECT_EQ(list[0].period_ms, 2500);
  EXPECT_EQ(list[1].name, "r.St");
  EXPECT_FALSE(list[1].offset);
  EXPECT_FALSE(list[1].period_ms);
  EXPECT_EQ(list[2].period_ms, 1000);
  for (const char* bad : {"", "a,,b", "rEAd@x", "rEAd@256", "rEAd@-1", "r.St=999", "r.St=",
                          "@3", "=2000"}) {
    EXPECT_FALSE(parse_poll_list(bad, list, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(CsvText, FieldsAreQuotedOnlyWhenTheyMustBeAndTimesCarryTheirOffset) {
  EXPECT_EQ(csv_field("20.5"), "20.5");
  EXPECT_EQ(csv_field("Обрыв датчика."), "Обрыв датчика.");
  EXPECT_EQ(csv_field("a,b"), "\"a,b\"");
  EXPECT_EQ(csv_field("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(csv_field("two\nlines"), "\"two\nlines\"");
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "MSK-3", 1);
  ::tzset();
  EXPECT_EQ(iso_local_time(1800000000250), "2027-01-15T11:00:00.250+03:00");
  ::setenv("TZ", "NST+3:30", 1);
  ::tzset();
  EXPECT_EQ(iso_local_time(1800000000000), "2027-01-15T04:30:00.000-03:30");
  if (old) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

// Four inputs "rEAd" at address offsets 0..3 and "r.St", all floats; reads return a value that
// grows with each read, except that chosen reads of "r.St" time out.
struct LoggerFixture : ::testing::Test {
  // The rows' local times are those of Moscow.
  struct Zone {
    Zone() {
      if (const char* old = std::getenv("TZ")) saved = old;
      ::setenv("TZ", "MSK-3", 1);
      ::tzset();
    }
    ~Zone() {
      if (saved) {
        ::setenv("TZ", saved->c_str(), 1);
      } else {
        ::unsetenv("TZ");
      }
      ::tzset();
    }
    std::optional<std::string> saved;
  } zone;

  LoggerFixture()
      : root("Опрос оперативных параметров", 0),
        scanner([this](Parameter& p) { return read(p); },
                std::make_shared<std::recursive_mutex>(), clock,
                [this] { return 1800000000000 + clock.now_ms(); }),
        recording(home.data_dir(), [this] { return 1800000000000 + clock.now_ms(); }) {
    std::filesystem::create_directories(home.data_dir() / "protocol");
    for (int i = 0; i < 5; ++i) {
      auto p = std::make_unique<Parameter>();
      p->short_name = i < 4 ? "rEAd" : "r.St";
      p->address_offset = i < 4 ? i : 0;
      p->format = "float";
      p->create_polling_timer();
      root.add(*p);
      parameters.push_back(std::move(p));
    }
    recording.start();
  }

  int read(Parameter& p) {
    const int n = ++reads[&p];
    if (p.short_name == "r.St" && n % 4 == 0) {
      p.note = "Таймаут при передаче данных (нет связи)";
      p.last_reply_length = 0;
      return 1;
    }
    // The instrument's bytes of the value, as the converter puts a typed value.
    const double v = 20.25 + p.address_offset + 0.5 * n;
    std::vector<std::uint8_t> bytes;
    std::string message;
    EXPECT_EQ(p.ConvertToData(std::to_string(v), false, {}, bytes, message), kEncoded);
    p.store_reply(bytes.data(), bytes.size());
    std::string text;
    p.ConvertFromData(bytes.data(), bytes.size(), false, text);
    p.value = text;
    p.note.clear();
    return 0;
  }

  // Runs the logger until its duration has passed, 100 ms at a time.
  void run(DataLogger& logger) {
    for (int guard = 0; guard < 100000 && !logger.finished(); ++guard) {
      clock.advance_ms(100);
      scanner.poll_due();
    }
    logger.finish();
  }

  platform::ManualClock clock{1'000'000};
  test::TestHome home;
  DescBranch root;
  std::vector<std::unique_ptr<Parameter>> parameters;
  std::map<Parameter*, int> reads;
  Scanner scanner;
  Recording recording;
};

std::vector<std::string> lines_of(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  std::vector<std::string> lines;
  std::size_t begin = 0;
  for (std::size_t end; (end = text.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
    lines.push_back(text.substr(begin, end - begin));
  }
  EXPECT_EQ(begin, text.size()) << "the file ends inside a row";
  return lines;
}

TEST_F(LoggerFixture, PollsTheNamedParametersForTheDurationIntoCsvAndDayFile) {
  DataLogger logger(scanner, recording, clock);
  LoggerSettings settings;
  std::string error;
  ASSERT_TRUE(parse_poll_list("read=2000,r.St@0", settings.polls, error));
  settings.duration_s = 10;
  settings.csv_path = (home.root() / "out.csv").string();
  ASSERT_TRUE(logger.begin(root, settings, error)) << error;
  EXPECT_EQ(logger.chosen().size(), 5u);  // "read" names all four inputs, whatever their case
  run(logger);
  EXPECT_FALSE(recording.recording());
  EXPECT_FALSE(scanner.AnyPollingOn());

  // Each input every 2 s, "r.St" every second (every fourth read of it timed out), from its
  // first poll, which comes within one period of the start: the five are spread over the
  // shortest period, 1000 ms.
  const std::vector<std::string> rows = lines_of(home.root() / "out.csv");
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0], "time,name,offset,value,error");
  std::map<std::string, std::vector<std::string>> times;
  int total = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto comma = rows[i].find(',');
    const auto second = rows[i].find(',', comma + 1);
    const auto third = rows[i].find(',', second + 1);
    times[rows[i].substr(comma + 1, third - comma - 1)].push_back(rows[i].substr(0, comma));
    ++total;
  }
  ASSERT_EQ(times.size(), 5u);
  std::set<std::string> firsts;
  for (const auto& [key, list] : times) {
    const int period = key == "r.St,0" ? 1000 : 2000;
    // "2027-01-15T11:00:SS.mmm+03:00": the start is at 11:00:01 (clock 1000 ms).
    const int first_ms = (std::stoi(list.front().substr(17, 2)) - 1) * 1000 +
                         std::stoi(list.front().substr(20, 3));
    EXPECT_GE(first_ms, period) << key;
    EXPECT_LT(first_ms, period + 1000) << key;
    firsts.insert(list.front().substr(17, 6));
    EXPECT_EQ(static_cast<int>(list.size()), 1 + (10000 - first_ms) / period) << key;
    EXPECT_EQ(reads[key == "r.St,0" ? parameters[4].get()
                                    : parameters[std::stoi(key.substr(5))].get()],
              static_cast<int>(list.size()));
  }
  EXPECT_EQ(firsts.size(), 5u) << "first polls not spread";
  EXPECT_EQ(logger.polls(), total);
  EXPECT_EQ(logger.failures(), static_cast<int>(times["r.St,0"].size()) / 4);
  // The first value of "r.St" is 20.25 + 0.5.
  const auto first_st = std::find_if(rows.begin(), rows.end(), [&](const std::string& r) {
    return r.rfind(times["r.St,0"][0] + ",r.St,0,", 0) == 0;
  });
  ASSERT_NE(first_st, rows.end());
  EXPECT_NEAR(std::stod(first_st->substr(first_st->find(",r.St,0,") + 8)), 20.75, 1e-4);

  // The day file holds the same polls in the same order; each record's bytes decode to the
  // value of its row, and a failed poll is flagged with no bytes and no value.
  std::ifstream in(recording.current_path(), std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  std::size_t at = 0;
  for (std::size_t row = 1; row < rows.size(); ++row) {
    ASSERT_LE(at + kRecordHeaderSize, bytes.size());
    const auto* r = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
    const std::string name(reinterpret_cast<const char*>(r + 8), strnlen(reinterpret_cast<const char*>(r + 8), 8));
    const int offset = r[16], error_flag = r[17], n = r[18];
    std::string text;
    // Decoded with the data format of the parameter the record names.
    Parameter& named = *parameters[name == "r.St" ? 4 : offset];
    if (n > 0) named.ConvertFromData(r + kRecordHeaderSize, n, false, text);
    std::istringstream fields(rows[row]);
    std::string time, csv_name, csv_offset, value, note;
    std::getline(fields, time, ',');
    std::getline(fields, csv_name, ',');
    std::getline(fields, csv_offset, ',');
    std::getline(fields, value, ',');
    std::getline(fields, note);
    EXPECT_EQ(name, csv_name) << row;
    EXPECT_EQ(std::to_string(offset), csv_offset) << row;
    EXPECT_EQ(error_flag, note.empty() ? 0 : 1) << row;
    EXPECT_EQ(text, value) << row;
    at += kRecordHeaderSize + n;
  }
  EXPECT_EQ(at, bytes.size());
}

TEST_F(LoggerFixture, WithoutAListEveryParameterIsPolledAtItsOwnPeriodUntilStopped) {
  parameters[1]->set_polling_period(3000);
  DataLogger logger(scanner, recording, clock);
  std::string error;
  ASSERT_TRUE(logger.begin(root, LoggerSettings{}, error)) << error;
  EXPECT_FALSE(logger.finished());
  for (int i = 0; i < 60; ++i) {
    clock.advance_ms(100);
    scanner.poll_due();
  }
  EXPECT_FALSE(logger.finished());  // no duration: until stopped
  platform::Event stop(platform::Event::Reset::Manual, true);
  logger.wait(stop);
  logger.finish();
  // Six seconds: the first every second from 1 s; the second (armed 200 ms later, 3000 ms)
  // at 3.2 s only.
  EXPECT_EQ(reads[parameters[0].get()], 6);
  EXPECT_EQ(reads[parameters[1].get()], 1);
  EXPECT_FALSE(std::filesystem::exists(home.root() / "out.csv"));
}

TEST_F(LoggerFixture, LongRunMovesToTheNewDayFileAtTwelvePastNine) {
  // The clock reads 11:00:01 in Moscow; the next 09:12 is 22 h 11 min 59 s later.
  clock.advance_ms((22 * 3600 + 11 * 60 + 57) * 1000LL);
  recording.set_file_name("вчера", nullptr);
  const std::filesystem::path before = recording.current_path();
  DataLogger logger(scanner, recording, clock);
  LoggerSettings settings;
  std::string error;
  ASSERT_TRUE(parse_poll_list("r.St", settings.polls, error));
  settings.duration_s = 4;
  ASSERT_TRUE(logger.begin(root, settings, error)) << error;
  for (int i = 0; i < 40 && !logger.finished(); ++i) {
    clock.advance_ms(100);
    scanner.poll_due();
    if (i % 10 == 9) logger.tick();
  }
  logger.finish();
  EXPECT_EQ(recording.current_file(), "16-01-2027.log");
  // Polls at 09:11:59 and 09:12:00 went to the old file, the later ones to the new.
  EXPECT_EQ(std::filesystem::file_size(before), 2 * (kRecordHeaderSize + 4));
  EXPECT_GE(std::filesystem::file_size(recording.current_path()), kRecordHeaderSize + 4);
}

TEST_F(LoggerFixture, UnknownNamesAndUnwritableCsvRefuseToBeginAndArmNothing) {
  DataLogger logger(scanner, recording, clock);
  LoggerSettings settings;
  std::string error;
  ASSERT_TRUE(parse_poll_list("rEAd@7", settings.polls, error));
  EXPECT_FALSE(logger.begin(root, settings, error));
  EXPECT_NE(error.find("rEAd"), std::string::npos);
  ASSERT_TRUE(parse_poll_list("nothing", settings.polls, error));
  EXPECT_FALSE(logger.begin(root, settings, error));
  settings.polls.clear();
  settings.csv_path = (home.root() / "no" / "such" / "folder.csv").string();
  EXPECT_FALSE(logger.begin(root, settings, error));
  EXPECT_NE(error.find("folder.csv"), std::string::npos);
  EXPECT_FALSE(scanner.AnyPollingOn());
  EXPECT_FALSE(recording.recording());
}

}  // namespace
}  // namespace kba604
