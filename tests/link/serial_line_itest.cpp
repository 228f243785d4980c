// The real termios path against a pseudo-terminal peer. Real time, short waits.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "app/application.h"
#include "link/device_io.h"
#include "link/frame_codec.h"
#include "link/link_fixture.h"
#include "link/sio.h"
#include "platform/settings_store.h"
#include "support/pty_pair.h"
#include "support/recording_prompter.h"

namespace kba604 {
namespace {

using Clock = std::chrono::steady_clock;

long elapsed_ms(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

class TerminalTest : public ::testing::Test {
 protected:
  TerminalTest() {
    settings.set_value("Ports/COM9", pty.path());
    sio.set_port_name("COM9");
    sio.set_converter_automatic(1);
  }

  int send(const std::string& frame, std::string* reply = nullptr) {
    char buf[32];
    std::size_t n = 0;
    int rc = sio.transfer(frame.data(), frame.size(), buf, &n);
    if (reply != nullptr) *reply = std::string(buf, n);
    return rc;
  }

  test::PtyPair pty;
  platform::MemorySettingsStore settings;
  std::recursive_mutex lock;
  Sio sio{lock, platform::Clock::real(), settings};
};

TEST_F(TerminalTest, SettingsAreAppliedInRawMode) {
  // A pseudo-terminal keeps 8 bits without parity whatever is asked; the parity shows in INPCK
  // (input parity checking), a 7-bit character in ISTRIP, and the rest as set.
  struct Case {
    int baud, parity, data_bits, stop_bits;
    speed_t speed;
    tcflag_t format;
    bool parity_check, strip;
  };
  const Case cases[] = {
      {9600, 3, 8, 1, B9600, 0, false, false},
      {9600, 0, 8, 1, B9600, 0, false, false},
      {2400, 1, 8, 2, B2400, CSTOPB, true, false},
      {115200, 4, 7, 1, B115200, PARODD, true, true},
      {19200, 2, 8, 1, B19200, PARODD | CMSPAR, true, false},
      {4800, 5, 8, 2, B4800, CMSPAR | CSTOPB, true, false},
  };
  for (const auto& c : cases) {
    sio.set_baud_rate(c.baud);
    sio.set_parity_code(c.parity);
    sio.set_data_bits(c.data_bits);
    sio.set_stop_bits(c.stop_bits);
    ASSERT_EQ(sio.open_port(), 0) << c.baud;
    const termios t = pty.settings();
    EXPECT_EQ(cfgetospeed(&t), c.speed) << c.baud;
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), c.format) << c.baud;
    EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parity_check) << c.baud;
    EXPECT_EQ((t.c_iflag & ISTRIP) != 0, c.strip) << c.baud;
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | IGNBRK | BRKINT));
    EXPECT_TRUE(t.c_iflag & PARMRK);
    EXPECT_FALSE(t.c_oflag & OPOST);
    sio.close_port();
  }
}

// The port is opened again and again with the same parity and character size (each operation
// opens it), which a pseudo-terminal does not keep.
TEST_F(TerminalTest, ParityAndSevenBitsOpenAgainAndAgain) {
  for (int parity : {4, 1, 1, 4, 4}) {
    sio.set_parity_code(parity);
    sio.set_data_bits(7);
    ASSERT_EQ(sio.open_port(), 0) << parity;
    const termios t = pty.settings();
    EXPECT_EQ(t.c_cflag & PARODD, parity == 4 ? PARODD : 0u) << parity;
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_TRUE(t.c_iflag & ISTRIP);
    sio.close_port();
  }
}

TEST_F(TerminalTest, RatesOutsideThePosixListAreReadBack) {
  for (int baud : {14400, 28800, 56000, 128000}) {
    sio.set_baud_rate(baud);
    ASSERT_EQ(sio.open_port(), 0) << baud;
    EXPECT_EQ(pty.output_rate(), static_cast<unsigned>(baud));
    sio.close_port();
  }
  sio.set_baud_rate(256000);
  EXPECT_EQ(sio.open_port(), -2);
  EXPECT_FALSE(sio.is_open());
}

TEST_F(TerminalTest, ReplyEndedByCarriageReturn) {
  ASSERT_EQ(sio.open_port(), 0);
  pty.start_responder([](const std::string& r) { return r == "#Q\r" ? "#ABC\r" : ""; });
  std::string reply;
  EXPECT_EQ(send("#Q\r", &reply), Sio::kReceived);
  EXPECT_EQ(reply, "#ABC\r");
  EXPECT_EQ(pty.requests(), std::vector<std::string>{"#Q\r"});
}

TEST_F(TerminalTest, TimeOutAfterTheReplyWait) {
  ASSERT_EQ(sio.open_port(), 0);
  ASSERT_EQ(sio.reply_wait(), 162);
  const auto start = Clock::now();
  EXPECT_EQ(send("#Q\r"), Sio::kTimeout);
  EXPECT_GE(elapsed_ms(start), 160);
  // Bounds on real time are ratios generous enough for a sanitizer run on a busy machine.
  EXPECT_LT(elapsed_ms(start), 162 * 8);
}

