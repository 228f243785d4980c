#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/paths.h"

namespace kba604::platform {

std::filesystem::path InstanceLock::lock_path(std::string_view name) {
  return runtime_dir() / (std::string(name) + "-" + std::to_string(::getuid()) + ".lock");
}

InstanceLock::InstanceLock(std::string_view name) : path_(lock_path(name)) {
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    error_ = path_.string() + ": " + std::strerror(errno);
    return;
  }
  int rc;
  do {
    rc = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    state_ = State::Held;
    return;
  }
  if (errno == EWOULDBLOCK) {
    state_ = State::HeldElsewhere;
  } else {
    error_ = path_.string() + ": " + std::strerror(errno);
  }
  ::close(fd_);
  fd_ = -1;
}

InstanceLock::~InstanceLock() {
  // The file stays: removing it while another process waits to lock it would let two
  // processes hold locks on two different files of the same name.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace kba604::platform
