// Threads with a bounded join. A thread that must be stoppable waits on its stop event; the
// owner sets the event and joins with a time limit. Nothing is ever killed: a thread that has
// not ended in time is detached and finishes on its own, so whatever it uses must be held by
// shared ownership (capture shared_ptrs in its function, not references to the owner).
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "platform/clock.h"
#include "platform/event.h"

namespace kba604::platform {

class Thread {
 public:
  Thread() = default;
  // Starts the function at once.
  explicit Thread(std::function<void()> body) { start(std::move(body)); }
  // An unjoined thread gets the default limit (5000 ms) and is detached after it.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  static constexpr int kDefaultJoinMs = 5000;

  // Starts the function; a thread still held is joined first (with the default limit).
  void start(std::function<void()> body);

  // Waits up to timeout_ms (-1 = no limit) under the clock for the thread to end. True when it
  // ended and was joined (or none was running); false when it was detached still running.
  bool join(int timeout_ms, Clock& clock = Clock::real());

  // Whether a started thread has not yet returned from its function.
  bool running() const { return done_ && !done_->is_set(); }
  // Whether a thread is held (started and neither joined nor detached).
  bool joinable() const { return thread_.joinable(); }

 private:
  std::thread thread_;
  std::shared_ptr<Event> done_;
};

}  // namespace kba604::platform
