#include "runner/document_handler.h"

#include <cstdio>

#include "app/commands.h"
#include "files/protocol_archive.h"
#include "link/device_io.h"
#include "link/traffic_trace.h"
#include "operations/device_operations.h"
#include "platform/paths.h"
#include "platform/port_names.h"

namespace kba604 {
namespace {

// What the exit flags of a failed connection check say happened.
std::string connection_status(const ExitFlags& flags, const std::string& port,
                              const std::string& device) {
  switch (flags.exit_code()) {
    case 201:
      return "порт " + port + " (" + device + ") не открылся (код завершения 201)";
    case 202:
      return "на " + port + " никто не ответил (код завершения 202)";
    case 203:
      return "ответы на " + port +
             " приходят испорченными: неверные настройки порта или потеря начала посылки (код "
             "завершения 203)";
    case 206:
      return "на " + port + " ответил не KBA604 (код завершения 206)";
    default:
      return "ответы на " + port + " не удалось понять";
  }
}

// The link of the device as the document sees it in the headless program. Without switches a
// failed start-up check opens the connection search, which the headless program answers with
// its report; with switches the program goes on with its command, and the report comes from
// here (a program that runs silent opens no port by design and says nothing).
class ReportingLink final : public DocumentLink {
 public:
  ReportingLink(DocumentLink& link, const StartOptions& options, std::function<void()> report)
      : link_(link), options_(options), report_(std::move(report)) {}

  Elements::InvisibleElement& program_settings() override { return link_.program_settings(); }
  int reopen_port(bool show_message) override { return link_.reopen_port(show_message); }
  bool connection_check() override {
    const bool connected = link_.connection_check();
    const bool silent = options_.mode_flags.load() & StartOptions::kSilent;
    if (!connected && options_.any_switch() && !silent) report_();
    return connected;
  }
  void check_device_and_show() override { link_.check_device_and_show(); }
  void send_prtl(const Parameter* prot) override { link_.send_prtl(prot); }

