// The device of this build. The serial line and its request layer are not part of the build
// yet, so the device cannot reach an instrument: opening the port fails as it does for a port
// that does not exist (exit code 201), and a program started without a port works offline
// with its description and configuration files.
#include "app/exit_flags.h"
#include "operations/device_operations.h"
#include "runner/document_handler.h"

namespace kba604 {
namespace {

class NoLineDevice final : public DeviceOperations {
 public:
  explicit NoLineDevice(CKBA604App& app) : DeviceOperations(app), app_(app) {}
  ~NoLineDevice() override { shutdown(); }

 protected:
  int link_transact(Parameter& parameter, int, bool) override {
    parameter.note = "Порт не открыт";
    return 1;
  }
  int link_exchange_attributes(Parameter&, int) override { return 200; }
  bool link_port_open() override { return false; }
  bool link_open_port() override {
    app_.exit_flags.set_bits(ExitFlags::kPortOpenFailed);
    return false;
  }
  void link_close_port() override {}
  platform::Event& link_exit_event() override { return exit_; }
  bool link_max_access() const override { return table().loaded_at_max_access(); }

 private:
  CKBA604App& app_;
  platform::Event exit_{platform::Event::Reset::Manual};
};

}  // namespace

std::unique_ptr<DocumentHandler> make_document_handler() {
  return std::make_unique<ConfiguratorDocument>([](CKBA604App& app, platform::SettingsStore&) {
    auto device = std::make_shared<NoLineDevice>(app);
    device->start_worker(device);
    return DeviceBundle{device, nullptr};
  });
}

}  // namespace kba604
