// The traffic tap and the trace file against the virtual instrument (the trace's writer thread
// beside the transfers, so also under ThreadSanitizer): a read whose first reply is
// lost shows its repetition, a silent instrument shows every time-out, and the trace file gets
// the same lines as the monitor, with its closing count.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/application.h"
#include "link/device_io.h"
#include "link/traffic_log.h"
#include "link/traffic_tap.h"
#include "link/traffic_trace.h"
#include "model/talv_codec.h"
#include "platform/settings_store.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "support/virtual_instrument.h"

namespace kba604 {
namespace {

class TrafficTest : public ::testing::Test {
 protected:
  void connect(std::vector<std::string> sim_args) {
    sim = std::make_unique<test::VirtualInstrument>(std::move(sim_args));
    settings.set_value("Ports/COM9", sim->path());
    settings.set_value("port_number", "9");
    io = std::make_unique<DeviceIO>(app, settings);
    app.modes.rs485_type.store(1);
    ASSERT_EQ(io->reopen_port(false), 0);
  }

  // Reads "dev" and returns what the tap saw of it.
  std::vector<TrafficEntry> read_dev(TrafficTap& tap, int* result = nullptr) {
    Parameter dev;
    dev.short_name = "dev";
    dev.format = "ASCI";
    const int r = io->transact_parameter(nullptr, &dev, 1, false);
    if (result != nullptr) *result = r;
    std::vector<TrafficEntry> entries;
    for (TrafficRecord& record : tap.take()) entries.push_back(log.add(std::move(record)));
    return entries;
  }

  test::TestHome home;
  test::RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  std::unique_ptr<test::VirtualInstrument> sim;
  std::unique_ptr<DeviceIO> io;
  TrafficLog log{[](std::uint16_t hash) { return hash == hash_name("dev") ? "dev" : ""; }};
};

std::string text_of(const std::vector<TrafficEntry>& entries) {
  std::string text;
  for (const TrafficEntry& e : entries) {
    for (const std::string& line : traffic_lines(e)) text += line + "\n";
  }
  return text;
}

TEST_F(TrafficTest, ALostReplyShowsItsRepetitionAndTheAnswer) {
  connect({"--drop", "1"});
  auto tap = std::make_shared<TrafficTap>();
  io->sio().add_tap(tap);
  int result = -1;
  const std::vector<TrafficEntry> entries = read_dev(*tap, &result);
  EXPECT_EQ(result, kRequestOk);
  ASSERT_EQ(entries.size(), 2u) << text_of(entries);
  EXPECT_EQ(entries[0].outcome, TrafficOutcome::Timeout);
  EXPECT_EQ(entries[0].repetition, 0);
  EXPECT_EQ(entries[1].outcome, TrafficOutcome::Reply);
  EXPECT_EQ(entries[1].repetition, 1);
  EXPECT_EQ(entries[1].request.address, 16);
  EXPECT_EQ(entries[1].reply.hash, hash_name("dev"));
  EXPECT_TRUE(entries[1].reply.checksum_ok);
  // "KBA604" travels last character first.
  EXPECT_EQ(entries[1].reply.data, (std::vector<std::uint8_t>{'4', '0', '6', 'A', 'B', 'K'}));
  const std::string text = text_of(entries);
  EXPECT_NE(text.find("<< (ничего)  таймаут"), std::string::npos) << text;
  EXPECT_NE(text.find("dev, данные: нет, КС верна, повтор 1"), std::string::npos) << text;
  EXPECT_NE(text.find("данные: 34 30 36 41 42 4B, КС верна; ответ"), std::string::npos) << text;
  EXPECT_GT(entries[1].record.round_trip_us, 0);

  // Removed, the tap sees nothing more.
  io->sio().remove_tap(tap.get());
  EXPECT_TRUE(read_dev(*tap).empty());
}

TEST_F(TrafficTest, ASilentInstrumentShowsEveryTimeOutAndTheTraceKeepsThem) {
  connect({"--silent"});
  const std::filesystem::path file = home.root() / "trace.txt";
  std::string error;
  {
    TrafficTrace trace;
    ASSERT_TRUE(trace.open(file, &error)) << error;
    trace.set_names({{hash_name("dev"), "dev"}});
    trace.attach(io->sio());
    // The monitor taps the same line beside the trace.
    auto tap = std::make_shared<TrafficTap>();
    io->sio().add_tap(tap);
    int result = kRequestOk;
    const std::vector<TrafficEntry> entries = read_dev(*tap, &result);
    EXPECT_NE(result, kRequestOk);
    ASSERT_EQ(entries.size(), 4u) << text_of(entries);  // the request and three repetitions
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(entries[static_cast<std::size_t>(i)].outcome, TrafficOutcome::Timeout);
      EXPECT_EQ(entries[static_cast<std::size_t>(i)].repetition, i);
    }
    trace.stop();
    EXPECT_TRUE(trace.good()) << trace.error();
    io->sio().remove_tap(tap.get());
  }
  std::ifstream in(file);
  std::stringstream content;
  content << in.rdbuf();
  const std::string text = content.str();
  EXPECT_NE(text.find("dev, данные: нет, КС верна, повтор 3\n"), std::string::npos) << text;
  std::size_t timeouts = 0;
  for (std::size_t at = text.find("таймаут"); at != std::string::npos;
       at = text.find("таймаут", at + 1)) {
    ++timeouts;
  }
  EXPECT_EQ(timeouts, 4u) << text;
  EXPECT_NE(text.find("-- передач: 4, не записано: 0 --\n"), std::string::npos) << text;
}

TEST_F(TrafficTest, ATraceFileThatCannotBeMadeIsSaid) {
  TrafficTrace trace;
  std::string error;
  EXPECT_FALSE(trace.open(home.root() / "no" / "such" / "dir" / "t.txt", &error));
  EXPECT_FALSE(error.empty());
  trace.stop();  // nothing to stop: no crash, no file
}

}  // namespace
}  // namespace kba604
