// The line scan on a scripted line: one short probe per address and speed, what answers is
// found with its version, what answers garbled or goes away is remarked, and a stop ends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/line_scan.h"
#include "model/talv_codec.h"
#include "support/scripted_line.h"

namespace kba604 {
namespace {

using test::LineResponse;
using test::ScriptedLine;

// The reply of the instrument at address to a request for name: its text, last character first.
std::string reply(int address, const char* name, const std::string& text, bool damaged = false) {
  std::vector<std::uint8_t> packet = {static_cast<std::uint8_t>(address),
                                      static_cast<std::uint8_t>(0x10 | text.size())};
  const std::uint16_t hash = hash_name(name);
  packet.push_back(static_cast<std::uint8_t>(hash >> 8));
  packet.push_back(static_cast<std::uint8_t>(hash & 0xFF));
  for (auto it = text.rbegin(); it != text.rend(); ++it)
    packet.push_back(static_cast<std::uint8_t>(*it));
  std::uint16_t sum = hash_buffer(packet.data(), packet.size());
  if (damaged) sum ^= 1;
  packet.push_back(static_cast<std::uint8_t>(sum >> 8));
  packet.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  return "#" + encode_buffer(packet.data(), packet.size()) + "\r";
}

// Address and name hash of a request frame.
std::pair<int, std::uint16_t> request_of(const std::string& frame) {
  std::uint8_t packet[8] = {};
  decode_buffer(frame.data() + 1, 12, packet);
  return {packet[0], static_cast<std::uint16_t>((packet[2] << 8) | packet[3])};
}

class LineScanTest : public ::testing::Test {
 protected:
  LineScanTest() {
    sio.set_port_name("COM9");
    sio.set_converter_automatic(1);
  }
  platform::ManualClock clock;
  std::recursive_mutex lock;
  platform::MemorySettingsStore settings;
  ScriptedLine line{clock};
  Sio sio{lock, clock, settings, line.opener()};
  // Instruments on the line, each answering only at its own speed (the port's, as set for the
  // request; the responder runs under the line's own lock).
  struct Station {
    int address, baud;
    std::string model, version;
    bool damaged = false;
    LineFormat format{};
  };
  void serve(std::vector<Station> stations) {
    line.set_responder([this, stations](const std::string& request) {
      const auto [address, hash] = request_of(request);
      const LineFormat now{sio.data_bits(), sio.parity_code(), sio.stop_bits()};
      for (const Station& s : stations) {
        if (s.address != address || s.baud != sio.baud_rate() || !(s.format == now)) continue;
        if (hash == hash_name("dev"))
          return LineResponse::reply(reply(address, "dev", s.model, s.damaged));
        if (hash == hash_name("ver")) return LineResponse::reply(reply(address, "ver", s.version));
      }
      return LineResponse::silence();
    });
  }
};

TEST_F(LineScanTest, OneShortProbePerAddressFindsWhatAnswersAtEachSpeed) {
  serve({{24, 9600, "KBA604", "1.10"}, {200, 19200, "TRM", "3.0"}, {24, 19200, "KBA604", ""}});
  ScanPlan plan;
  plan.speeds = {9600, 19200};
  std::vector<std::pair<int, int>> probed;
  const std::int64_t start = clock.now_us();
  const auto found = LineScan(sio).run(
      plan, nullptr, [&](int baud, int address) { probed.emplace_back(baud, address); });
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].address, 24);
  EXPECT_EQ(found[0].baud_rate, 9600);
  EXPECT_EQ(found[0].model, "KBA604");
  EXPECT_EQ(found[0].version, "1.10");
  EXPECT_EQ(character_format(found[0].data_bits, found[0].parity_code, found[0].stop_bits), "8N1");
  EXPECT_EQ(found[1].address, 24);
  EXPECT_EQ(found[1].baud_rate, 19200);
  EXPECT_EQ(found[1].version, "");  // the "ver" reply did not come
  EXPECT_EQ(found[2].address, 200);
  EXPECT_EQ(found[2].model, "TRM");

