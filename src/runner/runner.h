// The headless program: the start-up sequence of the command line without windows. It parses
// the switches, guards the single instance, prepares "elog" and "exitevent", builds the
// configuration document through a DocumentHandler, starts the command the command line asked
// for and then lives as the program would: the automation watcher ends it after the command
// when "close" was given, the exit watcher on the exit event (205), and SIGTERM or SIGINT end
// it too; it then stops its threads, saves its settings and returns the exit code. Everything
// it says goes to stderr; stdout belongs to the control channel.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"
#include "app/notifications.h"
#include "app/operation_view.h"
#include "app/program_settings.h"
#include "measurement/data_logger.h"
#include "control/net_config.h"
#include "platform/event.h"
#include "platform/settings_store.h"
#include "runner/ui_queue.h"

namespace kba604 {
class CKBA604Doc;
}

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
  // Set when the program is to end: "close" after the command, the external exit event, a
  // signal. Long work waits on it besides its own events.
  platform::Event& close_requested;
  // AutomationDoneEvent: whoever finishes the command posted at start sets it.
  platform::Event& automation_done;
  // The UI thread's queue: the worker hands the save after "read" over to it.
  UiQueue& ui;
  // Set by the document when the save after "read" or of "newnetparam" failed; the program
  // then does not report success.
  bool save_failed = false;
  // What "record" polls, for how long and into which CSV file.
  LoggerSettings logger{};
  // "trace": the file that gets a line for every frame on the line; empty for none.
  std::string trace_file{};
  // Parameters the command of the command line failed to read or write, over its operation and
  // the re-read that may follow it; counted by the worker until AutomationDoneEvent is set.
  std::atomic<int> command_errors{0};
  // The control channel the "io" switch opened, or none.
  NetConfig::CConnection* channel = nullptr;
};

// What the document's construction ended with.
enum class DocumentStart {
  Ready,               // a document exists; commands may run
  Refused,             // the document refused to open or create a configuration: "test",
                       // "write" with a missing file, a file that could not be opened, a file
                       // "newnetparam" could not write (context.save_failed tells)
  Finished,            // "newnetparam" wrote its file: the start-up has done what it was for
  DescriptionRefused,  // the description files were damaged and refused
  NoConnection,        // started without switches, no KBA604 answered the connection check and
                       // nobody can search for it: the program ends as after "Выход"
};

// The configuration document as the start-up drives it.
class DocumentHandler {
 public:
  virtual ~DocumentHandler() = default;

  // The document's construction (device, service element, description, line settings,
  // registration, connection check, "test"), then opening the command-line file (none with
  // "read") or a new configuration.
  virtual DocumentStart construct(RunContext& context) = 0;
  // Starts the command posted by the command line (write all 140, calibrate 32800, read all
  // 139). Its end, and the save after "read", come from the worker: context.automation_done is
  // set then. False when nothing started.
  virtual bool start_command(RunContext& context, int command) = 0;
  // Stops a running exchange at once (the device's stop event). Any thread, at any moment,
  // also during construct() and shutdown().
  virtual void stop() = 0;
  // The program ends: the device's threads stop and the program's settings are saved.
  virtual void shutdown() = 0;
  // The configuration document once construct() has made it; none before, and in doubles.
  virtual CKBA604Doc* document() { return nullptr; }
};

// A front end with windows (the Qt main window). The runner hands it the ready document and
// lets it run the UI thread's loop in place of its own; without one the program is headless.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // The document is ready (UI thread, before the command of the command line starts): the
  // main window comes up, placed as the switches say.
  virtual void document_ready(RunContext& context, DocumentHandler& document) = 0;
  // Runs the UI thread's loop, with the tasks that other threads hand over through
  // context.ui, until terminate or context.close_requested is set or the person closes the
  // window. The window is gone when it returns.
  virtual void run_loop(RunContext& context, platform::Event& terminate) = 0;
  // The command of the command line has finished (the automation watcher's thread): from now
  // on the window behaves as if started without switches, its geometry no longer frozen.
  virtual void automation_ended() {}
  // Starts a command of the command line that only the window runs (the calibration wizard),
  // on the UI thread's loop once it runs; context.automation_done is set when it has ended.
  // True when it will run, false when it cannot (it has said why); none for a command the
  // document runs.
  virtual std::optional<bool> start_command(RunContext& /*context*/, int /*command*/) {
    return std::nullopt;
  }
};

// The services the runner reports through; main() passes the headless ones, tests doubles.
struct RunnerServices {
  Prompter& prompter;
  OperationView& view;
  NotificationSink& sink;
  platform::SettingsStore& settings;
  platform::SettingsStore& registration;
  DocumentHandler& document;
  platform::Clock& clock = platform::Clock::real();
  // The window front end; none for the headless program.
  FrontEnd* front_end = nullptr;
};

// Runs the program with its parameters (without the program name); returns the exit code.
// While it runs, SIGTERM and SIGINT end it gracefully.
int run_program(const std::vector<std::string>& params, RunnerServices& services);

// main's part: runs the tool mode that the first parameter names ("--help", "--version",
// "--signal-exitevent NAME", see tool_modes.h) on stdout and stderr and returns its exit code;
// nothing when the parameters are the program's own.
std::optional<int> run_tool_switch(const std::vector<std::string>& params);

}  // namespace kba604
