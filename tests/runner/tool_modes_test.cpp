#include <gtest/gtest.h>

#include <sstream>

#include "app/command_line.h"
#include "app/exit_flags.h"
#include "platform/named_event.h"
#include "runner/tool_modes.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

struct Ran {
  std::optional<int> code;
  std::string out, err;
};

Ran run(std::vector<std::string> params) {
  std::ostringstream out, err;
  Ran r;
  r.code = run_tool_mode(params, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

TEST(ToolModes, HelpInEveryFormPrintsTheUsageOnStandardOutput) {
  test::TestHome home;
  for (const char* form : {"--help", "-h", "-?", "/?", "--HELP"}) {
    Ran r = run({form});
    EXPECT_EQ(r.code, 0) << form;
    EXPECT_EQ(r.out, usage_text()) << form;
    EXPECT_TRUE(r.err.empty()) << form;
  }
  // Not a tool mode: the window height, a later parameter, a switch of the program.
  for (auto params : {std::vector<std::string>{"-h:600"},
                      {"/close", "--help"},
                      {"--read", "x"},
                      {"-help"},
                      {"--"}}) {
    EXPECT_EQ(run(params).code, std::nullopt) << params[0];
  }
  Ran valued = run({"--help=all"});
  EXPECT_EQ(valued.code, exit_code::kUsage);
  EXPECT_TRUE(valued.out.empty());
  EXPECT_NE(valued.err.find("--help"), std::string::npos);

  Ran version = run({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_NE(version.out.find(KBA604_VERSION), std::string::npos);
  EXPECT_NE(version.out.find(KBA604_COPYRIGHT), std::string::npos);
}

// Every switch and tool mode appears with its value; every exit code the program can end with
// is listed once, in ascending order.
TEST(ToolModes, UsageTextListsSwitchesModesAndExitCodesInOrder) {
  test::TestHome home;
  const std::string text = usage_text();
  for (const SwitchEntry& s : switch_table()) {
    std::string shown = "/" + std::string(s.name);
    if (!s.value_help.empty()) shown += ":" + std::string(s.value_help);
    EXPECT_NE(text.find("  " + shown + " "), std::string::npos) << shown;
  }
  for (const ToolMode& m : tool_modes()) {
    EXPECT_NE(text.find("  --" + std::string(m.name)), std::string::npos) << m.name;
  }
  const int codes[] = {0,
                       exit_code::kUsage,
                       exit_code::kAlreadyRunning,
                       exit_code::kDescriptionRefused,
                       exit_code::kNoFileName,
                       exit_code::kNoConnection,
                       exit_code::kSignalFailed,
                       exit_code::kFileNotOpened,
                       exit_code::kSaveFailed,
                       exit_code::kCommandNotStarted,
                       exit_code::kParametersFailed,
                       exit_code::kNothingToExport,
                       exit_code::kReportNotWritten,
                       exit_code::kNothingFound,
                       200,
                       201,
                       202,
                       203,
                       205,
                       206,
                       208};
  std::size_t at = text.find("\n  0 ");
  ASSERT_NE(at, std::string::npos);
  int previous = -1;
  std::size_t listed = 0;
  for (const ExitCodeMeaning& e : exit_code_table()) {
    EXPECT_GT(e.code, previous);
    previous = e.code;
    const std::size_t next = text.find("\n  " + std::to_string(e.code) + " ", at);
    EXPECT_NE(next, std::string::npos) << e.code;
    if (next != std::string::npos) at = next;
    ++listed;
  }
  EXPECT_EQ(listed, std::size(codes));
  for (int code : codes) {
    EXPECT_NE(text.find("\n  " + std::to_string(code) + " "), std::string::npos) << code;
  }
  EXPECT_NE(text.find("KBA604.conf"), std::string::npos);
  EXPECT_NE(text.find("Devices.conf"), std::string::npos);
}

TEST(ToolModes, SignalExitEventTakesItsNameAfterASpaceAColonOrAnEqualsSign) {
  test::TestHome home;
  int n = 0;
  for (const char* form : {"", "=", ":"}) {
    const std::string name = home.unique_name("ev" + std::to_string(++n));
    platform::NamedEvent event(name);
    ASSERT_TRUE(event.ok());
    std::vector<std::string> params{"--signal-exitevent" + std::string(form)};
    if (*form == 0) {
      params.push_back(name);
    } else {
      params[0] += name;
    }
    Ran r = run(params);
    EXPECT_EQ(r.code, 0) << params[0] << r.err;
    EXPECT_TRUE(event.event().wait(10'000)) << params[0];
  }
  const std::string name = home.unique_name("ev");
  EXPECT_EQ(run({"--signal-exitevent"}).code, exit_code::kUsage);
  EXPECT_EQ(run({"--signal-exitevent="}).code, exit_code::kUsage);
  EXPECT_EQ(run({"--signal-exitevent", name, "extra"}).code, exit_code::kUsage);
  Ran none = run({"--signal-exitevent", home.unique_name("none")});
  EXPECT_EQ(none.code, exit_code::kSignalFailed);
  EXPECT_TRUE(none.out.empty());
  EXPECT_FALSE(none.err.empty());
}

}  // namespace
}  // namespace kba604
