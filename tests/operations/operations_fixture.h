// A device over the in-memory instrument with a recording view and prompter and a clock that
// lets time-outs and pauses pass at once.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "operations/device_commands.h"
#include "support/fake_link_device.h"
#include "support/recording_notification_sink.h"
#include "support/recording_operation_view.h"
#include "support/recording_prompter.h"

namespace kba604::test {

class OperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device = FakeLinkDevice::create(app);
    device->set_view(&view);
  }
  void TearDown() override { device->shutdown(); }

  // A table of count parameters named "p0", "p1", ... with the value "1" in the configuration.
  void make_table(std::size_t count) {
    device->table().reset(count, "parameters.zip");
    for (std::size_t i = 0; i < count; ++i) {
      Parameter& p = device->table()[i];
      p.short_name = "p" + std::to_string(i);
      p.title = "Параметр " + std::to_string(i);
      p.format = "DEC_dot";
      p.value = "1";
    }
  }
  Parameter& param(std::size_t i) { return device->table()[i]; }
  // The document's commands over the whole instrument, on this device.
  DeviceCommands& commands() {
    if (!commands_) commands_ = std::make_unique<DeviceCommands>(app, device, sink);
    return *commands_;
  }
  // Describes a parameter of the table.
  Parameter& define(std::size_t i, const std::string& name, const std::string& value,
                    int index = -1) {
    Parameter& p = param(i);
    p.short_name = name;
    p.value = value;
    p.indexed = index >= 0;
    p.linear_index = index >= 0 ? index : 0;
    return p;
  }
  // Lists the first count parameters of the table in element.
  void list(ObjectWithParameters& element, std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i) element.add(param(i));
  }
  // Runs an operation started by start to its end.
  void run(bool started) {
    ASSERT_TRUE(started);
    ASSERT_TRUE(device->wait_idle(-1));
  }
  std::vector<std::string> log_texts() const {
    std::vector<std::string> texts;
    for (const LogRecord& r : view.log()) texts.push_back(r.text);
    return texts;
  }
  bool logged(const std::string& text) const {
    for (const LogRecord& r : view.log()) {
      if (r.text == text) return true;
    }
    return false;
  }

  platform::ManualClock clock;
  RecordingPrompter prompter;
  CKBA604App app{prompter, clock};
  RecordingOperationView view;
  RecordingNotificationSink sink;
  std::shared_ptr<FakeLinkDevice> device;
  std::unique_ptr<DeviceCommands> commands_;
};

}  // namespace kba604::test
