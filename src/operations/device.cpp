#include "operations/device.h"

#include "model/talv_codec.h"

namespace kba604 {

Device::Device(CKBA604App& app, platform::SettingsStore& settings, Sio::LineOpener opener)
    : DeviceIO(app, settings, std::move(opener)), DeviceOperations(app) {}

Device::~Device() = default;

std::shared_ptr<Device> Device::create(CKBA604App& app, platform::SettingsStore& settings,
                                       Sio::LineOpener opener) {
  auto device = std::make_shared<Device>(app, settings, std::move(opener));
  device->start_worker(device);
  return device;
}

int Device::link_transact(Parameter& parameter, int request_bit, bool without_attributes) {
  return transact_parameter(nullptr, &parameter, request_bit, false, without_attributes);
}

int Device::link_exchange_attributes(Parameter& parameter, int request_bit) {
  bool editable = parameter.editable;
  bool factory = parameter.factory;
  std::string error;
  ExchangeOutcome outcome;
  const int result =
      exchange_attributes(request_bit, &editable, hash_name(parameter.short_name),
                          parameter.indexed, parameter.linear_index, &factory, &error, &outcome);
  ValueWriteLock lock(parameter);
  if (result == 0) {
    parameter.editable = editable;
    parameter.factory = factory;
  } else {
    parameter.note = error;
    parameter.outcome = outcome;
  }
  return result;
}

bool Device::link_port_open() {
  return sio().is_open();
}

bool Device::link_open_port() {
  return sio().open_port() == 0;
}

void Device::link_close_port() {
  sio().close_port();
}

platform::Event& Device::link_exit_event() {
  return sio().exit_event();
}

bool Device::link_max_access() const {
  return max_access();
}

void Device::description_changed() {
  set_max_access(table().loaded_at_max_access());
}

}  // namespace kba604
