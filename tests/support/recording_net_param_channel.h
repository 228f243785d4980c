// A control channel for tests that records the "!netparam …" announcements of the link.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "link/device_io.h"

namespace kba604::test {

class RecordingNetParamChannel final : public NetParamChannel {
 public:
  void announce(const std::string& line) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace kba604::test
