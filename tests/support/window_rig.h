// The program as the start-up builds it for the window. SilentWindowRig starts without a port
// ("/silent"): the document over a test home and the main window over it; a test that needs
// more of the start-up (a message window, a connection search) does it in before_construct.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/start_rules.h"
#include "files/kba604_doc.h"
#include "platform/ini_settings_store.h"
#include "runner/document_handler.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "ui/main_window.h"
#include "ui/qt_services.h"
#include "ui/window_program.h"

namespace kba604::test {

// What the start-up makes before the document: the program's services and their settings
// over a test home, and the run context that joins them.
struct ProgramParts {
  // own_home: a private home of its own; otherwise the one the test has made (to start the
  // program again in the same home).
  explicit ProgramParts(bool own_home = true)
      : home(own_home ? std::make_unique<TestHome>() : nullptr) {}

  // Reads the switches as the start-up does, with its rules for them.
  void parse_switches(const std::vector<std::string>& params) {
    app.options.clear();
    CmyCommandLineInfo info(app.options);
    info.parse(params);
    apply_no_port_rule(app.options);
    apply_start_modes(app.options, app.modes);
  }

  std::unique_ptr<TestHome> home;
  RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore store, registration;
  std::unique_ptr<platform::IniSettingsStore> profile = open_window_profile();
  ProgramSettings settings{store};
  StatusOperationView view;
  QtNotificationSink sink;
  UiQueue ui;
  platform::Event close_requested{platform::Event::Reset::Manual};
  platform::Event automation_done{platform::Event::Reset::Manual};
  RunContext context{app,      settings,        registration,    view, sink, "", "",
                     "kba604", close_requested, automation_done, ui};
};

struct SilentWindowRig : ProgramParts {
  explicit SilentWindowRig(
      const std::function<void(ConfiguratorDocument&)>& before_construct = nullptr) {
    parse_switches({"/silent"});
    handler = make_document_handler();
    auto* h = static_cast<ConfiguratorDocument*>(handler.get());
    if (before_construct) before_construct(*h);
    start = handler->construct(context);
    if (start != DocumentStart::Ready) return;
    MainWindow::Services s{app, *handler->document(), settings, *profile, h->program_settings(), {},
                           true};
    window = std::make_unique<MainWindow>(std::move(s), view, sink);
  }
  ~SilentWindowRig() {
    window.reset();
    if (handler) handler->shutdown();
  }
  SilentWindowRig(const SilentWindowRig&) = delete;
  SilentWindowRig& operator=(const SilentWindowRig&) = delete;

  std::unique_ptr<DocumentHandler> handler;
  DocumentStart start = DocumentStart::Refused;
  std::unique_ptr<MainWindow> window;
};

}  // namespace kba604::test
