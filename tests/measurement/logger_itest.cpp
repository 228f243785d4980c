// The data logger as a service PC runs it: a kba604 process with "--record" against the virtual
// instrument, its CSV file and its day file, the end without a port, and a run killed outright.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <thread>

#include "measurement/day_file_writer.h"
#include "platform/ini_settings_store.h"
#include "platform/paths.h"
#include "support/child_process.h"
#include "support/test_home.h"
#include "support/virtual_instrument.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

constexpr int kProcessLimitMs = 120'000;
const char* const kLine = "/port:9/rs485:off";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Record {
  std::string name;
  int offset = 0;
  int error = 0;
  std::string data;
};

// The records of a day file, read as a reader of the protocol would; torn: bytes left over that
// make no whole record.
std::vector<Record> records_of(const std::string& bytes, std::size_t* torn) {
  std::vector<Record> out;
  std::size_t at = 0;
  while (at + kRecordHeaderSize <= bytes.size()) {
    const std::size_t n = static_cast<std::uint8_t>(bytes[at + 18]);
    if (at + kRecordHeaderSize + n > bytes.size()) break;
    Record r;
    r.name = std::string(bytes.data() + at + 8, strnlen(bytes.data() + at + 8, 8));
    r.offset = static_cast<std::uint8_t>(bytes[at + 16]);
    r.error = bytes[at + 17];
    r.data = bytes.substr(at + kRecordHeaderSize, n);
    out.push_back(r);
    at += kRecordHeaderSize + n;
  }
  *torn = bytes.size() - at;
  return out;
}

class Logger : public ::testing::Test {
 protected:
  Logger() : sim_({"--time-scale", "0"}) {
    platform::open_program_settings()->set_value("Ports/COM9", sim_.path());
  }
  fs::path day_file() const {
    return platform::program_directory() / "protocol" /
           day_file_name(std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count());
  }
  std::unique_ptr<test::RunningChild> start(std::vector<std::string> args) {
    args.insert(args.begin(), test::kba604_program());
    return std::make_unique<test::RunningChild>(args, home.root().string());
  }

  test::TestHome home;
  test::VirtualInstrument sim_;
};

TEST_F(Logger, RecordsForTwoSecondsIntoCsvAndDayFileAndEndsWithZero) {
  auto child = start({kLine, "--record", "--poll:read@0,read@1,r.out", "--duration:2",
                      "--csv:Out File.csv", "/close"});
  const test::ChildResult r = child->wait(kProcessLimitMs);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("запись параметров: 3"), std::string::npos) << r.err;

  const std::string csv = read_file(home.root() / "Out File.csv");
  ASSERT_EQ(csv.rfind("time,name,offset,value,error\r\n", 0), 0u) << csv;
  std::vector<std::string> rows;
  for (std::size_t b = csv.find("\r\n") + 2, e; (e = csv.find("\r\n", b)) != std::string::npos;
       b = e + 2) {
    rows.push_back(csv.substr(b, e - b));
  }
  // Each of the three every second for two seconds, the first polls spread over a second.
  EXPECT_GE(rows.size(), 3u);
  EXPECT_LE(rows.size(), 6u);
  std::set<std::string> names;
  for (const std::string& row : rows) {
    const auto first = row.find(',');
    const auto second = row.find(',', first + 1);
    const auto third = row.find(',', second + 1);
    names.insert(row.substr(first + 1, third - first - 1));
    EXPECT_EQ(row.back(), ',') << "a poll failed: " << row;
  }
  EXPECT_EQ(names, (std::set<std::string>{"rEAd,0", "rEAd,1", "r.OUt,0"}));

  std::size_t torn = 0;
  const std::vector<Record> records = records_of(read_file(day_file()), &torn);
  EXPECT_EQ(torn, 0u);
  ASSERT_EQ(records.size(), rows.size());
  for (const Record& rec : records) {
    EXPECT_EQ(rec.error, 0);
    EXPECT_EQ(rec.data.size(), 4u) << rec.name;  // a float
  }
}

TEST_F(Logger, WithoutAPortItEndsAtOnceWithAMessage) {
  auto child = start({"/port:0", "--record", "/close"});
  const test::ChildResult r = child->wait(kProcessLimitMs);
  EXPECT_EQ(r.exit_code, 10) << r.err;
  EXPECT_NE(r.err.find("записывать нечего"), std::string::npos) << r.err;
}

TEST_F(Logger, RunKilledOutrightLeavesEveryCompleteRecordReadable) {
  auto child = start({kLine, "--record", "--poll:read", "--duration:60"});
  const fs::path file = day_file();
  std::error_code ec;
  for (int i = 0; i < 3000 && (!fs::exists(file, ec) || fs::file_size(file, ec) < 6 * 23); ++i) {
    if (!child->running()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(child->signal(SIGKILL)) << child->err();
  child->wait(kProcessLimitMs);

  std::size_t torn = 0;
  const std::vector<Record> records = records_of(read_file(file), &torn);
  ASSERT_GE(records.size(), 6u);
  EXPECT_LT(torn, kRecordHeaderSize + 4);  // at most the last one torn
  for (const Record& rec : records) {
    EXPECT_EQ(rec.name, "rEAd");
    EXPECT_LT(rec.offset, 8);
    EXPECT_EQ(rec.data.size(), 4u);
  }
}

}  // namespace
}  // namespace kba604
