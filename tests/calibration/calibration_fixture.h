// The calibration wizard against the virtual instrument: a device on its line with the shipped
// description, the wizard's link to it with a record of every command and failures on demand,
// and a clock for the wizard's waits that passes them at once and can stop one.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "calibration/calibration_link.h"
#include "calibration/calibration_selection.h"
#include "calibration/calibration_steps.h"
#include "link/frame_codec.h"
#include "operations/device_on_line.h"
#include "platform/settings_store.h"
#include "support/recording_calibration_link.h"
#include "support/recording_prompter.h"
#include "support/virtual_instrument.h"

namespace kba604::test {

using calibration::Bytes;
using calibration::Exchange;

class CalibrationOnInstrument : public ::testing::Test {
 protected:
  void TearDown() override { stop_device(); }
  // Lets the device go, trees first; the instrument stays.
  void stop_device() {
    if (!device) return;
    link.reset();
    device_link.reset();
    device->forget_description();
    device->shutdown();
    load = DescriptionLoad{};
    device.reset();
  }
  void start(std::vector<std::string> sim_args = {}) {
    stop_device();
    sim = std::make_unique<VirtualInstrument>(std::move(sim_args));
    settings.set_value("Ports/COM1", sim->path());
    device = Device::create(app, settings);
    device->sio().set_converter_automatic(1);
    load = load_shipped_description(*device, prompter);
    ASSERT_TRUE(load.main_tree);
    device_link = std::make_unique<calibration::DeviceCalibrationLink>(*device);
    link = std::make_unique<RecordingLink>(*device_link);
  }
  std::unique_ptr<calibration::CalibrationSteps> steps(calibration::StepsStart s) {
    return std::make_unique<calibration::CalibrationSteps>(*link, prompter, clock, std::move(s));
  }
  std::unique_ptr<calibration::CalibrationSelection> selection(int access_level = 2,
                                                               int modification = 0) {
    return std::make_unique<calibration::CalibrationSelection>(*link, prompter, wrong_codes,
                                                               access_level, modification);
  }
  // The sensor code the instrument holds in "in-t" of an input.
  int instrument_sensor(int input) {
    auto bytes = sim->with([&](sim::Instrument& i) { return i.value("in-t", input); });
    return bytes && !bytes->empty() ? bytes->back() : -1;
  }
  void set_instrument_sensor(int input, int code) {
    Parameter* p = device->table().device_slot(105, input);
    ASSERT_NE(p, nullptr);
    p->value = p->parsed_format().items.at(static_cast<std::size_t>(code));
    ASSERT_EQ(device->transact_parameter(nullptr, p, 0, false), kRequestOk);
  }
  std::map<std::string, std::vector<float>> stored() {
    return sim->with([](sim::Instrument& i) { return i.calibration().stored(); });
  }

  std::unique_ptr<VirtualInstrument> sim;
  RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  std::shared_ptr<Device> device;
  DescriptionLoad load;
  std::unique_ptr<calibration::DeviceCalibrationLink> device_link;
  std::unique_ptr<RecordingLink> link;
  WaitClock clock;
  calibration::WrongCodeCount wrong_codes;
};

}  // namespace kba604::test
