// The program's own link (serial port, frame codec, requests) against the virtual instrument:
// what a fault option or a protocol switch looks like from the configurator's side.
#include <gtest/gtest.h>

#include "app/application.h"
#include "link/device_io.h"
#include "model/parameter.h"
#include "platform/settings_store.h"
#include "sim_test_util.h"
#include "support/recording_prompter.h"
#include "support/virtual_instrument.h"

namespace kba604::test {
namespace {

class LinkOnInstrument {
 public:
  explicit LinkOnInstrument(std::vector<std::string> args) : sim(std::move(args)) {
    settings.set_value("Ports/COM1", sim.path());
    io.sio().set_converter_automatic(1);
    EXPECT_EQ(io.reopen_port(false), 0);
  }
  // Reads a parameter the way the configurator does; the result code and the note.
  int read(Parameter& p) { return io.transact_parameter(nullptr, &p, 1, false); }

  VirtualInstrument sim;
  RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  DeviceIO io{app, settings};
};

Parameter& named(Parameter& p, const char* name, const char* format) {
  p.short_name = name;
  p.format = format;
  p.attribute_multiplicity = 0;
  return p;
}

TEST(ProgramLink, FaultsReachTheConfiguratorAsItsOwnErrors) {
  struct Case {
    std::vector<std::string> args;
    int result;
    const char* note;  // copied from the texts the configurator shows
  };
  const Case cases[] = {
      {{}, 0, ""},
      {{"--drop", "2"}, 0, ""},            // two time-outs, then the answer
      {{"--no-start-every", "2"}, 0, ""},  // every other reply lost its start: repeated
      {{"--corrupt-every", "1"}, 1, "Ошибка в контрольной сумме ответа"},
      {{"--foreign-every", "1"},
       1,
       "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\nВозможно в сети RS-485 "
       "присутствует прибор со включенной функцией \"Мастер\""},
  };
  for (const Case& c : cases) {
    LinkOnInstrument link(c.args);
    Parameter dev;
    named(dev, "dev", "ASCI");
    EXPECT_EQ(link.read(dev), c.result) << (c.args.empty() ? "plain" : c.args[0]);
    EXPECT_EQ(dev.note, c.note) << (c.args.empty() ? "plain" : c.args[0]);
    if (c.result == 0) {
      EXPECT_EQ(dev.value, "KBA604");
    }
  }
}

TEST(ProgramLink, AnInstrumentLeftInModbusIsBroughtBack) {
  for (int mode : {1, 2}) {
    LinkOnInstrument link({"--protocol", mode == 1 ? "rtu" : "ascii"});
    Parameter dev;
    named(dev, "dev", "ASCI");
    link.io.set_protocol_mode(mode);
    ASSERT_EQ(link.io.reopen_port(false), 0);
    EXPECT_EQ(link.io.transact_parameter(nullptr, nullptr, 1, false), 0) << "mode " << mode;
    link.io.set_protocol_mode(0);
    ASSERT_EQ(link.io.reopen_port(false), 0);
    EXPECT_EQ(link.read(dev), 0) << "mode " << mode;
    EXPECT_EQ(dev.value, "KBA604");
  }
}

TEST(ProgramLink, ReadsAndWritesTheInstrumentsValues) {
  LinkOnInstrument link({});
  Parameter in_t;
  named(in_t, "in-t", "Отключен:ТСМ_100М_(1,426):ТСМ_50М_(1,426)");
  in_t.indexed = true;
  in_t.linear_index = 3;
  in_t.value = "ТСМ 50М (1,426)";
  EXPECT_EQ(link.io.transact_parameter(nullptr, &in_t, 0, false), 0) << in_t.note;
  EXPECT_EQ(link.sim.with([](sim::Instrument& i) { return *i.value("in-t", 3); }), sim::Bytes{2});
  in_t.value = "Нет данных";
  EXPECT_EQ(link.read(in_t), 0) << in_t.note;
  EXPECT_EQ(in_t.value, "ТСМ 50М (1,426)");
}

}  // namespace
}  // namespace kba604::test