  // 32 addresses 0, 8 .. 248 at each speed, each probed once: no repetitions.
  ASSERT_EQ(probed.size(), 64u);
  EXPECT_EQ(probed[1], std::make_pair(9600, 8));
  EXPECT_EQ(probed[31], std::make_pair(9600, 248));
  const auto requests = line.requests();
  EXPECT_EQ(requests.size(), 64u + 3u);  // and one "ver" per instrument found
  // A silent address costs the probe's own wait, far below an ordinary request's four
  // time-outs of 162 ms at 9600.
  // (With the automatic converter the request's own 14 characters are in the wait too.)
  const int wait_9600 = LineScan::probe_wait_ms(9600, 3, 1, 14);
  const int wait_19200 = LineScan::probe_wait_ms(19200, 3, 1, 14);
  EXPECT_EQ(wait_9600, 64);
  EXPECT_EQ(wait_19200, 42);
  EXPECT_EQ(LineScan::probe_wait_ms(9600, 1, 2, 0), 55);  // 28 characters of 12 bits: 35 ms
  EXPECT_LE(clock.now_us() - start, (32LL * wait_9600 + 32LL * wait_19200) * 1000);
  EXPECT_GE(clock.now_us() - start, (30LL * wait_9600 + 29LL * wait_19200) * 1000);
  EXPECT_FALSE(sio.is_open());
}

TEST_F(LineScanTest, GarbledAnswersLostPortsAndStopsAreSaidNotFound) {
  serve({{16, 9600, "KBA604", "1.10", true}});
  ScanPlan plan;
  plan.speeds = {9600};
  plan.first_address = 8;
  plan.last_address = 24;
  std::vector<ScanRemark> remarks;
  EXPECT_TRUE(LineScan(sio).run(plan, nullptr, {}, &remarks).empty());
  ASSERT_EQ(remarks.size(), 1u);
  EXPECT_EQ(remarks[0].address, 16);
  EXPECT_NE(remarks[0].text.find("не разобран"), std::string::npos);

  // The device vanishes at the first probe: the speed is given up with the reason, the next one
  // is tried (and cannot open).
  remarks.clear();
  line.push(LineResponse::vanish());
  plan.speeds = {9600, 19200};
  EXPECT_TRUE(LineScan(sio).run(plan, nullptr, {}, &remarks).empty());
  ASSERT_EQ(remarks.size(), 2u);
  EXPECT_NE(remarks[0].text.find("пропал"), std::string::npos) << remarks[0].text;
  EXPECT_EQ(remarks[1].baud_rate, 19200);
  EXPECT_EQ(line.requests().size(), 4u);  // 3 probes above, 1 here

  // A stop during the scan ends it before the next probe.
  line.set_present(true);
  platform::Event stop(platform::Event::Reset::Manual, false);
  int probes = 0;
  LineScan(sio).run(plan, &stop, [&](int, int) {
    if (++probes == 2) stop.set();
  });
  EXPECT_EQ(probes, 2);
}

