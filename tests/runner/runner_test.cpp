#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>

#include <atomic>
#include <fstream>

#include "platform/instance_lock.h"
#include "platform/named_event.h"
#include "platform/paths.h"
#include "platform/thread.h"
#include "runner/runner.h"
#include "support/recording_notification_sink.h"
#include "support/recording_operation_view.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

// A document whose construction and command are scripted by the test. The command runs on its
// own thread, as the device's worker does, and ends the automation when its body returns.
class FakeDocument final : public DocumentHandler {
 public:
  DocumentStart start = DocumentStart::Ready;
  std::function<void(RunContext&, int)> command_body;
  std::vector<int> commands;
  std::string file_name;
  std::atomic<int> stops{0};
  int shutdowns = 0;
  bool no_port = false;
  bool command_starts = true;
  std::uint32_t flags_at_construction = 0;
  std::function<void(RunContext&)> construct_body;

  DocumentStart construct(RunContext& context) override {
    file_name = context.file_name;
    context.app.exit_flags.set_bits(flags_at_construction);
    if (construct_body) construct_body(context);
    no_port = context.app.options.no_port();
    if (context.app.options.mode_flags.load() & StartOptions::kTest) {
      return start == DocumentStart::Ready ? DocumentStart::Refused : start;
    }
    return start;
  }
  bool start_command(RunContext& context, int command) override {
    commands.push_back(command);
    if (!command_starts) return false;
    worker_.start([this, &context, command] {
      if (command_body) command_body(context, command);
      context.automation_done.set();
    });
    return true;
  }
  void stop() override { ++stops; }
  void shutdown() override {
    worker_.join(-1);
    ++shutdowns;
  }

 private:
  platform::Thread worker_;
};

struct Runner : ::testing::Test {
  test::TestHome home;
  test::RecordingPrompter prompter;
  test::RecordingOperationView view;
  test::RecordingNotificationSink sink;
  platform::MemorySettingsStore settings, registration;
  FakeDocument document;
  int run(std::vector<std::string> params) {
    RunnerServices s{prompter, view, sink, settings, registration, document};
    return run_program(params, s);
  }
};

TEST_F(Runner, TestSwitchEndsWithZeroOnceTheDescriptionLoaded) {
  EXPECT_EQ(run({"/test"}), 0);
  EXPECT_TRUE(document.no_port);
  EXPECT_TRUE(document.commands.empty());
  EXPECT_TRUE(std::filesystem::is_directory(platform::program_directory() / "protocol"));
  EXPECT_TRUE(std::filesystem::is_directory(platform::program_directory() / "temp"));
}

TEST_F(Runner, DocumentOutcomesGiveTheirOwnExitCodes) {
  document.start = DocumentStart::DescriptionRefused;
  EXPECT_EQ(run({"/test"}), exit_code::kDescriptionRefused);
  // A file that could not be opened ends the start-up; without a flag to tell why, the program
  // must not report success.
  document.start = DocumentStart::Refused;
  EXPECT_EQ(run({"/write/close", "a.604"}), exit_code::kFileNotOpened);
  // "newnetparam" ends the start-up once its file is written; a file it could not open or
  // write is no success.
  EXPECT_EQ(run({"/newnetparam/bps:9600", "a.604"}), exit_code::kFileNotOpened);
  document.construct_body = [](RunContext& c) { c.save_failed = true; };
  EXPECT_EQ(run({"/newnetparam/bps:9600", "a.604"}), exit_code::kSaveFailed);
  document.construct_body = nullptr;
  document.start = DocumentStart::Finished;
  EXPECT_EQ(run({"/newnetparam/bps:9600", "a.604"}), 0);
  // Started without switches, no instrument answered and the search was given up: the code of
  // what the check met, or our own when it met nothing it could tell.
  document.start = DocumentStart::NoConnection;
  EXPECT_EQ(run({}), exit_code::kNoConnection);
  document.flags_at_construction = ExitFlags::kOtherModel;
  EXPECT_EQ(run({}), 206);
  EXPECT_EQ(document.shutdowns, 7);
  EXPECT_TRUE(document.commands.empty());
}

