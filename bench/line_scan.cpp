// The line scan of one speed over addresses 0..255 in steps of 8 (32 probes) against the
// virtual line with three instruments, answering at the pace of a real line (their requests
// count as heard after their line time, a 2 ms turnaround, replies a character time apart):
// the time of the whole scan with each converter type, and its ratio to the aim of 3 s.
// Usage: bench_line_scan [baud, default 9600]
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "link/line_scan.h"
#include "platform/settings_store.h"
#include "support/virtual_instrument.h"

using namespace kba604;

namespace {

double now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int baud = argc > 1 ? std::atoi(argv[1]) : 9600;
  const std::string b = std::to_string(baud);
  test::VirtualInstrument sim(
      {"--time-scale", "1", "--baud", b, "--address", "16", "--address", "96", "--address", "232"});
  platform::MemorySettingsStore settings;
  settings.set_value("Ports/COM9", sim.path());
  for (int automatic : {1, 0}) {
    std::recursive_mutex lock;
    Sio sio(lock, platform::Clock::real(), settings);
    sio.set_port_name("COM9");
    sio.set_converter_automatic(automatic);
    ScanPlan plan;
    plan.speeds = {baud};
    const double t0 = now_ms();
    const auto found = LineScan(sio).run(plan);
    const double ms = now_ms() - t0;
    std::printf(
        "%s converter, %d baud, addresses 0..255 step 8 (32 probes, probe wait %d ms): %zu of 3 "
        "instruments found in %.0f ms, ratio to 3000 ms %.3f (aim at 9600 baud < 1: %s)\n",
        automatic ? "automatic" : "semi-automatic", baud,
        LineScan::probe_wait_ms(baud, 3, 1, automatic ? 14 : 0), found.size(), ms, ms / 3000.0,
        baud != 9600                       ? "-"
        : ms < 3000.0 && found.size() == 3 ? "met"
                                           : "NOT met");
  }
  return 0;
}
