// Values as the instrument keeps them: the bytes of each format, and the instrument's own checks
// of a value written over the line. The configurator's value conversion is a separate piece of
// code on purpose: the virtual instrument must catch its mistakes, not repeat them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/description.h"

namespace kba604::sim {

using Bytes = std::vector<std::uint8_t>;

// Network error codes the instrument puts into its "n.Err" replies.
namespace nerr {
inline constexpr std::uint8_t kNone = 0x00;
inline constexpr std::uint8_t kPointPosition = 0x02;   // point position above 3
inline constexpr std::uint8_t kReadOnly = 0x03;        // a ROM parameter
inline constexpr std::uint8_t kFixedPoint = 0x05;      // wrong point position for a fixed point
inline constexpr std::uint8_t kMantissa = 0x06;        // value beyond the limits
inline constexpr std::uint8_t kAttributeOwner = 0x07;  // attributes of a factory parameter
inline constexpr std::uint8_t kNoAttributes = 0x08;
inline constexpr std::uint8_t kBadCharacter = 0x26;
inline constexpr std::uint8_t kChecksum = 0x27;
inline constexpr std::uint8_t kUnknownName = 0x28;
inline constexpr std::uint8_t kDataSize = 0x31;
inline constexpr std::uint8_t kRequestBit = 0x32;
inline constexpr std::uint8_t kForbidden = 0x33;  // editing forbidden by the attributes
inline constexpr std::uint8_t kIndexTooLarge = 0x34;
inline constexpr std::uint8_t kTaskNotStarted = 0x42;
inline constexpr std::uint8_t kTaskRunning = 0x43;
inline constexpr std::uint8_t kInvalid = 0x47;  // refused by the instrument's own rules
}  // namespace nerr

// The point position the instrument fixes for a parameter (0 = the writer chooses, up to 3).
int fixed_point(const ParamDef& p);

// Encodes a value text of the description (initial and reference values) into stored bytes.
// False with the reason when the text is no value of the format.
bool encode_value(const ParamDef& p, std::string_view text, Bytes& out, std::string* why);

// Checks the value bytes of a write: 0 when the instrument takes them, else the network error.
std::uint8_t check_value(const ParamDef& p, const Bytes& value);

// The number stored bytes stand for (the item position of a list), if the format has one.
std::optional<double> numeric_value(const ParamDef& p, const Bytes& value);

// Stored bytes for a number in the parameter's format (counts, states, computed values).
Bytes bytes_for_number(const ParamDef& p, double value);

// A 32-bit float, most significant byte first.
Bytes float_bytes(float value);

// Packed decimal with point position: sign, point and mantissa, 2 to 4 bytes.
Bytes stored_dot_bytes(bool negative, int point, std::uint32_t mantissa);

// Item position of a text in a list: an item text (case and "_" ignored) or a decimal position.
std::optional<int> item_position(const ParamDef& p, std::string_view text);

}  // namespace kba604::sim