TEST_F(TerminalTest, ExitEventEndsTheWaitLongBeforeTheReplyWait) {
  sio.set_baud_rate(110);  // a reply wait of 6434 ms
  ASSERT_EQ(sio.open_port(), 0);
  std::thread exit_thread([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    sio.exit_event().set();
  });
  const auto start = Clock::now();
  EXPECT_EQ(send("#Q\r"), Sio::kUnavailable);
  EXPECT_LT(elapsed_ms(start), sio.reply_wait() / 3);
  exit_thread.join();
}

TEST_F(TerminalTest, SemiAutomaticConverterWithoutModemLines) {
  // A pseudo-terminal has no RTS: the direction calls are refused and do no harm.
  sio.set_converter_automatic(0);
  ASSERT_EQ(sio.open_port(), 0);
  pty.start_responder([](const std::string&) { return "#OK\r"; });
  std::string reply;
  const auto start = Clock::now();
  EXPECT_EQ(send("#HGHGTMOHPGMO\r", &reply), Sio::kReceived);
  EXPECT_EQ(reply, "#OK\r");
  EXPECT_EQ(pty.requests(), std::vector<std::string>{"#HGHGTMOHPGMO\r"});
  // Fourteen characters, one character time (1.04 ms) after each.
  EXPECT_GE(elapsed_ms(start), 14);
}

TEST_F(TerminalTest, ByteFFArrivesOnceAndLineErrorMarksAreNoData) {
  sio.set_protocol_mode(kProtocolModbusRtu);
  ASSERT_EQ(sio.open_port(), 0);
  const std::string echo("\x10\x05\xF0\xF0\xFF\x00\xBC\x48", 8);
  pty.start_responder([echo](const std::string&) { return echo; });
  std::string reply;
  EXPECT_EQ(send(std::string("\x10\x05\xF0\xF0\xFF\x00\xBC\x48", 8), &reply), Sio::kReceived);
  EXPECT_EQ(reply, echo);
}

TEST_F(TerminalTest, FloodWithoutCarriageReturnEndsAtTheReplyWait) {
  ASSERT_EQ(sio.open_port(), 0);
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    const std::string chunk(64, 'G');
    while (flooding) {
      pty.write(chunk);
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  const auto start = Clock::now();
  EXPECT_EQ(send("#Q\r"), Sio::kTimeout);
  // Without its end a flood would hold the transfer for as long as it lasts.
  EXPECT_LT(elapsed_ms(start), 162 * 8);
  flooding = false;
  flood.join();
}

TEST_F(TerminalTest, VanishedDeviceEndsTheTransferAndTheNextRequestReopens) {
  // The [Ports] mapping names a symlink, as a stable /dev/serial/by-id name would be.
  const std::filesystem::path link =
      std::filesystem::temp_directory_path() / ("kba604-link-" + std::to_string(::getpid()));
  std::filesystem::remove(link);
  std::filesystem::create_symlink(pty.path(), link);
  settings.set_value("Ports/COM9", link.string());
  sio.set_baud_rate(300);  // a reply wait of a few seconds
  ASSERT_EQ(sio.open_port(), 0);

  std::thread unplug([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    pty.vanish();
  });
  const auto start = Clock::now();
  EXPECT_EQ(send("#Q\r"), Sio::kLost);
  // Recognised when the device went, not at the end of the reply wait.
  EXPECT_LT(elapsed_ms(start), sio.reply_wait() / 2);
  unplug.join();
  EXPECT_FALSE(sio.is_open());
  EXPECT_EQ(send("#Q\r"), Sio::kLost);  // still unplugged
  EXPECT_NE(sio.lost_note().find("COM9"), std::string::npos) << sio.lost_note();

  // Plugged in again (a new terminal behind the same name): opened for good again.
  test::PtyPair again;
  std::filesystem::remove(link);
  std::filesystem::create_symlink(again.path(), link);
  again.start_responder([](const std::string&) { return "#A\r"; });
  std::string reply;
  EXPECT_EQ(send("#Q\r", &reply), Sio::kReceived);
  EXPECT_EQ(reply, "#A\r");
  EXPECT_TRUE(sio.is_open());
  sio.close_port();
  std::filesystem::remove(link);
}

// The program's link on a pseudo-terminal mapped to COM9, at the program's port settings with
// the given speed.
struct LinkOnTerminal {
  explicit LinkOnTerminal(const char* baud_rate = "9600") {
    settings.set_value("Ports/COM9", pty.path());
    settings.set_value("port_number", "9");
    settings.set_value("baud_rate", baud_rate);
    io.emplace(app, settings);
  }

  test::PtyPair pty;
  test::RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  std::optional<DeviceIO> io;
};

TEST(TerminalLink, DevExchangeOverATerminal) {
  LinkOnTerminal link;
  test::PtyPair& pty = link.pty;
  DeviceIO& io = *link.io;
  ASSERT_EQ(io.reopen_port(true), 0);
  // "dev" answered with "KBA604", text sent last character first.
  const std::string reply = test::talv_frame(16, 1, 0xD681, {'4', '0', '6', 'A', 'B', 'K'});
  pty.start_responder(
      [reply](const std::string& r) { return r == "#HGHGTMOHPGMO\r" ? reply : std::string(); });
  std::uint8_t data[kMaxReplyData];
  int count = 0;
  std::string error;
  ASSERT_TRUE(exchange_frame(io, 1, 0xD681, nullptr, 0, 0, data, &count, &error).ok()) << error;
  EXPECT_EQ(std::string(data, data + count), "406ABK");
  EXPECT_TRUE(link.prompter.records().empty());
}

// Three threads share the link, as the worker, a scanner and the user-interface thread do:
// every request gets its own reply, since whole exchanges never interleave on the line.
TEST(TerminalLink, ThreadsInterleaveRequestByRequest) {
  LinkOnTerminal link("115200");
  test::PtyPair& pty = link.pty;
  DeviceIO& io = *link.io;
  link.app.modes.rs485_type.store(1);
  ASSERT_EQ(io.reopen_port(false), 0);
  // The instrument answers each request with the request's hash and its low byte as data.
  pty.start_responder([](const std::string& r) {
    if (r.size() != 14 || r[0] != '#') return std::string();
    std::uint8_t packet[6];
    decode_buffer(r.data() + 1, 12, packet);
    return test::talv_frame(16, 1, static_cast<std::uint16_t>((packet[2] << 8) | packet[3]),
                            {packet[3]});
  });
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        const auto hash = static_cast<std::uint16_t>(0x1000 * (t + 1) + i);
        std::uint8_t data[kMaxReplyData];
        int count = 0;
        std::string error;
        if (!exchange_frame(io, 1, hash, nullptr, 0, 0, data, &count, &error).ok() || count != 1 ||
            data[0] != (hash & 0xFF)) {
          ++wrong;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(pty.requests().size(), 120u);
}

// A request that waits in vain holds the others back for one exchange at most, and the exit
// event lets all of them go at once.
TEST(TerminalLink, ExitEventReleasesEveryWaitingThread) {
  LinkOnTerminal link("110");  // a reply wait of 6.4 s; four of them per request
  DeviceIO& io = *link.io;
  link.app.modes.rs485_type.store(1);
  ASSERT_EQ(io.reopen_port(false), 0);
  std::vector<std::thread> threads;
  std::atomic<int> failed{0};
  const auto start = Clock::now();
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      std::uint8_t data[kMaxReplyData];
      int count = 0;
      std::string error;
      if (!exchange_frame(io, 1, 0xD681, nullptr, 0, 0, data, &count, &error).ok()) ++failed;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  io.sio().exit_event().set();
  for (auto& th : threads) th.join();
  EXPECT_EQ(failed.load(), 3);
  EXPECT_LT(elapsed_ms(start), io.sio().reply_wait());
}

}  // namespace
}  // namespace kba604

