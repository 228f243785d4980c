// kba604: the KBA604 configurator. Until the window front end exists the program is its
// headless runner: it does what its switches ask and ends with an exit code.
#include <string>
#include <vector>

#include "app/notifications.h"
#include "app/operation_view.h"
#include "app/prompter.h"
#include "platform/ini_settings_store.h"
#include "runner/document_handler.h"
#include "runner/runner.h"

int main(int argc, char** argv) {
  using namespace kba604;
  std::vector<std::string> params(argv + 1, argv + argc);
  // Tool switches come before the program's own switches are looked at.
  if (std::optional<int> code = run_tool_switch(params)) return *code;

  StderrPrompter prompter;
  StderrOperationView view;
  NullNotificationSink sink;
  std::unique_ptr<platform::SettingsStore> settings = platform::open_program_settings();
  std::unique_ptr<platform::SettingsStore> registration = platform::open_registration_settings();
  std::unique_ptr<DocumentHandler> document = make_document_handler();
  RunnerServices services{prompter, view, sink, *settings, *registration, *document};
  return run_program(params, services);
}
