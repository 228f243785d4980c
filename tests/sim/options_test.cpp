// The command line of kba604-sim.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "sim/options.h"

namespace kba604::test {
namespace {

sim::SimOptions parse(std::vector<std::string> args) {
  sim::SimOptions o;
  std::string error;
  EXPECT_TRUE(sim::parse_options(args, o, &error)) << error;
  return o;
}

TEST(SimOptions, NoOptionServesOneKba604At16With9600Baud8N1) {
  sim::SimOptions o = parse({});
  ASSERT_EQ(o.instruments.size(), 1u);
  const sim::InstrumentOptions& i = o.instruments[0];
  EXPECT_EQ(i.base_address, 16u);
  EXPECT_EQ(i.address_length, 8);
  EXPECT_EQ(i.line, (sim::LineSettings{9600, 8, sim::Parity::kNone, 1}));
  EXPECT_EQ(i.model, "KBA604");
  EXPECT_EQ(i.firmware, "1.10");
  EXPECT_EQ(i.protocol, sim::Protocol::kTalv);
  EXPECT_TRUE(o.line.link.empty());
  EXPECT_TRUE(o.line.device.empty());
  EXPECT_DOUBLE_EQ(o.line.time_scale, 1.0);
}

TEST(SimOptions, OptionsBeforeTheFirstAddressApplyToAllAfterItToThatOne) {
  sim::SimOptions o = parse({"--baud", "19200", "--drop", "1", "--address", "16", "--address=24",
                             "--model", "TRM", "--sensor-break", "3", "--link", "/tmp/x"});
  ASSERT_EQ(o.instruments.size(), 2u);
  EXPECT_EQ(o.instruments[0].base_address, 16u);
  EXPECT_EQ(o.instruments[1].base_address, 24u);
  for (const auto& i : o.instruments) {
    EXPECT_EQ(i.line.baud, 19200u);
    EXPECT_EQ(i.faults.drop, 1);
  }
  EXPECT_EQ(o.instruments[0].model, "KBA604");
  EXPECT_EQ(o.instruments[1].model, "TRM");
  EXPECT_TRUE(o.instruments[0].input_status.empty());
  EXPECT_EQ(o.instruments[1].input_status.at(3).code, 0xFD);
  EXPECT_EQ(o.line.link, "/tmp/x");
  EXPECT_TRUE(o.instruments[0].explicit_line);
  EXPECT_FALSE(o.instruments[0].explicit_address_length);
}

TEST(SimOptions, ValuesAreReadAsTheHelpDescribesThem) {
  sim::SimOptions o =
      parse({"--parity",       "even",  "--data-bits",     "7",    "--stop-bits",    "2",
             "--addr-len",     "11",    "--address",       "1024", "--input-status", "2:0xF5:3",
             "--protocol",     "ascii", "--corrupt-every", "3",    "--cal-bad-coef", "2",
             "--time-scale",   "0.01",  "--garbage",       "0.5",  "--seed",         "7",
             "--cal-store-ms", "250"});
  const sim::InstrumentOptions& i = o.instruments[0];
  EXPECT_EQ(i.line, (sim::LineSettings{9600, 7, sim::Parity::kEven, 2}));
  EXPECT_EQ(i.address_length, 11);
  EXPECT_EQ(i.base_address, 1024u);
  EXPECT_EQ(i.input_status.at(2).code, 0xF5);
  EXPECT_EQ(i.input_status.at(2).sub_code, 3);
  EXPECT_EQ(i.protocol, sim::Protocol::kModbusAscii);
  EXPECT_EQ(i.faults.corrupt_every, 3);
  EXPECT_EQ(i.calibration.bad_coefficient, 2);
  EXPECT_DOUBLE_EQ(i.calibration.store_ms, 250);
  EXPECT_DOUBLE_EQ(o.line.time_scale, 0.01);
  EXPECT_DOUBLE_EQ(o.line.garbage_rate, 0.5);
  EXPECT_EQ(o.line.seed, 7u);
}

TEST(SimOptions, WrongOptionsAreRefusedWithAMessageNamingThem) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--baud"},
      {"--baud", "fast"},
      {"--parity", "sometimes"},
      {"--data-bits", "9"},
      {"--addr-len", "9"},
      {"--address", "300"},
      {"--address", "16", "--address", "16"},
      {"--garbage", "2"},
      {"--time-scale", "-1"},
      {"--input-status", "9:0xFD"},
      {"--input-status", "1:12"},
      {"--silent=yes"},
      {"extra"},
      {"--model", "TOO-LONG-NAME"},
      {"--cal-store-ms", "-5"},
  };
  for (const auto& args : cases) {
    sim::SimOptions o;
    std::string error;
    EXPECT_FALSE(sim::parse_options(args, o, &error)) << args[0];
    std::string name = args[0].rfind("--", 0) == 0 ? args[0].substr(0, args[0].find('=')) : args[0];
    EXPECT_NE(error.find(name), std::string::npos) << error;
  }
}

TEST(SimOptions, HelpDocumentsEveryOptionAndEveryDocumentedOptionWorks) {
  // Every option with a plausible value; the help must name each, and name no other.
  const std::map<std::string, std::vector<std::string>> every = {
      {"--help", {}},
      {"--link", {"/tmp/l"}},
      {"--device", {"/dev/ttyUSB0"}},
      {"--state", {"/tmp/s"}},
      {"--data", {"/tmp/d"}},
      {"--log", {"-"}},
      {"--time-scale", {"0"}},
      {"--turnaround", {"1"}},
      {"--no-pacing", {}},
      {"--garbage", {"0.1"}},
      {"--seed", {"3"}},
      {"--address", {"24"}},
      {"--addr-len", {"8"}},
      {"--baud", {"2400"}},
      {"--data-bits", {"8"}},
      {"--parity", {"odd"}},
      {"--stop-bits", {"2"}},
      {"--model", {"TRM"}},
      {"--firmware", {"2.0"}},
      {"--reset-cause", {"6"}},
      {"--protocol", {"rtu"}},
      {"--regulating", {}},
      {"--sensor-break", {"1"}},
      {"--input-status", {"1:0xF7"}},
      {"--cal-time", {"1"}},
      {"--cal-status", {"7"}},
      {"--cal-bad-coef", {"1"}},
      {"--cal-never-finish", {}},
      {"--cal-store-fails", {}},
      {"--cal-coef-bytes", {"3"}},
      {"--cal-store-ms", {"250"}},
      {"--silent", {}},
      {"--drop", {"2"}},
      {"--corrupt-every", {"2"}},
      {"--no-start-every", {"2"}},
      {"--foreign-every", {"2"}},
      {"--refuse-write", {"i.d.AL"}},
      {"--hang-up-after", {"40"}},
  };
  std::string help = sim::help_text();
  std::set<std::string> documented;
  std::regex option("--[a-z][a-z-]+");
  for (auto it = std::sregex_iterator(help.begin(), help.end(), option);
       it != std::sregex_iterator(); ++it)
    documented.insert(it->str());
  for (const auto& [name, value] : every) {
    EXPECT_TRUE(documented.count(name)) << name << " is missing from --help";
    std::vector<std::string> args{name};
    args.insert(args.end(), value.begin(), value.end());
    sim::SimOptions o;
    std::string error;
    EXPECT_TRUE(sim::parse_options(args, o, &error)) << name << ": " << error;
  }
  for (const std::string& name : documented)
    EXPECT_TRUE(every.count(name)) << name << " is documented but unknown";
}

}  // namespace
}  // namespace kba604::test
