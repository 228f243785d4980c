// A clock for tests that talk to the virtual instrument over a real line: time runs as it does,
// except that a wait of a second or more (the pause that ends an operation, a polling period)
// does not wait. It looks at its descriptors once and, when none is ready, moves this clock on
// by the whole wait and returns the time-out at once. Replies of the line, which come within
// milliseconds, are waited for as usual.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace kba604::test {

class ShortWaitClock final : public platform::Clock {
 public:
  static constexpr int kLongWaitMs = 1000;

  std::int64_t now_us() const override { return real_.now_us() + skipped_us_.load(); }
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override {
    if (timeout_ms < kLongWaitMs) return real_.poll(fds, count, timeout_ms);
    const int ready = count > 0 ? real_.poll(fds, count, 0) : 0;
    if (ready != 0) return ready;
    skipped_us_.fetch_add(std::int64_t{timeout_ms} * 1000);
    return 0;
  }
  void busy_wait_us(std::int64_t us) override { real_.busy_wait_us(us); }
  // Moves the clock on without waiting (an elapsed time to show).
  void advance_ms(std::int64_t ms) { skipped_us_.fetch_add(ms * 1000); }

 private:
  platform::RealClock real_;
  std::atomic<std::int64_t> skipped_us_{0};
};

}  // namespace kba604::test
