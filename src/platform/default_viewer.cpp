#include "platform/default_viewer.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

extern char** environ;

namespace kba604::platform {
namespace {

// Waits for the child; EINTR does not end the wait.
int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool run_program(const std::vector<std::string>& argv, bool wait, int* exit_status,
                 std::string* error) {
  if (argv.empty() || argv[0].empty()) {
    if (error != nullptr) *error = "no program to start";
    return false;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
  if (rc != 0) {
    if (error != nullptr)
      *error = argv[0] + ": " + std::error_code(rc, std::generic_category()).message();
    return false;
  }
  if (wait) {
    const int status = wait_for(pid);
    if (exit_status != nullptr) *exit_status = status;
  } else {
    // The viewer may stay open for as long as the user reads: only its exit is collected, so
    // that it does not linger as a zombie of this process.
    std::thread([pid] { wait_for(pid); }).detach();
  }
  return true;
}

std::vector<std::string> default_viewer_command(const std::filesystem::path& file) {
  return {"xdg-open", file.string()};
}

bool open_in_default_viewer(const std::filesystem::path& file, std::string* error) {
  return run_program(default_viewer_command(file), false, nullptr, error);
}

}  // namespace kba604::platform
