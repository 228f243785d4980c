#include <gtest/gtest.h>

#include "link/net_rs485.h"
#include "model/texts.h"

namespace kba604 {
namespace {

using Elements::NetRS485;
using Elements::NetRS485prg;

TEST(NetworkElements, InstrumentParametersInOrder) {
  NetRS485 e;
  EXPECT_EQ(e.name(), "Сетевые параметры прибора");
  struct Row {
    const char* name;
    const char* caption;
    const char* format;
  };
  const Row rows[] = {
      {"bPS", "Скорость обмена", "2400:4800:9600:14400:19200:28800:38400:57600:115200"},
      {"LEn", "Длина слова данных", "7:8"},
      {"PrtY", "Четность", "Отсутствует:Четность:Нечетность"},
      {"Sbit", "Кол-во стоп-бит", "1:2"},
      {"A.Len", "Длина адреса RS-485", "8:11"},
      {"Addr", "Собственный адрес прибора", "DEC_dot"},
  };
  ASSERT_EQ(e.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Parameter& p = *e.parameters()[i];
    EXPECT_EQ(p.short_name, rows[i].name);
    EXPECT_EQ(p.title, rows[i].caption);
    EXPECT_EQ(p.format, rows[i].format);
    EXPECT_EQ(p.attribute_multiplicity, 0);
    EXPECT_EQ(p.value, kNoData);
  }
}

TEST(NetworkElements, InstrumentCodesMapToTheListEntries) {
  NetRS485 e;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> data;
    int result;
    std::string text;
  };
  const Case cases[] = {
      {"bPS", {0}, 1, "2400"}, {"bPS", {8}, 1, "115200"}, {"bPS", {9}, 0, ""},
      {"LEn", {0}, 1, "7"},    {"LEn", {1}, 1, "8"},      {"PrtY", {2}, 1, "Нечетность"},
      {"Sbit", {1}, 1, "2"},   {"A.Len", {1}, 1, "11"},   {"Addr", {0x01, 0x00}, 1, "256"},
      {"Addr", {16}, 1, "16"},
  };
  for (const auto& c : cases) {
    std::string text;
    EXPECT_EQ(e.FindByName(c.name)->ConvertFromData(c.data.data(), c.data.size(), false, text),
              c.result)
        << c.name;
    if (c.result == 1) {
      EXPECT_EQ(text, c.text) << c.name;
    }
  }
}

TEST(NetworkElements, ProgramSettingsFromTheSettingsFile) {
  platform::MemorySettingsStore store;
  {
    NetRS485prg e(&store, [] { return std::string("COM1:COM2"); });
    EXPECT_EQ(e.name(), "Сетевые параметры программы");
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(e.parameters()[6]->short_name, "Port");
    EXPECT_EQ(e.parameters()[6]->title, "Порт компьютера");
    // Defaults of a port never configured.
    EXPECT_EQ(e.GetValueByName("bPS"), "9600");
    EXPECT_EQ(e.GetValueByName("LEn"), "8");
    EXPECT_EQ(e.GetValueByName("PrtY"), "Отсутствует");
    EXPECT_EQ(e.GetValueByName("Sbit"), "1");
    EXPECT_EQ(e.GetValueByName("A.Len"), "8");
    EXPECT_EQ(e.GetValueByName("Addr"), "16");
    EXPECT_EQ(e.GetValueByName("Port"), "COM1");
    for (const Parameter* p : e.parameters()) EXPECT_EQ(p->attribute_multiplicity, 0);
    e.SetValueByName("bPS", "19200", true);
    e.SetValueByName("PrtY", "Нечетность", true);
    e.SetValueByName("Port", "COM2", true);
    e.SetValueByName("Addr", "24", true);
  }
  // Written when the element goes, in the stored forms.
  EXPECT_EQ(store.value("baud_rate"), "19200");
  EXPECT_EQ(store.value("parity_scheme"), "4");
  EXPECT_EQ(store.value("port_number"), "2");
  EXPECT_EQ(store.value("address"), "24");

  struct Case {
    const char* stored;
    std::string shown;
  };
  const Case parity[] = {{"3", "Отсутствует"},
                         {"1", "Четность"},
                         {"4", "Нечетность"},
                         {"2", "<неверное значние>"},
                         {"0", "<неверное значние>"}};
  for (const auto& c : parity) {
    store.set_value("parity_scheme", c.stored);
    NetRS485prg e(&store, {});
    EXPECT_EQ(e.GetValueByName("PrtY"), c.shown) << c.stored;
    EXPECT_EQ(e.GetValueByName("bPS"), "19200");
    EXPECT_EQ(e.GetValueByName("Port"), "COM2");
  }
  // An invalid parity shown is not written back over the stored code.
  EXPECT_EQ(store.value("parity_scheme"), "0");
}

TEST(NetworkElements, DescriptionTexts) {
  platform::MemorySettingsStore store;
  NetRS485prg e(&store, {});
  const std::string summary = e.network_summary();
  EXPECT_EQ(summary, std::string("Скорость обмена") + ": 9600\n" + "Длина слова данных" + ": 8\n" +
                         "Четность" + ": " + "Отсутствует" + "\n" + "Кол-во стоп-бит" + ": 1\n" +
                         "Длина адреса RS-485" + ": 8\n" + "Собственный адрес прибора" + ": 16\n" +
                         "COM-порт: " + "COM1\n");
  NetRS485 instrument;
  instrument.SetValueByName("bPS", "2400", false);
  EXPECT_EQ(instrument.network_summary().substr(0, std::string("Скорость обмена").size() + 7),
            std::string("Скорость обмена") + ": 2400\n");
}

TEST(NetworkElements, PortListKeepsTheCurrentPort) {
  platform::MemorySettingsStore store;
  store.set_value("port_number", "5");
  std::string present = "COM1:COM3";
  NetRS485prg e(&store, [&] { return present; });
  EXPECT_EQ(e.FindByName("Port")->format, "COM1:COM3:COM5");
  present = "COM1:COM5";
  e.refresh_port_list();
  EXPECT_EQ(e.FindByName("Port")->format, "COM1:COM5");
  present.clear();
  e.refresh_port_list();
  EXPECT_EQ(e.FindByName("Port")->format, "COM5");
}

}  // namespace
}  // namespace kba604