 private:
  DocumentLink& link_;
  const StartOptions& options_;
  std::function<void()> report_;
};

}  // namespace

void ConfiguratorDocument::report_failed_connection(RunContext& context, bool going_on) {
  std::string port = "COM1";
  std::string summary;
  if (bundle_.link) {
    Elements::InvisibleElement& settings = bundle_.link->program_settings();
    port = settings.GetValueByName("Port");
    summary = settings.network_summary();
  }
  const std::string device = platform::port_device(context.settings.store(), port);
  std::string text = "kba604: KBA604 не отвечает при настройках порта программы: " +
                     connection_status(context.app.exit_flags, port, device) + ".\n";
  text += "kba604: настройки порта программы:\n";
  std::size_t begin = 0;
  while (begin < summary.size()) {
    const std::size_t end = summary.find('\n', begin);
    text += "  " + summary.substr(begin, end - begin) + "\n";
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  text +=
      "kba604: задайте верные в командной строке, например \"kba604 /port:3 /bps:19200 "
      "/addr:16\" (программа их запомнит), или значения port_number, baud_rate, address, "
      "address_length, byte_size, parity_scheme и stop_bits в " +
      platform::settings_file().string() +
      "; имя COMn означает устройство, указанное для него в разделе [Ports] этого файла "
      "(COM3=/dev/serial/by-id/...), иначе /dev/ttyS<n-1>.\n";
  if (going_on) {
    text +=
        "kba604: команда командной строки все равно выполняется; ее итог скажет код "
        "завершения.\n";
  }
  std::fputs(text.c_str(), stderr);
}

ConfiguratorDocument::~ConfiguratorDocument() {
  shutdown();
}

DocumentStart ConfiguratorDocument::construct(RunContext& context) {
  context_ = &context;
  bundle_ = factory_(context.app, context.settings.store());
  {
    std::lock_guard lock(stoppable_mutex_);
    stoppable_ = bundle_.device;
  }
  if (bundle_.io != nullptr) bundle_.io->set_control_channel(context.channel);
  // "trace": every frame of the line from the first request of the start-up on.
  if (!context.trace_file.empty()) {
    if (auto io = std::dynamic_pointer_cast<DeviceIO>(bundle_.device)) {
      auto trace = std::make_shared<TrafficTrace>();
      std::string error;
      if (trace->open(context.trace_file, &error)) {
        // Until the description is loaded, the protocol's own commands have their names.
        trace->set_names(traffic_names(ParameterTable()));
        trace->attach(io->sio());
        trace_ = std::move(trace);
      } else {
        std::fprintf(stderr, "kba604: файл трассировки %s не создан: %s\n",
                     context.trace_file.c_str(), error.c_str());
      }
    }
  }
  DeviceOperations& device = *bundle_.device;
  device.set_view(&context.view);
  device.set_listener(this);

  DocumentServices services{context.app,  context.settings,     context.registration,
                            context.sink, context.program_path, platform::program_directory()};
  if (bundle_.link) {
    document_link_ =
        std::make_unique<ReportingLink>(*bundle_.link, context.app.options, [this, &context] {
          if (!context.close_requested.is_set()) report_failed_connection(context, true);
        });
  }
  document_ = std::make_unique<CKBA604Doc>(services, bundle_.device, document_link_.get());
  if (message_window_) document_->set_message_window(message_window_);
  // The connection-search dialog belongs to the window front end; the headless program says
  // what failed and how to mend it, and gives up as the dialog's "Выход" does.
  bool search_given_up = false;
  document_->set_connection_search([this, &context, &search_given_up] {
    // A program told to end meanwhile has nothing to mend.
    if (context.close_requested.is_set()) {
      search_given_up = true;
      return false;
    }
    auto device = std::dynamic_pointer_cast<Device>(bundle_.device);
    if (connection_search_ && device != nullptr) {
      if (connection_search_(*device)) return true;
      search_given_up = true;
      return false;
    }
    report_failed_connection(context, false);
    search_given_up = true;
    return false;
  });
  // The scanner polls through the device's link; the document refuses to be replaced while it
  // polls, and the scanner lets the parameters go before a description does.
  if (auto io = std::dynamic_pointer_cast<DeviceIO>(bundle_.device)) {
    scanner_ = std::make_unique<Scanner>(
        [io](Parameter& p) { return io->transact_parameter(nullptr, &p, 1, false); },
        std::shared_ptr<std::recursive_mutex>(io, &io->link_lock()), context.app.clock());
    document_->set_polling_guard(scanner_.get());
    document_->set_before_release([this] { scanner_->StopScanners(); });
  }
  recording_ = std::make_unique<Recording>(platform::program_directory());
  // The daily change packs the days before it into their monthly archives, as every start does.
  recording_->set_packing_hook(
      [](const std::filesystem::path& folder, const std::string& current) {
        pack_old_day_files(folder, current);
      });
  const DocumentConstruction constructed = document_->construct();
  // The description is loaded now: the trace names the hashes from here on.
  if (trace_) trace_->set_names(traffic_names(document_->table()));
  switch (constructed) {
    case DocumentConstruction::DescriptionRefused:
      return DocumentStart::DescriptionRefused;
    case DocumentConstruction::Refused:
      return search_given_up ? DocumentStart::NoConnection : DocumentStart::Refused;
    case DocumentConstruction::Ready:
      break;
  }

  recording_->start();

  // A port that goes away (an adapter unplugged) is reopened as soon as its device is back;
  // requests and polling then go on by themselves.
  if (auto io = std::dynamic_pointer_cast<DeviceIO>(bundle_.device);
      io && !context.app.options.no_port()) {
    port_watch_ = std::make_unique<PortWatch>(
        io->sio(), context.app.clock(),
        [this, &app = context.app](bool lost, const std::string& text) {
          std::fprintf(
              stderr, "kba604: %s\n",
              (lost ? text + "; программа откроет его снова, когда устройство вернется" : text)
                  .c_str());
          // Open again: the failed opening of the loss no longer stands.
          if (!lost) app.exit_flags.clear_bits(ExitFlags::kPortOpenFailed);
          if (port_listener_) port_listener_(lost, text);
        });
  }

  // "read" starts from a new configuration: the named file is written, not opened.
  const StartOptions& o = context.app.options;
  const bool read = o.switch_flags.load() & StartOptions::kRead;
  const bool opened = (read || context.file_name.empty())
                          ? document_->OnNewDocument()
                          : document_->OnOpenDocument(context.file_name);
  if (!opened && (o.mode_flags.load() & StartOptions::kNewNetParam) && !read) {
    if (document_->net_settings_saved()) return DocumentStart::Finished;
    context.save_failed = document_->save_failed();
  }
  if (!opened) return DocumentStart::Refused;
  if (context.channel != nullptr) {
    UiQueue& ui = context.ui;
    channel_commands_ = attach_channel_commands(
        *context.channel, {context.app, *document_, bundle_.device, bundle_.io,
                           [&ui](std::function<void()> task) { ui.post(std::move(task)); }});
    if (channel_opener_) channel_commands_->set_document_opener(channel_opener_);
  }
  return DocumentStart::Ready;
}

bool ConfiguratorDocument::start_command(RunContext& context, int command) {
  if (!document_) return false;
  // Without a port (port 0) the instrument cannot be reached; the menu greys these commands.
  if ((command == command::kReadAll || command == command::kWriteAll) &&
      context.app.options.no_port()) {
    std::fputs(
        "kba604: последовательный порт не выбран (порт 0): прибор нельзя ни считать, ни "
        "записать\n",
        stderr);
    return false;
  }
  if (command == command::kRecord) return start_logger(context);
  if (command == command::kCalibrate) {
    std::fputs("kba604: мастер калибровки работает только в окне программы\n", stderr);
    return false;
  }
  // A started operation tells automation_done when it ends; one that did not start (no tree,
  // a window that stayed open) has said why.
  document_->OnCommand(command);
  return document_->operation_started();
}

bool ConfiguratorDocument::start_logger(RunContext& context) {
  DescBranch* operational = document_->operational_tree();
  if (context.app.options.no_port()) {
    std::fputs("kba604: последовательный порт не выбран (порт 0): записывать нечего\n", stderr);
    return false;
  }
  if (!scanner_ || operational == nullptr) {
    std::fputs("kba604: в описании прибора нет оперативных параметров для записи\n", stderr);
    return false;
  }
  if (scanner_->StartScanners(operational, &context.app.prompter()) != 0) return false;
  logger_ = std::make_unique<DataLogger>(*scanner_, *recording_, context.app.clock(), stderr);
  std::string error;
  if (!logger_->begin(*operational, context.logger, error)) {
    std::fprintf(stderr, "kba604: %s\n", error.c_str());
    logger_.reset();
    scanner_->StopScanners();
    return false;
  }
  logger_stop_.reset();
  // The logger ends with its duration, or when the program is told to end; its files are then
  // complete, and the end of the command is told as that of any command of the command line.
  logger_thread_.start([this] {
    logger_->wait(logger_stop_);
    logger_->finish();
    if (context_ != nullptr) context_->automation_done.set();
  });
  return true;
}

void ConfiguratorDocument::stop_logger() {
  logger_stop_.set();
  if (logger_thread_.joinable() && !logger_thread_.join(platform::Thread::kDefaultJoinMs)) {
    // A logger stuck in a poll keeps its objects: they are left to it.
    static_cast<void>(logger_.release());
    static_cast<void>(scanner_.release());
    static_cast<void>(recording_.release());
    return;
  }
  logger_.reset();
  if (scanner_) scanner_->StopScanners();
}

void ConfiguratorDocument::stop() {
  logger_stop_.set();
  std::lock_guard lock(stoppable_mutex_);
  if (stoppable_) stoppable_->stop_event().set();
}

void ConfiguratorDocument::shutdown() {
  stop_logger();
  port_watch_.reset();
  // A document kept by a worker that outlives this must not reach the scanner any more.
  if (document_) {
    document_->set_polling_guard(nullptr);
    document_->set_before_release({});
    document_->set_message_window({});
    document_->set_file_progress({});
  }
  if (!bundle_.device) return;
  if (context_ != nullptr && context_->channel != nullptr) {
    detach_channel_commands(*context_->channel, channel_commands_);
  }
  {
    std::lock_guard lock(stoppable_mutex_);
    stoppable_.reset();
  }
  bundle_.device->set_listener(nullptr);
  if (!bundle_.device->shutdown() && document_) {
    // The worker did not end in time and may still walk the description trees: it keeps the
    // document that owns them until it ends (it keeps the device itself alive anyway).
    bundle_.device->keep_while_worker_runs(std::shared_ptr<CKBA604Doc>(std::move(document_)));
  }
  scanner_.reset();
  if (bundle_.io != nullptr) bundle_.io->set_control_channel(nullptr);
  if (trace_) {
    trace_->stop();
    if (!trace_->good()) {
      std::fprintf(stderr, "kba604: файл трассировки %s записан не полностью: %s\n",
                   context_ ? context_->trace_file.c_str() : "", trace_->error().c_str());
    }
  }
  // The document and its trees go before the link whose settings they may show; the link
  // saves the program's port settings as it goes.
  document_.reset();
  document_link_.reset();
  bundle_.link.reset();
  bundle_.device->set_view(nullptr);
  bundle_.device.reset();
}

void ConfiguratorDocument::operation_finished(int operation_code) {
  if (context_ == nullptr) return;
  // The worker calls this before it tells that the command is done, so every operation of the
  // command (a forced re-read restarts the counters) adds its failures here.
  if (!context_->automation_done.is_set()) context_->command_errors += bundle_.device->errors();
  context_->ui.post([this, operation_code] {
    if (!document_) return;
    if (operation_code == operation_code::kCompare) {
      context_->view.after_close([this] {
        if (document_) bundle_.device->ReportCompare();
      });
    }
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
        // A read stopped before its end (a port that would not open, the instrument silent, a
        // signal) or one that got no value at all holds little or nothing of the instrument:
        // the file keeps what it had.
        const DeviceOperations& device = *bundle_.device;
        if (device.operation_stopped() || (device.done() > 0 && device.errors() >= device.done())) {
          std::fprintf(stderr,
                       "kba604: чтение прервано или не дало ни одного значения; файл %s "
                       "оставлен как был\n",
                       c.file_name.c_str());
          c.save_failed = true;
        } else if (document_->OnSaveDocument(c.file_name)) {
          std::fprintf(stderr, "kba604: конфигурация сохранена в %s\n", c.file_name.c_str());
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
