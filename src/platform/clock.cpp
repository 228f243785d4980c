#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace kba604::platform {

Clock& Clock::real() {
  // Never destroyed: a worker left running after a bounded join may still wait on it while
  // the program's static objects are being destroyed at exit.
  static RealClock* const clock = new RealClock;
  return *clock;
}

std::int64_t RealClock::now_us() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int RealClock::poll(pollfd* fds, nfds_t count, int timeout_ms) {
  if (timeout_ms < 0) {
    for (;;) {
      int rc = ::poll(fds, count, -1);
      if (rc >= 0 || errno != EINTR) return rc;
    }
  }
  // Keep the deadline across EINTR so that a signal does not stretch the wait.
  const std::int64_t deadline = now_us() + static_cast<std::int64_t>(timeout_ms) * 1000;
  for (;;) {
    std::int64_t left_us = deadline - now_us();
    int left_ms = left_us <= 0 ? 0 : static_cast<int>((left_us + 999) / 1000);
    int rc = ::poll(fds, count, left_ms);
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

void RealClock::busy_wait_us(std::int64_t us) {
  const std::int64_t end = now_us() + us;
  while (now_us() < end) {
  }
}

void RealClock::sleep_us(std::int64_t us) {
  if (us <= 0) return;
  // An absolute end, so that a signal does not stretch the sleep.
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  const std::int64_t ns = end.tv_nsec + us * 1000;
  end.tv_sec += static_cast<time_t>(ns / 1000000000);
  end.tv_nsec = static_cast<long>(ns % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
  }
}

std::int64_t ManualClock::now_us() const {
  return now_.load();
}

void ManualClock::advance_us(std::int64_t us) {
  now_.fetch_add(us);
}

int ManualClock::poll(pollfd* fds, nfds_t count, int timeout_ms) {
  if (timeout_ms < 0) return Clock::real().poll(fds, count, -1);
  int rc = ::poll(fds, count, 0);
  if (rc == 0 && timeout_ms > 0) advance_ms(timeout_ms);
  return rc;
}

LocalTimeMs local_time_ms(std::int64_t wall_ms) {
  std::int64_t seconds = wall_ms / 1000;
  std::int64_t millis = wall_ms % 1000;
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  LocalTimeMs out;
  const auto t = static_cast<std::time_t>(seconds);
  localtime_r(&t, &out.tm);
  out.millis = static_cast<int>(millis);
  return out;
}

}  // namespace kba604::platform
