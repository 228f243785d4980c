#include <gtest/gtest.h>

#include "link/link_fixture.h"
#include "link/modbus.h"

namespace kba604 {
namespace {

using test::LineResponse;

// The switch-back frame for address 16, as the instrument echoes it: 10 05 F0 F0 FF 00 and the
// CRC BC 48 (low byte first), worked out beforehand with a separate bitwise CRC program.
const std::string kRtuSwitchBack("\x10\x05\xF0\xF0\xFF\x00\xBC\x48", 8);
// The same packet in Modbus ASCII: the byte sum F4 (low byte) gives the LRC 0C.
const std::string kAsciiSwitchBack = ":1005F0F0FF000C\r\n";

// A reference CRC, table-driven, unlike the bitwise one of the link.
std::uint16_t reference_crc(const std::string& bytes) {
  static std::uint16_t table[256];
  static bool built = false;
  if (!built) {
    for (int i = 0; i < 256; ++i) {
      std::uint16_t c = static_cast<std::uint16_t>(i);
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? static_cast<std::uint16_t>((c >> 1) ^ 0xA001) : c >> 1;
      table[i] = c;
    }
    built = true;
  }
  std::uint16_t crc = 0xFFFF;
  for (unsigned char b : bytes)
    crc = static_cast<std::uint16_t>((crc >> 8) ^ table[(crc ^ b) & 0xFF]);
  return crc;
}

TEST(ModbusFraming, SwitchBackFrames) {
  const std::vector<std::uint8_t> packet = {0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00};
  EXPECT_EQ(frame_modbus_rtu(packet), kRtuSwitchBack);
  EXPECT_EQ(frame_modbus_ascii(packet), kAsciiSwitchBack);
  EXPECT_EQ(reference_crc(kRtuSwitchBack.substr(0, 6)), 0x48BC);
  // A frame that carries its own CRC checks to zero.
  EXPECT_EQ(reference_crc(kRtuSwitchBack), 0);
  EXPECT_EQ(modbus_crc(reinterpret_cast<const std::uint8_t*>(kRtuSwitchBack.data()), 8), 0);
  EXPECT_EQ(modbus_lrc(packet.data(), packet.size()), 0x0C);
}

TEST(ModbusFraming, Unframing) {
  struct Case {
    bool rtu;
    std::string chars;
    int result;
    std::vector<std::uint8_t> packet;
  };
  std::string bad_crc = kRtuSwitchBack;
  bad_crc[7] = 0x49;
  const Case cases[] = {
      {true, kRtuSwitchBack, 0, {0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00}},
      {true, bad_crc, kRawChecksum, {}},
      {true, "\x10", kRawMalformed, {}},
      {true, "\xFF\xFF", kRawMalformed, {}},  // the CRC of nothing: no address either
      {false, kAsciiSwitchBack, 0, {0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00}},
      {false, ":1005f0f0ff000c\r", 0, {0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00}},
      {false, ":1005F0F0FF000D\r\n", kRawChecksum, {}},
      {false, ":1\r", kRawMalformed, {}},
      {false, "1005F0F0FF000C\r\n", kRawMalformed, {}},  // no colon
      {false, ":1005F0F0FF000C", kRawMalformed, {}},     // no carriage return
      {false, ":1005F0F0FF00G0\r", kRawMalformed, {}},   // not a digit
      {false, ":1005F0F0FF000\r", kRawMalformed, {}},    // odd count
      {false, ":\r\n", kRawMalformed, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> packet = {9};
    const int r = c.rtu ? unframe_modbus_rtu(c.chars.data(), c.chars.size(), &packet)
                        : unframe_modbus_ascii(c.chars.data(), c.chars.size(), &packet);
    EXPECT_EQ(r, c.result) << c.chars;
    EXPECT_EQ(packet, c.packet) << c.chars;
  }
}

class RawExchangeTest : public test::LinkTest {
 protected:
  int raw() {
    count = -1;
    return io.exchange_raw(kSwitchBackCommand, 5, reply, &count);
  }
  std::uint8_t reply[32] = {};
  int count = -1;
};

TEST_F(RawExchangeTest, SwitchBackInBothModes) {
  io.set_protocol_mode(kProtocolModbusRtu);
  line.push(LineResponse::reply(kRtuSwitchBack));
  EXPECT_EQ(raw(), kRawOk);
  ASSERT_EQ(count, 5);
  EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 5),
            std::vector<std::uint8_t>(kSwitchBackCommand, kSwitchBackCommand + 5));
  io.set_protocol_mode(kProtocolModbusAscii);
  line.push(LineResponse::reply(kAsciiSwitchBack));
  EXPECT_EQ(raw(), kRawOk);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(line.requests(), (std::vector<std::string>{kRtuSwitchBack, kAsciiSwitchBack}));
}

TEST_F(RawExchangeTest, TimeOutsFlipTheConverterAndLineErrorsRepeat) {
  io.set_protocol_mode(kProtocolModbusAscii);
  app.modes.rs485_type.store(0);
  std::vector<int> converter;
  line.set_responder([&](const std::string&) {
    converter.push_back(io.sio().converter_automatic());
    return LineResponse::silence();
  });
  EXPECT_EQ(raw(), kRawTimeout);
  // Four transfers, the converter switched after each time-out: back where it was.
  EXPECT_EQ(converter, (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(app.modes.rs485_type.load(), 0);

  line.set_responder({});
  line.clear_log();
  for (int i = 0; i < 16; ++i) line.push(LineResponse::line_error());
  line.push(LineResponse::reply(kAsciiSwitchBack));
  EXPECT_EQ(raw(), kRawOk);
  EXPECT_EQ(line.requests().size(), 17u);
  line.clear_log();
  for (int i = 0; i < 17; ++i) line.push(LineResponse::line_error());
  EXPECT_EQ(raw(), kRawLineErrors);
  EXPECT_EQ(line.requests().size(), 17u);
}

TEST_F(RawExchangeTest, RepliesThatFail) {
  io.set_protocol_mode(kProtocolModbusAscii);
  struct Case {
    std::string reply;
    int result;
  };
  const Case cases[] = {
      {":1105F0F0FF000B\r\n", kRawAddressMismatch},
      {":1005F0F0FF000D\r\n", kRawChecksum},
      {"::\r", kRawMalformed},
  };
  for (const auto& c : cases) {
    line.push(LineResponse::reply(c.reply));
    EXPECT_EQ(raw(), c.result) << c.reply;
    EXPECT_EQ(count, 0);
    clock.advance_ms(1000);
  }
  io.sio().set_address_length(11);
  EXPECT_EQ(raw(), kRawAddressTooLong);
}

TEST_F(RawExchangeTest, ParameterRequestInModbusModeSendsTheSwitchBack) {
  Parameter p;
  p.short_name = "r.St";
  struct Case {
    int mode;
    LineResponse reply;
    int result;
    std::string note;
  };
  const Case cases[] = {
      {kProtocolModbusRtu, LineResponse::reply(kRtuSwitchBack), 0, ""},
      {kProtocolModbusAscii, LineResponse::reply(kAsciiSwitchBack), 0, ""},
      {kProtocolModbusAscii, LineResponse::reply(":1005F0F0FF010B\r\n"), kRequestBadEcho,
       "Некорректный ответ"},
      {kProtocolModbusAscii, LineResponse::silence(), kRawTimeout,
       "Таймаут при передаче данных (нет связи)"},
      {kProtocolModbusAscii, LineResponse::reply(":1005F0F0FF000D\r\n"), kRawChecksum,
       "Ошибка в контрольной сумме"},
  };
  for (const auto& c : cases) {
    io.set_protocol_mode(c.mode);
    line.clear_log();
    line.set_responder([&](const std::string&) { return LineResponse::silence(); });
    line.push(c.reply);
    EXPECT_EQ(io.transact_parameter(nullptr, &p, 1, false), c.result);
    EXPECT_EQ(p.note, c.note);
    EXPECT_EQ(line.requests()[0], c.mode == kProtocolModbusRtu ? kRtuSwitchBack : kAsciiSwitchBack);
    clock.advance_ms(1000);
  }
  EXPECT_EQ(raw_exchange_text(3), "Ошибки на линии связи");
  EXPECT_EQ(raw_exchange_text(5), "Адрес устройства в запросе не соответствует адресу в ответе.");
  EXPECT_EQ(raw_exchange_text(-1), "");
}

}  // namespace
}  // namespace kba604
