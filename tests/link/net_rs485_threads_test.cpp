// The program's own line settings are shared by threads: the tree edits them, the link reads
// them when it reopens the port, the indicator shows them four times a second, and the
// connection search and APLY change them on their workers. Under ThreadSanitizer this shows
// any access that bypasses the settings' value lock.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "link/net_rs485.h"

namespace kba604 {
namespace {

using Elements::NetRS485prg;

TEST(ProgramLineSettingsThreads, ReadersSeeWholeValuesWhileAWorkerChangesThem) {
  NetRS485prg settings(nullptr, [] { return std::string("COM1:COM2"); });
  // Long enough texts that a torn copy could not pass for either of them.
  const std::string speeds[] = {"115200", "9600"};
  const std::string parities[] = {"Нечетность", "Отсутствует"};
  const std::string first_speed = settings.GetValueByName("bPS");
  const std::string first_parity = settings.GetValueByName("PrtY");
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 3000; ++i) {
      settings.SetValueByName("bPS", speeds[i % 2], false);
      settings.SetValueByName("PrtY", parities[i % 2], false);
      settings.SetValueByName("Port", i % 2 == 0 ? "COM2" : "COM1", false);
    }
    done.store(true);
  });
  int reads = 0;
  int unexpected = 0;
  while (!done.load() || reads < 100) {
    const std::string speed = settings.GetValueByName("bPS");
    const std::string parity = settings.GetValueByName("PrtY");
    if (speed != speeds[0] && speed != speeds[1] && speed != first_speed) ++unexpected;
    if (parity != parities[0] && parity != parities[1] && parity != first_parity) ++unexpected;
    const std::string summary = settings.network_summary();
    if (summary.find("COM-порт: COM") == std::string::npos) ++unexpected;
    settings.refresh_port_list();
    ++reads;
  }
  worker.join();
  EXPECT_EQ(unexpected, 0) << "of " << reads << " reads";
  EXPECT_EQ(settings.GetValueByName("bPS"), "9600");
  EXPECT_EQ(settings.GetValueByName("Port"), "COM1");
}

}  // namespace
}  // namespace kba604
