// Reading the whole shipped description from the virtual instrument over a pseudo-terminal.
//
//   build/<preset>/bin/bench_operations_read_all [instant runs]
//
// 1. An instant instrument (no turnaround, no pacing): parameters per second of the read.
// 2. Both directions paced at 9600 baud by the instrument: it answers a request only after the
//    request's own line time, waits its 2 ms turnaround and sends the reply one character time
//    after another. The time of the read is set against the line-time limit taken from the
//    instrument's own log of frames: every frame's characters × bits per character / baud,
//    plus the turnaround before each reply.
// The finishing pause of an operation (up to 2 s) is left out of both and measured on its own.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "description/description_loader.h"
#include "operations/device.h"
#include "platform/settings_store.h"
#include "sim/frame_log.h"
#include "support/description_files.h"
#include "support/virtual_instrument.h"

namespace {

using namespace kba604;
using Clock = std::chrono::steady_clock;

class SilentPrompter final : public Prompter {
 public:
  PromptAnswer ask(std::string_view, std::string_view, PromptIcon, PromptButtons,
                   PromptAnswer safe) override {
    return safe;
  }
};

// Notes when the walk ends (the empty line that opens the finishing pause) and when the window
// closes; optionally cuts the pause short.
class TimingView final : public OperationView {
 public:
  void open(int, int total, OperationControl*) override {
    total_ = total;
    open_ = true;
  }
  void set_range(int total) override { total_ = total; }
  void set_counters(int done, int, int errors) override {
    done_ = done;
    errors_ = errors;
  }
  void add_log_line(std::string_view text, LogColour, bool, bool) override {
    if (!text.empty()) return;
    walk_end = Clock::now();
    if (cut_pause && device != nullptr) device->stop_event().set();
  }
  void set_button(OperationButton) override {}
  bool auto_close() const override { return true; }
  void set_auto_close(bool) override {}
  void close() override {
    closed = Clock::now();
    open_ = false;
  }
  bool is_open() const override { return open_; }

  int total() const { return total_; }
  int done() const { return done_; }
  int errors() const { return errors_; }

  DeviceOperations* device = nullptr;
  bool cut_pause = true;
  Clock::time_point walk_end, closed;

 private:
  std::atomic<bool> open_{false};
  std::atomic<int> total_{0}, done_{0}, errors_{0};
};

struct Setup {
  explicit Setup(std::vector<std::string> sim_args) : sim(std::move(sim_args)) {
    settings.set_value("Ports/COM1", sim.path());
    device = Device::create(app, settings);
    // The automatic converter: the program's side writes a request at once; the instrument
    // takes its line time.
    device->sio().set_converter_automatic(1);
    view.device = device.get();
    device->set_view(&view);
    DescriptionRequest request;
    request.data_folder = test::shipped_description_folder();
    request.version_text = "1.10";
    load = load_description(device->table(), request, &prompter);
    if (load.main_tree) device->set_tree_root(load.main_tree.get());
  }
  ~Setup() {
    device->forget_description();
    device->shutdown();
  }
  // One read of the main tree; the time from its start to the end of its walk, in ms.
  double read_all() {
    const Clock::time_point start = Clock::now();
    if (!device->StartRead(*load.main_tree) || !device->wait_idle(-1)) return -1;
    return std::chrono::duration<double, std::milli>(view.walk_end - start).count();
  }

  test::VirtualInstrument sim;
  SilentPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  TimingView view;
  std::shared_ptr<Device> device;
  DescriptionLoad load;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (!test::shipped_description_exists()) {
    std::fprintf(stderr, "the build has no shipped description\n");
    return 1;
  }

  {
    Setup instant({"--time-scale", "0"});
    if (!instant.load.main_tree) return 1;
    instant.read_all();  // the first read opens the port and warms the caches
    double best = 1e300, sum = 0;
    for (int i = 0; i < runs; ++i) {
      const double ms = instant.read_all();
      best = std::min(best, ms);
      sum += ms;
    }
    const int n = instant.view.total();
    std::printf(
        "instant instrument: %d parameters per read, %d reads, best %.1f ms, mean %.1f ms\n", n,
        runs, best, sum / runs);
    std::printf("  %.0f parameters/s (best), %.0f parameters/s (mean); %d failed per read\n",
                n / best * 1000.0, n / (sum / runs) * 1000.0, instant.view.errors());

    // The finishing pause, on its own: one more read that is not cut short.
    instant.view.cut_pause = false;
    instant.read_all();
    const double pause =
        std::chrono::duration<double, std::milli>(instant.view.closed - instant.view.walk_end)
            .count();
    std::printf("finishing pause: %.0f ms (left out of every figure here)\n", pause);
  }

  const std::filesystem::path log = std::filesystem::temp_directory_path() /
                                    ("kba604-bench-frames-" + std::to_string(::getpid()) + ".log");
  {
    Setup paced({"--time-scale", "1", "--turnaround", "2", "--log", log.string()});
    if (!paced.load.main_tree) return 1;
    const double ms = paced.read_all();
    paced.sim.stop();
    std::vector<sim::LoggedFrame> frames;
    std::string error;
    if (!sim::read_frame_log(log.string(), frames, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    double heard = 0, sent = 0;
    int replies = 0;
    for (const sim::LoggedFrame& f : frames) {
      (f.sent ? sent : heard) += f.line_seconds() * 1000.0;
      if (f.sent) ++replies;
    }
    const double turnaround = 2.0 * replies;
    const double limit = heard + sent + turnaround;
    const int n = paced.view.total();
    std::printf("9600 baud, both directions paced: %d parameters in %.0f ms (%.1f parameters/s)\n",
                n, ms, n / ms * 1000.0);
    std::printf(
        "  line-time limit from the instrument's log of %zu frames: %.0f ms (requests "
        "%.0f, replies %.0f, turnaround %.0f)\n",
        frames.size(), limit, heard, sent, turnaround);
    std::printf("  ratio to the limit: %.3f (aim: no worse than 1.05)\n", ms / limit);
  }
  std::filesystem::remove(log);
  return 0;
}
