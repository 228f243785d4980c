// Events of the program's threads: the stop and exit events, the operation events of the device
// worker, the watchers' events. Built on eventfd, so the same event can take part in a
// wait-for-any and sit in the serial line's poll beside the port descriptor.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>

#include "platform/clock.h"

namespace kba604::platform {

class Event {
 public:
  enum class Reset { Manual, Auto };

  // A manual-reset event stays signalled until reset; an auto-reset event is consumed by the
  // one wait that returns it.
  explicit Event(Reset reset = Reset::Manual, bool initially_set = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  // Whether the event is signalled, without consuming an auto-reset event.
  bool is_set() const;
  // Waits up to timeout_ms (-1 = no limit) under the clock; true when the event was signalled
  // (an auto-reset event is then consumed).
  bool wait(int timeout_ms, Clock& clock = Clock::real());
  // Consumes an auto-reset event that is signalled; for a manual-reset event the same as is_set.
  bool try_take();

  Reset reset_kind() const { return reset_; }
  // Readable while the event is signalled; for poll(2) beside other descriptors.
  int fd() const { return fd_; }

 private:
  int fd_;
  Reset reset_;
  // Counts the sets (an event made set counts one). A waiter that finds the event set reads
  // it, so that what the setting thread wrote before set() is visible to the waiter in the
  // language's terms, not only through the kernel's descriptor (which race detectors do not
  // see for a poll); while it is 0 the event was never set and its descriptor is not asked.
  std::atomic<std::uint64_t> sets_;
  static_assert(std::atomic<std::uint64_t>::is_always_lock_free,
                "set() is called from signal handlers");
};

using EventPtr = std::shared_ptr<Event>;

inline constexpr int kWaitTimeout = -1;

// Waits until one of the events is signalled or timeout_ms passes (-1 = no limit). Returns the
// lowest index of a signalled event, consuming only that event when it is auto-reset, or
// kWaitTimeout. Null entries are ignored.
int wait_any(std::span<Event* const> events, int timeout_ms, Clock& clock = Clock::real());
int wait_any(std::initializer_list<Event*> events, int timeout_ms, Clock& clock = Clock::real());

}  // namespace kba604::platform