namespace kba604 {
namespace {

// The low-latency mode asked of a pseudo-terminal (whose driver has no serial settings at all):
// the refusal is said once with the system's reason, and the port works as usual. Asked only of
// USB adapters, a pseudo-terminal is left alone. (No USB adapter is attached where the tests
// run: the mode being taken cannot be seen here.)
TEST(TerminalLowLatency, ARefusalIsSaidOnceAndThePortStillWorks) {
  test::PtyPair pty;
  platform::MemorySettingsStore settings;
  settings.set_value("Ports/COM9", pty.path());
  std::recursive_mutex lock;
  for (platform::LowLatency asked :
       {platform::LowLatency::Always, platform::LowLatency::UsbAdapters}) {
    Sio sio{lock, platform::Clock::real(), settings, [asked](const std::string& path) {
              return platform::open_terminal_line(path, platform::Clock::real(), asked);
            }};
    std::vector<std::string> remarks;
    sio.set_remark_sink([&](const std::string& r) { remarks.push_back(r); });
    sio.set_port_name("COM9");
    sio.set_converter_automatic(1);
    for (int round = 0; round < 3; ++round) {
      ASSERT_EQ(sio.open_port(), 0) << sio.open_fault();
      // The exchange goes on: the peer answers a request.
      std::thread peer([&] {
        char buf[64];
        for (int i = 0; i < 100; ++i) {
          if (::read(pty.master(), buf, sizeof buf) > 0) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(::write(pty.master(), "#AB\r", 4), 4);
      });
      char reply[32];
      std::size_t n = 0;
      EXPECT_EQ(sio.transfer("#HG\r", 4, reply, &n), Sio::kReceived);
      EXPECT_EQ(std::string(reply, n), "#AB\r");
      peer.join();
    }
    if (asked == platform::LowLatency::Always) {
      ASSERT_EQ(remarks.size(), 1u);
      EXPECT_NE(remarks[0].find("COM9"), std::string::npos) << remarks[0];
      EXPECT_NE(remarks[0].find("ASYNC_LOW_LATENCY"), std::string::npos) << remarks[0];
      EXPECT_NE(remarks[0].find(std::strerror(ENOTTY)), std::string::npos) << remarks[0];
    } else {
      EXPECT_TRUE(remarks.empty()) << remarks[0];
    }
  }
}

}  // namespace
}  // namespace kba604