TEST_F(LineScanTest, EachFormatAtEachSpeedIsTriedAndThePortGetsItsOwnBack) {
  const LineFormat e71{7, 1, 1};
  const LineFormat o82{8, 4, 2};  // refused by the instrument, but a plan may still hold it
  serve({{16, 9600, "KBA604", "1.10", false, e71}, {32, 19200, "KBA604", "2.0"}});
  sio.set_baud_rate(4800);
  sio.set_parity_code(3);
  ScanPlan plan;
  plan.speeds = {9600, 19200};
  plan.formats = {LineFormat{}, e71, o82};
  plan.first_address = 16;
  plan.last_address = 39;  // 16, 24, 32
  EXPECT_EQ(plan.probe_count(), 2 * 3 * 3);

  // Each instrument is told as soon as it has answered, before the next probe.
  std::vector<ScanStep> steps;
  std::vector<std::pair<int, std::string>> told;  // probes made when told, the instrument
  ScanListener listener;
  listener.probe = [&](const ScanStep& s) { steps.push_back(s); };
  listener.found = [&](const FoundInstrument& f) {
    told.emplace_back(static_cast<int>(steps.size()),
                      std::to_string(f.address) + "@" + std::to_string(f.baud_rate) + " " +
                          character_format(f.data_bits, f.parity_code, f.stop_bits));
  };
  const auto found = LineScan(sio).run(plan, nullptr, listener);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(character_format(found[0].data_bits, found[0].parity_code, found[0].stop_bits), "7E1");
  EXPECT_EQ(found[1].baud_rate, 19200);
  const std::vector<std::pair<int, std::string>> expect_told = {{4, "16@9600 7E1"},
                                                                {12, "32@19200 8N1"}};
  EXPECT_EQ(told, expect_told);
  ASSERT_EQ(steps.size(), 18u);
  for (std::size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(steps[i].number, int(i) + 1);
  EXPECT_EQ(steps[3].format, e71);
  EXPECT_EQ(steps[3].address, 16);
  EXPECT_EQ(steps[17].format, o82);
  EXPECT_EQ(steps[17].baud_rate, 19200);
  EXPECT_EQ(steps[17].address, 32);
  // The port has its own speed and format again, closed.
  EXPECT_EQ(sio.baud_rate(), 4800);
  EXPECT_EQ(sio.data_bits(), 8);
  EXPECT_EQ(sio.parity_code(), 3);
  EXPECT_EQ(sio.stop_bits(), 1);
  EXPECT_FALSE(sio.is_open());

  // Stopped in the middle of a format: no further probe at any speed or format, and the port's
  // own settings come back all the same.
  platform::Event stop(platform::Event::Reset::Manual, false);
  steps.clear();
  listener.probe = [&](const ScanStep& s) {
    steps.push_back(s);
    if (s.number == 5) stop.set();
  };
  LineScan(sio).run(plan, &stop, listener);
  EXPECT_EQ(steps.size(), 5u);
  EXPECT_EQ(sio.baud_rate(), 4800);
  EXPECT_EQ(sio.data_bits(), 8);
}

TEST(LineScanOptions, SpeedsAndAddressRanges) {
  std::vector<int> speeds;
  std::string error;
  EXPECT_TRUE(parse_scan_speeds("9600,19200,9600", &speeds, &error));
  EXPECT_EQ(speeds, (std::vector<int>{9600, 19200}));
  EXPECT_TRUE(parse_scan_speeds("all", &speeds, &error));
  EXPECT_EQ(speeds.size(), 9u);
  EXPECT_EQ(speeds.front(), 2400);
  EXPECT_EQ(speeds.back(), 115200);
  for (const char* bad : {"", "9600,", "9601", "9600;19200", "-9600", "x"}) {
    EXPECT_FALSE(parse_scan_speeds(bad, &speeds, &error)) << bad;
  }
  int first = -1, last = -1;
  EXPECT_TRUE(parse_scan_addresses("16..64", 255, &first, &last, &error));
  EXPECT_EQ(first, 16);
  EXPECT_EQ(last, 64);
  EXPECT_TRUE(parse_scan_addresses("24", 255, &first, &last, &error));
  EXPECT_EQ(first, 24);
  EXPECT_EQ(last, 24);
  EXPECT_TRUE(parse_scan_addresses("0..2047", 2047, &first, &last, &error));
  for (const char* bad : {"64..16", "0..256", "..8", "8..", "a..b", "-8..8", "8...16"}) {
    EXPECT_FALSE(parse_scan_addresses(bad, 255, &first, &last, &error)) << bad;
  }
  EXPECT_EQ(character_format(7, 1, 2), "7E2");
  EXPECT_EQ(character_format(8, 4, 1), "8O1");

  // The neighbours of a speed in the list 2400 .. 115200; all of it for a speed not in it.
  EXPECT_EQ(neighbour_speeds(9600), (std::vector<int>{4800, 9600, 14400}));
  EXPECT_EQ(neighbour_speeds(2400), (std::vector<int>{2400, 4800}));
  EXPECT_EQ(neighbour_speeds(115200), (std::vector<int>{57600, 115200}));
  EXPECT_EQ(neighbour_speeds(1200).size(), 9u);

  // Twelve combinations of 7/8 bits, three parities and 1/2 stop bits, without the three the
  // instrument refuses (7N1, 8E2, 8O2).
  std::vector<std::string> formats;
  for (const LineFormat& f : supported_line_formats()) formats.push_back(character_format(f));
  EXPECT_EQ(formats, (std::vector<std::string>{"8N1", "8N2", "8E1", "8O1", "7N2", "7E1", "7E2",
                                               "7O1", "7O2"}));

  ScanPlan plan;
  plan.speeds = {9600};
  EXPECT_EQ(plan.probe_count(), 32);  // 0 .. 248
  plan.first_address = 8;
  plan.last_address = 8;
  EXPECT_EQ(plan.probe_count(), 1);
  plan.last_address = 7;
  EXPECT_EQ(plan.probe_count(), 0);
}

}  // namespace
}  // namespace kba604
