#include "runner/ui_queue.h"

#include <memory>

namespace kba604 {

void UiQueue::post(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(task));
  ready_.set();
}

bool UiQueue::call(std::function<void()> task, platform::Event* give_up) {
  // The event outlives a caller that gave up: the task still holds it when it runs later.
  auto done = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
  post([task = std::move(task), done] {
    task();
    done->set();
  });
  return platform::wait_any({done.get(), give_up}, -1) == 0;
}

void UiQueue::run_pending() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) {
        ready_.reset();
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace kba604
