// Running the program (or any other) as a child process in a test: argument vector, no shell,
// the child's stderr and stdout captured. The environment is the test's, so a TestHome made
// before the call is the child's home too.
#pragma once

#include <string>
#include <vector>

namespace kba604::test {

struct ChildResult {
  int exit_code = -1;  // the exit status, or 128 + signal number when a signal ended it
  std::string out;     // what the child wrote to stdout
  std::string err;     // what the child wrote to stderr
};

// Runs the program with its arguments (argv[0] is the program path) and waits for it.
ChildResult run_child(const std::vector<std::string>& argv);

// The kba604 program of this build.
std::string kba604_program();

}  // namespace kba604::test