TEST_F(Runner, ReadWriteOrNewNetParamWithoutFileNameIsRefused) {
  EXPECT_EQ(run({"/read", "/close"}), exit_code::kNoFileName);
  EXPECT_EQ(run({"/write/port:2", "/close"}), exit_code::kNoFileName);
  EXPECT_EQ(run({"/newnetparam/bps:9600"}), exit_code::kNoFileName);
  EXPECT_TRUE(document.commands.empty());
  EXPECT_EQ(run({"/read", "/close", "Out.604"}), 0);
  EXPECT_EQ(document.commands, std::vector<int>{139});
  EXPECT_EQ(document.file_name, "Out.604");
}

TEST_F(Runner, CommandLineCommandRunsAndItsFlagsGiveTheExitCode) {
  document.command_body = [](RunContext& c, int) {
    c.app.exit_flags.set_bits(ExitFlags::kTimeout);
  };
  EXPECT_EQ(run({"/write/port:2/close", "a.604"}), 202);
  EXPECT_EQ(document.commands, std::vector<int>{140});
  EXPECT_FALSE(document.no_port);
}

// A command that cannot begin (no parameter tree, the calibration without windows) ends the
// automation at once; with "close" the program ends, and never with success.
TEST_F(Runner, CommandThatCannotBeginIsNoSuccess) {
  document.command_starts = false;
  EXPECT_EQ(run({"/read/port:1/close", "x.604"}), exit_code::kCommandNotStarted);
  EXPECT_EQ(run({"/calibrate/port:1"}), exit_code::kCommandNotStarted);  // closes by itself
  EXPECT_EQ(document.commands, (std::vector<int>{139, 32800}));
  // A code of the flags says more.
  document.flags_at_construction = ExitFlags::kPortOpenFailed;
  EXPECT_EQ(run({"/write/port:1/close", "x.604"}), 201);
}

// A window that runs the calibration of the command line itself: the wizard "runs" inside its
// loop and ends the automation there, as the window's wizard does once the person closes it.
class FakeWindow final : public FrontEnd {
 public:
  bool takes_calibration = true;
  std::vector<int> offered;
  bool wizard_ran = false;

  void document_ready(RunContext&, DocumentHandler&) override {}
  std::optional<bool> start_command(RunContext&, int command) override {
    offered.push_back(command);
    if (command != 32800) return std::nullopt;
    pending_ = takes_calibration;
    return takes_calibration;
  }
  void run_loop(RunContext& context, platform::Event& terminate) override {
    if (pending_) {
      wizard_ran = true;
      context.automation_done.set();
    }
    platform::wait_any({&context.close_requested, &terminate}, -1);
  }

 private:
  bool pending_ = false;
};

// With a window the calibration of the command line is the window's: it closes the program
// when the wizard ends; a window that cannot open it (the instrument did not name itself the
// KBA604) refuses it as the headless program does. Other commands still go to the document.
TEST_F(Runner, WindowRunsTheCalibrationOfTheCommandLine) {
  FakeWindow window;
  auto run_windowed = [&](std::vector<std::string> params) {
    RunnerServices s{prompter, view, sink, settings, registration, document};
    s.front_end = &window;
    return run_program(params, s);
  };
  EXPECT_EQ(run_windowed({"/calibrate/port:1"}), 0);
  EXPECT_TRUE(window.wizard_ran);
  EXPECT_TRUE(document.commands.empty());
  window.wizard_ran = false;
  window.takes_calibration = false;
  EXPECT_EQ(run_windowed({"/calibrate/port:1"}), exit_code::kCommandNotStarted);
  EXPECT_FALSE(window.wizard_ran);
  EXPECT_TRUE(document.commands.empty());
  EXPECT_EQ(run_windowed({"/read/port:1/close", "x.604"}), 0);
  EXPECT_EQ(document.commands, std::vector<int>{139});
  EXPECT_EQ(window.offered, (std::vector<int>{32800, 32800, 139}));
}

