// A worker that does not end within its join limit is left running, and must own what it still
// touches: these tests stall it on purpose and are meant to run under AddressSanitizer.
#include <gtest/gtest.h>

#include <memory>

#include "support/fake_link_device.h"
#include "support/recording_operation_view.h"
#include "support/recording_prompter.h"

namespace kba604::test {
namespace {

// What the program keeps until its process ends: the application and its prompter.
struct Program {
  platform::ManualClock clock;
  RecordingPrompter prompter;
  CKBA604App app{prompter, clock};
};

// A device that says when it is gone, on whichever thread lets it go last.
class WatchedDevice final : public FakeLinkDevice {
 public:
  WatchedDevice(CKBA604App& app, std::shared_ptr<platform::Event> gone)
      : FakeLinkDevice(app), gone_(std::move(gone)) {}
  ~WatchedDevice() override { gone_->set(); }

 private:
  std::shared_ptr<platform::Event> gone_;
};

TEST(WorkerStall, AWorkerLeftRunningAtShutdownKeepsTheTreeItWalks) {
  static Program program;  // lives to the end of the process, as the program's own does
  auto gone = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
  auto device = std::make_shared<WatchedDevice>(program.app, gone);
  device->start_worker(device);
  device->table().reset(4, "parameters.zip");
  auto tree = std::make_unique<ObjectWithParameters>();
  for (std::size_t i = 0; i < 4; ++i) {
    device->table()[i].short_name = "p" + std::to_string(i);
    tree->add(device->table()[i]);
  }

  device->hold_requests();
  ASSERT_TRUE(device->StartRead(*tree));
  device->wait_for_held_request();
  // The worker is inside a request: shutdown gives up at once and the tree is handed over.
  EXPECT_FALSE(device->shutdown(0));
  device->keep_while_worker_runs(std::shared_ptr<ObjectWithParameters>(std::move(tree)));
  std::weak_ptr<FakeLinkDevice> left = device;
  device.reset();
  EXPECT_FALSE(left.expired());  // the worker holds it

  // The request ends; the worker finishes its walk over the tree, ends and lets everything go.
  if (std::shared_ptr<FakeLinkDevice> held = left.lock()) held->release_requests();
  ASSERT_TRUE(gone->wait(10'000));
}

}  // namespace
}  // namespace kba604::test
