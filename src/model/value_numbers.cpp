#include "model/value_numbers.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace kba604 {
namespace {

bool is_digit(char ch) {
  return ch >= '0' && ch <= '9';
}

std::size_t skip_blanks(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i;
}

}  // namespace

std::size_t scan_decimal(std::string_view text, double& value) {
  value = 0.0;
  std::size_t i = skip_blanks(text);
  std::size_t start = i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t e = i + 1;
    if (e < text.size() && (text[e] == '-' || text[e] == '+')) ++e;
    if (e < text.size() && is_digit(text[e])) {
      while (e < text.size() && is_digit(text[e])) ++e;
      i = e;
    }
  }
  std::string number(text.substr(start, i - start));
  value = std::strtod(number.c_str(), nullptr);
  return i;
}

long long scan_integer(std::string_view text) {
  std::size_t i = skip_blanks(text);
  std::size_t start = i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  while (i < text.size() && is_digit(text[i])) ++i;
  std::string number(text.substr(start, i - start));
  errno = 0;
  return std::strtoll(number.c_str(), nullptr, 10);
}

}  // namespace kba604
