// The configuration document as the headless program drives it: it builds the device and the
// document, opens the command-line file or a new configuration, starts the command of the
// command line and acts as the main window towards the device's worker (the save after "read",
// the end of the automation, the views after an operation).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "control/channel_commands.h"
#include "files/kba604_doc.h"
#include "link/port_watch.h"
#include "measurement/data_logger.h"
#include "measurement/recording.h"
#include "operations/device.h"
#include "operations/operation_hooks.h"
#include "operations/scanner.h"
#include "platform/thread.h"
#include "runner/runner.h"

namespace kba604 {

class TrafficTrace;

// The device of the program and its link to the instrument.
struct DeviceBundle {
  // The device, its worker started.
  std::shared_ptr<DeviceOperations> device;
  // The program's port settings, the port and the connection check; none when the build has
  // no serial line.
  std::unique_ptr<DocumentLink> link;
  // The request layer, which announces changed port settings on the control channel; none
  // without a serial line.
  DeviceIO* io = nullptr;
};
using DeviceFactory =
    std::function<DeviceBundle(CKBA604App& app, platform::SettingsStore& settings)>;

class ConfiguratorDocument final : public DocumentHandler, public OperationListener {
 public:
  explicit ConfiguratorDocument(DeviceFactory factory) : factory_(std::move(factory)) {}
  ~ConfiguratorDocument() override;

  // DocumentHandler
  DocumentStart construct(RunContext& context) override;
  bool start_command(RunContext& context, int command) override;
  void stop() override;
  void shutdown() override;

  // OperationListener (the worker's thread)
  void operation_finished(int operation_code) override;
  void refresh_views() override;
  void save_after_read() override;
  void automation_done() override;

  CKBA604Doc* document() override { return document_.get(); }
  Scanner* scanner() const { return scanner_.get(); }
  Recording* recording() const { return recording_.get(); }
  // The program's own port settings element; none without a link.
  Elements::InvisibleElement* program_settings() {
    return bundle_.link ? &bundle_.link->program_settings() : nullptr;
  }
  // The connection search of a front end with windows: when the start-up check fails without
  // switches it is asked instead of the headless report; true when the program goes on
  // (connected, or offline chosen), false when the person gave up. Set before construct().
  void set_connection_search(std::function<bool(Device&)> search) {
    connection_search_ = std::move(search);
  }
  // The one-line message window of the description's loading; set before construct().
  void set_message_window(std::function<void(std::string_view)> show) {
    message_window_ = std::move(show);
  }
  // Reopens the port after the program's own port settings changed.
  void reopen_port() {
    if (bundle_.link) bundle_.link->reopen_port(true);
  }

  // How the control channel's "!open" replaces the configuration in a front end with a
  // parameter view (see ChannelCommands::set_document_opener); UI thread, at any time.
  void set_channel_document_opener(std::function<bool(const std::string& path)> open) {
    channel_opener_ = std::move(open);
    if (channel_commands_) channel_commands_->set_document_opener(channel_opener_);
  }

  // Hears the losses and reopenings of the port (a front end's connection indicator), from any
  // thread and under the link lock: it must not wait. Set before construct.
  void set_port_listener(Sio::LossListener listener) { port_listener_ = std::move(listener); }

 private:
  // "record": the data logger on the operational branch, ended by its duration or by stop().
  bool start_logger(RunContext& context);
  void stop_logger();
  // A failed start-up connection check: what failed, the program's port settings and how to
  // mend them, on stderr; with going_on, that the command of the command line runs anyway.
  void report_failed_connection(RunContext& context, bool going_on);

  DeviceFactory factory_;
  std::function<bool(Device&)> connection_search_;
  std::function<void(std::string_view)> message_window_;
  RunContext* context_ = nullptr;
  DeviceBundle bundle_;
  // The device as stop() reaches it from the exit watcher's thread, which may come at any
  // moment of the start-up or of the end.
  std::mutex stoppable_mutex_;
  std::shared_ptr<DeviceOperations> stoppable_;
  // The link as the document sees it: bundle_.link, with the report of a failed start-up check
  // when command-line switches were given.
  std::unique_ptr<DocumentLink> document_link_;
  std::unique_ptr<CKBA604Doc> document_;
  // "trace": every frame of the line into the file the switch names.
  std::shared_ptr<TrafficTrace> trace_;
  // Polling and recording; the scanner exists when the device has a link to read through.
  std::unique_ptr<Scanner> scanner_;
  std::unique_ptr<Recording> recording_;
  std::unique_ptr<DataLogger> logger_;
  // Reopens a lost port when its device comes back; says both on stderr and to port_listener_.
  std::unique_ptr<PortWatch> port_watch_;
  Sio::LossListener port_listener_;
  platform::Event logger_stop_{platform::Event::Reset::Manual};
  platform::Thread logger_thread_;
  // The supervising words of the control channel, while a document exists.
  std::shared_ptr<ChannelCommands> channel_commands_;
  std::function<bool(const std::string&)> channel_opener_;
};

// The document handler of this build, with its device.
std::unique_ptr<DocumentHandler> make_document_handler();

}  // namespace kba604
