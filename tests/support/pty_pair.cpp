#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "platform/serial_custom_baud.h"

namespace kba604::test {

PtyPair::PtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
  path_ = name;
  slave_keep_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  stop_responder();
  if (slave_keep_ >= 0) ::close(slave_keep_);
  if (master_ >= 0) ::close(master_);
}

termios PtyPair::settings() const {
  termios t{};
  ::tcgetattr(master_, &t);
  return t;
}

unsigned PtyPair::output_rate() const {
  unsigned rate = 0;
  if (!platform::detail::get_custom_baud(slave_keep_, &rate)) return 0;
  return rate;
}

void PtyPair::write(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      pollfd p{master_, POLLOUT, 0};
      if (::poll(&p, 1, 100) <= 0) return;
    }
  }
}

std::string PtyPair::read(int timeout_ms, char until) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{master_, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
    char buf[256];
    ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) continue;
    got.append(buf, static_cast<std::size_t>(n));
    if (got.find(until) != std::string::npos) break;
  }
  return got;
}

void PtyPair::start_responder(std::function<std::string(const std::string&)> respond,
                              int delay_ms) {
  stop_responder();
  stop_ = false;
  responder_ = std::thread([this, respond = std::move(respond), delay_ms] {
    std::string request;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      // A request without carriage return ends with a pause (long enough for a loaded
      // machine that sends one character at a time).
      const int ready = ::poll(&p, 1, request.empty() ? 20 : 30);
      if (ready > 0 && (p.revents & POLLIN)) {
        char buf[256];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) request.append(buf, static_cast<std::size_t>(n));
        if (request.find('\r') == std::string::npos) continue;
      } else if (ready > 0) {
        // Nobody has the terminal open: wait for the program to open it again.
        ::usleep(2000);
        continue;
      } else if (request.empty()) {
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      std::string answer = respond(request);
      request.clear();
      if (delay_ms > 0) ::usleep(static_cast<useconds_t>(delay_ms) * 1000);
      if (!answer.empty()) write(answer);
    }
  });
}

void PtyPair::stop_responder() {
  stop_ = true;
  if (responder_.joinable()) responder_.join();
}

std::vector<std::string> PtyPair::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void PtyPair::vanish() {
  stop_responder();
  if (slave_keep_ >= 0) ::close(slave_keep_);
  slave_keep_ = -1;
  ::close(master_);
  master_ = -1;
}

}  // namespace kba604::test
