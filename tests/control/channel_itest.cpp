// The control channel of a running kba604 process, as a supervising program sees it: its
// standard input and output, or the socket it listens on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "operations/edit_end.h"
#include "platform/ini_settings_store.h"
#include "platform/text.h"
#include "support/child_process.h"
#include "support/test_home.h"
#include "support/virtual_instrument.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

constexpr int kProcessLimitMs = 120'000;
const char* const kLine = "/port:9/rs485:off";

// The messages of a stdio channel: each is one line followed by an empty line.
std::vector<std::string> stdio_messages(const std::string& out, std::string* stray) {
  std::vector<std::string> messages;
  std::size_t begin = 0;
  while (begin < out.size()) {
    const std::size_t end = out.find("\n\n", begin);
    if (end == std::string::npos) {
      *stray += out.substr(begin);
      break;
    }
    messages.push_back(out.substr(begin, end - begin));
    begin = end + 2;
  }
  return messages;
}

class ChannelProgram : public ::testing::Test {
 protected:
  void instrument() {
    sim_ = std::make_unique<test::VirtualInstrument>();
    platform::open_program_settings()->set_value("Ports/COM9", sim_->path());
  }
  std::unique_ptr<test::RunningChild> start(std::vector<std::string> args, int stdin_fd = -1) {
    args.insert(args.begin(), test::kba604_program());
    return std::make_unique<test::RunningChild>(args, home.root().string(), stdin_fd);
  }
  // A socket listening where "io:pipe:<name>" looks for it.
  int listen_at(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (home.runtime_dir() / name).string();
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 1), 0);
    return fd;
  }

  test::TestHome home;
  std::unique_ptr<test::VirtualInstrument> sim_;
};

TEST_F(ChannelProgram, StdoutCarriesNothingButChannelMessagesDuringAWholeRead) {
  instrument();
  int in[2];
  ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
  auto child = start({"/io:stdio", "/uni:Tester", kLine, "/read", "r.604", "/close"}, in[0]);
  ::close(in[0]);
  ASSERT_EQ(::write(in[1], "!?\n", 3), 3);
  test::ChildResult r = child->wait(kProcessLimitMs);
  ::close(in[1]);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::exists(home.root() / "r.604"));

  std::string stray;
  const std::vector<std::string> messages = stdio_messages(r.out, &stray);
  EXPECT_EQ(stray, "");
  bool answered = false;
  for (const std::string& m : messages) {
    EXPECT_TRUE(m.starts_with("!") && m.find('\n') == std::string::npos) << m;
    answered = answered || m == "!! tester";
  }
  EXPECT_TRUE(answered) << r.out;
  // The port of the command line is announced.
  EXPECT_NE(std::find(messages.begin(), messages.end(), "!netparam Port COM9"), messages.end())
      << r.out;
}

