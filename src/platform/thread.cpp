#include "platform/thread.h"

namespace kba604::platform {

Thread::~Thread() {
  join(kDefaultJoinMs);
}

void Thread::start(std::function<void()> body) {
  join(kDefaultJoinMs);
  done_ = std::make_shared<Event>(Event::Reset::Manual);
  // The thread holds its own share of the event, so a detached thread can still set it.
  thread_ = std::thread([done = done_, body = std::move(body)] {
    struct SetOnExit {
      Event& e;
      ~SetOnExit() { e.set(); }
    } guard{*done};
    body();
  });
}

bool Thread::join(int timeout_ms, Clock& clock) {
  if (!thread_.joinable()) return true;
  if (done_->wait(timeout_ms, clock)) {
    thread_.join();
    return true;
  }
  thread_.detach();
  return false;
}

}  // namespace kba604::platform