TEST_F(Runner, SecondInstanceIsRefused) {
  platform::InstanceLock first;
  ASSERT_EQ(first.state(), platform::InstanceLock::State::Held);
  EXPECT_EQ(run({"/test"}), exit_code::kAlreadyRunning);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, "Программа уже запущена!");
  EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Information);
}

TEST_F(Runner, ErrorLogIsEmptiedAtOnceAndNamedForTheRun) {
  const std::filesystem::path log = home.root() / "Errors.log";
  std::ofstream(log) << "lines of an earlier run\n";
  std::string seen;
  document.command_body = [&](RunContext& c, int) {
    seen = c.app.error_log_path();
    c.app.append_error_log("r.St: Таймаут");
  };
  EXPECT_EQ(run({"/read/close/elog:" + log.string(), "x.604"}), 0);
  EXPECT_EQ(seen, log.string());
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "r.St: Таймаут\n");
}

// An "elog" that is a folder or a FIFO is refused with its reason; the run goes on without a log
// and never writes into it (a FIFO would hold the program, a folder would lose the lines).
TEST_F(Runner, ErrorLogOfTheWrongKindIsRefusedAndTheRunGoesOn) {
  const std::filesystem::path folder = home.root() / "logs";
  const std::filesystem::path fifo = home.root() / "log.fifo";
  std::filesystem::create_directories(folder);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::filesystem::path& log : {folder, fifo}) {
    std::string seen = "<not run>";
    document.command_body = [&](RunContext& c, int) {
      seen = c.app.error_log_path();
      c.app.append_error_log("r.St: Таймаут");
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({"/read/close/elog:" + log.string(), "x.604"}), 0) << log;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(log.string()), std::string::npos) << said;
    EXPECT_NE(said.find("журнал не ведется"), std::string::npos) << said;
    EXPECT_EQ(seen, "") << log;
  }
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
}

TEST_F(Runner, ExternalExitEventEndsTheCommandWith205) {
  const std::string name = home.unique_name("kba604-exit");
  document.command_body = [&](RunContext& c, int) {
    // A supervising program signals while the command runs; the command ends when it is told.
    ASSERT_TRUE(platform::NamedEvent::signal(name));
    EXPECT_TRUE(c.close_requested.wait(-1));
    c.app.exit_flags.set_bits(ExitFlags::kTimeout);  // what the interrupted exchange left
  };
  EXPECT_EQ(run({"/read/port:1/close", "/exitevent:" + name, "x.604"}), 205);
  EXPECT_GE(document.stops, 1);
}

// Without "close" the program stays after its command, as the window would, until it is told
// to end; the start options of the automation are cleared once the command is done.
TEST_F(Runner, WithoutCloseTheProgramStaysUntilATerminateSignal) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    std::atomic<bool> cleared{false};
    document.command_body = [&](RunContext& c, int) {
      // After the command the watcher clears the switches; then the signal ends the loop.
      std::thread([&c, &cleared, signal] {
        while (c.app.options.any_switch()) std::this_thread::yield();
        cleared = true;
        ::raise(signal);
      }).detach();
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({"/read/port:1", "x.604"}), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(cleared);
    // Said once, with the ways to end it, so that the waiting program never looks hung.
    const std::size_t at = said.find("продолжает работу");
    ASSERT_NE(at, std::string::npos) << said;
    EXPECT_EQ(said.find("продолжает работу", at + 1), std::string::npos) << said;
    EXPECT_NE(said.find("/close"), std::string::npos) << said;
    EXPECT_NE(said.find("SIGTERM"), std::string::npos) << said;
  }
  // With "close" the program ends after its command and says nothing of the kind.
  document.command_body = {};
  testing::internal::CaptureStderr();
  EXPECT_EQ(run({"/read/port:1/close", "x.604"}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("продолжает работу"), std::string::npos);
}

