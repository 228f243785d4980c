#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "link/sio.h"
#include "support/scripted_line.h"

namespace kba604 {
namespace {

using test::LineResponse;
using test::ScriptedLine;

class SioTest : public ::testing::Test {
 protected:
  platform::ManualClock clock;
  std::recursive_mutex lock;
  platform::MemorySettingsStore settings;
  ScriptedLine line{clock};
  Sio sio{lock, clock, settings, line.opener()};

  int send(const std::string& frame, std::string* reply = nullptr) {
    char buf[32];
    std::size_t n = 99;
    int rc = sio.transfer(frame.data(), frame.size(), buf, &n);
    if (reply != nullptr) *reply = std::string(buf, n);
    return rc;
  }
  std::vector<std::string> log() const {
    std::vector<std::string> out;
    for (const auto& e : line.events()) out.push_back(e.what);
    return out;
  }
};

TEST_F(SioTest, OpeningRefusesWhatTheLineCannotDo) {
  struct Case {
    int baud, parity, data_bits, stop_bits, expect;
  };
  const Case cases[] = {
      {9600, 3, 8, 1, 0},    {110, 0, 8, 1, 0},    {14400, 1, 8, 1, 0},  {28800, 4, 8, 1, 0},
      {56000, 3, 8, 1, 0},   {128000, 3, 8, 2, 0}, {115200, 2, 7, 1, 0}, {19200, 5, 5, 1, 0},
      {256000, 3, 8, 1, -2}, {250, 3, 8, 1, -2},   {9600, 6, 8, 1, -2},  {9600, -1, 8, 1, -2},
      {9600, 3, 8, 0, -2},   {9600, 3, 8, 3, -2},  {9600, 3, 4, 1, -3},  {9600, 3, 9, 1, -3},
      {256000, 3, 9, 1, -3},  // data bits are checked before the rate
      {9600, 7, 9, 3, -2},    // parity before data bits
  };
  for (const auto& c : cases) {
    sio.set_baud_rate(c.baud);
    sio.set_parity_code(c.parity);
    sio.set_data_bits(c.data_bits);
    sio.set_stop_bits(c.stop_bits);
    EXPECT_EQ(sio.open_port(), c.expect)
        << c.baud << " " << c.parity << " " << c.data_bits << " " << c.stop_bits;
    // A failed opening leaves nothing open behind it.
    EXPECT_EQ(sio.is_open(), c.expect == 0);
    EXPECT_EQ(line.is_open(), c.expect == 0);
    sio.close_port();
  }
}

TEST_F(SioTest, OpeningFailuresOfTheDevice) {
  line.set_present(false);
  EXPECT_EQ(sio.open_port(), -1);
  line.set_present(true);
  line.set_state_unreadable(true);
  EXPECT_EQ(sio.open_port(), -2);
  EXPECT_FALSE(line.is_open());
  line.set_state_unreadable(false);
  line.set_refuse_settings(true);
  EXPECT_EQ(sio.open_port(), -4);
  EXPECT_FALSE(line.is_open());
  EXPECT_EQ(sio.reply_wait(), 0);
}

TEST_F(SioTest, ParityCodesReachTheLine) {
  const platform::Parity expect[] = {platform::Parity::None, platform::Parity::Even,
                                     platform::Parity::Mark, platform::Parity::None,
                                     platform::Parity::Odd,  platform::Parity::Space};
  for (int code = 0; code <= 5; ++code) {
    sio.set_parity_code(code);
    ASSERT_EQ(sio.open_port(), 0);
    EXPECT_EQ(line.settings().parity, expect[code]) << code;
  }
}

TEST_F(SioTest, CharacterTimeAndTimeoutsFollowTheRate) {
  struct Case {
    int baud, parity, stop_bits, mode;
    double char_ms;
    std::uint32_t interval, multiplier;
    std::uint16_t reply_wait;
  };
  // Worked values: 9600 8N1, 2400 and 115200; the others counted by hand from 10 bits per
  // character plus parity and a second stop bit.
  const Case cases[] = {
      {9600, 3, 1, 0, 1.0417, 2, 4, 162},     {2400, 3, 1, 0, 4.1667, 7, 12, 386},
      {115200, 0, 1, 0, 0.0868, 1, 2, 106},   {9600, 1, 1, 0, 1.1458, 2, 4, 162},
      {1200, 1, 2, 0, 10.0, 15, 25, 750},     {9600, 3, 1, 1, 1.0417, 4, 6, 218},
      {110, 3, 1, 0, 90.909, 137, 228, 6434},
  };
  for (const auto& c : cases) {
    sio.set_baud_rate(c.baud);
    sio.set_parity_code(c.parity);
    sio.set_stop_bits(c.stop_bits);
    sio.set_protocol_mode(c.mode);
    ASSERT_EQ(sio.open_port(), 0);
    EXPECT_NEAR(sio.character_time(), c.char_ms, 0.001) << c.baud;
    Sio::Timeouts t = sio.timeouts();
    EXPECT_EQ(t.read_interval, c.interval) << c.baud;
    EXPECT_EQ(t.read_multiplier, c.multiplier) << c.baud;
    EXPECT_EQ(t.read_constant, 50u);
    EXPECT_EQ(t.write_multiplier, 0u);
    EXPECT_EQ(t.write_constant, 500u);
    EXPECT_EQ(sio.reply_wait(), c.reply_wait) << c.baud;
  }
}

TEST_F(SioTest, ReplyEndedByCarriageReturn) {
  ASSERT_EQ(sio.open_port(), 0);
  line.push(LineResponse::reply("#ABC\r"));
  std::string reply;
  EXPECT_EQ(send("#HGHGTMOHPGMO\r", &reply), Sio::kReceived);
  EXPECT_EQ(reply, "#ABC\r");
  EXPECT_EQ(line.requests(), std::vector<std::string>{"#HGHGTMOHPGMO\r"});
}

TEST_F(SioTest, ResultsOfTheWait) {
  sio.set_converter_automatic(1);  // the write itself takes no time on the test clock
  ASSERT_EQ(sio.open_port(), 0);
  struct Case {
    LineResponse response;
    int expect;
    std::string reply;
  };
  const Case cases[] = {
      {LineResponse::silence(), Sio::kTimeout, ""},
      {LineResponse::reply("#AB\r", 161), Sio::kReceived, "#AB\r"},
      {LineResponse::reply("#AB\r", 163), Sio::kTimeout, ""},  // after the reply wait
      {LineResponse::reply("#AB"), Sio::kTimeout, ""},         // no carriage return
      {LineResponse::line_error(), Sio::kLineError, ""},
      {LineResponse::line_error("#AB"), Sio::kLineError, ""},
      {LineResponse::reply(std::string(40, 'G') + "\r"), Sio::kReceived, std::string(29, 'G')},
      {LineResponse::reply("#AB\r#CD\r"), Sio::kReceived, "#AB\r"},
  };
  for (const auto& c : cases) {
    line.push(c.response);
    const std::int64_t start = clock.now_ms();
    std::string reply;
    EXPECT_EQ(send("#Q\r", &reply), c.expect) << c.reply;
    EXPECT_EQ(reply, c.reply);
    EXPECT_LE(clock.now_ms() - start, 162);
    clock.advance_ms(1000);  // let late characters arrive before the next purge
  }
}

TEST_F(SioTest, ALongerReadConstantWaitsLongerForOneReply) {
  // A command the instrument answers after writing its EEPROM gets 300 ms in place of 50.
  sio.set_converter_automatic(1);
  ASSERT_EQ(sio.open_port(), 0);
  sio.set_read_constant(300);
  EXPECT_EQ(sio.reply_wait(), 4 * 28 + 300);
  line.push(LineResponse::reply("#AB\r", 400));
  std::string reply;
  EXPECT_EQ(send("#Q\r", &reply), Sio::kReceived);
  sio.set_read_constant(50);
  EXPECT_EQ(sio.reply_wait(), 162);
  clock.advance_ms(1000);
  line.push(LineResponse::reply("#AB\r", 400));
  EXPECT_EQ(send("#Q\r", &reply), Sio::kTimeout);
}

TEST_F(SioTest, FloodWithoutCarriageReturnEndsAtTheReplyWait) {
  sio.set_converter_automatic(1);
  ASSERT_EQ(sio.open_port(), 0);
  line.push(LineResponse::flood());
  const std::int64_t start = clock.now_ms();
  std::string reply = "x";
  EXPECT_EQ(send("#Q\r", &reply), Sio::kTimeout);
  EXPECT_EQ(reply, "");
  EXPECT_GE(clock.now_ms() - start, 162);
  EXPECT_LE(clock.now_ms() - start, 162 + 20);
  // The flood is purged by the next transfer.
  line.push(LineResponse::reply("#OK\r"));
  EXPECT_EQ(send("#Q\r", &reply), Sio::kReceived);
  EXPECT_EQ(reply, "#OK\r");
}

TEST_F(SioTest, ModbusRtuReplyEndsAfterSilence) {
  sio.set_protocol_mode(kProtocolModbusRtu);
  ASSERT_EQ(sio.open_port(), 0);
  // A reply without carriage return, in two bursts 3 ms apart (within the 4 ms interval).
  line.set_responder([](const std::string&) { return LineResponse::reply("\x10\x05", 10); });
  line.push(LineResponse::reply(std::string("\x10\x05\xF0\xF0\xFF\x00\xBC\x48", 8), 10));
  std::string reply;
  EXPECT_EQ(send("ab", &reply), Sio::kReceived);
  EXPECT_EQ(reply, std::string("\x10\x05\xF0\xF0\xFF\x00\xBC\x48", 8));
  EXPECT_EQ(send("ab", &reply), Sio::kReceived);
  EXPECT_EQ(reply, "\x10\x05");
  line.set_responder({});
  EXPECT_EQ(send("ab", &reply), Sio::kTimeout);
}

TEST_F(SioTest, ClosedPortIsOpenedForOneTransferOnly) {
  line.push(LineResponse::reply("#A\r"));
  EXPECT_FALSE(sio.is_open());
  EXPECT_EQ(send("#Q\r"), Sio::kReceived);
  EXPECT_FALSE(sio.is_open());
  EXPECT_FALSE(line.is_open());
  const auto l = log();
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l.front(), "open");
  EXPECT_EQ(l.back(), "close");
  // A port that cannot be opened for the transfer is lost for it, with the reason.
  line.set_present(false);
  EXPECT_EQ(send("#Q\r"), Sio::kLost);
  EXPECT_NE(sio.lost_note().find("COM1"), std::string::npos) << sio.lost_note();
  EXPECT_TRUE(sio.lost_note().starts_with("Последовательный порт пропал, ")) << sio.lost_note();
}

TEST_F(SioTest, ExitEventEndsTheWaitAndTheWrite) {
  sio.set_converter_automatic(1);
  ASSERT_EQ(sio.open_port(), 0);
  line.push(LineResponse::exit_after(sio.exit_event(), 20));
  const std::int64_t start = clock.now_ms();
  EXPECT_EQ(send("#Q\r"), Sio::kUnavailable);
  EXPECT_EQ(clock.now_ms() - start, 20);
  // Signalled before the next transfer: a write that has to wait ends at once.
  line.set_hang(true);
  EXPECT_EQ(send("#Q\r"), Sio::kUnavailable);
  EXPECT_FALSE(sio.last_note().empty());
  sio.exit_event().reset();
  line.set_hang(false);
  line.push(LineResponse::reply("#A\r"));
  EXPECT_EQ(send("#Q\r"), Sio::kReceived);
}

TEST_F(SioTest, AfterTheExitEventNoFrameGoesOntoTheLine) {
  for (int automatic : {0, 1}) {
    sio.set_converter_automatic(automatic);
    ASSERT_EQ(sio.open_port(), 0);
    sio.exit_event().set();
    line.clear_log();
    line.push(LineResponse::reply("#A\r"));
    const std::int64_t start = clock.now_us();
    EXPECT_EQ(send("#HG\r"), Sio::kUnavailable) << automatic;
    EXPECT_EQ(clock.now_us(), start) << automatic;
    EXPECT_FALSE(sio.last_note().empty()) << automatic;
    for (const std::string& what : log()) {
      EXPECT_NE(what.rfind("write", 0), 0u) << automatic << ": " << what;
      EXPECT_NE(what, "rts+") << automatic;
    }
    sio.exit_event().reset();
    line.clear_script();
  }
}

// The test clock, with the port's exit event signalled when the first wait of a transfer
// begins (the semi-automatic converter's wait for the frame to leave the line).
class ExitDuringTheFrame final : public platform::Clock {
 public:
  explicit ExitDuringTheFrame(platform::ManualClock& clock) : clock_(clock) {}
  std::int64_t now_us() const override { return clock_.now_us(); }
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override {
    hook();
    return clock_.poll(fds, count, timeout_ms);
  }
  void busy_wait_us(std::int64_t us) override { clock_.busy_wait_us(us); }
  void sleep_us(std::int64_t us) override {
    hook();
    clock_.sleep_us(us);
  }
  platform::Event* exit = nullptr;

