// Modbus RTU and Modbus ASCII framing. The instrument can be switched to either protocol; the
// program speaks them only to switch it back (write single coil 0xF0F0 ON, echoed by the
// instrument).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kba604 {

// CRC-16 of Modbus RTU: polynomial 0xA001 (reflected 0x8005), initial value 0xFFFF.
std::uint16_t modbus_crc(const std::uint8_t* data, std::size_t count);
// LRC of Modbus ASCII: the two's complement of the byte sum.
std::uint8_t modbus_lrc(const std::uint8_t* data, std::size_t count);

// The packet followed by its CRC, low byte first.
std::string frame_modbus_rtu(const std::vector<std::uint8_t>& packet);
// ":", the packet and its LRC as upper-case hexadecimal digit pairs, carriage return, line feed.
std::string frame_modbus_ascii(const std::vector<std::uint8_t>& packet);

// Results of unframing (the codes of the raw exchange).
inline constexpr int kRawChecksum = 4;
inline constexpr int kRawMalformed = 6;

// The packet of a reply (address first), or kRawChecksum, or kRawMalformed for a reply too
// short or not in the frame's form. Returns 0 on success.
int unframe_modbus_rtu(const char* chars, std::size_t count, std::vector<std::uint8_t>* packet);
int unframe_modbus_ascii(const char* chars, std::size_t count, std::vector<std::uint8_t>* packet);

// The switch-back command: function 5, write single coil 0xF0F0, value ON.
inline constexpr std::uint8_t kSwitchBackCommand[5] = {0x05, 0xF0, 0xF0, 0xFF, 0x00};

}  // namespace kba604
