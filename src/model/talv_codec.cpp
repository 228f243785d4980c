#include "model/talv_codec.h"

#include "platform/text.h"

namespace kba604 {

int name_character_code(char upper) {
  if (upper == ' ') return 78;
  if (upper == '_') return 74;
  if (upper == '-') return 72;
  if (upper >= 'A' && upper <= 'Z') return (upper - 'A' + 10) * 2;
  if (upper >= '0' && upper <= '9') return (upper - '0') * 2;
  return -1;
}

std::uint16_t hash_name(std::string_view name) {
  if (name.empty()) return 0;
  std::string text = platform::to_cp1251(name);
  if (text.size() > 8) text.resize(8);

  int codes[5] = {78, 78, 78, 78, 78};  // 78: the code of a space
  int produced = 0;
  for (std::size_t i = 0; i < text.size() && produced < 5; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '.') {
      // The point is a flag bit of the character before it; a leading point is dropped.
      if (i > 0 && produced > 0) codes[produced - 1] += 1;
      continue;
    }
    int code = name_character_code(c);
    if (code < 0) continue;
    codes[produced++] = code;
  }

  std::uint16_t reg = 0;
  for (int k = 0; k < 4; ++k) {
    for (int bit = 6; bit >= 0; --bit) {
      bool in = (codes[k] >> bit) & 1;
      bool top = (reg >> 15) & 1;
      reg = static_cast<std::uint16_t>(reg << 1);
      if (in != top) reg ^= 0x8F57;
    }
  }
  return reg;
}

std::uint16_t hash_buffer(const std::uint8_t* data, std::size_t count) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= static_cast<std::uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x8F57)
                           : static_cast<std::uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::string encode_buffer(const std::uint8_t* data, std::size_t count) {
  std::string out;
  out.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    out += static_cast<char>('G' + (data[i] >> 4));
    out += static_cast<char>('G' + (data[i] & 0x0F));
  }
  return out;
}

void decode_buffer(const char* chars, std::size_t count, std::uint8_t* out) {
  auto valid = [](char c) { return c >= 'G' && c <= 'V'; };
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    std::uint8_t& byte = out[i / 2];
    if (valid(chars[i])) byte = static_cast<std::uint8_t>((chars[i] - 'G') << 4);
    if (valid(chars[i + 1])) byte = static_cast<std::uint8_t>(byte | (chars[i + 1] - 'G'));
  }
}

}  // namespace kba604
