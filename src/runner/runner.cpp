#include "runner/runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <thread>

#include "app/commands.h"
#include "app/start_rules.h"
#include "app/translatable.h"
#include "platform/atomic_file.h"
#include "platform/file_read.h"
#include "platform/instance_lock.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "runner/tool_modes.h"

namespace kba604 {
namespace {

void say(const std::string& text) {
  const std::string line = "kba604: " + text + "\n";
  std::fputs(line.c_str(), stderr);
}

// "elog" names a file that is created or emptied at once, so that a supervising program never
// reads lines of an earlier run. Only a regular file: a folder is refused, and a FIFO or a device
// node would block or swallow the lines.
bool prepare_error_log(const std::string& path) {
  std::string why = platform::unwritable_kind(path);
  if (why.empty()) {
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    why = std::strerror(errno);
  }
  say("не удалось создать журнал ошибок " + path + ": " + why + "; журнал не ведется");
  return false;
}

// "read" saves into the named file at its end: a destination that cannot take the file (a
// missing or read-only folder, a folder or FIFO of that name) is found before the first request,
// by creating the temporary file beside it, so that no read is done for nothing.
std::string read_destination_fault(const std::string& path) {
  if (std::string kind = platform::unwritable_kind(path); !kind.empty()) return kind;
  platform::AtomicFileWriter probe(path);
  return probe.ok() ? std::string() : probe.error();
}

// Said once when the program stays after its command (no "close"), so that a run waiting for a
// person never looks hung.
std::string staying_text(const std::string& exit_event) {
  std::string text =
      "программа продолжает работу (ключ /close не задан); завершить ее: сигнал SIGTERM или "
      "Ctrl+C";
  if (!exit_event.empty()) text += ", или kba604 --signal-exitevent " + exit_event;
  return text;
}

}  // namespace

std::optional<int> run_tool_switch(const std::vector<std::string>& params) {
  return run_tool_mode(params, std::cout, std::cerr);
}

namespace {

// SIGTERM and SIGINT end the program as closing its window would. The handler only sets an
// event (a write on an eventfd, which a signal handler may do). It counts itself while it uses
// the event, so that the guard can wait for a handler still running on another thread before
// the event goes (lock-free atomics are safe in a signal handler).
std::atomic<platform::Event*> signal_event{nullptr};
std::atomic<int> handlers_running{0};

extern "C" void on_terminate_signal(int) {
  handlers_running.fetch_add(1);
  if (platform::Event* e = signal_event.load()) e->set();
  handlers_running.fetch_sub(1);
}

class SignalGuard {
 public:
  explicit SignalGuard(platform::Event& event) {
    signal_event.store(&event);
    struct sigaction sa {};
    sa.sa_handler = on_terminate_signal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, &old_term_);
    ::sigaction(SIGINT, &sa, &old_int_);
  }
  ~SignalGuard() {
    ::sigaction(SIGTERM, &old_term_, nullptr);
    ::sigaction(SIGINT, &old_int_, nullptr);
    signal_event.store(nullptr);
    // A handler that took the event before it was withdrawn is done with it first.
    while (handlers_running.load() != 0) std::this_thread::yield();
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  struct sigaction old_term_ {};
  struct sigaction old_int_ {};
};

}  // namespace

int run_program(const std::vector<std::string>& params, RunnerServices& s) {
  CKBA604App app(s.prompter, s.clock);

  // A command line that cannot be used ends the program before it opens anything.
  app.options.clear();
  CmyCommandLineInfo info(app.options);
  info.parse(params);
  if (!info.usage_errors().empty()) {
    for (const std::string& m : info.usage_errors()) say(m);
    say("справка: kba604 --help");
    return exit_code::kUsage;
  }

  // Only a lock that another process holds means that the program already runs.
  platform::InstanceLock lock;
  if (lock.already_running()) {
    s.prompter.show(KBA604_TR_NOOP("Messages", "Программа уже запущена!"), "",
                    PromptIcon::Information);
    return exit_code::kAlreadyRunning;
  }
  if (lock.state() == platform::InstanceLock::State::Unavailable) {
    say("нельзя проверить, не запущена ли программа уже: " + lock.error());
  }

  platform::Event program_exit(platform::Event::Reset::Manual);
  platform::Event close_requested(platform::Event::Reset::Manual);
  platform::Event automation_done(platform::Event::Reset::Manual);
  platform::Event terminate(platform::Event::Reset::Manual);
  SignalGuard signals(terminate);

  for (const std::string& m : info.messages()) say(m);

  if (!info.error_log().empty() && prepare_error_log(info.error_log())) {
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
  // "read" and "newnetparam" save to the file, "write" sends it: without one they would do
  // nothing (or write a configuration without values) and still end with success.
  const bool needs_file = (o.switch_flags.load() & (StartOptions::kRead | StartOptions::kWrite)) ||
                          (o.mode_flags.load() & StartOptions::kNewNetParam);
  if (!test && needs_file && info.file_name().empty()) {
    say("ключам «read», «write» и «newnetparam» нужно имя файла: конфигурации, которую сохранить "
        "или "
        "отправить в прибор");
    return exit_code::kNoFileName;
  }

  // "record": what to poll, for how long and into which CSV file.
  LoggerSettings logger;
  if (o.switch_flags.load() & StartOptions::kRecord) {
    std::string why;
    if (std::optional<std::string> list = info.value("poll");
        list && !parse_poll_list(*list, logger.polls, why)) {
      say(why);
      return exit_code::kUsage;
    }
    if (std::optional<std::string> d = info.value("duration")) {
      const std::optional<std::int32_t> seconds = platform::scan_int(*d);
      if (!seconds || *seconds < 0) {
        say("--duration: время записи должно быть целым числом секунд, а не \"" + *d + "\"");
        return exit_code::kUsage;
      }
      logger.duration_s = *seconds;
    }
    logger.csv_path = strip_quotes(info.value("csv").value_or(""));
  }

  std::string error;
  if (!platform::ensure_program_directory(&error)) say("не удалось создать " + error);

  // The control channel lives from before the device to the program's end: the port settings
  // of the command line are announced on it while the document is built.
  std::unique_ptr<NetConfig::CConnection> channel = NetConfig::open_channel(
      o.control_channel(), info.pipe_name(), app.exit_flags, o.uni(), s.clock);
  if (auto* pipe = dynamic_cast<NetConfig::CPipe*>(channel.get()); pipe && !pipe->error().empty()) {
    say("канал управления не открыт: " + pipe->error());
  }

  ProgramSettings settings(s.settings);
  UiQueue ui;
  RunContext context{app,
                     settings,
                     s.registration,
                     s.view,
                     s.sink,
                     info.file_name(),
                     info.pipe_name(),
                     platform::executable_path().string(),
                     close_requested,
                     automation_done,
                     ui};
  context.logger = std::move(logger);
  context.channel = channel.get();
  context.trace_file = strip_quotes(info.value("trace").value_or(""));

  // The command the command line asks for (write all, calibrate or read all), or 0.
  const int command = o.any_switch() ? automation_command(o) : 0;
  // Set when a signal came before that command had finished (or begun): the program then ends
  // with 205, as on the exit event, so that a supervising program never takes it for done.
  std::atomic<bool> cut_short{false};

  // ExitWatcher: the external exit event ends the program with 205; a signal ends it too. Either
  // way a running exchange is stopped at once, also one of the start-up (the connection check
  // may take a while on a silent line). Whether the command had finished is decided before the
  // stop, which would end it. The thread holds what it waits on by shared ownership, as a
  // thread that may be left behind must.
  std::shared_ptr<platform::Event> external =
      external_exit ? external_exit->event_ptr() : std::shared_ptr<platform::Event>();
  platform::Thread exit_watcher([&app, &s, &program_exit, &terminate, &close_requested,
                                 &automation_done, &cut_short, command, external] {
    // A signal or the exit event wins over the program's own end when both are there: the
    // loop may have ended on the signal before this thread looked.
    const int which = platform::wait_any({&terminate, external.get(), &program_exit}, -1);
    // A signal is the ordinary end of a logger that records until stopped.
    if (which == 0) {
      cut_short.store(command != 0 && command != command::kRecord && !automation_done.is_set());
    }
    if (which == 1) app.exit_flags.set_to(ExitFlags::kCancelled);
    if (which != 2) close_requested.set();
    s.document.stop();
  });

  int result = 0;
  const DocumentStart start = s.document.construct(context);
  if (start != DocumentStart::Ready && terminate.is_set()) say("завершение по сигналу");
  switch (start) {
    case DocumentStart::DescriptionRefused:
      result = exit_code::kDescriptionRefused;
      break;
    case DocumentStart::Refused:
      result = app.exit_flags.exit_code();
      if (result == 0 && !test) {
        result = context.save_failed ? exit_code::kSaveFailed : exit_code::kFileNotOpened;
      }
      break;
    case DocumentStart::Finished:
      result = app.exit_flags.exit_code();
      break;
    case DocumentStart::NoConnection:
      result = app.exit_flags.exit_code();
      if (result == 0) result = exit_code::kNoConnection;
      break;
    case DocumentStart::Ready:
      // The post-creation step: the converter type of the command line or of the settings,
      // and no automatic reading without a port.
      app.modes.rs485_type.store(initial_rs485_type(o, settings));
      apply_window_modes(o, settings, app.modes);
      if (s.front_end != nullptr) s.front_end->document_ready(context, s.document);
      break;
  }

  platform::Thread automation_watcher;
  // The command of the command line could not begin (no parameter tree, the calibration
  // without windows): it said why, and the program must not end as if it had been done.
  bool command_refused = false;
  if (start == DocumentStart::Ready) {
    // The command of the command line, and AutomationWatcher, which ends the automation when
    // it is done: from then on the program behaves as if started without switches, and with
    // "close" (or "calibrate") it closes. AutomationDoneEvent stays clear while a command is
    // to run.
    if (o.any_switch()) {
      const std::uint32_t switches = o.switch_flags.load();
      // "read" learns before its first request whether its file can be saved at all.
      if (command == command::kReadAll && !close_requested.is_set()) {
        if (const std::string why = read_destination_fault(context.file_name); !why.empty()) {
          say("конфигурацию нельзя сохранить в " + context.file_name + ": " + why +
              "; чтение не начато");
          context.save_failed = true;
          close_requested.set();
        }
      }
      // A program told to end during its start-up does not begin the command any more.
      if (command != 0 && !close_requested.is_set()) {
        const std::optional<bool> by_window =
            s.front_end != nullptr ? s.front_end->start_command(context, command) : std::nullopt;
        command_refused = by_window ? !*by_window : !s.document.start_command(context, command);
      }
      if (command == 0 || close_requested.is_set() || command_refused) automation_done.set();
      const std::string staying = staying_text(info.exit_event());
      FrontEnd* front_end = s.front_end;
      automation_watcher.start([&o, &program_exit, &automation_done, &close_requested, switches,
                                staying, front_end] {
        const int which = platform::wait_any({&program_exit, &automation_done}, -1);
        const bool closes = switches & (StartOptions::kClose | StartOptions::kCalibrate);
        if (which == 1 && !closes && !close_requested.is_set() && front_end == nullptr) {
          say(staying);
        }
        o.clear_after_automation();
        if (front_end != nullptr) front_end->automation_ended();
        if (which == 1 && closes) close_requested.set();
      });
    } else if (s.front_end == nullptr) {
      // The window says by being there that the program stays.
      say(staying_text(info.exit_event()));
    }
    // The program's loop: runs what the worker hands over until it is to end; a window front
    // end runs its own.
    if (s.front_end != nullptr) {
      s.front_end->run_loop(context, terminate);
      if (terminate.is_set()) say("завершение по сигналу");
    }
    while (s.front_end == nullptr) {
      const int which = platform::wait_any({&terminate, &close_requested, &ui.ready()}, -1);
      if (which == 2) {
        ui.run_pending();
        continue;
      }
      if (which == 0) say("завершение по сигналу");
      break;
    }
    result = app.exit_flags.exit_code();
    if (result == 0 && context.save_failed) result = exit_code::kSaveFailed;
    if (result == 0 && command_refused) result = exit_code::kCommandNotStarted;
    // A command that ran to its end with parameters the instrument refused or did not answer
    // must not pass for a clean one: the log above names them.
    if (const int failed = context.command_errors.load(); failed > 0 && command != 0) {
      say("не удалось считать или записать параметров: " + std::to_string(failed));
      if (result == 0) result = exit_code::kParametersFailed;
    }
  }

  // Shutdown: ProgramExitEvent ends both watchers, which stop a running exchange. Both use
  // locals of this function, so they are joined without a limit, which is safe: once
  // ProgramExitEvent is set, neither waits for anything any more. The automation watcher only
  // clears option bits and sets an event; the exit watcher sets the stop event of the running
  // operation, which takes a mutex held only for that (never across an exchange).
  program_exit.set();
  automation_watcher.join(-1);
  exit_watcher.join(-1);
  s.document.shutdown();
  channel.reset();
  // A supervising program that signalled the exit event gets 205 however the stopped work ended:
  // an exchange cut short by the stop would otherwise leave a time-out (202) behind.
  if ((cut_short.load() || (external && external->is_set())) &&
      start != DocumentStart::DescriptionRefused) {
    app.exit_flags.set_to(ExitFlags::kCancelled);
    result = app.exit_flags.exit_code();
  }
  return result;
}

}  // namespace kba604
