// The connection check, the baud scan, "APLY" and the factory settings against the virtual
// instrument on a pseudo-terminal, which the program reaches as COM1 through the test's
// [Ports] section.
#include <gtest/gtest.h>

#include <mutex>

#include "app/program_settings.h"
#include "device_on_line.h"
#include "operations/connection_check.h"
#include "operations/network_commands.h"
#include "operations/setup_carrier.h"
#include "platform/settings_store.h"
#include "support/recording_prompter.h"
#include "support/virtual_instrument.h"

namespace kba604::test {
namespace {

// What the connection-search dialog shows, recorded; a command the worker posts is completed
// at once, as the dialog's thread would.
class CarrierView final : public PreStart::SetupCarrierView {
 public:
  void show_status(std::string_view text, bool) override {
    std::lock_guard lock(mutex_);
    statuses_.emplace_back(text);
  }
  void enable_table(bool) override {}
  void show_row(std::size_t, std::string_view) override {}
  void end_dialog(int r) override {
    result.store(r);
    ended.set();
  }
  void post_command(PreStart::PendingCommand command) override {
    if (carrier != nullptr) carrier->complete(command);
  }
  std::vector<std::string> statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
  }
  bool saw(const std::string& status) const {
    for (const std::string& s : statuses()) {
      if (s == status) return true;
    }
    return false;
  }

  PreStart::CSetupCarrier* carrier = nullptr;
  platform::Event ended{platform::Event::Reset::Manual};
  std::atomic<int> result{0};

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> statuses_;
};

class NetworkOnInstrument : public ::testing::Test {
 protected:
  void start(std::vector<std::string> sim_args) {
    sim = std::make_unique<VirtualInstrument>(std::move(sim_args));
    settings.set_value("Ports/COM1", sim->path());
    device = Device::create(app, settings);
  }
  void TearDown() override {
    if (device) device->shutdown();
  }
  int flags_at(const char* baud) {
    device->program_settings().SetValueByName("bPS", baud, false);
    device->reopen_port(false);
    return check_device(*device, nullptr, false);
  }

  RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  std::unique_ptr<VirtualInstrument> sim;
  std::shared_ptr<Device> device;
};

TEST_F(NetworkOnInstrument, AnotherModelFailsTheCheckAndLeaves64) {
  start({"--model", "TRM-101"});
  EXPECT_FALSE(ConnectionCheck(*device));
  EXPECT_EQ(app.exit_flags.value(), ExitFlags::kOtherModel);
  EXPECT_EQ(app.exit_flags.exit_code(), 206);
  EXPECT_EQ(device->protocol_mode(), kProtocolTalv);
}

TEST_F(NetworkOnInstrument, TheRightModelAnswersTheMenusCheck) {
  start({});
  app.exit_flags.set_to(ExitFlags::kOtherModel);
  EXPECT_TRUE(ConnectionCheck(*device));
  EXPECT_EQ(app.exit_flags.value(), 0u);
  EXPECT_EQ(check_device(*device, nullptr, true),
            device_check::kRightModel | device_check::kAnswered);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].caption, "Проверка прибора");
  EXPECT_EQ(prompter.records()[0].text, "Прибор: KBA604\nВерсия прошивки: 1.10\n");
}

TEST_F(NetworkOnInstrument, AnInstrumentLeftInModbusIsSwitchedBack) {
  for (const char* protocol : {"ascii", "rtu"}) {
    SCOPED_TRACE(protocol);
    start({"--protocol", protocol});
    // Nothing answers in the ТАЛВ protocol before.
    EXPECT_EQ(check_device(*device, nullptr, false), 0);
    EXPECT_TRUE(ConnectionCheck(*device));
    EXPECT_EQ(device->protocol_mode(), kProtocolTalv);
    EXPECT_EQ(app.exit_flags.value(), 0u) << "the time-outs of the search are cleared";
    EXPECT_EQ(check_device(*device, nullptr, false),
              device_check::kRightModel | device_check::kAnswered);
    device->shutdown();
    device.reset();
  }
}

TEST_F(NetworkOnInstrument, TheScanFindsTheInstrumentAt19200AndKeepsIt) {
  start({"--baud", "19200"});
  CarrierView view;
  PreStart::CSetupCarrier carrier(*device, view);
  view.carrier = &carrier;
  carrier.OnInitDialog();
  carrier.OnScan();
  // Each speed below takes two tries of "dev" and "ver" and both switch-back commands.
  ASSERT_TRUE(view.ended.wait(120000));
  carrier.close();
  EXPECT_EQ(view.result.load(), PreStart::kResultConnected);
  const std::vector<std::string> expected = {
      "Идет сканирование на скорости 2400...",  "Идет сканирование на скорости 4800...",
      "Идет сканирование на скорости 9600...",  "Идет сканирование на скорости 14400...",
      "Идет сканирование на скорости 19200...", "Связь установлена!"};
  EXPECT_EQ(view.statuses(), expected);
  EXPECT_EQ(carrier.rows()[0].value, "19200");
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "19200");
  EXPECT_EQ(ProgramSettings(settings).port_settings().baud_rate, 19200u);
  EXPECT_EQ(device->sio().baud_rate(), 19200);
}

