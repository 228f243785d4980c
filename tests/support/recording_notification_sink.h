// A notification sink for tests: records what the workers announced.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/notifications.h"

namespace kba604::test {

class RecordingNotificationSink final : public NotificationSink {
 public:
  void value_polled(std::uint32_t key, std::string_view value) override {
    std::lock_guard lock(mutex_);
    polled_.emplace_back(key, std::string(value));
  }
  void views_changed() override {
    std::lock_guard lock(mutex_);
    ++views_changed_;
  }
  void command_finished(int command) override {
    std::lock_guard lock(mutex_);
    finished_.push_back(command);
  }
  void parameter_changed(std::size_t table_index) override {
    std::lock_guard lock(mutex_);
    changed_.push_back(table_index);
  }
  // The table positions announced by parameter_changed, in order.
  std::vector<std::size_t> changed_parameters() const {
    std::lock_guard lock(mutex_);
    return changed_;
  }

  std::vector<std::pair<std::uint32_t, std::string>> polled() const {
    std::lock_guard lock(mutex_);
    return polled_;
  }
  int views_changed_count() const {
    std::lock_guard lock(mutex_);
    return views_changed_;
  }
  std::vector<int> finished_commands() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<std::uint32_t, std::string>> polled_;
  int views_changed_ = 0;
  std::vector<int> finished_;
  std::vector<std::size_t> changed_;
};

}  // namespace kba604::test
