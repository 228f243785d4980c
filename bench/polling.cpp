// Background polling of 100 operational parameters, each every 1000 ms, against the virtual
// instrument at 115200 baud. The description is generated (the shipped one has 19 operational
// parameters); the instrument runs as a child process, so the CPU time measured is the
// program's own.
//
//   build/<preset>/bin/bench_polling [seconds]     (default 30)
//
// Prints the 99th percentile of each poll's lateness against its due time, as a share of the
// period (aim: under 5 %), and the process's CPU time while polling as a share of one core
// (aim: under 2 %).
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "description/description_loader.h"
#include "operations/device.h"
#include "operations/scanner.h"
#include "platform/settings_store.h"
#include "support/child_process.h"
#include "support/description_files.h"

namespace {

using namespace kba604;

constexpr int kParameters = 100;
constexpr int kPeriodMs = 1000;

class SilentPrompter final : public Prompter {
 public:
  PromptAnswer ask(std::string_view, std::string_view, PromptIcon, PromptButtons,
                   PromptAnswer safe) override {
    return safe;
  }
};

struct Lateness final : PollSink {
  void polled(PollSnapshot s) override {
    std::lock_guard lock(mutex);
    late_ms.push_back(s.clock_ms - s.due_ms);
    if (!s.note.empty()) ++failed;
  }
  std::mutex mutex;
  std::vector<std::int64_t> late_ms;
  int failed = 0;
};

double cpu_seconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 30;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("kba604-bench-polling-" + std::to_string(::getpid()));

  std::string parameters = R"({"parameters": [
    {"name": "dev", "read_only": true, "multiplicity": 0, "format": "ASCI"},
    {"name": "ver", "read_only": true, "multiplicity": 0, "format": "ASCI"})";
  std::string operational = R"({"branch": "Опрос оперативных параметров", "children": [)";
  for (int i = 0; i < kParameters; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Pv%02d", i);
    parameters += std::string(R"(, {"name": ")") + name +
                  R"(", "read_only": true, "multiplicity": 0, "format": "float"})";
    operational += std::string(i ? ", " : "") + R"({"ref": ")" + name + R"(", "read_only": true})";
  }
  parameters += "]}";
  operational += "]}";
  test::build_description(parameters, {R"({"branch": "Корень", "children": [{"ref": "ver"}]})",
                                       operational, ""})
      .write_to(folder);

  const std::string link = (folder / "line").string();
  test::RunningChild sim({test::kba604_sim_program(), "--data", folder.string() + "/", "--baud",
                          "115200", "--time-scale", "1", "--seed", "1", "--link", link});
  for (int i = 0; i < 200 && !std::filesystem::exists(link); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  if (!std::filesystem::exists(link)) {
    std::fprintf(stderr, "the virtual instrument did not start: %s\n", sim.err().c_str());
    return 1;
  }

  SilentPrompter prompter;
  CKBA604App app(prompter);
  platform::MemorySettingsStore settings;
  settings.set_value("Ports/COM1", link);
  settings.set_value("port_number", "1");
  settings.set_value("baud_rate", "115200");
  std::shared_ptr<Device> device = Device::create(app, settings);
  device->sio().set_converter_automatic(1);
  if (device->reopen_port(false) != 0) {
    std::fprintf(stderr, "cannot open %s\n", link.c_str());
    return 1;
  }
  DescriptionRequest request;
  request.data_folder = folder.string() + "/";
  request.version_text = "1.10";
  DescriptionLoad load = load_description(device->table(), request, &prompter);
  if (!load.operational_tree) {
    std::fprintf(stderr, "the generated description did not load\n");
    return 1;
  }

  Lateness lateness;
  {
    Scanner scanner([device](Parameter& p) { return device->transact_parameter(nullptr, &p, 1, false); },
                    std::shared_ptr<std::recursive_mutex>(device, &device->link_lock()));
    scanner.set_sink(&lateness);
    scanner.StartScanners(load.operational_tree.get(), &prompter);
    const std::vector<Parameter*> polled = scanner.polled();
    // As the data logger does: the first polls spread over one period.
    for (std::size_t i = 0; i < polled.size(); ++i) {
      scanner.arm(*polled[i], static_cast<std::int64_t>(i) * kPeriodMs / kParameters);
    }
    // The first two seconds settle the line; the measured span follows.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    {
      std::lock_guard lock(lateness.mutex);
      lateness.late_ms.clear();
      lateness.failed = 0;
    }
    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = cpu_seconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    scanner.StopScanners();

    std::lock_guard lock(lateness.mutex);
    std::vector<std::int64_t> late = lateness.late_ms;
    std::sort(late.begin(), late.end());
    if (late.empty()) {
      std::fprintf(stderr, "no poll was made\n");
      return 1;
    }
    const auto at = [&](double q) {
      return late[std::min(late.size() - 1, static_cast<std::size_t>(q * late.size()))];
    };
    const double p99 = static_cast<double>(at(0.99));
    std::printf("%zu parameters every %d ms at 115200 baud for %.1f s: %zu polls (%.1f%% of "
                "%.0f due), %d failed\n",
                polled.size(), kPeriodMs, wall, late.size(),
                100.0 * late.size() / (polled.size() * wall * 1000.0 / kPeriodMs),
                polled.size() * wall * 1000.0 / kPeriodMs, lateness.failed);
    std::printf("lateness against the due time: median %lld ms, 99th percentile %.0f ms, max %lld ms\n",
                static_cast<long long>(at(0.5)), p99, static_cast<long long>(late.back()));
    std::printf("  99th percentile / period = %.2f%% (aim under 5%%: %s)\n", 100.0 * p99 / kPeriodMs,
                p99 < 0.05 * kPeriodMs ? "met" : "NOT met");
    std::printf("CPU time of the program while polling: %.3f s in %.1f s = %.2f%% of one core "
                "(aim under 2%%: %s)\n",
                cpu, wall, 100.0 * cpu / wall, cpu / wall < 0.02 ? "met" : "NOT met");
  }
  device->forget_description();
  device->shutdown();
  sim.signal(SIGTERM);
  sim.wait(5000);
  std::filesystem::remove_all(folder);
  return 0;
}
