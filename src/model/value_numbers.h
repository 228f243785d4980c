// Reading numbers out of value texts. Only decimal notation counts: hexadecimal numbers,
// "inf" and "nan", which the C library would also accept, are no values of the instrument.
#pragma once

#include <cstddef>
#include <string_view>

namespace kba604 {

// Reads a decimal number at the start of text, after blanks: a sign, digits with at most one
// point, an exponent. Returns the number of characters read (0 when there is no number, and
// value is then 0).
std::size_t scan_decimal(std::string_view text, double& value);

// Reads a decimal integer at the start of text, after blanks, as the C library's atoi does;
// 0 when there is none. A value beyond the range of long long is held at its limit.
long long scan_integer(std::string_view text);

}  // namespace kba604
