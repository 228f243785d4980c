// Reports of a task thread to a window: the thread hands a function to the relay, which queues
// it to the window's thread, or drops it once the window has gone. Closing the relay waits for a
// report being handed over at that moment, so a report never reaches a window being destroyed.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

namespace kba604::ui {

class TaskRelay {
 public:
  explicit TaskRelay(QObject* target) : target_(target) {}

  // Any thread: run f on the target's thread, unless the relay is closed.
  void post(std::function<void()> f) {
    std::lock_guard lock(mutex_);
    if (target_ == nullptr) return;
    QMetaObject::invokeMethod(target_, std::move(f), Qt::QueuedConnection);
  }
  // The target's thread, before the target goes.
  void close() {
    std::lock_guard lock(mutex_);
    target_ = nullptr;
  }

 private:
  std::mutex mutex_;
  QObject* target_;
};

}  // namespace kba604::ui
