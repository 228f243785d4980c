// Text helpers. Inside the program every string is UTF-8; Windows-1251 appears only at the
// edges (description files, "*.604" and "*.eep" strings, bytes exchanged with the instrument,
// HTML pages). Comparisons "without regard to case" fold Cyrillic letters too.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace kba604::platform {

// UTF-8 to Windows-1251; a character the code page lacks becomes '?'.
std::string to_cp1251(std::string_view utf8);
// Empty when the system converts between UTF-8 and Windows-1251 (iconv); otherwise the words
// saying it cannot. The program checks it once at start; without the conversion every text
// outside ASCII becomes a replacement character, never passes through unconverted.
std::string text_conversion_error();
// Windows-1251 to UTF-8 (every byte has a meaning; 0x98 becomes U+FFFD).
std::string from_cp1251(std::string_view cp1251);
// Length of the Windows-1251 form in bytes (the fixed field widths of the files count these).
std::size_t cp1251_length(std::string_view utf8);

// Lower-cases Latin A-Z, Cyrillic А-Я and Ё; everything else is kept.
std::string fold_case(std::string_view utf8);
// Upper-cases Latin a-z, Cyrillic а-я and ё.
std::string upper_case(std::string_view utf8);
bool iequals(std::string_view a, std::string_view b);
// Whether text equals one of names, letter case aside.
bool iequals_any(std::string_view text, std::initializer_list<std::string_view> names);
bool istarts_with(std::string_view text, std::string_view prefix);
bool icontains(std::string_view text, std::string_view part);

// Reads a number the way the "%i" placeholder does: optional blanks and sign, then decimal,
// "0x" hexadecimal or a leading "0" for octal, as many digits as fit the base; nothing when no
// digit could be read. The result is truncated to 32 bits, as an int would keep it.
std::optional<std::int32_t> scan_int(std::string_view text);

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kba604::platform
