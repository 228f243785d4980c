// The instrument's answers on the terminal, read the way the configurator reads them: the
// texts a user sees for identification, reset causes, refusals and status codes.
#include <gtest/gtest.h>

#include "model/device_codes.h"
#include "model/my_converter.h"
#include "sim_test_util.h"
#include "support/virtual_instrument.h"

namespace kba604::test {
namespace {

// The value text the configurator makes of a reply to the named parameter.
std::string as_text(std::string_view name, std::string_view format, const sim::Packet& reply) {
  MyConverter converter;
  converter.short_name = std::string(name);
  converter.format = std::string(format);
  std::string text;
  converter.ConvertFromData(reply.data.data(), reply.data.size(), false, text);
  return text;
}

TEST(Answers, ReadAsTheConfiguratorShowsThem) {
  VirtualInstrument sim({"--sensor-break", "2", "--input-status", "5:0xF7"});
  TerminalClient port(sim.path());
  auto ask = [&](unsigned address, bool read, std::string_view name, sim::Bytes data = {}) {
    return reply_of(port.exchange(sim::encode_frame(request(address, read, name, data), 8)));
  };
  struct Case {
    unsigned address;
    const char* name;
    const char* format;
    const char* text;
  };
  const Case cases[] = {
      {16, "dev", "ASCI", "KBA604"},
      {16, "ver", "ASCI", "1.10"},
      {16, "exit", "DEC_dot", "сброс по питанию"},
      {255, "exit", "DEC_dot", "Адрес прибора: 16"},
      {17, "rEAd", "float", "Обрыв датчика."},
      {20, "rEAd", "float", "Датчик отключен."},
      {16, "Set.P", "float", "У регулятора отсутствует уставка или регулятор не работает."},
  };
  for (const Case& c : cases) {
    sim::Packet reply = ask(c.address, true, c.name);
    EXPECT_EQ(reply.hash, hash_name(c.name)) << c.name;
    EXPECT_EQ(as_text(c.name, c.format, reply), c.text) << c.name << " at " << c.address;
  }
  // Refusals carry the network error whose text the configurator shows.
  sim::Packet unknown = ask(16, true, "XYZ");
  EXPECT_EQ(network_error_text(unknown.data.at(0)), "Не найден дескриптор");
  sim::Packet locked = ask(16, false, "dev", {'x'});
  EXPECT_EQ(unknown.hash, kHashNErr);
  EXPECT_EQ(locked.hash, kHashNErr);
  EXPECT_EQ(locked.data, sim::Bytes{0x03});
}

TEST(Answers, AnotherResetCause) {
  VirtualInstrument sim({"--reset-cause", "6"});
  TerminalClient port(sim.path());
  sim::Packet reply = reply_of(port.exchange(sim::encode_frame(request(16, true, "exit"), 8)));
  EXPECT_EQ(as_text("exit", "DEC_dot", reply), "внешний сброс");
}

TEST(Answers, AWriteLockedByTheAttributesNamesTheLock) {
  VirtualInstrument sim;
  TerminalClient port(sim.path());
  // Lock "n.Ch" (its attributes belong to the user) and try to write it.
  std::uint16_t h = hash_name("n.Ch");
  sim::Bytes lock{0x02, static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h & 0xFF)};
  EXPECT_EQ(reply_of(port.exchange(sim::encode_frame(request(16, false, "Attr", lock), 8))).data,
            lock);
  sim::Packet refused =
      reply_of(port.exchange(sim::encode_frame(request(16, false, "n.Ch", {8}), 8)));
  ASSERT_EQ(refused.hash, kHashNErr);
  EXPECT_EQ(network_error_text(refused.data.at(0)),
            "Редактирование параметра запрещено атрибутами доступа");
}

}  // namespace
}  // namespace kba604::test
