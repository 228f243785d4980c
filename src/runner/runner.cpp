#include "runner/runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/start_rules.h"
#include "platform/instance_lock.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "platform/thread.h"

namespace kba604 {
namespace {

void say(const std::string& text) {
  const std::string line = "kba604: " + text + "\n";
  std::fputs(line.c_str(), stderr);
}

// "elog" names a file that is created or emptied at once, so that a supervising program never
// reads lines of an earlier run.
bool prepare_error_log(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    say("cannot create the error log " + path + ": " + std::strerror(errno));
    return false;
  }
  ::close(fd);
  return true;
}

}  // namespace

std::optional<int> run_tool_switch(const std::vector<std::string>& params) {
  if (params.empty() || params[0] != "--signal-exitevent") return std::nullopt;
  if (params.size() != 2 || params[1].empty()) {
    say("usage: kba604 --signal-exitevent NAME");
    return exit_code::kUsage;
  }
  std::string error;
  if (!platform::NamedEvent::signal(strip_quotes(params[1]), &error)) {
    say(error);
    return exit_code::kSignalFailed;
  }
  return 0;
}

int run_program(const std::vector<std::string>& params, RunnerServices& s) {
  CKBA604App app(s.prompter, s.clock);

  // Only a lock that another process holds means that the program already runs.
  platform::InstanceLock lock;
  if (lock.already_running()) {
    s.prompter.show("Программа уже запущена!", "", PromptIcon::Information);
    return exit_code::kAlreadyRunning;
  }
  if (lock.state() == platform::InstanceLock::State::Unavailable) {
    say("cannot guard against a second instance: " + lock.error());
  }

  platform::Event program_exit(platform::Event::Reset::Manual);
  app.options.clear();
  CmyCommandLineInfo info(app.options);
  info.parse(params);
  for (const std::string& m : info.messages()) say(m);

  if (!info.error_log().empty()) {
    prepare_error_log(info.error_log());
    app.set_error_log_path(info.error_log());
  }
  std::unique_ptr<platform::NamedEvent> external_exit;
  if (!info.exit_event().empty()) {
    external_exit = std::make_unique<platform::NamedEvent>(info.exit_event());
    if (!external_exit->ok()) {
      say(external_exit->error());
      external_exit.reset();
    }
  }

  StartOptions& o = app.options;
  apply_no_port_rule(o);
  apply_start_modes(o, app.modes);

  const bool test = o.mode_flags.load() & StartOptions::kTest;
  const bool needs_file = (o.switch_flags.load() & StartOptions::kRead) ||
                          (o.mode_flags.load() & StartOptions::kNewNetParam);
  if (!test && needs_file && info.file_name().empty()) {
    say("\"read\" and \"newnetparam\" need a file name to save the configuration to");
    return exit_code::kNoFileName;
  }

  std::string error;
  if (!platform::ensure_program_directory(&error)) say("cannot create " + error);

  ProgramSettings settings(s.settings);
  RunContext context{
      app,         settings,         s.registration,   s.view,
      s.sink,      info.file_name(), info.pipe_name(), platform::executable_path().string(),
      program_exit};

  // The exit watcher: an external exit event ends the program with 205 and stops a running
  // exchange. It holds the events by shared ownership, as a detached thread must.
  auto stop_watching = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
  std::shared_ptr<platform::Event> external =
      external_exit ? external_exit->event_ptr() : std::shared_ptr<platform::Event>();
  platform::Thread exit_watcher([&app, &s, &program_exit, stop_watching, external] {
    if (platform::wait_any({stop_watching.get(), external.get()}, -1) != 1) return;
    app.exit_flags.set_to(ExitFlags::kCancelled);
    program_exit.set();
    s.document.stop();
  });

  const DocumentStart start = s.document.construct(context);
  int result = 0;
  switch (start) {
    case DocumentStart::Unavailable:
      result = exit_code::kNoDescriptionLoader;
      break;
    case DocumentStart::DescriptionRefused:
      result = exit_code::kDescriptionRefused;
      break;
    case DocumentStart::Refused:
      result = app.exit_flags.exit_code();
      break;
    case DocumentStart::Ready:
      if (int command = automation_command(o); command != 0 && !program_exit.is_set()) {
        s.document.run_command(context, command);
        o.clear_after_automation();
      }
      result = app.exit_flags.exit_code();
      break;
  }
  stop_watching->set();
  exit_watcher.join(platform::Thread::kDefaultJoinMs);
  // A supervising program that signalled the exit event gets 205 however the stopped work ended:
  // an exchange cut short by the stop would otherwise leave a time-out (202) behind.
  if (external && external->is_set()) {
    app.exit_flags.set_to(ExitFlags::kCancelled);
    if (start != DocumentStart::Unavailable && start != DocumentStart::DescriptionRefused) {
      result = app.exit_flags.exit_code();
    }
  }
  return result;
}

}  // namespace kba604
