#include "runner/document_handler.h"

#include <cstdio>

#include "app/commands.h"
#include "operations/device_operations.h"
#include "platform/paths.h"

namespace kba604 {

ConfiguratorDocument::~ConfiguratorDocument() {
  shutdown();
}

DocumentStart ConfiguratorDocument::construct(RunContext& context) {
  context_ = &context;
  bundle_ = factory_(context.app, context.settings.store());
  DeviceOperations& device = *bundle_.device;
  device.set_view(&context.view);
  device.set_listener(this);

  DocumentServices services{context.app,  context.settings,     context.registration,
                            context.sink, context.program_path, platform::program_directory()};
  document_ = std::make_unique<CKBA604Doc>(services, bundle_.device, bundle_.link.get());
  switch (document_->construct()) {
    case DocumentConstruction::DescriptionRefused:
      return DocumentStart::DescriptionRefused;
    case DocumentConstruction::Refused:
      return DocumentStart::Refused;
    case DocumentConstruction::Ready:
      break;
  }

  // "read" starts from a new configuration: the named file is written, not opened.
  const StartOptions& o = context.app.options;
  const bool read = o.switch_flags.load() & StartOptions::kRead;
  const bool opened = (read || context.file_name.empty())
                          ? document_->OnNewDocument()
                          : document_->OnOpenDocument(context.file_name);
  return opened ? DocumentStart::Ready : DocumentStart::Refused;
}

bool ConfiguratorDocument::start_command(RunContext&, int command) {
  if (!document_) return false;
  if (command == command::kCalibrate) {
    std::fputs("kba604: the calibration wizard is not part of the headless program\n", stderr);
    return false;
  }
  document_->OnCommand(command);
  // A started operation keeps the worker busy until it has told automation_done; one that
  // did not start (no tree, a window that stayed open) leaves the worker idle.
  return bundle_.device->busy();
}

void ConfiguratorDocument::stop() {
  if (bundle_.device) bundle_.device->stop_event().set();
}

void ConfiguratorDocument::shutdown() {
  if (!bundle_.device) return;
  bundle_.device->set_listener(nullptr);
  bundle_.device->shutdown();
  // The document and its trees go before the link whose settings they may show; the link
  // saves the program's port settings as it goes.
  document_.reset();
  bundle_.link.reset();
  bundle_.device->set_view(nullptr);
  bundle_.device.reset();
}

void ConfiguratorDocument::operation_finished(int operation_code) {
  if (context_ == nullptr) return;
  context_->ui.post([this, operation_code] {
    if (!document_) return;
    if (operation_code == operation_code::kCompare) bundle_.device->ReportCompare();
    document_->UpdateAllViews();
  });
}

void ConfiguratorDocument::refresh_views() {
  if (context_ == nullptr) return;
  context_->ui.post([this] {
    if (document_) document_->UpdateAllViews();
  });
}

void ConfiguratorDocument::save_after_read() {
  if (context_ == nullptr) return;
  RunContext& c = *context_;
  // The worker waits until the UI thread has written the file; errors of the save are told on
  // stderr and in the exit code, and the program goes on.
  c.ui.call(
      [this, &c] {
        if (!document_) return;
        if (document_->OnSaveDocument(c.file_name)) {
          std::fprintf(stderr, "kba604: configuration saved to %s\n", c.file_name.c_str());
        } else {
          c.save_failed = true;
        }
      },
      &c.close_requested);
}

void ConfiguratorDocument::automation_done() {
  if (context_ != nullptr) context_->automation_done.set();
}

}  // namespace kba604
