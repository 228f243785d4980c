// The device on a line: a view that cuts the finishing pause short (it sets the stop event when
// the operation logs the empty line that precedes the pause), so that tests on the real clock
// never wait two seconds, and the shipped description loaded into the device.
#pragma once

#include <gtest/gtest.h>

#include "description/description_loader.h"
#include "operations/device.h"
#include "support/description_files.h"
#include "support/recording_operation_view.h"

namespace kba604::test {

class PauseCutter final : public OperationView {
 public:
  explicit PauseCutter(RecordingOperationView& view) : view_(view) {}
  void attach(DeviceOperations& device) { device_ = &device; }

  void open(int code, int total, OperationControl* control) override {
    view_.open(code, total, control);
  }
  void set_range(int total) override { view_.set_range(total); }
  void set_counters(int done, int total, int errors) override {
    view_.set_counters(done, total, errors);
  }
  void add_log_line(std::string_view text, LogColour colour, bool bold, bool italic) override {
    view_.add_log_line(text, colour, bold, italic);
    if (text.empty() && device_ != nullptr) device_->stop_event().set();
  }
  void set_button(OperationButton button) override { view_.set_button(button); }
  bool auto_close() const override { return view_.auto_close(); }
  void set_auto_close(bool ticked) override { view_.set_auto_close(ticked); }
  void close() override { view_.close(); }
  bool is_open() const override { return view_.is_open(); }

 private:
  RecordingOperationView& view_;
  DeviceOperations* device_ = nullptr;
};

// Loads the shipped description into the device's table; the main tree, or none (a failure is
// reported to the test).
inline DescriptionLoad load_shipped_description(DeviceOperations& device, Prompter& prompter) {
  DescriptionRequest request;
  request.data_folder = shipped_description_folder();
  request.version_text = "1.10";
  DescriptionLoad load = load_description(device.table(), request, &prompter);
  EXPECT_TRUE(load.main_tree) << "the build has no shipped description";
  if (load.main_tree) device.set_tree_root(load.main_tree.get());
  return load;
}

}  // namespace kba604::test
