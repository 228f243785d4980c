// The ТАЛВ protocol's own codes: the 16-bit name hash that addresses every parameter and
// command, the frame checksum and the nibble coding of frames. Parameter keys of the
// configuration files and EEPROM images are built on the name hash, so these live with the
// parameter model; the frame exchange itself is the link's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kba604 {

// Hash of a short name: the first 8 characters (Windows-1251 form), a..z upper-cased, coded as
// up to five 7-bit character codes of which the first four run through a CRC register with the
// polynomial 0x8F57. An empty name hashes to 0.
std::uint16_t hash_name(std::string_view name);

// Code of one character of a name, as names travel in hashes and network names: twice the
// character number (0..9 the digits, 10..35 the letters A..Z, 36 "-", 37 "_", 39 a blank);
// bit 0 is left free for a following point. -1 for any other character; letters must be
// upper case already.
int name_character_code(char upper);

// CRC-16, polynomial 0x8F57, initial value 0, most significant bit first, no reflection or
// final XOR.
std::uint16_t hash_buffer(const std::uint8_t* data, std::size_t count);

// Each byte as two characters, high nibble first; nibble n becomes the character 'G' + n.
std::string encode_buffer(const std::uint8_t* data, std::size_t count);

// count/2 bytes from count characters. A character outside 'G'..'V' contributes nothing: in the
// high position the output byte keeps its previous content, in the low position the low
// nibble stays 0.
void decode_buffer(const char* chars, std::size_t count, std::uint8_t* out);

inline constexpr std::uint16_t kHashNErr = 0x0233;  // "n.Err"
inline constexpr std::uint16_t kHashAply = 0x8403;  // "APLY"

}  // namespace kba604
