// The headless program: the start-up sequence of the command line without windows. It parses
// the switches, guards the single instance, prepares "elog" and "exitevent", builds the
// configuration document through a DocumentHandler, runs the command the command line asked
// for and ends with the exit code. Everything it says goes to stderr; stdout belongs to the
// control channel.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"
#include "app/notifications.h"
#include "app/operation_view.h"
#include "app/program_settings.h"
#include "platform/event.h"
#include "platform/settings_store.h"

namespace kba604 {

// What the document and the commands need from the start-up.
struct RunContext {
  CKBA604App& app;
  ProgramSettings& settings;
  platform::SettingsStore& registration;
  OperationView& view;
  NotificationSink& sink;
  // The command-line file name, exactly as typed (relative to the starting folder).
  std::string file_name;
  // The pipe named with "io:pipe:<name>".
  std::string pipe_name;
  // The path of the running program, for the configurator registration.
  std::string program_path;
  // Set when the program is to end: a close request (an external exit event, the control
  // channel's end). Long work waits on it besides its own events.
  platform::Event& close_requested;
};

// What the document's construction ended with.
enum class DocumentStart {
  Ready,               // a document exists; commands may run
  Refused,             // the document refused to open or create a configuration ("test" ends here)
  DescriptionRefused,  // the description files were damaged and refused
  Unavailable,         // this build cannot build a document
};

// The configuration document as the start-up drives it. The document side implements it.
class DocumentHandler {
 public:
  virtual ~DocumentHandler() = default;

  // The document's construction: the device and service elements, the description files of
  // settings.data_directory(), the command-line line settings, the configurator registration
  // (register_configurator with context.registration), the start-up connection check unless
  // the no-port rule holds; then opening the command-line file (none with "read") or a new
  // configuration. With "test" it ends with Refused once the description has loaded.
  virtual DocumentStart construct(RunContext& context) = 0;

  // Runs a command posted by the command line (write all 140, calibrate 32800, read all 139)
  // to its end, including the save after "read". Returns early when close_requested is set.
  virtual void run_command(RunContext& context, int command) = 0;

  // Stops a running exchange at once (the device's stop event): the program is ending.
  virtual void stop() = 0;
};

// The document handler of this build. The document side replaces what this returns.
std::unique_ptr<DocumentHandler> make_document_handler();

// The services the runner reports through; main() passes the headless ones, tests doubles.
struct RunnerServices {
  Prompter& prompter;
  OperationView& view;
  NotificationSink& sink;
  platform::SettingsStore& settings;
  platform::SettingsStore& registration;
  DocumentHandler& document;
  platform::Clock& clock = platform::Clock::real();
};

// Runs the program with its parameters (without the program name); returns the exit code.
int run_program(const std::vector<std::string>& params, RunnerServices& services);

// main's part: "--signal-exitevent NAME" signals the exit event of a running program and
// returns 0, exit_code::kSignalFailed or exit_code::kUsage; nothing for other parameters.
std::optional<int> run_tool_switch(const std::vector<std::string>& params);

}  // namespace kba604
