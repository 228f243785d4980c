// The state a calibration dialog shows: changed on the thread that runs the exchanges, read
// by the UI thread. Every change runs under the lock, counts a revision (the front end redraws
// when it moves on) and then tells the listener, outside the lock, on the changing thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>

namespace kba604::calibration {

class ListenedState {
 public:
  // Changes whenever the state changes (the front end refreshes on a change).
  std::uint64_t revision() const { return revision_.load(); }
  // Called after every change, on the thread that made it.
  void set_listener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
  }

 protected:
  template <class F>
  void update(F&& change) {
    std::function<void()> listener;
    {
      std::lock_guard lock(mutex_);
      change();
      ++revision_;
      listener = listener_;
    }
    if (listener) listener();
  }
  // A copy of one field, taken under the lock.
  template <class T>
  T locked(const T& field) const {
    std::lock_guard lock(mutex_);
    return field;
  }

  mutable std::mutex mutex_;  // guards the fields the UI thread reads

 private:
  std::function<void()> listener_;
  std::atomic<std::uint64_t> revision_{0};
};

}  // namespace kba604::calibration
