// The single-instance guard "mutexKBA604": an flock on a lock file named after it and the user
// id, in $XDG_RUNTIME_DIR (else the temp folder). The lock goes with the process: it is
// released when the process ends however it ends, and the file is opened O_CLOEXEC so that a
// program we start does not inherit it. Only a lock that another process holds means "already
// running"; a lock file that cannot be opened does not keep the program from starting.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kba604::platform {

inline constexpr std::string_view kInstanceLockName = "mutexKBA604";

class InstanceLock {
 public:
  enum class State {
    Held,           // we hold the lock
    HeldElsewhere,  // another process holds it: the program is already running
    Unavailable,    // the lock file could not be opened or locked; see error()
  };

  // Tries to take the lock without waiting.
  explicit InstanceLock(std::string_view name = kInstanceLockName);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  State state() const { return state_; }
  bool already_running() const { return state_ == State::HeldElsewhere; }
  const std::string& error() const { return error_; }
  const std::filesystem::path& path() const { return path_; }

  // The lock file for a name: <runtime dir>/<name>-<uid>.lock.
  static std::filesystem::path lock_path(std::string_view name);

 private:
  int fd_ = -1;
  State state_ = State::Unavailable;
  std::filesystem::path path_;
  std::string error_;
};

}  // namespace kba604::platform