// "read" finds out before its first request that its file cannot be saved there, and ends with 9
// without beginning the read; a file of that name stays as it was.
TEST_F(Runner, ReadIntoADestinationThatCannotTakeTheFileEndsBeforeItBegins) {
  std::filesystem::create_directories(home.root() / "dir.604");
  const std::string cases[] = {(home.root() / "missing" / "x.604").string(),
                               (home.root() / "dir.604").string()};
  for (const std::string& path : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({"/read/port:1", path}), exit_code::kSaveFailed) << path;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(path), std::string::npos) << said;
  }
  EXPECT_TRUE(document.commands.empty());
  EXPECT_TRUE(std::filesystem::is_directory(home.root() / "dir.604"));
  EXPECT_TRUE(std::filesystem::is_empty(home.root() / "dir.604"));
  EXPECT_FALSE(std::filesystem::exists(home.root() / "missing"));
}

// A signal that ends the program before its command has finished is not a success: the
// command is stopped (or never begun) and the program ends with 205, as on the exit event.
TEST_F(Runner, SignalBeforeTheCommandHasFinishedEndsWith205) {
  document.command_body = [&](RunContext& c, int) {
    ::raise(SIGTERM);
    EXPECT_TRUE(c.close_requested.wait(-1));
    c.app.exit_flags.set_bits(ExitFlags::kTimeout);  // what the interrupted exchange left
  };
  EXPECT_EQ(run({"/read/port:1/close", "x.604"}), 205);
  EXPECT_GE(document.stops, 1);

  // During the start-up: the exchanges of the start-up are stopped at once and the command
  // is not begun.
  document.commands.clear();
  document.stops = 0;
  document.construct_body = [&](RunContext& c) {
    ::raise(SIGINT);
    EXPECT_TRUE(c.close_requested.wait(-1));
    while (document.stops.load() == 0) std::this_thread::yield();
  };
  EXPECT_EQ(run({"/write/port:1/close", "x.604"}), 205);
  EXPECT_TRUE(document.commands.empty());
}

TEST_F(Runner, SaveFailureAfterReadIsNotReportedAsSuccess) {
  document.command_body = [](RunContext& c, int) {
    c.ui.call([&c] { c.save_failed = true; }, &c.close_requested);
  };
  EXPECT_EQ(run({"/read/close", "x.604"}), exit_code::kSaveFailed);
}

// A command line that cannot be used ends with 2 before the document is built or anything opened.
TEST_F(Runner, UsageErrorEndsBeforeAnythingIsOpened) {
  EXPECT_EQ(run({"/port:300", "/read", "x.604", "/close"}), exit_code::kUsage);
  EXPECT_EQ(run({"--port=256", "/write", "x.604"}), exit_code::kUsage);
  EXPECT_TRUE(document.file_name.empty());
  EXPECT_TRUE(document.commands.empty());
  EXPECT_EQ(document.shutdowns, 0);
}

TEST_F(Runner, SignalSwitchReportsAMissingEvent) {
  EXPECT_EQ(run_tool_switch({"/test"}), std::nullopt);
  EXPECT_EQ(run_tool_switch({"--signal-exitevent"}), exit_code::kUsage);
  EXPECT_EQ(run_tool_switch({"--signal-exitevent", home.unique_name("none")}),
            exit_code::kSignalFailed);
  platform::NamedEvent event(home.unique_name("present"));
  ASSERT_TRUE(event.ok());
  EXPECT_EQ(run_tool_switch({"--signal-exitevent", home.unique_name("present")}), 0);
  EXPECT_TRUE(event.event().wait(-1));
}

}  // namespace
}  // namespace kba604
