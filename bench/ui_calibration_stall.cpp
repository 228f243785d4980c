// The longest stall of the UI thread while the calibration dialogs run a type-1 calibration on
// the virtual instrument, with the real waits of the steps (offscreen). A dialog that waited on
// the UI thread would stall it for a whole poll interval each time.
//
//   build/normal/bin/bench_ui_calibration_stall
// Before any Qt header: the virtual instrument has members that Qt's keywords would rename.
#include "support/virtual_instrument.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "calibration/calibration_steps.h"
#include "description/description_loader.h"
#include "operations/device.h"
#include "platform/settings_store.h"
#include "support/description_files.h"
#include "support/recording_prompter.h"
#include "ui/calibration_dialogs.h"

namespace {

using namespace kba604;

// Measures the gaps between the ticks of a 2 ms timer on the UI thread.
class StallMeter {
 public:
  StallMeter() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      if (last_ >= 0) longest_ = std::max(longest_, now - last_);
      last_ = now;
      ++ticks_;
    });
    clock_.start();
    timer_.start(2);
  }
  double longest_ms() const { return static_cast<double>(longest_) / 1e6; }
  long ticks() const { return ticks_; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = -1;
  qint64 longest_ = 0;
  long ticks_ = 0;
};

// Runs the event loop until done() holds.
template <class F>
void run_until(F done) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  check.start(1);
  loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);

  test::VirtualInstrument sim;
  test::RecordingPrompter prompter;
  CKBA604App app(prompter);
  platform::MemorySettingsStore settings;
  settings.set_value("Ports/COM1", sim.path());
  std::shared_ptr<Device> device = Device::create(app, settings);
  device->sio().set_converter_automatic(1);
  DescriptionRequest request;
  request.data_folder = test::shipped_description_folder();
  request.version_text = "1.10";
  DescriptionLoad load = load_description(device->table(), request, &prompter);
  if (!load.main_tree) {
    std::fprintf(stderr, "bench_ui_calibration_stall: the build has no description\n");
    return 1;
  }
  device->set_tree_root(load.main_tree.get());

  double longest = 0;
  double seconds = 0;
  long ticks = 0;
  {
    calibration::DeviceCalibrationLink link(*device);
    calibration::TaskQueue queue;
    Dialogs::CalibrationContext context{link, prompter, platform::Clock::real(), queue};
    calibration::WrongCodeCount wrong_codes;
    QElapsedTimer elapsed;
    elapsed.start();
    StallMeter meter;

    calibration::StepsStart start;
    {
      Dialogs::CCalibrate selection(context, wrong_codes, 2, 0);
      selection.show();
      selection.type_list()->setCurrentIndex(1);
      emit selection.type_list()->activated(1);
      run_until([&] { return !selection.busy() && selection.sensor_list()->count() > 0; });
      selection.code_field()->setText("476");
      selection.continue_button()->click();
      run_until([&] { return !selection.isVisible(); });
      start = selection.steps_start();
    }
    {
      Dialogs::CCalibrate2 steps(context, start);
      steps.show();
      while (steps.isVisible()) {
        run_until([&] {
          return !steps.isVisible() || (!steps.busy() && steps.continue_button()->isVisible() &&
                                        steps.continue_button()->isEnabled());
        });
        if (steps.isVisible()) steps.continue_button()->click();
      }
    }
    run_until([&] { return queue.idle(); });
    longest = meter.longest_ms();
    ticks = meter.ticks();
    seconds = static_cast<double>(elapsed.elapsed()) / 1000.0;
  }
  device->forget_description();
  device->shutdown();

  const bool stored =
      sim.with([](sim::Instrument& i) { return i.calibration().stored().count("type1") == 1; });
  std::printf("type-1 calibration through the dialogs: %.2f s, %s\n", seconds,
              stored ? "coefficient stored" : "NOT STORED");
  std::printf("longest UI-thread stall: %.1f ms over %ld timer ticks\n", longest, ticks);
  std::printf("stall / 50 ms goal: %.3f\n", longest / 50.0);
  std::printf("stall / 1000 ms (a poll wait on the UI thread): %.3f\n", longest / 1000.0);
  return stored ? 0 : 1;
}
