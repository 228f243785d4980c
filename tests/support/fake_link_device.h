// An operation engine over an instrument kept in memory, for unit tests of the operations
// without a line: the instrument holds a value and the two attributes per parameter (by short
// name and linear index), answers reads and takes writes, and can be told to fail chosen
// requests with the link's results and texts. Every request is written to a transcript:
//   "R n.Ch"        read of a parameter (":index" follows the name when it is indexed)
//   "W n.Ch=3"      write of a value ("W~" when the attributes were suppressed)
//   "A n.Ch 1 0"    attributes sent: editable, factory
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/device_io.h"
#include "link/frame_codec.h"
#include "operations/device_operations.h"
#include "platform/text.h"

namespace kba604::test {

class FakeLinkDevice : public DeviceOperations {
 public:
  struct Cell {
    std::string value;
    bool editable = true;
    bool factory = false;
  };
  // A request that fails with the link's result and outcome; the note gets the outcome's
  // words as the link gives them, or note when one is given.
  struct Failure {
    int result;
    ExchangeOutcome outcome;
    std::string note = {};
  };

  explicit FakeLinkDevice(CKBA604App& app) : DeviceOperations(app) {}
  ~FakeLinkDevice() override = default;

  static std::shared_ptr<FakeLinkDevice> create(CKBA604App& app) {
    auto device = std::make_shared<FakeLinkDevice>(app);
    device->start_worker(device);
    return device;
  }

  // The instrument's side.
  void set(const std::string& name, int index, std::string value, bool editable = true,
           bool factory = false) {
    std::lock_guard lock(mutex_);
    cells_[key(name, index)] = Cell{std::move(value), editable, factory};
  }
  Cell cell(const std::string& name, int index = 0) const {
    std::lock_guard lock(mutex_);
    auto it = cells_.find(key(name, index));
    return it != cells_.end() ? it->second : Cell{};
  }
  // The next requests of this name (any index) fail so; "" fails every request. A failure
  // with result 0 lets its request through.
  void fail_next(const std::string& name, Failure failure, int times = 1) {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < times; ++i) failures_[platform::fold_case(name)].push_back(failure);
  }
  static Failure timeout() { return {1, ExchangeOutcome::of(ExchangeOutcome::Kind::Timeout)}; }
  static Failure bad_reply() {
    return {1, ExchangeOutcome::of(ExchangeOutcome::Kind::EchoMismatch)};
  }
  // Lets one request through.
  static Failure pass() { return {0, {}}; }
  std::vector<std::string> transcript() const {
    std::lock_guard lock(mutex_);
    return transcript_;
  }
  void clear_transcript() {
    std::lock_guard lock(mutex_);
    transcript_.clear();
  }
  // Holds every request until released: the test acts while an operation runs.
  void hold_requests() {
    gate_.reset();
    held_ = true;
  }
  void release_requests() {
    held_ = false;
    gate_.set();
  }
  // Waits until a held request has arrived.
  void wait_for_held_request() { entered_.wait(-1); }
  void set_max_access(bool v) { max_access_ = v; }
  void set_port_fails(bool v) { port_fails_ = v; }
  int port_openings() const { return openings_; }

 protected:
  int link_transact(Parameter& p, int request_bit, bool without_attributes) override {
    if (held_) {
      entered_.set();
      gate_.wait(-1);
    }
    std::lock_guard lock(mutex_);
    ValueWriteLock values(p);
    p.note.clear();
    p.outcome = {};
    std::string name = p.short_name + (p.indexed ? ":" + std::to_string(p.linear_index) : "");
    if (request_bit == 1) {
      transcript_.push_back("R " + name);
    } else {
      transcript_.push_back((without_attributes ? "W~ " : "W ") + name + "=" + p.value);
    }
    if (std::optional<Failure> f = take_failure(p.short_name); f && f->result != 0) {
      p.outcome = f->outcome;
      p.note = !f->note.empty() ? f->note
               : f->outcome.kind == ExchangeOutcome::Kind::EchoMismatch
                   ? raw_exchange_text(kRequestBadEcho)
                   : frame_outcome_text(f->outcome);
      return f->result;
    }
    Cell& c = cells_[key(p.short_name, p.linear_index)];
    const bool attributes = p.attribute_multiplicity > 0 && !without_attributes;
    if (request_bit == 1) {
      p.value = c.value.empty() ? std::string(kNoData) : c.value;
      if (attributes) {
        p.editable = c.editable;
        p.factory = c.factory;
      }
    } else {
      c.value = p.value;
    }
    p.changed = false;
    return 0;
  }
  int link_exchange_attributes(Parameter& p, int request_bit) override {
    std::lock_guard lock(mutex_);
    ValueWriteLock values(p);
    std::string name = p.short_name + (p.indexed ? ":" + std::to_string(p.linear_index) : "");
    Cell& c = cells_[key(p.short_name, p.linear_index)];
    if (request_bit == 0) {
      transcript_.push_back("A " + name + " " + (p.editable ? "1" : "0") + " " +
                            (p.factory ? "1" : "0"));
      c.editable = p.editable;
      c.factory = p.factory;
    } else {
      p.editable = c.editable;
      p.factory = c.factory;
    }
    return 0;
  }
  bool link_port_open() override { return open_; }
  bool link_open_port() override {
    if (port_fails_) return false;
    ++openings_;
    open_ = true;
    return true;
  }
  void link_close_port() override { open_ = false; }
  platform::Event& link_exit_event() override { return exit_; }
  bool link_max_access() const override { return max_access_; }

 private:
  static std::string key(const std::string& name, int index) {
    return platform::fold_case(name) + "#" + std::to_string(index);
  }
  std::optional<Failure> take_failure(const std::string& name) {
    for (const std::string& k : {platform::fold_case(name), std::string()}) {
      auto it = failures_.find(k);
      if (it == failures_.end() || it->second.empty()) continue;
      Failure f = it->second.front();
      it->second.pop_front();
      return f;
    }
    return std::nullopt;
  }

  mutable std::mutex mutex_;
  std::map<std::string, Cell> cells_;
  std::map<std::string, std::deque<Failure>> failures_;
  std::vector<std::string> transcript_;
  platform::Event exit_{platform::Event::Reset::Manual};
  std::atomic<bool> max_access_{true};
  std::atomic<bool> held_{false};
  platform::Event gate_{platform::Event::Reset::Manual, true};
  platform::Event entered_{platform::Event::Reset::Manual};
  std::atomic<bool> port_fails_{false};
  std::atomic<bool> open_{false};
  std::atomic<int> openings_{0};
};

}  // namespace kba604::test
