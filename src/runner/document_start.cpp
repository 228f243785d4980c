// The device of this build: the program's one link object with its operation engine, and the
// document's view of its link (the program's port settings, reopening the port, the checks of
// the instrument).
#include <memory>

#include "operations/connection_check.h"
#include "operations/device.h"
#include "operations/network_commands.h"
#include "runner/document_handler.h"

namespace kba604 {
namespace {

class DeviceLink final : public DocumentLink {
 public:
  explicit DeviceLink(std::shared_ptr<Device> device) : device_(std::move(device)) {
    // The document exists from here to the program's end.
    device_->set_document_open(true);
  }
  ~DeviceLink() override {
    device_->set_document_open(false);
    // The settings in use are kept already; saving them once more at the end keeps whatever
    // the person changed without reopening the port.
    device_->program_settings().save();
  }

  Elements::InvisibleElement& program_settings() override { return device_->program_settings(); }
  int reopen_port(bool show_message) override { return device_->reopen_port(show_message); }
  // The device's stop event (set when the program is told to end) cuts the check short.
  bool connection_check() override { return ConnectionCheck(*device_, &device_->stop_event()); }
  void check_device_and_show() override { check_device(*device_, nullptr, true); }
  void send_prtl(const Parameter* prot) override { kba604::send_prtl(*device_, prot); }

 private:
  std::shared_ptr<Device> device_;
};

}  // namespace

std::unique_ptr<DocumentHandler> make_document_handler() {
  return std::make_unique<ConfiguratorDocument>(
      [](CKBA604App& app, platform::SettingsStore& settings) {
        std::shared_ptr<Device> device = Device::create(app, settings);
        return DeviceBundle{device, std::make_unique<DeviceLink>(device), device.get()};
      });
}

}  // namespace kba604
