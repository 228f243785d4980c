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
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/ini_settings_store.h"
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
  EXPECT_NE(missing.err.find("control channel"), std::string::npos) << missing.err;

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

}  // namespace
}  // namespace kba604
