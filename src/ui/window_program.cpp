#include "ui/window_program.h"

#include <QApplication>
#include <QSocketNotifier>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/start_rules.h"
#include "files/kba604_doc.h"
#include "platform/paths.h"
#include "runner/document_handler.h"
#include "ui/device_dialog_wiring.h"
#include "ui/file_hand_over.h"
#include "ui/main_window.h"
#include "ui/message_window.h"
#include "ui/network_dialogs.h"
#include "ui/operation_commands.h"
#include "ui/polling_binding.h"
#include "ui/progress_window.h"
#include "ui/protocol_wiring.h"
#include "ui/qt_services.h"
#include "ui/trend_days.h"

namespace kba604 {

std::unique_ptr<platform::IniSettingsStore> open_window_profile() {
  return std::make_unique<platform::IniSettingsStore>(platform::config_home() / "TALV" /
                                                      "Configurator - KBA604.conf");
}

bool has_switches(const std::vector<std::string>& params) {
  StartOptions options;
  CmyCommandLineInfo info(options);
  info.parse(params);
  return options.any_switch();
}

WindowFrontEnd::WindowFrontEnd(StatusOperationView& view, QtNotificationSink& sink, bool quiet)
    : view_(view), sink_(sink), quiet_(quiet), profile_(open_window_profile()) {}

MainWindow* WindowFrontEnd::window() const {
  return window_.data();
}

WindowFrontEnd::~WindowFrontEnd() {
  delete window_.data();
}

void WindowFrontEnd::document_ready(RunContext& context, DocumentHandler& document) {
  CKBA604Doc* doc = document.document();
  if (doc == nullptr) return;
  MainWindow::Services services{context.app, *doc, context.settings, *profile_, nullptr, {}, false};
  if (auto* handler = dynamic_cast<ConfiguratorDocument*>(&document)) {
    services.program_settings = handler->program_settings();
    services.reopen_port = [handler] { handler->reopen_port(); };
  }
  services.quiet = quiet_;
  auto* window = new MainWindow(std::move(services), view_, sink_);
  window_ = window;
  connect(this, &WindowFrontEnd::release_geometry, window, &MainWindow::release_geometry,
          Qt::QueuedConnection);
  // A second start with a file name hands it to this window.
  auto* hand_over = new FileHandOver(window);
  hand_over->listen();
  connect(hand_over, &FileHandOver::file_received, window, [window](const QString& path) {
    if (!window->isVisible()) window->showNormal();
    window->raise();
    window->activateWindow();
    window->open_document(path);
  });
  window->place(window_placement(context.app.options));
  if (on_window) on_window(*window);
}

void WindowFrontEnd::run_loop(RunContext& context, platform::Event& terminate) {
  if (window_ == nullptr) return;
  QSocketNotifier tasks(context.ui.ready().fd(), QSocketNotifier::Read);
  connect(&tasks, &QSocketNotifier::activated, this, [&context] { context.ui.run_pending(); });
  // The automation's "close", the exit event and a signal close the window without questions.
  auto close_on = [this](platform::Event& event) {
    auto* n = new QSocketNotifier(event.fd(), QSocketNotifier::Read, this);
    connect(n, &QSocketNotifier::activated, this, [this, n] {
      n->setEnabled(false);
      if (window_ != nullptr) window_->close_now();
    });
    return n;
  };
  QSocketNotifier* closing = close_on(context.close_requested);
  QSocketNotifier* terminating = close_on(terminate);
  QEventLoop loop;
  connect(window_.data(), &MainWindow::closed, &loop, &QEventLoop::quit, Qt::QueuedConnection);
  if (!context.close_requested.is_set() && !terminate.is_set()) loop.exec();
  // Work the worker still hands over (a save it waits for) is given up from here on.
  context.close_requested.set();
  delete closing;
  delete terminating;
  delete window_.data();
  context.ui.run_pending();
}

void WindowFrontEnd::automation_ended() {
  emit release_geometry();
}

std::optional<bool> WindowFrontEnd::start_command(RunContext& context, int command) {
  if (command != command::kCalibrate) return std::nullopt;
  if (window_ == nullptr) return false;
  platform::Event* done = &context.automation_done;
  return start_command_line_calibration(*window_, [done] { done->set(); });
}

int run_window_program(const std::vector<std::string>& params) {
  const bool quiet = has_switches(params);
  if (!quiet) {
    StartOptions options;
    CmyCommandLineInfo info(options);
    info.parse(params);
    if (!info.file_name().empty() && hand_over_file(QString::fromStdString(info.file_name()))) {
      return 0;
    }
  }
  QtPrompter prompter;
  prompter.set_quiet(quiet);
  // The instrument's dialogs (and the protocol's export) are opened by a person (from the menu, or the wizard of
  // "calibrate"), who answers their questions: their boxes are shown even after a start with
  // switches.
  QtPrompter dialog_prompter;
  StatusOperationView status;
  // Started with switches, the operations' log also goes to standard error, as without a window.
  StderrOperationView echo;
  // The operations show in the progress window, and in the status bar as well.
  ProgressOperationView view(platform::Clock::real(), &status);
  if (quiet) view.set_echo(&echo);
  QtNotificationSink sink;
  WindowFrontEnd front_end(status, sink, quiet);
  std::unique_ptr<platform::SettingsStore> settings = platform::open_program_settings();
  std::unique_ptr<platform::SettingsStore> registration = platform::open_registration_settings();
  // Made before the document, which shows its loading in it, and gone after it.
  MessageWindow message(starts_hidden(params));
  std::unique_ptr<DocumentHandler> document = make_document_handler();
  auto* configurator = dynamic_cast<ConfiguratorDocument*>(document.get());
  if (configurator != nullptr) {
    configurator->set_connection_search(connection_search_dialog(prompter, settings.get()));
    configurator->set_message_window([&message](std::string_view text) { message.show_text(text); });
  }
  RunnerServices services{prompter, view, sink, *settings, *registration, *document};
  services.front_end = &front_end;
  front_end.on_window = [&](MainWindow& window) {
    prompter.set_parent(&window);
    dialog_prompter.set_parent(&window);
    wire_device_dialogs(window, dialog_prompter);
    wire_protocol_commands(window, window.document(), dialog_prompter);
    if (configurator != nullptr) wire_window_operations(window, *configurator, view, sink, quiet);
    if (configurator != nullptr) {
      bind_polling(window, *configurator, prompter);
      wire_trend_days(window);
      if (configurator->document() != nullptr) {
        show_file_work(message, window, *configurator->document());
      }
    }
  };
  return run_program(params, services);
}

}  // namespace kba604
