// Doubles for the calibration wizard: a link that records the commands the wizard sends (from
// whichever thread runs them) and lets chosen ones fail as a dead line would, and a clock for
// the wizard's waits that passes them at once and can stop one.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "calibration/calibration_link.h"
#include "link/frame_codec.h"
#include "platform/clock.h"

namespace kba604::test {

using calibration::Bytes;
using calibration::Exchange;

// Records the commands the wizard sends and lets chosen ones fail as a dead line would.
class RecordingLink final : public calibration::CalibrationLink {
 public:
  struct Sent {
    std::string name;
    Bytes data;
  };

  explicit RecordingLink(calibration::CalibrationLink& inner) : inner_(inner) {}

  Exchange command(std::string_view name, int request_bit, const Bytes& data) override {
    {
      std::lock_guard lock(mutex_);
      sent_.push_back({std::string(name), data});
      if (auto it = replies_.find(std::string(name)); it != replies_.end()) return it->second;
      if (failing(name)) return {false, {}, kTimeoutText};
    }
    return inner_.command(name, request_bit, data);
  }
  Exchange store_command() override {
    {
      std::lock_guard lock(mutex_);
      sent_.push_back({"CLB.P", {}});
      if (failing("CLB.P")) return {false, {}, kTimeoutText};
    }
    return inner_.store_command();
  }
  calibration::SensorType sensor_type(int input, bool read_from_instrument) override {
    {
      std::lock_guard lock(mutex_);
      ++sensor_reads;
      if (failing("in-t")) return {false, {}, {}, kTimeoutText};
    }
    return inner_.sensor_type(input, read_from_instrument);
  }
  std::string write_sensor_type(int input, int code) override {
    {
      std::lock_guard lock(mutex_);
      sent_.push_back(
          {"in-t", {static_cast<std::uint8_t>(code), 0, static_cast<std::uint8_t>(input)}});
      if (failing("in-t write")) return kTimeoutText;
    }
    return inner_.write_sensor_type(input, code);
  }

  // The next `times` exchanges of the command fail ("in-t" reads, "in-t write" writes).
  void fail(const std::string& name, int times) {
    std::lock_guard lock(mutex_);
    failures_[name] = times;
  }
  // The command gets this answer in place of the instrument's.
  void answer(const std::string& name, Exchange reply) {
    std::lock_guard lock(mutex_);
    replies_[name] = std::move(reply);
  }

  std::vector<std::string> names() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const Sent& s : sent_) out.push_back(s.name);
    return out;
  }
  std::vector<Sent> sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  int count(const std::string& name) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const Sent& s : sent_) n += s.name == name ? 1 : 0;
    return n;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    sent_.clear();
  }
  int sensor_reads = 0;  // guarded like the record

 private:
  bool failing(std::string_view name) {
    auto it = failures_.find(std::string(name));
    if (it == failures_.end() || it->second == 0) return false;
    --it->second;
    return true;
  }
  calibration::CalibrationLink& inner_;
  mutable std::mutex mutex_;
  std::vector<Sent> sent_;
  std::map<std::string, int> failures_;
  std::map<std::string, Exchange> replies_;
};

// Passes every wait at once (time moves by the wait) and remembers it; on_wait runs before a
// wait begins, with its number from 0, and may stop it.
class WaitClock final : public platform::Clock {
 public:
  std::int64_t now_us() const override { return inner_.now_us(); }
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override {
    if (timeout_ms > 0) {
      waits.push_back(timeout_ms);
      if (on_wait) on_wait(waits.size() - 1);
    }
    return inner_.poll(fds, count, timeout_ms);
  }
  void busy_wait_us(std::int64_t us) override { inner_.busy_wait_us(us); }

  std::vector<int> waits;
  std::function<void(std::size_t)> on_wait;

 private:
  platform::ManualClock inner_;
};

}  // namespace kba604::test
