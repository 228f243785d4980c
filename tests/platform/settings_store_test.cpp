#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/ini_settings_store.h"
#include "platform/paths.h"
#include "platform/port_names.h"
#include "platform/text.h"
#include "support/test_home.h"

namespace kba604::platform {
namespace {

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_text(const std::filesystem::path& p, const std::string& text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p) << text;
}

TEST(ScanfNumbers, ReadLikePercentI) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  } cases[] = {
      {"16", 16}, {"0x10", 16}, {"0X1f", 31},      {"010", 8},         {"0", 0},  {"  42", 42},
      {"-5", -5}, {"+7", 7},    {"12abc", 12},     {"09", 0},          {"0x", 0}, {"abc", {}},
      {"", {}},   {"-", {}},    {"4294967297", 1}, {"0xFFFFFFFF", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(scan_int(c.text), c.value) << c.text;
  }
}

// The same behaviour is asked of both stores.
class StoreTest : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<SettingsStore> make() {
    if (GetParam()) return std::make_unique<IniSettingsStore>(home_.config_dir() / "t.conf");
    return std::make_unique<MemorySettingsStore>();
  }
  test::TestHome home_;
};

TEST_P(StoreTest, NamesAreFoundWithoutRegardToCaseAndKeepTheirSpelling) {
  auto s = make();
  ASSERT_TRUE(s->set_value("RS485type", "1"));
  EXPECT_EQ(s->value("rs485TYPE"), "1");
  ASSERT_TRUE(s->set_value("rs485type", "0"));
  EXPECT_EQ(s->keys(""), std::vector<std::string>{"RS485type"});
  EXPECT_EQ(s->uint32_or("RS485TYPE", 7), 0u);
  ASSERT_TRUE(s->set_value("Ports/COM3", "/dev/ttyUSB0"));
  EXPECT_EQ(s->value("ports/com3"), "/dev/ttyUSB0");
  EXPECT_EQ(s->keys("PORTS"), std::vector<std::string>{"COM3"});
}

TEST_P(StoreTest, MissingAndUnreadableValuesGiveTheFallback) {
  auto s = make();
  EXPECT_FALSE(s->value("address").has_value());
  EXPECT_EQ(s->uint32_or("address", 16), 16u);
  s->set_value("address", "many");
  EXPECT_EQ(s->uint32_or("address", 16), 16u);
  s->set_uint32("address", 4000000000u);
  EXPECT_EQ(s->uint32_or("address", 16), 4000000000u);
  EXPECT_TRUE(s->remove("ADDRESS"));
  EXPECT_FALSE(s->contains("address"));
  EXPECT_TRUE(s->remove("address"));
}

TEST_P(StoreTest, TextsReadBackAsTheyWereWritten) {
  auto s = make();
  const std::string texts[] = {"/opt/a,b/share/", "a, b",      "@odd",
                               "\"quoted\"",      "Юстировкa", "semi;colon",
                               "  padded  ",      "=",         ""};
  for (const std::string& t : texts) {
    ASSERT_TRUE(s->set_value("datadirectory", t));
    EXPECT_EQ(s->value("datadirectory"), t);
  }
}

INSTANTIATE_TEST_SUITE_P(MemoryAndIni, StoreTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Ini" : "Memory"; });

TEST(IniSettingsStore, ValuesSurviveReopeningAndSitAtTopLevel) {
  test::TestHome home;
  {
    auto s = open_program_settings();
    s->set_uint32("baud_rate", 19200);
    s->set_value("hidemin", "1");
    s->set_value("Ports/COM2", "/dev/serial/by-id/usb-x");
  }
  const std::filesystem::path file = home.config_dir() / "TALV" / "KBA604.conf";
  ASSERT_TRUE(std::filesystem::exists(file));
  std::string text = read_file(file);
  EXPECT_NE(text.find("[General]"), std::string::npos);
  EXPECT_NE(text.find("baud_rate=19200"), std::string::npos);
  EXPECT_NE(text.find("[Ports]"), std::string::npos);
  auto again = open_program_settings();
  EXPECT_EQ(again->uint32_or("baud_rate", 9600), 19200u);
  EXPECT_EQ(again->value("HideMin"), "1");
  EXPECT_EQ(port_device(*again, "com2"), "/dev/serial/by-id/usb-x");
}

TEST(IniSettingsStore, HandWrittenFileIsReadWithoutRegardToCase) {
  test::TestHome home;
  write_text(
      home.config_dir() / "TALV" / "KBA604.conf",
      "[General]\nBaud_Rate=0x4b00\ndatadirectory=/srv/a,b/\n\n[ports]\ncom7=/dev/ttyUSB3\n");
  auto s = open_program_settings();
  EXPECT_EQ(s->uint32_or("baud_rate", 9600), 19200u);
  EXPECT_EQ(s->value("DataDirectory"), "/srv/a,b/");
  EXPECT_EQ(port_device(*s, "COM7"), "/dev/ttyUSB3");
  // A change keeps the spelling of the file instead of adding a second value.
  s->set_uint32("BAUD_RATE", 2400);
  std::string text = read_file(home.config_dir() / "TALV" / "KBA604.conf");
  EXPECT_NE(text.find("Baud_Rate=2400"), std::string::npos) << text;
  EXPECT_EQ(text.find("BAUD_RATE"), std::string::npos) << text;
}

TEST(IniSettingsStore, ChangesAreOnDiskAtOnceForAnotherReader) {
  test::TestHome home;
  auto writer = open_program_settings();
  auto reader = open_program_settings();
  EXPECT_FALSE(reader->contains("hidemin"));
  writer->set_value("hidemin", "1");
  EXPECT_EQ(IniSettingsStore(settings_file()).value("hidemin"), "1");
  EXPECT_EQ(reader->value("hidemin"), "1");
}

TEST(IniSettingsStore, RegistrationLivesInItsOwnSectionOfDevicesConf) {
  test::TestHome home;
  open_registration_settings()->set_value("name", "KBA604");
  std::string text = read_file(home.config_dir() / "TALV" / "Devices.conf");
  EXPECT_NE(text.find("[KBA604]\nname=KBA604"), std::string::npos) << text;
  EXPECT_FALSE(open_program_settings()->contains("name"));
}

TEST(IniSettingsStore, UnwritableFileReportsFailureAndKeepsGoing) {
  test::TestHome home;
  // The settings folder is a plain file: nothing can be written below it.
  write_text(home.config_dir() / "TALV", "not a folder");
  auto s = open_program_settings();
  EXPECT_FALSE(s->set_value("hidemin", "1"));
  EXPECT_EQ(s->uint32_or("RS485type", 0), 0u);
}

TEST(PortNames, ComNamesMapThroughPortsOrToOnBoardPorts) {
  MemorySettingsStore s;
  s.set_value("Ports/COM3", "/dev/serial/by-id/usb-FTDI-if00-port0");
  s.set_value("Ports/COM4", "");
  struct Case {
    const char* name;
    const char* device;
  } cases[] = {
      {"COM3", "/dev/serial/by-id/usb-FTDI-if00-port0"},
      {"com3", "/dev/serial/by-id/usb-FTDI-if00-port0"},
      {"COM1", "/dev/ttyS0"},
      {"COM4", "/dev/ttyS3"},
      {"COM12", "/dev/ttyS11"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"COM0", ""},
      {"COM", ""},
      {"COM256", ""},
      {"LPT1", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(port_device(s, c.name), c.device) << c.name;
  auto maps = port_mappings(s);
  ASSERT_EQ(maps.size(), 1u);
  EXPECT_EQ(maps[0].name, "COM3");
}

}  // namespace
}  // namespace kba604::platform
