// A data logger run whose adapter is unplugged and plugged in again under the same name: the
// program says the port went, reopens it when it is back, and the polls go on by themselves.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "platform/ini_settings_store.h"
#include "support/child_process.h"
#include "support/test_home.h"
#include "support/virtual_instrument.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

constexpr int kLimitMs = 60'000;

// The CSV rows: good polls end with an empty error, failed ones with their words.
struct Rows {
  int good = 0;
  int failed = 0;
};

Rows rows_of(const fs::path& csv) {
  std::ifstream in(csv, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Rows r;
  std::size_t b = text.find("\r\n");
  if (b == std::string::npos) return r;
  for (b += 2; b < text.size();) {
    const std::size_t e = text.find("\r\n", b);
    if (e == std::string::npos) break;
    (text[e - 1] == ',' ? r.good : r.failed) += 1;
    b = e + 2;
  }
  return r;
}

// Real waiting, in short steps, for what the child writes.
bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < kLimitMs / 10; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(PortReturn, AnUnpluggedAdapterIsReopenedAndPollingGoesOn) {
  test::TestHome home;
  const std::string link = (home.root() / "usb-adapter").string();
  platform::open_program_settings()->set_value("Ports/COM9", link);
  auto sim = std::make_unique<test::VirtualInstrument>(
      std::vector<std::string>{"--link", link, "--time-scale", "0"});
  const fs::path csv = home.root() / "polls.csv";
  test::RunningChild child({test::kba604_program(), "/port:9/rs485:off", "--record",
                            "--poll:read@0", "--csv:" + csv.string()},
                           home.root().string());
  ASSERT_TRUE(eventually([&] { return rows_of(csv).good >= 1; })) << child.err();

  // Unplugged: the terminal hangs up and the link goes.
  sim->stop();
  sim.reset();
  ASSERT_TRUE(child.wait_for_err("пропал", kLimitMs)) << child.err();
  ASSERT_TRUE(eventually([&] { return rows_of(csv).failed >= 1; })) << child.err();
  const int good_before = rows_of(csv).good;

  // Plugged in again: another terminal under the same link name.
  sim = std::make_unique<test::VirtualInstrument>(
      std::vector<std::string>{"--link", link, "--time-scale", "0"});
  ASSERT_TRUE(child.wait_for_err("снова открыт", kLimitMs)) << child.err();
  EXPECT_TRUE(eventually([&] { return rows_of(csv).good > good_before; })) << child.err();

  child.signal(SIGTERM);
  const test::ChildResult r = child.wait(kLimitMs);
  // The port is open again at the end: the loss does not stand in the exit code.
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("откроет его снова"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kba604
