// The control channel over real descriptors: pipe pairs stand for the standard input and output
// of a supervising program, a SOCK_SEQPACKET socket pair for its socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/net_config.h"
#include "control/pipe_connection.h"
#include "platform/clock.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

using NetConfig::CConnection;
using namespace std::literals;

// Only a hang matters: the reader answers within one step.
constexpr int kWaitMs = 3000;

// Reads from fd until it holds want bytes or nothing more comes within kWaitMs.
std::string read_bytes(int fd, std::size_t want) {
  std::string got;
  const std::int64_t end = platform::Clock::real().now_ms() + kWaitMs;
  while (got.size() < want && platform::Clock::real().now_ms() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// Whatever arrives within a short while, for checking that nothing came.
std::string read_for(int fd, int ms) {
  std::string got;
  const std::int64_t end = platform::Clock::real().now_ms() + ms;
  while (platform::Clock::real().now_ms() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

void put(int fd, std::string_view bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// A handler that takes the words given to it and records the lines.
class Recorder final : public NetConfig::CommandHandler {
 public:
  explicit Recorder(std::vector<std::string> words) : words_(std::move(words)) {}
  bool takes(std::string_view word) const override {
    for (const auto& w : words_) {
      if (w == word || w == "*") return true;
    }
    return false;
  }
  void command(const std::string& line) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> wait_lines(std::size_t count) {
    const std::int64_t end = platform::Clock::real().now_ms() + kWaitMs;
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (lines_.size() >= count || platform::Clock::real().now_ms() >= end) return lines_;
      }
      platform::Clock::real().sleep_ms(5);
    }
  }

 private:
  std::vector<std::string> words_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST(DecodeString, TellsPresenceQueriesPortAnswersAndErrors) {
  struct Case {
    const char* line;
    int result;
    std::string error;  // after the prefix; empty: no error
  };
  const Case cases[] = {
      {"!?", kDecodePresence, ""},
      {"\t!?", kDecodePresence, ""},
      {"  !?  trailing words", kDecodePresence, ""},
      {"", kDecodeOther, "Нет слов!"},
      {" \t ", kDecodeOther, "Нет слов!"},
      {"!", kDecodeOther, "Не указан порт!"},
      {"! COM1", kDecodeOther, "Нет ответа на запрос открытия порта!"},
      {"! COM1 \t", kDecodeOther, "Нет ответа на запрос открытия порта!"},
      {"! COM1 ok", kDecodePortOk, ""},
      {"!\tCOM1\tOK ", kDecodePortOk, ""},
      {"! COM1 okay", kDecodeOther, ""},
      {"! COM1 ok then", kDecodeOther, ""},
      {"!netparam Prty even", kDecodeOther, ""},
      {"!?x", kDecodeOther, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string error = "stale";
    EXPECT_EQ(CPipeConnection::DecodeString(c.line, &error), c.result);
    EXPECT_EQ(error, c.error.empty() ? "" : "ОШИБКА В CPipeConnection::DecodeString: " + c.error);
  }
}

// The program's side reads from in[0] and writes to out[1]; the peer writes in[1] and reads
// out[0].
class StdioChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  }
  void TearDown() override {
    channel.reset();
    for (int fd : {in[0], in[1], out[0], out[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }
  CConnection& open(platform::Clock& clock = platform::Clock::real()) {
    channel = std::make_unique<NetConfig::CStdio>(flags, "tester", clock, in[0], out[1]);
    return *channel;
  }
  void close_fd(int& fd) {
    ::close(fd);
    fd = -1;
  }

  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  ExitFlags flags;
  std::unique_ptr<CConnection> channel;
};

TEST_F(StdioChannel, PresenceIsAnsweredAndEveryMessageIsFollowedByAnEmptyLine) {
  open();
  // An empty line gets no answer; a query after a tab does, with a CR LF end too.
  put(in[1], "\n\t!?\r\n");
  const std::string answer = "!! tester\n\n";
  EXPECT_EQ(read_bytes(out[0], answer.size()), answer);
  EXPECT_EQ(channel->SendCommand(NetConfig::kNotification, "!netparam %s %i", "bPS", 19200), 0);
  const std::string note = "!netparam bPS 19200\n\n";
  EXPECT_EQ(read_bytes(out[0], note.size()), note);
  EXPECT_EQ(read_for(out[0], 120), "");  // the CR LF's second half gave no second answer
  EXPECT_EQ(flags.value(), 0u);
}

TEST_F(StdioChannel, TextTravelsInWindows1251) {
  auto recorder = std::make_shared<Recorder>(std::vector<std::string>{"!open"});
  open().set_command_handler(recorder);
  put(in[1], "!open \xCF\xF0\xE8\xE1\xEE\xF0.604\n");  // "Прибор.604"
  EXPECT_EQ(recorder->wait_lines(1), std::vector<std::string>{"!open Прибор.604"});
  ASSERT_TRUE(channel->post_line("!error Нет связи"));
  const std::string wire = "!error \xCD\xE5\xF2 \xF1\xE2\xFF\xE7\xE8\n\n";
  EXPECT_EQ(read_bytes(out[0], wire.size()), wire);
}

TEST_F(StdioChannel, LinesAreCutAtTheBufferAndANulEndsALine) {
  auto recorder = std::make_shared<Recorder>(std::vector<std::string>{"*"});
  open().set_command_handler(recorder);
  put(in[1], "!get " + std::string(3000, 'x') + "\n");
  put(in[1], "!get a\0!stop\n"sv);
  const std::vector<std::string> lines = recorder->wait_lines(3);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "!get " + std::string(NetConfig::kStdioLineMax - 5, 'x'));
  EXPECT_EQ(lines[1], "!get a");
  EXPECT_EQ(lines[2], "!stop");
}

// A peer may speak while the program still starts: its words wait for the handler.
TEST_F(StdioChannel, WordsBeforeTheHandlerAreHandedToIt) {
  open();
  put(in[1], "!status\n!?\n");
  const std::string answer = "!! tester\n\n";
  EXPECT_EQ(read_bytes(out[0], answer.size()), answer);  // the reader has taken both lines
  auto recorder = std::make_shared<Recorder>(std::vector<std::string>{"!status"});
  channel->set_command_handler(recorder);
  put(in[1], "!status now\n");
  EXPECT_EQ(recorder->wait_lines(2), (std::vector<std::string>{"!status", "!status now"}));
}

TEST_F(StdioChannel, RequestsTakeTheDecodedAnswer) {
  open();
  std::thread peer([this] {
    for (const char* answer : {"! COM3 ok\n", "! COM3 busy\n"}) {
      read_bytes(out[0], std::string("!port COM3\n\n").size());
      put(in[1], answer);
    }
  });
  EXPECT_EQ(channel->SendCommand(NetConfig::kRequest, "!port %s", "COM3"), kDecodePortOk);
  EXPECT_EQ(channel->SendCommand(NetConfig::kRequest, "!port %s", "COM3"), kDecodeOther);
  peer.join();
  EXPECT_EQ(flags.value(), 0u);
}

// A peer that never reads: once the pipe is full, a message is not taken within 5000 ms (of the
// program's clock), the exit code becomes 208 and the program goes on; the reader still ends at
// once when the channel closes.
TEST_F(StdioChannel, PeerThatNeverReadsGives208AndTheProgramGoesOn) {
  ASSERT_EQ(::fcntl(out[1], F_SETFL, O_NONBLOCK), 0);
  const std::string fill(4096, 'f');
  while (::write(out[1], fill.data(), fill.size()) > 0) {
  }
  ASSERT_EQ(::fcntl(out[1], F_SETFL, 0), 0);
  platform::ManualClock clock;
  open(clock);
  EXPECT_EQ(channel->SendCommand(NetConfig::kNotification, "!netparam Prty even"), -1);
  EXPECT_GE(clock.now_ms(), CConnection::kSendLimitMs);
  EXPECT_EQ(flags.exit_code(), 208);
  // Presence queries are still read while the answer cannot go out.
  put(in[1], "!?\n");
  EXPECT_EQ(channel->SendCommand(NetConfig::kNotification, "!netparam Prty no"), -1);
  const std::int64_t before = platform::Clock::real().now_ms();
  channel->close();
  EXPECT_TRUE(channel->reader_ended());
  EXPECT_LT(platform::Clock::real().now_ms() - before, 1000);
}

// A peer that went away: no signal ends the program, nothing waits for it, and no exit code is
// set for it.
TEST_F(StdioChannel, VanishedPeerEndsTheReaderQuietly) {
  open();
  close_fd(in[1]);
  close_fd(out[0]);
  EXPECT_EQ(channel->SendCommand(NetConfig::kNotification, "!netparam Addr 16"), -1);
  const std::int64_t end = platform::Clock::real().now_ms() + kWaitMs;
  while (!channel->reader_ended() && platform::Clock::real().now_ms() < end) {
    platform::Clock::real().sleep_ms(5);
  }
  EXPECT_TRUE(channel->reader_ended());
  EXPECT_EQ(channel->SendCommand(NetConfig::kNotification, "!netparam Addr 24"), -1);
  EXPECT_FALSE(channel->post_line("!done 0 0"));
  EXPECT_EQ(flags.value(), 0u);
}

// The end of the input alone leaves the output working: a peer may send its words and close.
TEST_F(StdioChannel, EndOfInputStillLetsMessagesOut) {
  open();
  put(in[1], "!?");
  close_fd(in[1]);
  const std::string answer = "!! tester\n\n";
  EXPECT_EQ(read_bytes(out[0], answer.size()), answer);
  EXPECT_EQ(channel->SendCommand(NetConfig::kNotification, "!netparam Sbit 2"), 0);
  EXPECT_EQ(read_bytes(out[0], 17), "!netparam Sbit 2\n\n");
}

// The named pipe's side of a SOCK_SEQPACKET pair: fd[0] is the program's, fd[1] the peer's.
class PipeChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fd), 0);
  }
  void TearDown() override {
    channel.reset();
    if (fd[1] >= 0) ::close(fd[1]);
  }
  CConnection& open(platform::Clock& clock = platform::Clock::real()) {
    channel = std::make_unique<NetConfig::CPipe>(flags, "tester", fd[0], clock);
    return *channel;
  }
  // One message, as it came.
  std::string message() {
    pollfd p{fd[1], POLLIN, 0};
    if (::poll(&p, 1, kWaitMs) <= 0) return "<none>";
    char buffer[2048];
    const ssize_t n = ::recv(fd[1], buffer, sizeof buffer, 0);
    return n < 0 ? "<error>" : std::string(buffer, static_cast<std::size_t>(n));
  }
  void send(std::string_view bytes) {
    ASSERT_EQ(::send(fd[1], bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }

  int fd[2] = {-1, -1};
  ExitFlags flags;
  std::unique_ptr<CConnection> channel;
};

TEST_F(PipeChannel, AMessageIsTextLineFeedAndNul) {
  open();
  send(std::string_view("\t!?\n\0", 5));
  EXPECT_EQ(message(), std::string("!! tester\n\0", 11));
  channel->announce("!netparam Prty even");
  EXPECT_EQ(message(), std::string("!netparam Prty even\n\0", 21));
  // An empty message gets no answer; nor does the text after a NUL count.
  send("");
  send(std::string_view("\0!?", 3));
  pollfd p{fd[1], POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 150), 0);
}

TEST_F(PipeChannel, OverlongMessageIsCutAndTheNextOneIsRead) {
  auto recorder = std::make_shared<Recorder>(std::vector<std::string>{"!set"});
  open().set_command_handler(recorder);
  send("!set Addr " + std::string(2000, '7'));
  send("!set Addr 16");
  const std::vector<std::string> lines = recorder->wait_lines(2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), NetConfig::kPipeMessageMax);
  EXPECT_EQ(lines[1], "!set Addr 16");
}

TEST_F(PipeChannel, PeerThatNeverReadsGives208) {
  ASSERT_EQ(::fcntl(fd[0], F_SETFL, O_NONBLOCK), 0);
  const std::string fill(1000, 'f');
  while (::send(fd[0], fill.data(), fill.size(), MSG_DONTWAIT) > 0) {
  }
  platform::ManualClock clock;
  open(clock);
  EXPECT_EQ(channel->SendCommand(NetConfig::kNotification, "!netparam Addr 1"), -1);
  EXPECT_EQ(flags.exit_code(), 208);
  const std::int64_t before = platform::Clock::real().now_ms();
  channel->close();
  EXPECT_LT(platform::Clock::real().now_ms() - before, 1000);
}

TEST_F(PipeChannel, VanishedPeerEndsTheReaderWithoutASignal) {
  open();
  ::close(fd[1]);
  fd[1] = -1;
  const std::int64_t end = platform::Clock::real().now_ms() + kWaitMs;
  while (!channel->reader_ended() && platform::Clock::real().now_ms() < end) {
    platform::Clock::real().sleep_ms(5);
  }
  EXPECT_TRUE(channel->reader_ended());
  EXPECT_EQ(channel->SendCommand(NetConfig::kNotification, "!netparam Addr 1"), -1);
  EXPECT_EQ(flags.value(), 0u);
}

TEST(NamedPipe, ConnectsToTheSocketInTheRuntimeFolderOrSets208) {
  test::TestHome home;
  const std::string name = home.unique_name("kba604pipe");
  ExitFlags missing_flags;
  NetConfig::CPipe missing(missing_flags, "x", name);
  EXPECT_EQ(missing_flags.exit_code(), 208);
  EXPECT_FALSE(missing.open());
  EXPECT_NE(missing.error(), "");
  EXPECT_EQ(missing.SendCommand(NetConfig::kNotification, "!netparam Addr 1"), -1);

  const int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = (home.runtime_dir() / name).string();
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ExitFlags flags;
  NetConfig::CPipe pipe(flags, "x", name);
  EXPECT_TRUE(pipe.open());
  EXPECT_EQ(flags.value(), 0u);
  const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(peer, 0);
  EXPECT_EQ(pipe.SendCommand(NetConfig::kNotification, "!netparam Port COM%i", 3), 0);
  char buffer[64];
  EXPECT_EQ(::recv(peer, buffer, sizeof buffer, 0), 21);
  EXPECT_EQ(std::string(buffer), "!netparam Port COM3\n");
  ::close(peer);
  ::close(listener);
}

}  // namespace
}  // namespace kba604
