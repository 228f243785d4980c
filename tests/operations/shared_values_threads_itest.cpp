// Values shared between the worker and the views: a read of the whole shipped description
// against the virtual instrument while another thread keeps reading the rows of every
// parameter, as a window paints while the read runs. Under ThreadSanitizer this is the
// evidence that the value lock covers what the worker changes.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "device_on_line.h"
#include "platform/settings_store.h"
#include "support/recording_notification_sink.h"
#include "support/recording_prompter.h"
#include "support/virtual_instrument.h"

namespace kba604::test {
namespace {

// The parameters a read of a tree visits, without reading them.
class Visits final : public ParameterOperations {
 public:
  bool stop_requested() override { return false; }
  int ReadParameter(Parameter& p, bool) override {
    visited.insert(&p);
    return 0;
  }
  int WriteParameter(Parameter&, int) override { return 0; }
  int CompareParameter(Parameter&) override { return 0; }
  void add_done(int) override {}
  void log_branch(const std::string&) override {}
  std::set<const Parameter*> visited;
};

TEST(SharedValues, RowsReadWhileTheWorkerReadsTheWholeTreeAndEveryChangeIsAnnounced) {
  VirtualInstrument sim;
  RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  settings.set_value("Ports/COM1", sim.path());
  RecordingOperationView view;
  PauseCutter cutter{view};
  RecordingNotificationSink sink;
  std::shared_ptr<Device> device = Device::create(app, settings);
  device->sio().set_converter_automatic(1);
  cutter.attach(*device);
  device->set_view(&cutter);
  device->set_notification_sink(&sink);
  DescriptionLoad load = load_shipped_description(*device, prompter);
  ASSERT_TRUE(load.main_tree);
  ParameterTable& table = device->table();

  std::atomic<bool> reading{true};
  std::atomic<long> rows{0};
  std::atomic<long> with_value{0};
  std::thread painter([&] {
    while (reading.load()) {
      for (const Parameter& p : table) {
        const ParameterRow row = p.locked_row(true);
        if (!row.value.empty() && row.value != kNoData) with_value.fetch_add(1);
        rows.fetch_add(1);
      }
    }
  });
  ASSERT_TRUE(device->StartRead(*load.main_tree));
  ASSERT_TRUE(device->wait_idle(-1));
  reading.store(false);
  painter.join();

  EXPECT_EQ(view.errors(), 0);
  EXPECT_GT(rows.load(), static_cast<long>(table.size()));
  EXPECT_GT(with_value.load(), 0);
  // Every parameter the read visited was announced by its position, and nothing else.
  std::set<std::size_t> announced;
  for (std::size_t i : sink.changed_parameters()) {
    ASSERT_LT(i, table.size());
    announced.insert(i);
  }
  Visits visits;
  load.main_tree->ReadAll(visits);
  ASSERT_FALSE(visits.visited.empty());
  for (const Parameter* p : visits.visited) {
    if (p->linear_index < 0) continue;  // skipped, never read
    const std::optional<std::size_t> index = table.index_of(*p);
    ASSERT_TRUE(index) << p->short_name;
    EXPECT_TRUE(announced.count(*index)) << p->short_name;
  }

  device->forget_description();
  device->shutdown();
}

}  // namespace
}  // namespace kba604::test
