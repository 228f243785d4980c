// kba604-sim: serves virtual KBA604 instruments on a new pseudo-terminal (or a serial device)
// until SIGINT or SIGTERM. The terminal's path is the first line on standard output.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/description.h"
#include "sim/line.h"
#include "sim/options.h"

namespace {

std::atomic<kba604::sim::Line*> g_line{nullptr};

void on_signal(int) {
  if (kba604::sim::Line* line = g_line.load()) line->request_stop();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kba604::sim;
  std::vector<std::string> args(argv + 1, argv + argc);
  SimOptions options;
  std::string error;
  if (!parse_options(args, options, &error)) {
    std::fprintf(stderr, "kba604-sim: %s\nTry \"kba604-sim --help\".\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(help_text().c_str(), stdout);
    return 0;
  }

  std::string folder =
      options.line.data_dir.empty() ? default_data_folder() : options.line.data_dir;
  auto description = std::make_shared<Description>();
  if (!load_description(folder, *description, &error)) {
    std::fprintf(stderr,
                 "kba604-sim: cannot read the instrument's description: %s\n"
                 "Point --data at the folder with parameters.zip and the tree files.\n",
                 error.c_str());
    return 2;
  }
  for (const std::string& w : description->warnings)
    std::fprintf(stderr, "kba604-sim: description: %s\n", w.c_str());

  // Block the stop signals until the handler can reach the line.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  sigprocmask(SIG_BLOCK, &stop_signals, nullptr);

  std::unique_ptr<Line> line = Line::start(options, description, &error);
  if (!line) {
    std::fprintf(stderr, "kba604-sim: %s\n", error.c_str());
    return 1;
  }
  g_line = line.get();
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("%s\n", line->path().c_str());
  std::fflush(stdout);
  for (std::size_t i = 0; i < line->size(); ++i) {
    line->with_instrument(i, [&](Instrument& inst) {
      std::fprintf(stderr, "kba604-sim: %s at address %u (%d-bit addressing), %s\n",
                   inst.options().model.c_str(), inst.base_address(), inst.address_length(),
                   inst.line_settings().text().c_str());
      return 0;
    });
  }
  sigprocmask(SIG_UNBLOCK, &stop_signals, nullptr);

  line->wait();
  g_line = nullptr;
  return 0;
}
