// The device on a scripted line: failures of the link as the operations see them, on the test
// clock.
#include <gtest/gtest.h>

#include "device_on_line.h"
#include "platform/settings_store.h"
#include "support/recording_prompter.h"
#include "support/scripted_line.h"

namespace kba604::test {
namespace {

class DeviceOnScriptedLine : public ::testing::Test {
 protected:
  void SetUp() override {
    device = Device::create(app, settings, line.opener());
    device->sio().set_converter_automatic(1);
    device->set_view(&view);
  }
  void TearDown() override { device->shutdown(); }

  platform::ManualClock clock;
  RecordingPrompter prompter;
  CKBA604App app{prompter, clock};
  platform::MemorySettingsStore settings;
  ScriptedLine line{clock};
  RecordingOperationView view;
  std::shared_ptr<Device> device;
};

TEST_F(DeviceOnScriptedLine, FiveTimeoutsInARowStopTheReadWithTheirMessage) {
  device->table().reset(8, "parameters.zip");
  ObjectWithParameters element;
  for (int i = 0; i < 8; ++i) {
    Parameter& p = device->table()[static_cast<std::size_t>(i)];
    p.short_name = "p." + std::to_string(i);
    p.format = "DEC_dot";
    element.add(p);
  }
  // The instrument never answers.
  ASSERT_TRUE(device->StartRead(element));
  ASSERT_TRUE(device->wait_idle(-1));

  int reads = 0;
  for (const LogRecord& r : view.log()) {
    if (r.text.rfind("  Чтение: ", 0) != 0) continue;
    ++reads;
    EXPECT_EQ(r.text.substr(r.text.find(" = ") + 3), "Таймаут при передаче данных (нет связи)");
  }
  EXPECT_EQ(reads, 5);
  ASSERT_EQ(prompter.count(), 1u);
  const PromptRecord box = prompter.records()[0];
  EXPECT_EQ(box.caption, "Предупреждение");
  EXPECT_EQ(box.text,
            "Так как прошло 5 неудачных попыток чтения параметров подряд,\nпохоже что прибор "
            "КВА-604 не подключен к компьютеру\n(или связь стабильно отсутствует по какой-либо "
            "другой причине). \nРежим автоматического чтения параметров был отключен.\nВы можете "
            "заново включить этот режим в меню \"Режимы программы\".\n\nРади избежания "
            "бессмысленных задержек и торможения\nкомпьютера операции обмена приостановлены.");
  EXPECT_FALSE(app.modes.auto_read.load());
  EXPECT_EQ(view.errors(), 5);
  // The worker opened the port for the operation and closed it afterwards.
  EXPECT_FALSE(line.is_open());
  EXPECT_EQ(line.open_count(), 1);
}

}  // namespace
}  // namespace kba604::test
