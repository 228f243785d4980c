#include "platform/event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <vector>

namespace kba604::platform {

Event::Event(Reset reset, bool initially_set) : reset_(reset), sets_(initially_set ? 1 : 0) {
  fd_ = ::eventfd(initially_set ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

Event::~Event() {
  ::close(fd_);
}

void Event::set() {
  // A manual-reset event keeps a count of at least one; extra sets only raise the count, which
  // one reset clears again.
  sets_.fetch_add(1, std::memory_order_release);
  std::uint64_t one = 1;
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Event::reset() {
  std::uint64_t value;
  while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool Event::is_set() const {
  // An event never set since it was made is not set: no need to ask its descriptor. Threads
  // look at their stop and exit events between every two steps, and most are never set.
  if (sets_.load(std::memory_order_acquire) == 0) return false;
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return false;
  (void)sets_.load(std::memory_order_acquire);
  return true;
}

bool Event::try_take() {
  if (reset_ == Reset::Manual) return is_set();
  if (sets_.load(std::memory_order_acquire) == 0) return false;
  std::uint64_t value;
  for (;;) {
    if (::read(fd_, &value, sizeof value) == sizeof value) {
      (void)sets_.load(std::memory_order_acquire);
      return true;
    }
    if (errno != EINTR) return false;  // EAGAIN: another waiter took it first
  }
}

bool Event::wait(int timeout_ms, Clock& clock) {
  Event* self = this;
  return wait_any(std::span<Event* const>(&self, 1), timeout_ms, clock) == 0;
}

namespace {

// How often a wait whose poll fails looks at its events again.
constexpr int kBrokenPollPauseMs = 50;

}  // namespace

int wait_any(std::span<Event* const> events, int timeout_ms, Clock& clock) {
  std::vector<pollfd> fds;
  std::vector<int> index;
  fds.reserve(events.size());
  for (int i = 0; i < static_cast<int>(events.size()); ++i) {
    if (events[i] == nullptr) continue;
    fds.push_back(pollfd{events[i]->fd(), POLLIN, 0});
    index.push_back(i);
  }
  const std::int64_t deadline =
      timeout_ms < 0 ? 0 : clock.now_us() + static_cast<std::int64_t>(timeout_ms) * 1000;
  for (;;) {
    // Lowest index first: a signalled auto-reset event that another waiter takes first is
    // skipped, and the wait goes on.
    for (std::size_t k = 0; k < fds.size(); ++k) {
      if (events[index[k]]->try_take()) return index[k];
    }
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      std::int64_t left_us = deadline - clock.now_us();
      if (left_us <= 0) return kWaitTimeout;
      wait_ms = static_cast<int>((left_us + 999) / 1000);
    }
    for (auto& p : fds) p.revents = 0;
    const int rc = clock.poll(fds.data(), fds.size(), wait_ms);
    bool broken = rc < 0 && errno != EINTR;
    for (const auto& p : fds) broken = broken || (p.revents & (POLLNVAL | POLLERR)) != 0;
    if (broken) {
      // poll failed, or an event's descriptor is unusable: nothing can wake this wait as it
      // should. It goes on at a slow pace until its time is up (or for good, without a limit)
      // rather than spinning, and a signalled event is still taken at every round.
      int pause_ms = kBrokenPollPauseMs;
      if (timeout_ms >= 0) {
        const std::int64_t left_us = deadline - clock.now_us();
        if (left_us <= 0) return kWaitTimeout;
        pause_ms = static_cast<int>(std::min<std::int64_t>(pause_ms, (left_us + 999) / 1000));
      }
      clock.sleep_ms(pause_ms);
    }
  }
}

int wait_any(std::initializer_list<Event*> events, int timeout_ms, Clock& clock) {
  return wait_any(std::span<Event* const>(events.begin(), events.size()), timeout_ms, clock);
}

}  // namespace kba604::platform
