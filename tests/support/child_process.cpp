#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include "support/build_paths.h"

extern char** environ;

namespace kba604::test {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The steps in which a test looks at a running child.
constexpr auto kStep = std::chrono::milliseconds(20);

}  // namespace

std::string kba604_program() {
  return std::string(KBA604_BUILD_DIR) + "/bin/kba604";
}

std::string kba604_sim_program() {
  return std::string(KBA604_BUILD_DIR) + "/bin/kba604-sim";
}

ChildResult run_child(const std::vector<std::string>& argv) {
  RunningChild child(argv);
  return child.wait(-1);
}

RunningChild::RunningChild(const std::vector<std::string>& argv, const std::string& cwd,
                           int stdin_fd) {
  // Capture through files: no pipe can fill up and block the child.
  char out_name[] = "/tmp/kba604-child-out-XXXXXX";
  char err_name[] = "/tmp/kba604-child-err-XXXXXX";
  int out_fd = ::mkstemp(out_name);
  int err_fd = ::mkstemp(err_name);
  if (out_fd >= 0) out_name_ = out_name;
  if (err_fd >= 0) err_name_ = err_name;
  if (out_fd < 0 || err_fd < 0) {
    if (out_fd >= 0) ::close(out_fd);
    if (err_fd >= 0) ::close(err_fd);
    return;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
  if (stdin_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdin_fd, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out_fd);
  ::close(err_fd);
}

RunningChild::~RunningChild() {
  if (started() && !ended_) {
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  if (!out_name_.empty()) ::unlink(out_name_.c_str());
  if (!err_name_.empty()) ::unlink(err_name_.c_str());
}

bool RunningChild::reap(bool block) {
  if (!started() || ended_) return ended_;
  for (;;) {
    const pid_t r = ::waitpid(pid_, &status_, block ? 0 : WNOHANG);
    if (r == pid_) {
      ended_ = true;
      return true;
    }
    if (r < 0 && errno == EINTR) continue;
    return false;
  }
}

bool RunningChild::running() {
  return started() && !reap(false);
}

std::string RunningChild::err() const {
  return slurp(err_name_);
}

std::string RunningChild::out() const {
  return slurp(out_name_);
}

bool RunningChild::wait_for_err(const std::string& text, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (err().find(text) != std::string::npos) return true;
    if (!running() || std::chrono::steady_clock::now() >= end) {
      return err().find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(kStep);
  }
}

bool RunningChild::signal(int number) {
  return running() && ::kill(pid_, number) == 0;
}

ChildResult RunningChild::wait(int timeout_ms) {
  ChildResult result;
  if (started()) {
    if (timeout_ms < 0) {
      reap(true);
    } else {
      const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
      while (running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(kStep);
      if (!ended_) {
        ::kill(pid_, SIGKILL);
        reap(true);
      }
    }
    result.exit_code = WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }
  result.out = slurp(out_name_);
  result.err = slurp(err_name_);
  return result;
}

}  // namespace kba604::test