TEST_F(ChannelProgram, PipeGetsExactlyOneAnnouncementOfAParityChange) {
  // The name is taken in lower case, as every value of the command line.
  std::string name = home.unique_name("mypipe");
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const int listener = listen_at(name);
  auto child = start({"/io:pipe:" + name + "X", "/uni:x", "/test"});
  test::ChildResult missing = child->wait(kProcessLimitMs);
  EXPECT_EQ(missing.exit_code, 208) << missing.err;
  EXPECT_NE(missing.err.find("канал управления не открыт"), std::string::npos) << missing.err;

  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  child = start({"/io:pipe:" + upper, "/uni:x", "/prty:even", "/test"});
  test::ChildResult r = child->wait(kProcessLimitMs);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(peer, 0);
  std::vector<std::string> messages;
  for (;;) {
    pollfd p{peer, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) break;
    char buffer[1024];
    const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    messages.emplace_back(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(messages, std::vector<std::string>{std::string("!netparam Prty even\n\0", 21)});
  ::close(peer);
  ::close(listener);
}

// A supervising program's side of the socket: one line per message.
class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {}
  ~Peer() { ::close(fd_); }
  void say(const std::string& line) {
    const std::string message = line + std::string("\n\0", 2);
    EXPECT_EQ(::send(fd_, message.data(), message.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(message.size()));
  }
  // The next line, without its line feed and NUL; "<none>" when nothing came in time.
  std::string next(int timeout_ms = kProcessLimitMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return "<none>";
    char buffer[2048];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return "<closed>";
    std::string text(buffer, static_cast<std::size_t>(n));
    EXPECT_TRUE(text.ends_with(std::string("\n\0", 2))) << text;
    return text.substr(0, text.find('\n'));
  }
  // The next line that is not an announcement of the port settings.
  std::string answer() {
    for (;;) {
      std::string line = next();
      if (!line.starts_with("!netparam ")) return line;
    }
  }

 private:
  int fd_;
};

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(ChannelProgram, SupervisingWordsDriveAWholeSession) {
  instrument();
  const std::string name = "session";
  const int listener = listen_at(name);
  auto child = start({"/io:pipe:" + name, "/uni:peer", kLine});
  const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(fd, 0);
  ::close(listener);
  Peer peer(fd);

  peer.say("!?");
  EXPECT_EQ(peer.answer(), "!! peer");
  peer.say("!status");
  const std::string status = peer.answer();
  EXPECT_TRUE(
      status.starts_with("!status port COM9 bps 9600 len 8 prty no sbit 1 addr 16 alen 8 link "))
      << status;
  EXPECT_TRUE(status.ends_with(" operation idle")) << status;

  peer.say("!get ver");
  EXPECT_EQ(peer.answer(), "!value ver 1.10");
  peer.say("!get no.such");
  EXPECT_EQ(peer.answer(), "!error no.such no such parameter");
  peer.say("!get");
  EXPECT_EQ(peer.answer(), "!error !get no parameter named");

  // A value set over the channel goes through the tree's edit rules, then to the instrument.
  peer.say("!set i.d.AL 90");
  EXPECT_EQ(peer.answer(), "!value i.d.AL 01:30");
  peer.say("!get i.d.AL");
  EXPECT_EQ(peer.answer(), "!value i.d.AL 01:30");
  peer.say("!set i.d.AL 75:00");
  const std::string out_of_range = peer.answer();
  EXPECT_TRUE(out_of_range.starts_with("!error i.d.AL ")) << out_of_range;
  EXPECT_GT(out_of_range.size(), std::string("!error i.d.AL refused").size()) << out_of_range;
  peer.say("!get i.d.AL");
  EXPECT_EQ(peer.answer(), "!value i.d.AL 01:30");
  peer.say("!set dog 5");
  EXPECT_EQ(peer.answer(), "!error dog " + platform::to_cp1251(kOnlyZeroText));
  peer.say("!set r-s 1");
  EXPECT_EQ(peer.answer(), "!error r-s a command of the instrument, not a value");
  peer.say("!set ver 2.00");
  EXPECT_EQ(peer.answer(), "!error ver read-only parameter");

  // A whole read with its progress; a command given meanwhile is refused.
  peer.say("!read");
  peer.say("!get ver");
  int progress = 0;
  std::string last_progress;
  std::string busy;
  std::string line;
  for (line = peer.answer(); line.starts_with("!progress") || line.starts_with("!busy");
       line = peer.answer()) {
    if (line.starts_with("!busy")) {
      busy = line;
    } else {
      ++progress;
      last_progress = line;
    }
  }
  EXPECT_EQ(line, "!done 0 0");
  EXPECT_EQ(busy, "!busy !get");
  EXPECT_GE(progress, 2);
  int done = -1, total = -2, errors = -1;
  ASSERT_EQ(std::sscanf(last_progress.c_str(), "!progress %d %d %d", &done, &total, &errors), 3);
  EXPECT_EQ(done, total);
  EXPECT_EQ(errors, 0);

  peer.say("!save \"by channel.604\"");
  EXPECT_EQ(peer.answer(), "!ok save \"by channel.604\"");
  peer.say("!open missing.604");
  EXPECT_EQ(peer.answer(), "!error !open no such file: missing.604");
  peer.say("!open \"by channel.604\"");
  EXPECT_EQ(peer.answer(), "!ok open \"by channel.604\"");
  peer.say("!stop");
  EXPECT_EQ(peer.answer(), "!ok stop");
  peer.say("!status");
  EXPECT_TRUE(peer.answer().ends_with(" operation idle"));

  ASSERT_TRUE(child->signal(SIGTERM));
  test::ChildResult r = child->wait(kProcessLimitMs);
  EXPECT_EQ(r.exit_code, 0) << r.err;

  // The file the channel saved is the one the "read" switch saves.
  auto read = start({kLine, "/read", "by switch.604", "/close"});
  test::ChildResult by_switch = read->wait(kProcessLimitMs);
  ASSERT_EQ(by_switch.exit_code, 0) << by_switch.err;
  const std::string saved = file_bytes(home.root() / "by channel.604");
  EXPECT_GT(saved.size(), 1000u);
  EXPECT_TRUE(saved == file_bytes(home.root() / "by switch.604"));
}

TEST_F(ChannelProgram, WithoutAPortNothingPassesForDone) {
  const std::string name = "noport";
  const int listener = listen_at(name);
  auto child = start({"/io:pipe:" + name, "/uni:peer"});
  const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(fd, 0);
  ::close(listener);
  Peer peer(fd);
  peer.say("!status");
  EXPECT_TRUE(peer.answer().ends_with(" link none operation idle"));
  const char* const no_port = "no port: the program runs without an instrument";
  peer.say("!get ver");
  EXPECT_EQ(peer.answer(), std::string("!error ver ") + no_port);
  for (const char* word : {"!read", "!write", "!compare"}) {
    peer.say(word);
    EXPECT_EQ(peer.answer(), std::string("!error ") + word + " " + no_port);
  }
  ASSERT_TRUE(child->signal(SIGTERM));
  EXPECT_EQ(child->wait(kProcessLimitMs).exit_code, 0);
}

}  // namespace
}  // namespace kba604
