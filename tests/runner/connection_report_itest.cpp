// A failed start-up connection check when command-line switches were given: the headless
// program says what it met and how to mend the settings, and goes on with the command, whose
// exit code then tells how it went.
#include <gtest/gtest.h>

#include "platform/ini_settings_store.h"
#include "platform/paths.h"
#include "support/child_process.h"
#include "support/test_home.h"
#include "support/virtual_instrument.h"

namespace kba604 {
namespace {

constexpr int kProcessLimitMs = 120'000;

TEST(ConnectionReport, WithSwitchesTheCommandRunsAfterTheReport) {
  test::TestHome home;
  struct Case {
    std::vector<std::string> instrument;
    int code;
    const char* said;
  };
  const Case cases[] = {
      {{"--silent"}, 202, "никто не ответил"},
      {{"--model", "TRM"}, 206, "ответил не KBA604"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    test::VirtualInstrument sim(c.instrument);
    platform::open_program_settings()->set_value("Ports/COM9", sim.path());
    test::RunningChild child(
        {test::kba604_program(), "/port:9/rs485:off", "/read", "x.604", "/close"},
        home.root().string());
    const test::ChildResult r = child.wait(kProcessLimitMs);
    EXPECT_EQ(r.exit_code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("COM9"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("все равно выполняется"), std::string::npos) << r.err;
    // The read ran: it reported its parameters as it went.
    EXPECT_NE(r.err.find("Идет чтение параметров из прибора"), std::string::npos) << r.err;
  }

  // "silent" opens no port by design: nothing to report.
  const test::ChildResult quiet =
      test::run_child({test::kba604_program(), "/port:9/silent", "/close"});
  EXPECT_EQ(quiet.exit_code, 0) << quiet.err;
  EXPECT_EQ(quiet.err.find("KBA604 не отвечает"), std::string::npos) << quiet.err;
}

}  // namespace
}  // namespace kba604