TEST_F(NetworkOnInstrument, AnInterruptedScanRestoresTheSpeed) {
  start({"--baud", "19200"});
  CarrierView view;
  PreStart::CSetupCarrier carrier(*device, view);
  view.carrier = &carrier;
  carrier.OnInitDialog();
  carrier.OnScan();
  for (int i = 0; i < 2000 && !view.saw("Идет сканирование на скорости 2400..."); ++i) {
    platform::Clock::real().sleep_ms(5);
  }
  carrier.OnExit();  // "Выход"
  ASSERT_TRUE(view.ended.wait(10000));
  carrier.close();
  EXPECT_EQ(view.result.load(), PreStart::kResultQuit);
  EXPECT_EQ(view.statuses().back(), "Прерывание операции...");
  EXPECT_FALSE(view.saw("Не удалось установить связь с прибором!"));
  EXPECT_EQ(carrier.rows()[0].value, "9600");
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "9600");
  EXPECT_EQ(device->sio().baud_rate(), 9600);
}

TEST_F(NetworkOnInstrument, AfterApplyTheInstrumentAnswersAtTheNewSpeedOnly) {
  start({});
  DescriptionLoad load = load_shipped_description(*device, prompter);
  ASSERT_TRUE(load.main_tree && load.network_branch);
  Elements::NetRS485 instrument;
  instrument.bind(load.network_branch);
  ASSERT_TRUE(instrument.bound());
  ASSERT_EQ(device->reopen_port(false), 0);

  // The engineer sets the instrument's speed in the network branch and writes it.
  Parameter* speed = load.network_branch->FindByName("bPS");
  ASSERT_NE(speed, nullptr);
  speed->value = "19200";
  ASSERT_EQ(device->WriteParameter(*speed, kWriteAll), 0) << speed->note;
  EXPECT_EQ(flags_at("9600"), device_check::kRightModel | device_check::kAnswered)
      << "the instrument keeps its speed until APLY";

  Dialogs::CApply apply(device.get(), &instrument);
  EXPECT_NE(apply.parameters_text().find("Скорость обмена: 19200\n"), std::string::npos);
  ASSERT_TRUE(apply.OnOK());
  EXPECT_EQ(apply.check_errors(), "");
  EXPECT_EQ(prompter.count(), 0u);
  EXPECT_EQ(device->program_settings().GetValueByName("bPS"), "19200");
  EXPECT_EQ(device->sio().baud_rate(), 19200);

  EXPECT_EQ(flags_at("9600"), 0);
  EXPECT_EQ(flags_at("19200"), device_check::kRightModel | device_check::kAnswered);
  device->forget_description();
}

TEST_F(NetworkOnInstrument, FactorySettingsThenASuccessfulCheck) {
  start({});
  settings.set_value("Ports/COM2", sim->path() + "-elsewhere");
  Elements::NetRS485prg& program = device->program_settings();
  program.SetValueByName("Port", "COM2", false);
  program.SetValueByName("bPS", "57600", false);
  program.SetValueByName("LEn", "7", false);
  program.SetValueByName("PrtY", "Нечетность", false);
  program.SetValueByName("Sbit", "2", false);
  program.SetValueByName("A.Len", "11", false);
  program.SetValueByName("Addr", "24", false);
  EXPECT_FALSE(ConnectionCheck(*device)) << "nothing is there at these settings";

  CarrierView view;
  PreStart::CSetupCarrier carrier(*device, view);
  view.carrier = &carrier;
  carrier.OnInitDialog();
  carrier.OnFactorySettings();
  ASSERT_TRUE(view.ended.wait(30000));
  carrier.close();
  EXPECT_EQ(view.result.load(), PreStart::kResultConnected);
  EXPECT_EQ(view.statuses().back(), "Связь установлена!");

  const std::vector<std::string> rows = {"9600", "8", "Отсутствует", "1", "8", "16", "COM1"};
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(carrier.rows()[i].value, rows[i]);
  const PortSettings stored = ProgramSettings(settings).port_settings();
  EXPECT_EQ(stored.port_number, 1u);
  EXPECT_EQ(stored.address, 16u);
  EXPECT_EQ(stored.baud_rate, 9600u);
  EXPECT_EQ(stored.byte_size, 8u);
  EXPECT_EQ(stored.parity_scheme, 3u);
  EXPECT_EQ(stored.stop_bits, 1u);
  EXPECT_EQ(stored.address_length, 8u);
  EXPECT_EQ(device->sio().port_name(), "COM1");
}

}  // namespace
}  // namespace kba604::test
