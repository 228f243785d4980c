// Runs code that must refuse a FIFO rather than open it: an open of a FIFO waits for the other
// side, so a fault there would hang the test instead of failing it.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>

namespace kba604::test {

// Runs work and tells whether it came back without waiting on fifo. If it did wait, the FIFO
// gets writers and readers that close at once, until the work gives up; the caller then fails
// instead of hanging.
inline bool returns_without_waiting(const std::filesystem::path& fifo,
                                    const std::function<void()>& work) {
  auto done = std::async(std::launch::async, work);
  if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) return true;
  while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    for (int flags : {O_WRONLY | O_NONBLOCK, O_RDONLY | O_NONBLOCK}) {
      const int fd = ::open(fifo.c_str(), flags);
      if (fd >= 0) ::close(fd);
    }
  }
  return false;
}

}  // namespace kba604::test
