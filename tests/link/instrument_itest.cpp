// The link against the virtual instrument on a pseudo-terminal: the real serial code, the frame
// exchange and the requests, with an instrument that keeps its own line settings.
#include <gtest/gtest.h>

#include <memory>

#include "app/application.h"
#include "link/device_io.h"
#include "platform/settings_store.h"
#include "support/recording_prompter.h"
#include "support/virtual_instrument.h"

namespace kba604 {
namespace {

class InstrumentTest : public ::testing::Test {
 protected:
  void connect(std::vector<std::string> sim_args, int baud = 9600, const char* parity = nullptr) {
    if (!test::shipped_description_exists()) GTEST_SKIP() << "no description in the build tree";
    sim = std::make_unique<test::VirtualInstrument>(std::move(sim_args));
    settings.set_value("Ports/COM9", sim->path());
    settings.set_value("port_number", "9");
    settings.set_value("baud_rate", std::to_string(baud));
    if (parity != nullptr) settings.set_value("parity_scheme", parity);
    io = std::make_unique<DeviceIO>(app, settings);
    app.modes.rs485_type.store(1);
    ASSERT_EQ(io->reopen_port(false), 0);
  }

  std::unique_ptr<Parameter> command(const char* name) {
    auto p = std::make_unique<Parameter>();
    p->short_name = name;
    p->format = "ASCI";
    return p;
  }

  test::RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  std::unique_ptr<test::VirtualInstrument> sim;
  std::unique_ptr<DeviceIO> io;
};

TEST_F(InstrumentTest, DeviceNameAndFirmware) {
  connect({"--firmware", "2.05"});
  auto dev = command("dev");
  auto ver = command("ver");
  EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRequestOk) << dev->note;
  EXPECT_EQ(dev->value, "KBA604");
  EXPECT_EQ(io->transact_parameter(nullptr, ver.get(), 1, false), kRequestOk) << ver->note;
  EXPECT_EQ(ver->value, "2.05");
  EXPECT_EQ(app.exit_flags.value(), 0u);
}

TEST_F(InstrumentTest, SwitchBackFromModbus) {
  struct Case {
    const char* protocol;
    int mode;
  };
  for (const Case c : {Case{"rtu", kProtocolModbusRtu}, Case{"ascii", kProtocolModbusAscii}}) {
    connect({"--protocol", c.protocol});
    if (IsSkipped()) return;
    auto dev = command("dev");
    // In the ТАЛВ protocol the instrument does not answer yet.
    EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRequestFailed);
    io->set_protocol_mode(c.mode);
    ASSERT_EQ(io->reopen_port(false), 0);
    EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRawOk) << c.protocol;
    io->set_protocol_mode(kProtocolTalv);
    ASSERT_EQ(io->reopen_port(false), 0);
    EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRequestOk) << c.protocol;
    EXPECT_EQ(dev->value, "KBA604");
    io.reset();
    sim.reset();
  }
}

TEST_F(InstrumentTest, LostRepliesAreRepeatedUpToTheLimit) {
  connect({"--drop", "3"});
  auto dev = command("dev");
  EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRequestOk) << dev->note;
  io.reset();
  sim.reset();
  connect({"--drop", "4"});
  EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRequestFailed);
  EXPECT_EQ(dev->note, "Таймаут при передаче данных (нет связи)");
  EXPECT_EQ(app.exit_flags.value(), ExitFlags::kTimeout);
}

TEST_F(InstrumentTest, ForeignMasterOnTheLine) {
  connect({"--foreign-every", "1"});
  auto dev = command("dev");
  EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRequestFailed);
  EXPECT_EQ(dev->note,
            "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\nВозможно в сети "
            "RS-485 присутствует прибор со включенной функцией \"Мастер\"");
}

TEST_F(InstrumentTest, LineSettingsMustMatchTheInstrument) {
  connect({"--parity", "even"}, 9600, "1");
  auto dev = command("dev");
  EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRequestOk) << dev->note;
  io.reset();
  sim.reset();
  connect({"--parity", "even"}, 9600, "3");
  EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRequestFailed);
  io.reset();
  sim.reset();
  connect({}, 19200);
  EXPECT_EQ(io->transact_parameter(nullptr, dev.get(), 1, false), kRequestFailed);
  EXPECT_EQ(dev->note, "Таймаут при передаче данных (нет связи)");
}

}  // namespace
}  // namespace kba604
