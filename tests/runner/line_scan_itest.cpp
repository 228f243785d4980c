// "kba604 --scan" against the virtual line: instruments at several addresses and speeds are all
// found, each once, and the program's settings stay exactly as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app/exit_flags.h"
#include "platform/ini_settings_store.h"
#include "platform/paths.h"
#include "sim/instrument.h"
#include "support/child_process.h"
#include "support/test_home.h"
#include "support/virtual_instrument.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class LineScanRun : public ::testing::Test {
 protected:
  LineScanRun() {
    auto settings = platform::open_program_settings();
    // The automatic converter: a pseudo-terminal needs no wait for the frame's line time.
    settings->set_value("RS485type", "1");
    settings->set_value("port_number", "3");
    settings->set_value("baud_rate", "9600");
  }
  test::ChildResult scan(std::vector<std::string> args) {
    args.insert(args.begin(), {test::kba604_program(), "--scan"});
    return test::run_child(args);
  }

  test::TestHome home;
};

TEST_F(LineScanRun, FindsEveryInstrumentAtItsAddressAndSpeedAndChangesNoSetting) {
  test::VirtualInstrument sim({"--address", "16", "--address", "40", "--baud", "19200",
                               "--firmware", "2.01", "--address", "64", "--baud", "38400",
                               "--model", "TRM"});
  platform::open_program_settings()->set_value("Ports/COM9", sim.path());
  const std::string before = read_file(platform::settings_file());

  const test::ChildResult r =
      scan({"--port", "9", "--scan-bps=9600,19200,38400", "--scan-addr:8..72"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> expect = {
      "адрес 16, 9600 бод, 8N1, KBA604, версия 1.10",
      "адрес 40, 19200 бод, 8N1, KBA604, версия 2.01",
      "адрес 64, 38400 бод, 8N1, TRM, версия 1.10",
  };
  EXPECT_EQ(lines(r.out), expect) << r.err;
  // One progress line per speed on stderr, nothing else said.
  EXPECT_EQ(lines(r.err).size(), 3u) << r.err;
  EXPECT_EQ(read_file(platform::settings_file()), before);
  // The instruments kept their own line settings.
  EXPECT_EQ(sim.with([](sim::Instrument& i) { return i.line_settings().baud; }, 1), 19200u);
}

TEST_F(LineScanRun, SaysWhatItCannotDo) {
  test::VirtualInstrument sim({"--address", "200"});
  platform::open_program_settings()->set_value("Ports/COM9", sim.path());
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* said;
  };
  const Case cases[] = {
      // Nobody at the addresses asked.
      {{"--port", "9", "--scan-addr", "0..64"}, exit_code::kNothingFound, "ни один прибор"},
      // COM3 of the settings maps to no device.
      {{"--scan-addr", "0..8"}, exit_code::kPortFailed, "COM3"},
      {{"--port", "0"}, exit_code::kUsage, "--port 0"},
      {{"--port", "9", "--scan-bps", "9601"}, exit_code::kUsage, "9601"},
      {{"--port", "9", "--scan-addr", "64..8"}, exit_code::kUsage, "64..8"},
      {{"--port", "9", "--scan-addr", "0..256"}, exit_code::kUsage, "0..255"},
      {{"--port", "9", "--bps", "9600"}, exit_code::kUsage, "--bps"},
      {{"--port"}, exit_code::kUsage, "--port"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const test::ChildResult r = scan(c.args);
    EXPECT_EQ(r.exit_code, c.code) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
  // The instrument at 200 is found when the range takes it in.
  const test::ChildResult found = scan({"--port=9", "--scan-addr", "200..200"});
  EXPECT_EQ(found.exit_code, 0) << found.err;
  EXPECT_EQ(lines(found.out).size(), 1u) << found.out;
}

}  // namespace
}  // namespace kba604
