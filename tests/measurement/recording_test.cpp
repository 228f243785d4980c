// Measurement recording: records byte for byte against hand-written bytes, the time stamp's
// local-time rule, appending, lost records, the file-name edit and the daily change at 09:12.
#include "measurement/recording.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/recording_prompter.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Sets the time zone for one test.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneGuard() {
    if (saved_) {
      ::setenv("TZ", saved_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};

Bytes file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

PollSnapshot poll_of(std::string name, std::int64_t wall_s, std::string note, Bytes reply,
                     int offset = 0) {
  PollSnapshot s;
  s.short_name = std::move(name);
  s.wall_ms = wall_s * 1000 + 999;  // the stamp counts whole seconds
  s.note = std::move(note);
  s.address_offset = offset;
  s.reply_length = static_cast<std::uint8_t>(reply.size());
  std::copy(reply.begin(), reply.end(), s.reply.begin());
  return s;
}

TEST(MeasurementRecord, BytesAreExactlyTheRecordLayout) {
  ZoneGuard zone("MSK-3");
  // 1800000000 s = 0x6B49D200; a name of eight characters leaves no zero byte.
  EXPECT_EQ(encode_record(Recording::record_of(
                poll_of("rd.rg.Ab", 1800000000, "", {0x41, 0x20, 0x00, 0x00}, 3))),
            (Bytes{0x00, 0xD2, 0x49, 0x6B, 0, 0, 0, 0,  //
                   'r', 'd', '.', 'r', 'g', '.', 'A', 'b', 3, 0, 4, 0x41, 0x20, 0x00, 0x00}));
  // No answer: error flag, n = 0; the address offset keeps its low eight bits.
  EXPECT_EQ(encode_record(Recording::record_of(
                poll_of("r.St", 1800000000, "Таймаут при передаче данных (нет связи)", {}, 259))),
            (Bytes{0x00, 0xD2, 0x49, 0x6B, 0, 0, 0, 0, 'r', '.', 'S', 't', 0, 0, 0, 0, 3, 1, 0}));
  // The instrument's refusal: error flag with its reply bytes.
  EXPECT_EQ(encode_record(Recording::record_of(
                poll_of("Set.P", 1800000000, "Ошибка", {0x33, 0x01}))),
            (Bytes{0x00, 0xD2, 0x49, 0x6B, 0, 0, 0, 0, 'S', 'e', 't', '.', 'P', 0, 0, 0, 0, 1, 2,
                   0x33, 0x01}));
  // A name in Cyrillic is written in Windows-1251; a longer name is cut at eight bytes.
  MeasurementRecord cyrillic;
  cyrillic.short_name = "Вход1234567";
  const Bytes b = encode_record(cyrillic);
  EXPECT_EQ(Bytes(b.begin() + 8, b.begin() + 16),
            (Bytes{0xC2, 0xF5, 0xEE, 0xE4, '1', '2', '3', '4'}));
}

TEST(MeasurementRecord, TimeStampIsTheLocalTimeConvertedBackAsLocalTime) {
  {
    ZoneGuard zone("MSK-3");
    // Seconds since 1970 in UTC, not the local clock's reading taken as UTC.
    EXPECT_EQ(record_time_stamp(1800000000), 1800000000);
    EXPECT_EQ(day_file_name(1796686200), "08-12-2026.log");  // 23:30 UTC is the 8th in Moscow
    EXPECT_EQ(day_file_name(1796619600), "07-12-2026.log");
    // Before 1900 in local time.
    EXPECT_EQ(record_time_stamp(-2300000000), 0);
  }
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(record_time_stamp(1782900000), 1782900000);  // summer time
  // 02:30 happens twice on 25 October 2026; the system picks one instant for both readings.
  EXPECT_EQ(record_time_stamp(1792888200), record_time_stamp(1792891800));
}

struct RecordingFixture : ::testing::Test {
  RecordingFixture() : zone("MSK-3"), recording(home.data_dir(), [this] { return wall_ms; }) {
    std::filesystem::create_directories(home.data_dir() / "protocol");
  }
  ZoneGuard zone;
  test::TestHome home;
  std::int64_t wall_ms = 1796619600'000;  // 7 December 2026, 08:00 in Moscow
  Recording recording;
};

TEST_F(RecordingFixture, PollsAreAppendedOnlyWhileRecordingIsOn) {
  recording.start();
  EXPECT_EQ(recording.file_parameter().value, "07-12-2026.log");
  EXPECT_EQ(recording.file_parameter().short_name, "    ");
  EXPECT_EQ(recording.file_parameter().title, kProtocolFileTitle);
  const std::filesystem::path file = home.data_dir() / "protocol" / "07-12-2026.log";

  EXPECT_FALSE(recording.record(poll_of("r.St", 1800000000, "", {0, 1})));
  EXPECT_FALSE(std::filesystem::exists(file));

  { std::ofstream(file, std::ios::binary) << "old"; }  // what is there stays
  recording.set_recording(true);
  EXPECT_TRUE(recording.record(poll_of("r.St", 1800000000, "", {0, 1})));
  EXPECT_TRUE(recording.record(poll_of("r.OUt", 1800000001, "Таймаут", {})));
  const Bytes got = file_bytes(file);
  ASSERT_EQ(got.size(), 3u + 21u + 19u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 3), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(got[3 + 8 + 2], 'S');
  EXPECT_EQ(got[3 + 21], 0x01);  // the second stamp's low byte: 0x6B49D201
  EXPECT_EQ(got[3 + 21 + 17], 1);
}

TEST_F(RecordingFixture, FileThatCannotBeOpenedLosesOnlyThatRecord) {
  recording.start();
  recording.set_recording(true);
  const std::filesystem::path file = recording.current_path();
  std::filesystem::create_directory(file);  // a folder where the day file should be
  EXPECT_FALSE(recording.record(poll_of("r.St", 1800000000, "", {0, 1})));
  std::filesystem::remove(file);
  EXPECT_TRUE(recording.record(poll_of("r.St", 1800000001, "", {0, 2})));
  const Bytes got = file_bytes(file);
  ASSERT_EQ(got.size(), 21u);
  EXPECT_EQ(got[0], 0x01);
  EXPECT_EQ(got[20], 2);
}

TEST_F(RecordingFixture, WriteCutShortByTheFileSystemLeavesNoTornRecord) {
  recording.start();
  recording.set_recording(true);
  ASSERT_TRUE(recording.record(poll_of("r.St", 1800000000, "", {0, 1})));
  // The file may grow by ten bytes only: the next record of 21 bytes is cut short.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 31;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = recording.record(poll_of("r.St", 1800000001, "", {0, 2}));
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_FALSE(written);
  EXPECT_EQ(file_bytes(recording.current_path()).size(), 21u);
  EXPECT_TRUE(recording.record(poll_of("r.St", 1800000002, "", {0, 3})));
  EXPECT_EQ(file_bytes(recording.current_path()).size(), 42u);
}

TEST_F(RecordingFixture, EditedFileNameGetsItsExtensionAndStaysInTheProtocolFolder) {
  test::RecordingPrompter prompter;
  EXPECT_TRUE(recording.set_file_name("стенд 3", &prompter));
  EXPECT_EQ(recording.current_file(), "стенд 3.log");
  EXPECT_EQ(recording.file_parameter().value, "стенд 3.log");
  EXPECT_TRUE(recording.set_file_name("day.log", &prompter));
  EXPECT_EQ(recording.current_file(), "day.log");
  EXPECT_EQ(Recording::accepted_file_name(".log"), ".log");
  for (const char* bad : {"", ".", "..", "../day", "sub/day.log", "/etc/passwd"}) {
    EXPECT_FALSE(recording.set_file_name(bad, &prompter)) << bad;
  }
  EXPECT_EQ(recording.current_file(), "day.log");
  ASSERT_EQ(prompter.count(), 6u);
  EXPECT_EQ(prompter.records()[0].text, kProtocolFileRefusedText);
}

TEST_F(RecordingFixture, DayFileChangesAtTwelvePastNineAndTheOlderDaysArePacked) {
  std::vector<std::string> packed;
  int refreshed = 0;
  recording.set_packing_hook([&](const std::filesystem::path& folder, const std::string& current) {
    EXPECT_EQ(folder, home.data_dir() / "protocol");
    packed.push_back(current);
  });
  recording.set_views_changed([&] { ++refreshed; });
  recording.start();
  EXPECT_EQ(packed, std::vector<std::string>{"07-12-2026.log"});
  recording.set_file_name("мой", nullptr);

  // 00:00 on the 8th: no change at midnight; nor a second before 09:12.
  for (std::int64_t t : {1796677200LL, 1796710319LL}) {
    wall_ms = t * 1000;
    EXPECT_FALSE(recording.daily_tick());
  }
  EXPECT_EQ(recording.current_file(), "мой.log");
  // 09:12:00 and every tick of that minute; 09:13:00 no more.
  wall_ms = (1796710319LL + 1) * 1000;
  EXPECT_TRUE(recording.daily_tick());
  EXPECT_EQ(recording.current_file(), "08-12-2026.log");
  EXPECT_EQ(recording.file_parameter().value, "08-12-2026.log");
  wall_ms += 59'000;
  EXPECT_TRUE(recording.daily_tick());
  wall_ms += 1'000;
  EXPECT_FALSE(recording.daily_tick());
  EXPECT_EQ(refreshed, 2);
  EXPECT_EQ(packed, (std::vector<std::string>{"07-12-2026.log", "08-12-2026.log",
                                              "08-12-2026.log"}));
}

}  // namespace
}  // namespace kba604
