// Device: the program's one link object with its operations. It is the request layer
// (DeviceIO: the serial port, the program's network settings, the link lock) and the operation
// engine (DeviceOperations: the parameter table and role slots, the worker and its events, the
// counters, the walks, initialisation and the EEPROM image) in one object, which the
// configuration document owns.
//
//   std::shared_ptr<Device> device = Device::create(app, settings);  // the worker runs
//   device->set_view(&view);
//   device->StartRead(*main_tree);
//   ...
//   device->shutdown();  // before the document lets the device go
#pragma once

#include <memory>

#include "link/device_io.h"
#include "operations/device_operations.h"

namespace kba604 {

class Device final : public DeviceIO, public DeviceOperations {
 public:
  // app and settings must outlive the device; see DeviceIO for the opener.
  Device(CKBA604App& app, platform::SettingsStore& settings, Sio::LineOpener opener = {});
  ~Device() override;

  // A device whose worker runs. Call shutdown() before the last owner lets it go.
  static std::shared_ptr<Device> create(CKBA604App& app, platform::SettingsStore& settings,
                                        Sio::LineOpener opener = {});

 protected:
  int link_transact(Parameter& parameter, int request_bit, bool without_attributes) override;
  int link_exchange_attributes(Parameter& parameter, int request_bit) override;
  bool link_port_open() override;
  bool link_open_port() override;
  void link_close_port() override;
  platform::Event& link_exit_event() override;
  bool link_max_access() const override;
  // The link's maximum-access flag follows the access level the table was loaded at.
  void description_changed() override;
};

}  // namespace kba604
