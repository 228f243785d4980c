// kba604: the KBA604 configurator. With a display it opens its main window; without one, or
// with the switch "headless", it is its headless runner: it does what its switches ask and ends
// with an exit code. Either way the start-up, the automation and the exit codes are the same.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/notifications.h"
#include "app/operation_view.h"
#include "app/prompter.h"
#include "platform/display_check.h"
#include "platform/ini_settings_store.h"
#include "runner/document_handler.h"
#include "runner/runner.h"

#if KBA604_WITH_UI
#include <QApplication>

#include "app/translatable.h"
#include "ui/translation.h"
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

// Whether the switches ask for the program without its window.
bool headless_asked(const std::vector<std::string>& params) {
  kba604::StartOptions options;
  kba604::CmyCommandLineInfo info(options);
  info.parse(params);
  return options.headless();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kba604;
  std::vector<std::string> params(argv + 1, argv + argc);
#if KBA604_WITH_UI
  // The window and --help speak English when the locale asks for it; a run's messages on
  // stderr stay as they are.
  const bool english = english_locale_from_environment();
  if (english && !use_english(true)) {
    std::fputs("kba604: английский перевод не загружен, тексты остаются русскими\n", stderr);
  }
#endif
  // Tool modes come before the program's own switches are looked at.
  if (std::optional<int> code = run_tool_switch(params)) return *code;

#if KBA604_WITH_UI
  if (!headless_asked(params)) {
    // Checked before the application object exists: Qt ends the process when its platform
    // cannot reach the display.
    const platform::DisplayCheck display = platform::check_display();
    if (display.available) {
      QApplication application(argc, argv);
      QApplication::setApplicationName(QStringLiteral("KBA604"));
      QApplication::setQuitOnLastWindowClosed(false);
      // Also when Russian: Qt's own buttons and dialogs then speak Russian too.
      use_english(english);
      return run_window_program(params);
    }
    if (!display.note.empty()) std::fprintf(stderr, "kba604: %s\n", display.note.c_str());
  }
#else
  (void)headless_asked;
#endif
  return run_headless(params);
}
