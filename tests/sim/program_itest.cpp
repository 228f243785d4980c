// kba604-sim as a program: its help, its refusals, and a run from start to SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "sim_test_util.h"
#include "support/test_home.h"
#include "support/build_paths.h"

extern char** environ;

namespace kba604::test {
namespace {

namespace fs = std::filesystem;

std::string sim_program() {
  return std::string(KBA604_BUILD_DIR) + "/bin/kba604-sim";
}

// The program running with its stdout and stderr on pipes.
class Running {
 public:
  explicit Running(std::vector<std::string> args) {
    args.insert(args.begin(), sim_program());
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
      throw std::runtime_error("cannot start " + args[0]);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Running() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }
  // The first line on stdout (without its line feed), waiting at most a few seconds.
  std::string first_line() {
    std::string line;
    char c;
    pollfd p{out_, POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && ::read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Exit status after a signal (or on its own), -1 if it does not end in time.
  int finish(int signal_number) {
    if (signal_number) kill(pid_, signal_number);
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      poll(nullptr, 0, 10);
    }
    return -1;
  }
  std::string rest_of(int fd) {
    std::string all;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
      all.append(buffer, static_cast<std::size_t>(n));
    return all;
  }
  std::string out() { return rest_of(out_); }
  std::string err() { return rest_of(err_); }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

TEST(SimProgram, HelpShowsTheTwoInstrumentDemo) {
  Running sim({"--help"});
  EXPECT_EQ(sim.finish(0), 0);
  std::string help = sim.out();
  EXPECT_NE(help.find("--address 16 --address 24"), std::string::npos);
  EXPECT_NE(help.find("COM9=/tmp/kba604-sim"), std::string::npos);
}

TEST(SimProgram, WrongOptionsAndAMissingDescriptionAreRefused) {
  TestHome home;
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {{"--baud", "fast"}, 2, "--baud"},
      {{"--frobnicate"}, 2, "--frobnicate"},
      {{"--data", (home.root() / "nothing").string()}, 2, "parameters.zip"},
      {{"--data", home.root().string(), "--device", (home.root() / "no-such-tty").string()},
       2,
       "parameters.zip"},
  };
  for (const Case& c : cases) {
    Running sim(c.args);
    EXPECT_EQ(sim.finish(0), c.code) << c.args[0];
    EXPECT_NE(sim.err().find(c.message), std::string::npos) << c.args[0];
  }
  // A description is there, but the device is not.
  write_description(home.root() / "desc", *small_description());
  Running sim({"--data", (home.root() / "desc").string(), "--device",
               (home.root() / "no-such-tty").string()});
  EXPECT_EQ(sim.finish(0), 1);
  EXPECT_NE(sim.err().find("no-such-tty"), std::string::npos);
}

TEST(SimProgram, ServesUntilSigtermThenCleansUp) {
  TestHome home;
  fs::path desc = home.root() / "desc";
  write_description(desc, *small_description());
  fs::path link = home.root() / "com9";
  fs::path state = home.root() / "eeprom.json";
  for (int signal_number : {SIGTERM, SIGINT}) {
    Running sim({"--data", desc.string(), "--link", link.string(), "--state", state.string(),
                 "--time-scale", "0"});
    std::string path = sim.first_line();
    ASSERT_TRUE(path.rfind("/dev/pts/", 0) == 0) << path;
    EXPECT_EQ(fs::read_symlink(link).string(), path);
    {
      TerminalClient port(link.string());
      std::string reply = port.exchange("#HGHGTMOHPGMO\r");
      EXPECT_EQ(reply_of(reply).data, text_reversed("KBA604"));
      port.exchange(sim::encode_frame(request(16, false, "t.B", {0x00, 0x09}), 8));
    }
    EXPECT_EQ(sim.finish(signal_number), 0) << "signal " << signal_number;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    std::string err = sim.err();
    EXPECT_NE(err.find("KBA604 at address 16"), std::string::npos) << err;
  }
  // What the first run wrote, the second found: the state file holds the value.
  std::ifstream in(state);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\"t.B\": \"0009\""), std::string::npos) << text;
}

}  // namespace
}  // namespace kba604::test
