#include "link/modbus.h"

namespace kba604 {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::uint16_t modbus_crc(const std::uint8_t* data, std::size_t count) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                      : static_cast<std::uint16_t>(crc >> 1);
    }
  }
  return crc;
}

std::uint8_t modbus_lrc(const std::uint8_t* data, std::size_t count) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  return static_cast<std::uint8_t>(-sum);
}

std::string frame_modbus_rtu(const std::vector<std::uint8_t>& packet) {
  std::string frame(packet.begin(), packet.end());
  const std::uint16_t crc = modbus_crc(packet.data(), packet.size());
  frame += static_cast<char>(crc & 0xFF);
  frame += static_cast<char>(crc >> 8);
  return frame;
}

std::string frame_modbus_ascii(const std::vector<std::uint8_t>& packet) {
  std::string frame = ":";
  auto put = [&frame](std::uint8_t b) {
    frame += kHexDigits[b >> 4];
    frame += kHexDigits[b & 0x0F];
  };
  for (std::uint8_t b : packet) put(b);
  put(modbus_lrc(packet.data(), packet.size()));
  frame += "\r\n";
  return frame;
}

int unframe_modbus_rtu(const char* chars, std::size_t count, std::vector<std::uint8_t>* packet) {
  packet->clear();
  if (count < 2) return kRawMalformed;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(chars);
  const std::uint16_t crc = modbus_crc(bytes, count - 2);
  if ((crc & 0xFF) != bytes[count - 2] || (crc >> 8) != bytes[count - 1]) return kRawChecksum;
  packet->assign(bytes, bytes + count - 2);
  // Without even the address byte there is nothing to answer with.
  return packet->empty() ? kRawMalformed : 0;
}

int unframe_modbus_ascii(const char* chars, std::size_t count, std::vector<std::uint8_t>* packet) {
  packet->clear();
  if (count <= 2) return kRawMalformed;
  std::size_t end = 0;
  while (end < count && chars[end] != '\r') ++end;
  // ":", at least an address and the LRC, each two digits, then the carriage return.
  if (end == count || chars[0] != ':' || end < 5 || (end - 1) % 2 != 0) return kRawMalformed;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 1; i + 1 < end; i += 2) {
    const int high = hex_value(chars[i]);
    const int low = hex_value(chars[i + 1]);
    if (high < 0 || low < 0) return kRawMalformed;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  const std::uint8_t lrc = bytes.back();
  bytes.pop_back();
  if (modbus_lrc(bytes.data(), bytes.size()) != lrc) return kRawChecksum;
  *packet = std::move(bytes);
  return 0;
}

}  // namespace kba604