 private:
  void hook() {
    if (exit != nullptr) exit->set();
  }
  platform::ManualClock& clock_;
};

TEST(SioExit, ExitEventEndsASemiAutomaticFrameAndDropsRtsAtOnce) {
  platform::ManualClock clock;
  ExitDuringTheFrame hooked{clock};
  std::recursive_mutex lock;
  platform::MemorySettingsStore settings;
  ScriptedLine line{clock};
  Sio sio{lock, hooked, settings, line.opener()};

  // 110 baud: the frame's 14 characters take 1.27 s on the line.
  sio.set_baud_rate(110);
  sio.set_converter_automatic(0);
  ASSERT_EQ(sio.open_port(), 0);
  line.clear_log();
  line.push(LineResponse::reply("#A\r"));
  hooked.exit = &sio.exit_event();
  char buf[32];
  std::size_t n = 0;
  const std::int64_t start = clock.now_us();
  EXPECT_EQ(sio.transfer("#HGHGTMOHPGMO\r", 14, buf, &n), Sio::kUnavailable);
  EXPECT_EQ(n, 0u);
  std::vector<std::string> what;
  for (const auto& e : line.events()) {
    what.push_back(e.what);
    // Nothing waited out the frame's line time.
    EXPECT_EQ(e.at_us, start) << e.what;
  }
  const std::vector<std::string> expect = {"purge", "rts+", "write #HGHGTMOHPGMO\r", "rts-"};
  EXPECT_EQ(what, expect);
}

// The semi-automatic converter's RTS: high before the first character, dropped no earlier than
// the last character's stop bit and within a character time after it, whatever the driver can
// tell of its transmitter, at slow and fast rates and with a longer character format.
TEST(SioRtsTiming, RtsFallsAfterTheLastStopBitAndWithinACharacterTime) {
  struct Rate {
    int baud, parity, stop_bits;
  };
  const Rate rates[] = {{110, 3, 1}, {2400, 3, 1}, {9600, 1, 2}, {38400, 3, 1}, {115200, 4, 1}};
  const test::TransmitterReport reports[] = {test::TransmitterReport::Nothing,
                                             test::TransmitterReport::Status,
                                             test::TransmitterReport::OutputQueue};
  // A 44-character write request and the shortest request.
  const std::string frames[] = {"#HGHGTMOH" + std::string(33, 'G') + "H\r", "#HGHGTMOHPGMO\r"};
  for (const Rate& rate : rates) {
    for (test::TransmitterReport report : reports) {
      for (const std::string& frame : frames) {
        SCOPED_TRACE(std::to_string(rate.baud) + " report " +
                     std::to_string(static_cast<int>(report)) + " frame " +
                     std::to_string(frame.size()));
        platform::ManualClock clock{1000000};
        std::recursive_mutex lock;
        platform::MemorySettingsStore settings;
        ScriptedLine line{clock};
        Sio sio{lock, clock, settings, line.opener()};
        line.set_transmitter_report(report);
        sio.set_baud_rate(rate.baud);
        sio.set_parity_code(rate.parity);
        sio.set_stop_bits(rate.stop_bits);
        sio.set_converter_automatic(0);
        ASSERT_EQ(sio.open_port(), 0);
        line.clear_log();
        line.push(LineResponse::reply("#A\r"));
        char buf[32];
        std::size_t n = 0;
        ASSERT_EQ(sio.transfer(frame.data(), frame.size(), buf, &n), Sio::kReceived);

        std::int64_t rts_up = -1, written = -1, rts_down = -1;
        for (const auto& e : line.events()) {
          if (e.what == "rts+") rts_up = e.at_us;
          if (e.what.rfind("write", 0) == 0) written = e.at_us;
          if (e.what == "rts-") rts_down = e.at_us;
        }
        ASSERT_GE(rts_up, 0);
        ASSERT_GE(rts_down, 0);
        EXPECT_LE(rts_up, written);
        const double last_stop_bit_ns = line.sent_until_ns();
        const double char_ns =
            1e9 * (10 + (rate.parity != 3 ? 1 : 0) + (rate.stop_bits == 2 ? 1 : 0)) / rate.baud;
        // The frame really took its line time.
        EXPECT_NEAR(last_stop_bit_ns - written * 1000.0, char_ns * frame.size(), 1.0);
        EXPECT_GE(rts_down * 1000.0, last_stop_bit_ns);
        EXPECT_LE(rts_down * 1000.0 - last_stop_bit_ns, char_ns);
      }
    }
  }
}

TEST_F(SioTest, HungLineTimesOutAfterTheWriteTimeAndIsReopened) {
  sio.set_converter_automatic(1);
  ASSERT_EQ(sio.open_port(), 0);
  line.set_hang(true);
  const std::int64_t start = clock.now_ms();
  EXPECT_EQ(send("#Q\r"), Sio::kTimeout);
  // 500 ms and the line time of three characters (3.1 ms, rounded up).
  EXPECT_EQ(clock.now_ms() - start, 504);
  EXPECT_FALSE(sio.is_open());
  EXPECT_FALSE(line.is_open());
  line.set_hang(false);
  line.push(LineResponse::reply("#A\r"));
  EXPECT_EQ(send("#Q\r"), Sio::kReceived);
  EXPECT_TRUE(sio.is_open());
  EXPECT_EQ(line.open_count(), 2);
}

TEST_F(SioTest, VanishedDeviceClosesThePortAndTheNextRequestReopensIt) {
  ASSERT_EQ(sio.open_port(), 0);
  line.push(LineResponse::vanish());
  EXPECT_EQ(send("#Q\r"), Sio::kLost);
  EXPECT_TRUE(sio.lost_note().starts_with("Последовательный порт COM")) << sio.lost_note();
  EXPECT_NE(sio.lost_note().find("пропал"), std::string::npos) << sio.lost_note();
  EXPECT_FALSE(sio.is_open());
  EXPECT_FALSE(line.is_open());
  // Still unplugged: the request fails at once.
  EXPECT_EQ(send("#Q\r"), Sio::kLost);
  // Plugged in again: the port is opened for good again.
  line.set_present(true);
  line.push(LineResponse::reply("#A\r"));
  EXPECT_EQ(send("#Q\r"), Sio::kReceived);
  EXPECT_TRUE(sio.is_open());
  EXPECT_TRUE(line.is_open());
}

TEST_F(SioTest, SemiAutomaticConverterHoldsRtsAroundTheFrame) {
  sio.set_converter_automatic(0);
  ASSERT_EQ(sio.open_port(), 0);
  line.clear_log();
  line.push(LineResponse::reply("#A\r"));
  EXPECT_EQ(send("#HG\r"), Sio::kReceived);
  const auto events = line.events();
  std::vector<std::string> what;
  for (const auto& e : events) what.push_back(e.what);
  const std::vector<std::string> expect = {"purge", "rts+", "write #HG\r", "rts-"};
  ASSERT_GE(what.size(), expect.size());
  EXPECT_EQ(std::vector<std::string>(what.begin(), what.begin() + 4), expect);
  // Four character times (1.0417 ms each at 9600) from the write to the fall of RTS.
  EXPECT_NEAR(events[3].at_us - events[2].at_us, 4167, 1);
}

TEST_F(SioTest, AutomaticConverterWritesTheWholeFrame) {
  sio.set_converter_automatic(1);
  ASSERT_EQ(sio.open_port(), 0);
  line.clear_log();
  line.push(LineResponse::reply("#A\r"));
  EXPECT_EQ(send("#HG\r"), Sio::kReceived);
  const auto what = log();
  ASSERT_GE(what.size(), 2u);
  EXPECT_EQ(what[0], "purge");
  EXPECT_EQ(what[1], "write #HG\r");
  for (const auto& w : what) EXPECT_NE(w, "rts+");
}

TEST_F(SioTest, DriverRs485ModeTakesOverTheDirection) {
  line.set_kernel_rs485(true);
  sio.set_converter_automatic(0);
  ASSERT_EQ(sio.open_port(), 0);
  line.clear_log();
  line.push(LineResponse::reply("#A\r"));
  line.push(LineResponse::reply("#A\r"));
  EXPECT_EQ(send("#HG\r"), Sio::kReceived);
  sio.set_converter_automatic(1);
  EXPECT_EQ(send("#HG\r"), Sio::kReceived);
  const std::vector<std::string> expect = {"purge", "rs485 on",  "write #HG\r", "drain",
                                           "purge", "rs485 off", "write #HG\r"};
  EXPECT_EQ(log(), expect);
}

TEST_F(SioTest, TemporaryOpeningNeverClosesAPortOpenedForGood) {
  {
    Sio::TemporaryOpening a(sio);
    EXPECT_TRUE(sio.is_open());
    { Sio::TemporaryOpening b(sio); }
    EXPECT_TRUE(sio.is_open());  // a still holds it
  }
  EXPECT_FALSE(sio.is_open());
  {
    Sio::TemporaryOpening a(sio);
    // Another thread reopens the port for good while the request runs.
    ASSERT_EQ(sio.open_port(), 0);
  }
  EXPECT_TRUE(sio.is_open());
  EXPECT_TRUE(line.is_open());
  EXPECT_EQ(line.open_count(), 3);
}

TEST_F(SioTest, PurgeAndCloseOfAClosedPort) {
  EXPECT_EQ(sio.purge_port(), -2);
  sio.close_port();
  ASSERT_EQ(sio.open_port(), 0);
  EXPECT_EQ(sio.purge_port(), 0);
  // Opening again replaces the first descriptor instead of leaking it.
  ASSERT_EQ(sio.open_port(), 0);
  EXPECT_EQ(line.open_count(), 2);
  sio.close_port();
  EXPECT_FALSE(line.is_open());
}

}  // namespace
}  // namespace kba604
