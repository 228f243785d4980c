#include "link/traffic_tap.h"

#include <algorithm>
#include <chrono>

namespace kba604 {

std::int64_t traffic_wall_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TrafficTap::TrafficTap(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void TrafficTap::record(TrafficRecord record) {
  {
    std::lock_guard lock(mutex_);
    record.sequence = seen_++;
    if (queue_.size() >= capacity_) {
      ++dropped_;
      return;
    }
    queue_.push_back(std::move(record));
  }
  ready_.set();
}

std::vector<TrafficRecord> TrafficTap::take() {
  std::lock_guard lock(mutex_);
  ready_.reset();
  std::vector<TrafficRecord> out(std::make_move_iterator(queue_.begin()),
                                 std::make_move_iterator(queue_.end()));
  queue_.clear();
  return out;
}

std::uint64_t TrafficTap::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

std::uint64_t TrafficTap::seen() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

}  // namespace kba604
