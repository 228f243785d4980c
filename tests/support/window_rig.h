// The program as the start-up builds it for the window, without a port ("/silent"): the
// document over a test home and the main window over it. A test that needs more of the
// start-up (a message window, a connection search) does it in before_construct.
#pragma once

#include <functional>
#include <memory>

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

struct SilentWindowRig {
  explicit SilentWindowRig(
      const std::function<void(ConfiguratorDocument&)>& before_construct = nullptr) {
    app.options.clear();
    CmyCommandLineInfo info(app.options);
    info.parse({"/silent"});
    apply_no_port_rule(app.options);
    apply_start_modes(app.options, app.modes);
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

  TestHome home;
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
  std::unique_ptr<DocumentHandler> handler;
  DocumentStart start = DocumentStart::Refused;
  std::unique_ptr<MainWindow> window;
};

}  // namespace kba604::test
