// Frames as the instrument sees them on the line: the ТАЛВ protocol's "#"-framed nibble text,
// and the two Modbus framings the instrument can be switched to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/device_value.h"

namespace kba604::sim {

struct Packet {
  unsigned address = 0;    // 0..255 (8-bit addressing) or 0..2047 (11-bit)
  bool read = false;       // the request bit: 1 asks for a value, 0 carries one
  std::uint16_t hash = 0;  // name hash of the parameter or command
  Bytes data;              // 0..15 data bytes
};

inline constexpr unsigned kBroadcastAddress = 255;

// Packet bytes: address field, request bit and data count, hash, data, checksum.
Bytes packet_bytes(const Packet& packet, int address_length);
// "#", the packet bytes as nibble characters, carriage return.
std::string encode_frame(const Packet& packet, int address_length);

enum class FrameStatus { kOk, kTooShort, kBadCharacter, kBadChecksum };

struct DecodedFrame {
  FrameStatus status = FrameStatus::kTooShort;
  bool address_known = false;  // the address field could be read even if the rest is damaged
  Packet packet;
};

// Decodes the characters between "#" and the carriage return.
DecodedFrame decode_frame(std::string_view body, int address_length);

// Modbus RTU: CRC-16 (0xA001 reflected, initial 0xFFFF), sent low byte first.
std::uint16_t modbus_crc(const std::uint8_t* data, std::size_t count);
std::string rtu_frame(const Bytes& packet);
// A whole RTU frame (packet and CRC) when the CRC holds.
std::optional<Bytes> rtu_packet(std::string_view frame);

// Modbus ASCII: ":", hexadecimal digits, the LRC, carriage return and line feed.
std::string ascii_frame(const Bytes& packet);
// The packet of the characters between ":" and the carriage return when the LRC holds.
std::optional<Bytes> ascii_packet(std::string_view body);

// The switch-back command that returns the instrument to the ТАЛВ protocol (after its address).
inline constexpr std::uint8_t kSwitchBack[] = {0x05, 0xF0, 0xF0, 0xFF, 0x00};

}  // namespace kba604::sim
