// What the progress window costs an operation: a read of the whole shipped description from the
// virtual instrument at 115200 baud (both directions paced by the instrument), once with the
// headless program's view and once with the window's progress window on a running Qt event
// loop (offscreen), alternately, several times. The time of each read runs from its start to
// the end of its walk; the finishing pause (2 s) is cut short in both.
//
//   QT_QPA_PLATFORM=offscreen build/<preset>/bin/bench_ui_progress_window [runs]
//
// Prints the median of each and their ratio (window / headless; aim: no more than 1.05).
#include "support/virtual_instrument.h"
// clang-format off
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "description/description_loader.h"
#include "operations/device.h"
#include "platform/settings_store.h"
#include "support/description_files.h"
#include "ui/progress_window.h"
// clang-format on

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

// Hands everything to the view being measured, notes the end of the walk (the empty line that
// opens the finishing pause) and cuts the pause short.
class TimedView final : public OperationView {
 public:
  void open(int code, int total, OperationControl* control) override {
    inner->open(code, total, control);
  }
  void set_range(int total) override { inner->set_range(total); }
  void set_counters(int done, int total, int errors) override {
    errors_.store(errors);
    inner->set_counters(done, total, errors);
  }
  void add_log_line(std::string_view text, LogColour colour, bool bold, bool italic) override {
    inner->add_log_line(text, colour, bold, italic);
    if (!text.empty()) return;
    walk_end = Clock::now();
    if (device != nullptr) device->stop_event().set();
  }
  void set_button(OperationButton button) override { inner->set_button(button); }
  bool auto_close() const override { return inner->auto_close(); }
  void set_auto_close(bool ticked) override { inner->set_auto_close(ticked); }
  void close() override { inner->close(); }
  bool is_open() const override { return inner->is_open(); }

  int errors() const { return errors_.load(); }

  OperationView* inner = nullptr;
  DeviceOperations* device = nullptr;
  Clock::time_point walk_end;

 private:
  std::atomic<int> errors_{0};
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  if (!test::shipped_description_exists()) {
    std::fprintf(stderr, "the build has no shipped description\n");
    return 1;
  }

  test::VirtualInstrument sim({"--baud", "115200", "--time-scale", "1", "--turnaround", "2"});
  SilentPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  settings.set_value("Ports/COM1", sim.path());
  settings.set_uint32("baud_rate", 115200);
  std::shared_ptr<Device> device = Device::create(app, settings);
  device->reopen_port(false);
  device->sio().set_converter_automatic(1);
  DescriptionRequest request;
  request.data_folder = test::shipped_description_folder();
  request.version_text = "1.10";
  DescriptionLoad load = load_description(device->table(), request, &prompter);
  if (!load.main_tree) return 1;
  device->set_tree_root(load.main_tree.get());

  std::FILE* sink = std::fopen("/dev/null", "w");
  StderrOperationView headless(platform::Clock::real(), sink, StderrOperationView::Output::Plain);
  QWidget main_window;
  main_window.resize(800, 600);
  main_window.show();
  ProgressOperationView window;
  window.set_parent_window(&main_window);

  TimedView view;
  view.device = device.get();
  device->set_view(&view);

  auto read = [&](OperationView& inner, bool event_loop) {
    view.inner = &inner;
    const Clock::time_point start = Clock::now();
    if (!device->StartRead(*load.main_tree)) return -1.0;
    if (event_loop) {
      // The event loop idles between the hand-overs, as the window program's does.
      QEventLoop loop;
      QTimer check;
      check.setInterval(10);
      QObject::connect(&check, &QTimer::timeout, [&] {
        if (!device->busy() && !inner.is_open()) loop.quit();
      });
      check.start();
      loop.exec();
      QCoreApplication::processEvents();
    } else {
      device->wait_idle(-1);
    }
    return std::chrono::duration<double, std::milli>(view.walk_end - start).count();
  };

  read(headless, false);  // the first read warms the line and the caches
  std::vector<double> plain, shown;
  for (int i = 0; i < runs; ++i) {
    plain.push_back(read(headless, false));
    shown.push_back(read(window, true));
  }
  const int total = device->total();
  const double a = median(plain), b = median(shown);
  std::printf("read of %d parameters at 115200 baud, paced instrument, %d runs each\n", total,
              runs);
  std::printf("  headless view: median %.0f ms (min %.0f, max %.0f)\n", a,
              *std::min_element(plain.begin(), plain.end()),
              *std::max_element(plain.begin(), plain.end()));
  std::printf("  progress window: median %.0f ms (min %.0f, max %.0f), %d log lines shown\n", b,
              *std::min_element(shown.begin(), shown.end()),
              *std::max_element(shown.begin(), shown.end()),
              window.window() ? window.window()->log().blockCount() : 0);
  std::printf(
      "  ratio window / headless: %.3f (aim: no more than 1.05); errors in the last read: %d\n",
      b / a, view.errors());
  device->set_view(nullptr);
  device->forget_description();
  device->shutdown();
  std::fclose(sink);
  return 0;
}
