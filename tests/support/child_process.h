// Running the program (or any other) as a child process in a test: argument vector, no shell,
// the child's stderr and stdout captured. The environment is the test's, so a TestHome made
// before the call is the child's home too.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>
#include "support/build_paths.h"

namespace kba604::test {

struct ChildResult {
  int exit_code = -1;  // the exit status, or 128 + signal number when a signal ended it
  std::string out;     // what the child wrote to stdout
  std::string err;     // what the child wrote to stderr
};

// Runs the program with its arguments (argv[0] is the program path) and waits for it.
ChildResult run_child(const std::vector<std::string>& argv);

// A child that runs while the test goes on: the test watches what it writes to stderr, signals
// it and waits for its end. Its stdout and stderr go to files, so no pipe can fill up and block
// it. A child still running when the object goes is killed and reaped.
class RunningChild {
 public:
  // cwd: the folder the child starts in (empty: the test's own). stdin_fd: what the child reads
  // as its standard input (-1: /dev/null); the caller keeps its own descriptor.
  explicit RunningChild(const std::vector<std::string>& argv, const std::string& cwd = {},
                        int stdin_fd = -1);
  ~RunningChild();
  RunningChild(const RunningChild&) = delete;
  RunningChild& operator=(const RunningChild&) = delete;

  bool started() const { return pid_ > 0; }
  // Whether the child has not ended yet.
  bool running();
  // What the child has written to stderr and to stdout so far.
  std::string err() const;
  std::string out() const;
  // Waits, in short steps, until its stderr holds text; false when the child ended first or
  // timeout_ms passed.
  bool wait_for_err(const std::string& text, int timeout_ms);
  // Sends a signal; false when the child has ended.
  bool signal(int number);
  // Waits for the end; a child still running after timeout_ms is killed (exit code 128 + 9).
  ChildResult wait(int timeout_ms);

 private:
  bool reap(bool block);

  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = 0;
  std::string out_name_;
  std::string err_name_;
};

// The kba604 program of this build.
std::string kba604_program();
// The kba604-sim program of this build.
std::string kba604_sim_program();

}  // namespace kba604::test
