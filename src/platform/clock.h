// Time source of the program. Every timed wait (event waits, the serial line's reply wait,
// pauses between repetitions, the finishing pause of an operation) goes through a Clock, so
// that tests can run with a clock on which time-outs pass at once.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <ctime>

namespace kba604::platform {

// A wall-clock time in milliseconds since the epoch as local calendar time and the
// milliseconds of its second (0..999, also before 1970).
struct LocalTimeMs {
  std::tm tm{};
  int millis = 0;
};
LocalTimeMs local_time_ms(std::int64_t wall_ms);

class Clock {
 public:
  virtual ~Clock() = default;

  // Monotonic time in microseconds since an arbitrary start.
  virtual std::int64_t now_us() const = 0;

  // poll(2) under this clock: waits up to timeout_ms (-1 = no limit) until one of fds is ready.
  // Returns what poll returns: the number of ready descriptors, 0 on time-out, -1 on error.
  virtual int poll(pollfd* fds, nfds_t count, int timeout_ms) = 0;

  // Spins for the given time. Nothing in the program spins any more (the semi-automatic
  // converter's wait sleeps); kept for the clocks that still implement it.
  virtual void busy_wait_us(std::int64_t us) = 0;

  // Sleeps for us microseconds, finer than poll's milliseconds (the wait for the last character
  // of a frame to leave the line). Not interrupted by anything. The default rounds up to whole
  // milliseconds through poll.
  virtual void sleep_us(std::int64_t us) {
    if (us > 0) poll(nullptr, 0, static_cast<int>((us + 999) / 1000));
  }

  // Sleeps for ms milliseconds.
  void sleep_ms(int ms) { poll(nullptr, 0, ms); }
  std::int64_t now_ms() const { return now_us() / 1000; }

  // The process-wide real clock (CLOCK_MONOTONIC).
  static Clock& real();
};

// CLOCK_MONOTONIC and real poll(2).
class RealClock final : public Clock {
 public:
  std::int64_t now_us() const override;
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override;
  void busy_wait_us(std::int64_t us) override;
  void sleep_us(std::int64_t us) override;
};

// A clock for tests: time stands still unless a wait lets it pass. A wait with a time-out
// looks at the descriptors without blocking and, when none is ready, advances the clock by the
// whole time-out and returns 0 at once. A wait without limit blocks for real.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(std::int64_t start_us = 0) : now_(start_us) {}
  std::int64_t now_us() const override;
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override;
  void busy_wait_us(std::int64_t us) override { advance_us(us); }
  void sleep_us(std::int64_t us) override {
    if (us > 0) advance_us(us);
  }
  void advance_us(std::int64_t us);
  void advance_ms(std::int64_t ms) { advance_us(ms * 1000); }

 private:
  std::atomic<std::int64_t> now_;
};

}  // namespace kba604::platform
