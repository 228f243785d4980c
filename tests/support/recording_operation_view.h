// An operation view for tests: records every call; the check box and "open" state behave as
// the window's do, and a test can press the button through the control it was given.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/operation_view.h"

namespace kba604::test {

struct LogRecord {
  std::string text;
  LogColour colour;
  bool bold;
  bool italic;
};

class RecordingOperationView final : public OperationView {
 public:
  void open(int operation_code, int total, OperationControl* control) override {
    std::lock_guard lock(mutex_);
    open_ = true;
    codes_.push_back(operation_code);
    total_ = total;
    done_ = errors_ = 0;
    auto_close_ = true;
    button_ = OperationButton::Stop;
    control_ = control;
    log_.clear();
  }
  void set_range(int total) override {
    std::lock_guard lock(mutex_);
    total_ = total;
    done_ = 0;
  }
  void set_counters(int done, int total, int errors) override {
    std::lock_guard lock(mutex_);
    done_ = done;
    total_ = total;
    errors_ = errors;
  }
  void add_log_line(std::string_view text, LogColour colour, bool bold, bool italic) override {
    std::lock_guard lock(mutex_);
    log_.push_back({std::string(text), colour, bold, italic});
  }
  void set_button(OperationButton button) override {
    std::lock_guard lock(mutex_);
    button_ = button;
  }
  bool auto_close() const override {
    std::lock_guard lock(mutex_);
    return auto_close_;
  }
  void set_auto_close(bool ticked) override {
    std::lock_guard lock(mutex_);
    auto_close_ = ticked;
  }
  void close() override {
    std::lock_guard lock(mutex_);
    open_ = false;
    control_ = nullptr;
    ++closes_;
  }
  bool is_open() const override {
    std::lock_guard lock(mutex_);
    return open_;
  }

  // The person presses the button (the control is called outside the view's lock).
  void press_button() {
    OperationControl* c;
    {
      std::lock_guard lock(mutex_);
      c = control_;
    }
    if (c != nullptr) c->button_pressed();
  }

  std::vector<int> opened_codes() const {
    std::lock_guard lock(mutex_);
    return codes_;
  }
  std::vector<LogRecord> log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  int done() const {
    std::lock_guard lock(mutex_);
    return done_;
  }
  int total() const {
    std::lock_guard lock(mutex_);
    return total_;
  }
  int errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
  }
  OperationButton button() const {
    std::lock_guard lock(mutex_);
    return button_;
  }
  int closes() const {
    std::lock_guard lock(mutex_);
    return closes_;
  }

 private:
  mutable std::mutex mutex_;
  bool open_ = false;
  bool auto_close_ = true;
  int total_ = 0, done_ = 0, errors_ = 0, closes_ = 0;
  OperationButton button_ = OperationButton::Stop;
  OperationControl* control_ = nullptr;
  std::vector<int> codes_;
  std::vector<LogRecord> log_;
};

}  // namespace kba604::test
