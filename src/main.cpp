// kba604: the KBA604 configurator. With a display it opens its main window; without one, or
// with the switch "--headless", it is its headless runner: it does what its switches ask and
// ends with an exit code. Either way the start-up, the automation and the exit codes are the
// same.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/notifications.h"
#include "app/operation_view.h"
#include "app/prompter.h"
#include "platform/ini_settings_store.h"
#include "runner/document_handler.h"
#include "runner/runner.h"

#if KBA604_WITH_UI
#include <QApplication>

#include "ui/display_check.h"
#include "ui/window_program.h"
#endif

namespace {

int run_headless(const std::vector<std::string>& params) {
  using namespace kba604;
  StderrPrompter prompter;
  StderrOperationView view;
  NullNotificationSink sink;
  std::unique_ptr<platform::SettingsStore> settings = platform::open_program_settings();
  std::unique_ptr<platform::SettingsStore> registration = platform::open_registration_settings();
  std::unique_ptr<DocumentHandler> document = make_document_handler();
  RunnerServices services{prompter, view, sink, *settings, *registration, *document};
  return run_program(params, services);
}

// "--headless" only chooses how the program shows its work; it is taken out before the
// program's own switches are read.
bool take_headless(std::vector<std::string>& params) {
  auto it = std::find(params.begin(), params.end(), "--headless");
  if (it == params.end()) return false;
  params.erase(std::remove(params.begin(), params.end(), "--headless"), params.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kba604;
  std::vector<std::string> params(argv + 1, argv + argc);
  // Tool switches come before the program's own switches are looked at.
  if (std::optional<int> code = run_tool_switch(params)) return *code;
  const bool headless = take_headless(params);
  // "--check-display": whether this program would open its window here (0) or run headless (1).
  if (params.size() == 1 && params[0] == "--check-display") {
#if KBA604_WITH_UI
    const DisplayCheck display = check_display();
    if (!display.note.empty()) std::fprintf(stderr, "kba604: %s\n", display.note.c_str());
    return display.available ? 0 : 1;
#else
    return 1;
#endif
  }

#if KBA604_WITH_UI
  if (!headless) {
    const DisplayCheck display = check_display();
    if (display.available) {
      QApplication application(argc, argv);
      QApplication::setApplicationName(QStringLiteral("KBA604"));
      QApplication::setQuitOnLastWindowClosed(false);
      return run_window_program(params);
    }
    if (!display.note.empty()) std::fprintf(stderr, "kba604: %s\n", display.note.c_str());
  }
#else
  (void)headless;
#endif
  return run_headless(params);
}
