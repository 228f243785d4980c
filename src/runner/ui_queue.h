// The headless program's message queue: work that must run on the UI thread (saving the
// document after a read, refreshing after an operation) is handed over from the worker and run
// by the runner's loop, as a window's message queue would.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "platform/event.h"

namespace kba604 {

class UiQueue {
 public:
  // Any thread: queues the task and returns at once.
  void post(std::function<void()> task);
  // Any thread but the UI thread: queues the task and waits until it has run, or until
  // give_up (when given) is set, since a loop that has ended never runs it. True when it ran.
  bool call(std::function<void()> task, platform::Event* give_up);
  // UI thread: runs every queued task in order.
  void run_pending();
  // Signalled while tasks wait; the loop waits on it.
  platform::Event& ready() { return ready_; }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  platform::Event ready_{platform::Event::Reset::Manual};
};

}  // namespace kba604
