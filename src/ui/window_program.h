// The program with its main window: the same start-up, automation and exit codes as the
// headless program (run_program), with the Qt event loop as the UI thread's loop and the
// window as its front end.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ini_settings_store.h"
#include "runner/runner.h"

namespace kba604 {

class MainWindow;
class StatusOperationView;
class QtNotificationSink;

// The front end the runner drives: it makes the main window once the document is ready, runs
// the event loop and ends it when the program is told to close.
class WindowFrontEnd final : public QObject, public FrontEnd {
  Q_OBJECT

 public:
  // quiet: started with switches (no modal box). view and sink are the ones the runner's
  // services report into.
  WindowFrontEnd(StatusOperationView& view, QtNotificationSink& sink, bool quiet);
  ~WindowFrontEnd() override;

  void document_ready(RunContext& context, DocumentHandler& document) override;
  void run_loop(RunContext& context, platform::Event& terminate) override;
  void automation_ended() override;
  // The calibration of the command line runs in the window.
  std::optional<bool> start_command(RunContext& context, int command) override;

  // The window while the loop runs; none before and after.
  MainWindow* window() const;
  // Called with the window as soon as it exists (tests drive it from here).
  std::function<void(MainWindow&)> on_window;

 signals:
  void release_geometry();

 private:
  StatusOperationView& view_;
  QtNotificationSink& sink_;
  bool quiet_;
  std::unique_ptr<platform::IniSettingsStore> profile_;
  QPointer<MainWindow> window_;
};

// The whole program with a window: parses nothing itself, runs run_program with the window
// front end on the QApplication that must exist already; returns the exit code.
int run_window_program(const std::vector<std::string>& params);

// Whether the parameters hold a switch of the program (quiet mode).
bool has_switches(const std::vector<std::string>& params);

// The per-user profile "Configurator - KBA604" of the window.
std::unique_ptr<platform::IniSettingsStore> open_window_profile();

}  // namespace kba604
