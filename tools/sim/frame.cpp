#include "sim/frame.h"

#include "model/talv_codec.h"

namespace kba604::sim {

Bytes packet_bytes(const Packet& p, int address_length) {
  Bytes b;
  std::uint8_t count = static_cast<std::uint8_t>(p.data.size() & 0x0F);
  std::uint8_t request = p.read ? 0x10 : 0x00;
  if (address_length == 11) {
    b.push_back(static_cast<std::uint8_t>((p.address >> 3) & 0xFF));
    b.push_back(static_cast<std::uint8_t>((p.address & 7) << 5 | request | count));
  } else {
    b.push_back(static_cast<std::uint8_t>(p.address & 0xFF));
    b.push_back(static_cast<std::uint8_t>(request | count));
  }
  b.push_back(static_cast<std::uint8_t>(p.hash >> 8));
  b.push_back(static_cast<std::uint8_t>(p.hash & 0xFF));
  for (std::size_t i = 0; i < count && i < p.data.size(); ++i) b.push_back(p.data[i]);
  std::uint16_t sum = hash_buffer(b.data(), b.size());
  b.push_back(static_cast<std::uint8_t>(sum >> 8));
  b.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  return b;
}

std::string encode_frame(const Packet& p, int address_length) {
  Bytes b = packet_bytes(p, address_length);
  return "#" + encode_buffer(b.data(), b.size()) + "\r";
}

DecodedFrame decode_frame(std::string_view body, int address_length) {
  DecodedFrame out;
  auto valid = [](char c) { return c >= 'G' && c <= 'V'; };
  std::size_t head_valid = 0;
  while (head_valid < body.size() && valid(body[head_valid])) ++head_valid;
  Bytes b(body.size() / 2, 0);
  decode_buffer(body.data(), body.size(), b.data());
  if (head_valid >= 4) {
    out.address_known = true;
    out.packet.address = address_length == 11 ? (unsigned(b[0]) << 3 | b[1] >> 5) : b[0];
  }
  if (body.size() < 12) {
    out.status = FrameStatus::kTooShort;
    return out;
  }
  if (head_valid != body.size() || body.size() % 2 != 0) {
    out.status = FrameStatus::kBadCharacter;
    return out;
  }
  std::size_t count = b[1] & 0x0F;
  if (b.size() != count + 6 ||
      hash_buffer(b.data(), count + 4) != (b[count + 4] << 8 | b[count + 5])) {
    out.status = FrameStatus::kBadChecksum;
    return out;
  }
  out.packet.read = (b[1] & 0x10) != 0;
  out.packet.hash = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
  out.packet.data.assign(b.begin() + 4, b.begin() + 4 + static_cast<long>(count));
  out.status = FrameStatus::kOk;
  return out;
}

std::uint16_t modbus_crc(const std::uint8_t* data, std::size_t count) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

std::string rtu_frame(const Bytes& packet) {
  std::string out(packet.begin(), packet.end());
  std::uint16_t crc = modbus_crc(packet.data(), packet.size());
  out += static_cast<char>(crc & 0xFF);
  out += static_cast<char>(crc >> 8);
  return out;
}

std::optional<Bytes> rtu_packet(std::string_view frame) {
  if (frame.size() < 4) return std::nullopt;
  Bytes b(frame.begin(), frame.end());
  std::size_t n = b.size() - 2;
  std::uint16_t crc = modbus_crc(b.data(), n);
  if ((crc & 0xFF) != b[n] || (crc >> 8) != b[n + 1]) return std::nullopt;
  b.resize(n);
  return b;
}

namespace {
std::uint8_t lrc(const Bytes& packet) {
  std::uint8_t sum = 0;
  for (std::uint8_t byte : packet) sum = static_cast<std::uint8_t>(sum + byte);
  return static_cast<std::uint8_t>(-sum);
}
int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
}  // namespace

std::string ascii_frame(const Bytes& packet) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = ":";
  Bytes all = packet;
  all.push_back(lrc(packet));
  for (std::uint8_t byte : all) {
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out + "\r\n";
}

std::optional<Bytes> ascii_packet(std::string_view body) {
  if (body.size() < 4 || body.size() % 2 != 0) return std::nullopt;
  Bytes b;
  for (std::size_t i = 0; i < body.size(); i += 2) {
    int hi = hex_digit(body[i]);
    int lo = hex_digit(body[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    b.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  std::uint8_t sent = b.back();
  b.pop_back();
  if (lrc(b) != sent) return std::nullopt;
  return b;
}

}  // namespace kba604::sim
