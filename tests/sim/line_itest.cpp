// The virtual instrument on a pseudo-terminal, seen from the program's side of the line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/frame_log.h"
#include "sim_test_util.h"
#include "support/test_home.h"
#include "support/virtual_instrument.h"

namespace kba604::test {
namespace {

namespace fs = std::filesystem;
using sim::Bytes;

constexpr int kSilenceMs = 150;  // how long the tests listen for an answer that must not come

std::string frame(const sim::Packet& p, int address_length = 8) {
  return sim::encode_frame(p, address_length);
}

// The reply frame, built byte by byte here: address, request bit and count, hash, data,
// checksum, as nibble characters between "#" and a carriage return.
std::string expected_reply(unsigned address, std::string_view name, const Bytes& data) {
  Bytes b{static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(0x10 | data.size())};
  std::uint16_t h = hash_name(name);
  b.push_back(static_cast<std::uint8_t>(h >> 8));
  b.push_back(static_cast<std::uint8_t>(h & 0xFF));
  b.insert(b.end(), data.begin(), data.end());
  std::uint16_t sum = hash_buffer(b.data(), b.size());
  b.push_back(static_cast<std::uint8_t>(sum >> 8));
  b.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  return "#" + encode_buffer(b.data(), b.size()) + "\r";
}

class LineTest : public ::testing::Test {
 protected:
  std::unique_ptr<VirtualInstrument> start(std::vector<std::string> args = {}) {
    return std::make_unique<VirtualInstrument>(std::move(args), description_);
  }
  TestHome home_;
  std::shared_ptr<sim::Description> description_ = small_description();
};

TEST_F(LineTest, TheWorkedDevRequestGetsTheModelNameOnTheTerminal) {
  auto sim = start();
  TerminalClient port(sim->path());
  EXPECT_EQ(port.exchange("#HGHGTMOHPGMO\r"), expected_reply(16, "dev", text_reversed("KBA604")));
  EXPECT_EQ(port.exchange(frame(request(16, true, "ver"))),
            expected_reply(16, "ver", text_reversed("1.10")));
  EXPECT_EQ(port.exchange(frame(request(16, true, "exit"))), expected_reply(16, "exit", {0, 0, 7}));
  // A refusal: "n.Err" with the network error code.
  sim::Packet refused = reply_of(port.exchange(frame(request(16, true, "XYZ"))));
  EXPECT_EQ(refused.hash, 0x0233);
  EXPECT_EQ(refused.data, Bytes{0x28});
  // A write is echoed with the stored value.
  EXPECT_EQ(reply_of(port.exchange(frame(request(16, false, "in-t", {0x0B, 0, 4})))).data,
            (Bytes{0x0B, 0, 4}));
}

TEST_F(LineTest, DamagedFramesAreRefusedAndForeignOnesIgnored) {
  auto sim = start();
  TerminalClient port(sim->path());
  struct Case {
    std::string sent;
    int refusal;  // -1: no answer
  };
  const Case cases[] = {
      {"#HGHGTMOHPGMP\r", 0x27},   // checksum
      {"#HGHGTMOHPGMOG\r", 0x26},  // odd length
      {"#HGHGTMOHPGMx\r", 0x26},   // a character outside G..V
      {"noise without a start\r", -1},
      {frame(request(40, true, "dev")), -1},  // another instrument's address
      {"#HG\r", -1},                          // too short to say anything
      {"\xFF\xFE#HGHGTMOHPGMO\r", 0},         // noise before a good frame
  };
  for (const Case& c : cases) {
    std::string got = port.exchange(c.sent, c.refusal < 0 ? kSilenceMs : 1000);
    if (c.refusal < 0) {
      EXPECT_EQ(got, "") << c.sent;
    } else {
      sim::Packet r = reply_of(got);
      if (c.refusal == 0) {
        EXPECT_EQ(r.hash, hash_name("dev")) << c.sent;
      } else {
        EXPECT_EQ(r.hash, kHashNErr) << c.sent;
        EXPECT_EQ(r.data, Bytes{static_cast<std::uint8_t>(c.refusal)}) << c.sent;
      }
    }
  }
}

TEST_F(LineTest, OnlyFramesAtTheInstrumentsOwnLineSettingsAreHeard) {
  auto sim = start();
  struct Case {
    TerminalSettings settings;
    bool answered;
  };
  const Case cases[] = {
      {{B9600, 8, 'N', 1}, true},  {{B19200, 8, 'N', 1}, false}, {{B4800, 8, 'N', 1}, false},
      {{B9600, 7, 'E', 1}, false}, {{B9600, 8, 'E', 1}, false},  {{B9600, 8, 'O', 1}, false},
      {{B9600, 8, 'N', 2}, false}, {{B9600, 7, 'N', 2}, false},  {{B9600, 8, 'N', 1}, true},
  };
  TerminalClient port(sim->path());
  for (const Case& c : cases) {
    port.set(c.settings);
    std::string got =
        port.exchange(frame(request(16, true, "dev")), c.answered ? 1000 : kSilenceMs);
    EXPECT_EQ(!got.empty(), c.answered)
        << "speed code " << c.settings.speed << " " << c.settings.data_bits << c.settings.parity
        << c.settings.stop_bits;
  }
}

TEST_F(LineTest, WrongSettingsMayProduceGarbageAtTheGivenRate) {
  auto sim = start({"--garbage", "1"});
  TerminalClient port(sim->path(), {B19200, 8, 'N', 1});
  std::string got = port.exchange(frame(request(16, true, "dev")));
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.find('#'), std::string::npos) << "garbage never holds a frame start";
  EXPECT_EQ(got.back(), '\r');
}

TEST_F(LineTest, ApplyMovesTheInstrumentToTheNewSettings) {
  auto sim = start();
  TerminalClient port(sim->path());
  EXPECT_EQ(reply_of(port.exchange(frame(request(16, false, "bPS", {4})))).data,
            Bytes{4});  // 19200
  EXPECT_EQ(reply_of(port.exchange(frame(request(16, false, "Addr", {24})))).data, Bytes{24});
  EXPECT_EQ(port.exchange(frame(request(16, false, "APLY")), kSilenceMs), "")
      << "APLY gets no answer";
  EXPECT_EQ(port.exchange(frame(request(16, true, "dev")), kSilenceMs), "");
  port.set({B19200, 8, 'N', 1});
  EXPECT_EQ(port.exchange(frame(request(16, true, "dev")), kSilenceMs), "") << "the old address";
  EXPECT_EQ(reply_of(port.exchange(frame(request(24, true, "dev")))).address, 24u);
}

TEST_F(LineTest, OnATerminalDeviceItSetsTheLineAndFollowsApply) {
  // A pseudo-terminal stands in for an RS-485 adapter: the instrument serves its device side,
  // the test talks on the other.
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string device = ptsname(master);
  auto sim = start({"--device", device, "--baud", "4800"});
  EXPECT_EQ(sim->path(), device);
  auto speed = [&] {
    termios t{};
    tcgetattr(master, &t);
    return cfgetospeed(&t);
  };
  EXPECT_EQ(speed(), static_cast<speed_t>(B4800));
  auto exchange = [&](const std::string& sent, int timeout_ms) {
    EXPECT_EQ(::write(master, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    std::string got;
    pollfd p{master, POLLIN, 0};
    while (got.find('\r') == std::string::npos && poll(&p, 1, timeout_ms) > 0) {
      char buffer[64];
      ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  };
  EXPECT_EQ(reply_of(exchange(frame(request(16, true, "dev")), 1000)).data,
            text_reversed("KBA604"));
  exchange(frame(request(16, false, "bPS", {7})), 1000);  // 57600
  EXPECT_EQ(exchange(frame(request(16, false, "APLY")), kSilenceMs), "");
  EXPECT_EQ(speed(), static_cast<speed_t>(B57600)) << "the device follows the instrument";
  EXPECT_EQ(reply_of(exchange(frame(request(16, true, "dev")), 1000)).hash, hash_name("dev"));
  sim->stop();
  close(master);
}

TEST_F(LineTest, ThePortCanBeClosedAndReopenedAtWill) {
  auto sim = start();
  for (int i = 0; i < 5; ++i) {
    TerminalClient port(sim->path());
    EXPECT_EQ(reply_of(port.exchange(frame(request(16, true, "dev")))).hash, hash_name("dev")) << i;
  }
}

TEST_F(LineTest, EachFaultOptionDoesWhatItSays) {
  enum Expect { kReply, kSilence, kBadChecksum, kNoStart, kForeign };
  struct Case {
    std::vector<std::string> args;
    std::vector<Expect> replies;  // to consecutive "dev" requests
  };
  const Case cases[] = {
      {{"--silent"}, {kSilence, kSilence}},
      {{"--drop", "2"}, {kSilence, kSilence, kReply, kReply}},
      {{"--corrupt-every", "2"}, {kReply, kBadChecksum, kReply, kBadChecksum}},
      {{"--no-start-every", "1"}, {kNoStart, kNoStart}},
      {{"--foreign-every", "3"}, {kReply, kReply, kForeign}},
  };
  for (const Case& c : cases) {
    auto sim = start(c.args);
    TerminalClient port(sim->path());
    for (std::size_t i = 0; i < c.replies.size(); ++i) {
      Expect e = c.replies[i];
      std::string got =
          port.exchange(frame(request(16, true, "dev")), e == kSilence ? kSilenceMs : 1000);
      std::string what = c.args[0] + " reply " + std::to_string(i + 1);
      sim::Packet p = reply_of(got);
      switch (e) {
        case kReply:
          EXPECT_EQ(p.hash, hash_name("dev")) << what;
          break;
        case kSilence:
          EXPECT_EQ(got, "") << what;
          break;
        case kBadChecksum: {
          ASSERT_GE(got.size(), 2u) << what;
          EXPECT_EQ(got[0], '#') << what;
          sim::DecodedFrame d = sim::decode_frame(got.substr(1, got.size() - 2), 8);
          EXPECT_EQ(d.status, sim::FrameStatus::kBadChecksum) << what;
          break;
        }
        case kNoStart:
          EXPECT_EQ(got, expected_reply(16, "dev", text_reversed("KBA604")).substr(1)) << what;
          break;
        case kForeign:
          EXPECT_NE(p.hash, 0) << what;
          EXPECT_NE(p.hash, hash_name("dev")) << what;
          EXPECT_NE(p.hash, kHashNErr) << what;
          break;
      }
    }
  }
}

TEST_F(LineTest, AnotherModelAndAnotherFirmware) {
  auto sim = start({"--model", "TRM101", "--firmware", "2.3"});
  TerminalClient port(sim->path());
  EXPECT_EQ(reply_of(port.exchange(frame(request(16, true, "dev")))).data, text_reversed("TRM101"));
  EXPECT_EQ(reply_of(port.exchange(frame(request(16, true, "ver")))).data, text_reversed("2.3"));
}

TEST_F(LineTest, StartedInModbusItAnswersOnlyTheSwitchBackThenSpeaksTalvAgain) {
  // The switch-back command to address 16: 10 05 F0 F0 FF 00; its LRC is the two's complement
  // of the byte sum 0x2F4, i.e. 0x0C.
  const Bytes command{0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00};
  struct Case {
    const char* protocol;
    std::string switch_back;
  };
  const Case cases[] = {
      {"rtu", sim::rtu_frame(command)},
      {"ascii", ":1005F0F0FF000C\r\n"},
  };
  for (const Case& c : cases) {
    auto sim = start({"--protocol", c.protocol});
    TerminalClient port(sim->path());
    EXPECT_EQ(port.exchange(frame(request(16, true, "dev")), kSilenceMs), "") << c.protocol;
    Bytes other = command;
    other[0] = 0x18;  // another address
    std::string other_frame =
        std::string(c.protocol) == "rtu" ? sim::rtu_frame(other) : sim::ascii_frame(other);
    port.send(other_frame);
    EXPECT_EQ(port.gather(kSilenceMs), "") << c.protocol;
    port.send(c.switch_back);
    EXPECT_EQ(port.gather(300), c.switch_back) << c.protocol << ": the echo";
    EXPECT_EQ(reply_of(port.exchange(frame(request(16, true, "dev")))).hash, hash_name("dev"))
        << c.protocol;
    sim->with([](sim::Instrument& i) {
      EXPECT_EQ(i.protocol(), sim::Protocol::kTalv);
      return 0;
    });
  }
}

TEST_F(LineTest, PrtlSwitchesToTheProtocolChosenInProt) {
  auto sim = start();
  TerminalClient port(sim->path());
  port.exchange(frame(request(16, false, "Prot", {2})));  // Modbus ASCII
  EXPECT_EQ(reply_of(port.exchange(frame(request(16, false, "PRTL")))).hash, hash_name("PRTL"));
  EXPECT_EQ(port.exchange(frame(request(16, true, "dev")), kSilenceMs), "");
  port.send(":1005F0F0FF000C\r\n");
  EXPECT_EQ(port.gather(300), ":1005F0F0FF000C\r\n");
  EXPECT_EQ(reply_of(port.exchange(frame(request(16, true, "dev")))).hash, hash_name("dev"));
}

TEST_F(LineTest, SeveralInstrumentsShareTheLine) {
  auto sim = start({"--address", "16", "--address", "24", "--model", "TRM", "--address", "36"});
  TerminalClient port(sim->path());
  struct Case {
    unsigned address;
    const char* model;  // nullptr: nobody answers
  };
  const Case cases[] = {
      {16, "KBA604"}, {19, "KBA604"}, {24, "TRM"},    {31, "TRM"},
      {32, nullptr},  {36, "KBA604"}, {43, "KBA604"}, {44, nullptr},
  };
  for (const Case& c : cases) {
    std::string got =
        port.exchange(frame(request(c.address, true, "dev")), c.model ? 1000 : kSilenceMs);
    if (!c.model) {
      EXPECT_EQ(got, "") << c.address;
    } else {
      sim::Packet p = reply_of(got);
      EXPECT_EQ(p.data, text_reversed(c.model)) << c.address;
      EXPECT_EQ(p.address, c.address) << c.address;
    }
  }
  // The operational values of input 4 of the first instrument live at address 16 + 3.
  EXPECT_EQ(reply_of(port.exchange(frame(request(19, true, "rEAd")))).data.size(), 4u);
}

TEST_F(LineTest, OverlappingAddressesCollide) {
  auto sim = start({"--address", "16", "--address", "20"});
  TerminalClient port(sim->path());
  std::string got = port.exchange(frame(request(21, true, "dev")));
  EXPECT_FALSE(got.empty());
  EXPECT_EQ(got.find('#'), std::string::npos) << "two answers at once are garbage";
  EXPECT_EQ(reply_of(port.exchange(frame(request(17, true, "dev")))).hash, hash_name("dev"));
}

TEST_F(LineTest, RepliesArePacedAtTheLineSpeed) {
  auto sim = start({"--time-scale", "1", "--baud", "2400", "--turnaround", "5"});
  TerminalClient port(sim->path(), {B2400, 8, 'N', 1});
  auto begin = std::chrono::steady_clock::now();
  std::string got = port.exchange(frame(request(16, true, "dev")));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  ASSERT_EQ(got.size(), 26u);
  // The 14 characters of the request and the 26 of the reply, 10 bits each at 2400 baud, and
  // the turnaround between them: at least 172 ms, as on a real line.
  EXPECT_GE(seconds, 0.005 + (14 + 26) * 10 / 2400.0 - 0.002);
}

TEST_F(LineTest, TheFrameLogHasTimestampsSpeedsAndCharacters) {
  fs::path log = home_.root() / "frames.log";
  {
    auto sim = start({"--log", log.string()});
    TerminalClient port(sim->path());
    port.exchange("#HGHGTMOHPGMO\r");
  }
  std::vector<sim::LoggedFrame> frames;
  std::string error;
  ASSERT_TRUE(sim::read_frame_log(log.string(), frames, &error)) << error;
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_FALSE(frames[0].sent);
  EXPECT_EQ(frames[0].baud, 9600u);
  EXPECT_EQ(frames[0].bits_per_character, 10);
  EXPECT_EQ(frames[0].characters, 14u);
  EXPECT_EQ(frames[0].text, "#HGHGTMOHPGMO\\r");
  EXPECT_TRUE(frames[1].sent);
  EXPECT_EQ(frames[1].characters, 26u);
  EXPECT_LE(frames[0].seconds, frames[1].seconds);
  // 40 characters of 10 bits at 9600 baud.
  EXPECT_DOUBLE_EQ(sim::line_seconds(frames), 40 * 10 / 9600.0);
  std::ifstream in(log);
  std::string first;
  std::getline(in, first);
  std::getline(in, first);
  EXPECT_NE(first.find(" @16"), std::string::npos) << first;

  std::ofstream(log) << "0.1 rx 9600 10 14 #HG\nnot a frame line\n";
  EXPECT_FALSE(sim::read_frame_log(log.string(), frames, &error));
  EXPECT_NE(error.find(":2:"), std::string::npos) << error;
}

TEST_F(LineTest, TheStateFileKeepsChangesAcrossRuns) {
  fs::path state = home_.root() / "eeprom.json";
  {
    auto sim = start({"--state", state.string()});
    TerminalClient port(sim->path());
    port.exchange(frame(request(16, false, "t.A", {0x10, 0x64})));  // 10.0
  }
  ASSERT_TRUE(fs::exists(state));
  {
    auto sim = start({"--state", state.string()});
    TerminalClient port(sim->path());
    EXPECT_EQ(reply_of(port.exchange(frame(request(16, true, "t.A")))).data, (Bytes{0x10, 0x64}));
    EXPECT_TRUE(sim->messages().empty());
  }
  for (const char* damage : {"{\"instruments\": [{\"values\": 5}]}", "not json at all", ""}) {
    std::ofstream(state) << damage;
    auto sim = start({"--state", state.string()});
    TerminalClient port(sim->path());
    EXPECT_EQ(reply_of(port.exchange(frame(request(16, true, "t.A")))).data, (Bytes{0x10, 0x7D}))
        << "initial value after \"" << damage << "\"";
    ASSERT_EQ(sim->messages().size(), 1u) << damage;
    EXPECT_NE(sim->messages()[0].find("damaged"), std::string::npos) << sim->messages()[0];
    EXPECT_TRUE(fs::exists(state.string() + ".damaged"));
    fs::remove(state.string() + ".damaged");
    fs::remove(state);
  }
}

TEST_F(LineTest, ALinkPointsAtTheTerminalWhileTheLineRuns) {
  fs::path link = home_.root() / "kba604-sim";
  {
    auto sim = start({"--link", link.string()});
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link).string(), sim->path());
    TerminalClient port(link.string());
    EXPECT_EQ(reply_of(port.exchange(frame(request(16, true, "dev")))).hash, hash_name("dev"));
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "removed at the end";
  std::ofstream(link) << "a file of the user's";
  EXPECT_THROW(start({"--link", link.string()}), std::runtime_error);
  EXPECT_TRUE(fs::is_regular_file(link)) << "never replaced";
}

TEST_F(LineTest, CalibrationFinishesAfterItsScaledTime) {
  auto sim = start({"--time-scale", "0.01", "--cal-time", "3"});
  TerminalClient port(sim->path());
  EXPECT_EQ(reply_of(port.exchange(frame(request(16, false, "CLB.I", {1})))).data,
            (Bytes{0x03, 0}));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  Bytes status;
  int polls = 0;
  do {
    status = reply_of(port.exchange(frame(request(16, true, "CLB.S")))).data;
    ++polls;
  } while (!status.empty() && !(status[0] & 0x80) && std::chrono::steady_clock::now() < deadline);
  EXPECT_EQ(status, (Bytes{0x80, 0}));
}

}  // namespace
}  // namespace kba604::test
