// The conversions of MyConverter between the instrument's data bytes, the value text and the
// text the user types.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "model/device_codes.h"
#include "model/my_converter.h"
#include "model/network_settings.h"
#include "model/talv_codec.h"
#include "model/value_numbers.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// Measured values whose first byte may be a status code instead of the value's first byte.
bool is_measured_value(std::string_view name) {
  return platform::iequals_any(name, {"rEAd", "r.CAL", "rd.rg", "Set.P", "r.OUt"});
}
bool is_state_value(std::string_view name) {
  return platform::iequals_any(name, {"r.kEY", "r.PrG", "r.StP", "r.St"});
}

std::string length_error(std::size_t count) {
  return platform::format("Ошибка; (Непонятная длина ответа:%i)", static_cast<int>(count));
}

float single_from_bytes(const std::uint8_t* data) {
  std::uint32_t bits = (static_cast<std::uint32_t>(data[0]) << 24) |
                       (static_cast<std::uint32_t>(data[1]) << 16) |
                       (static_cast<std::uint32_t>(data[2]) << 8) | data[3];
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Text bytes that the instrument sends last character first; the text ends at a zero byte.
std::string reversed_text(const std::uint8_t* data, std::size_t count) {
  std::string bytes;
  for (std::size_t i = count; i > 0; --i) {
    if (data[i - 1] == 0) break;
    bytes.push_back(static_cast<char>(data[i - 1]));
  }
  return platform::from_cp1251(bytes);
}

// The item whose position the data bytes give: most significant byte first, each byte a
// signed 8-bit value, so that a byte of 0x80 or more is a negative position.
int decode_item(const std::uint8_t* data, std::size_t count, const std::vector<std::string>& items,
                std::string& text) {
  if (count == 0) return kNotDecodable;
  std::uint64_t combined = 0;
  for (std::size_t i = 0; i < count; ++i) {
    combined = (combined << 8) + static_cast<std::uint64_t>(
                                     static_cast<std::int64_t>(static_cast<std::int8_t>(data[i])));
  }
  auto position = static_cast<std::int64_t>(combined);
  if (position < 0 || position >= static_cast<std::int64_t>(items.size())) return kNotDecodable;
  text = items[static_cast<std::size_t>(position)];
  return kDecoded;
}

// One or two leading bytes as an unsigned number: 2 and 4 bytes (a value, or a value and the
// index) give two bytes, 1 and 3 one byte. -1 for any other count.
long short_number(const std::uint8_t* data, std::size_t count) {
  switch (count) {
    case 2:
    case 4:
      return data[0] * 256L + data[1];
    case 1:
    case 3:
      return data[0];
    default:
      return -1;
  }
}

int decode_stored_dot(const MyConverter& c, const std::uint8_t* data, std::size_t count,
                      std::string& text) {
  if (count == 0) return kNotDecodable;
  double value = 0.0;
  if (count <= 8) {
    std::uint64_t mantissa = data[0] & 0x0F;
    for (std::size_t i = 1; i < count; ++i) mantissa = (mantissa << 8) | data[i];
    int digits = (data[0] >> 4) & 0x07;
    // One division by an exact power of ten in double precision gives the value the instrument
    // means to the last printed digit; repeated divisions in single precision would show
    // 1000.1 as 1000.09998, which the fixed-decimals cut turns into 1000.0.
    static constexpr double kPowers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7};
    value = static_cast<double>(mantissa) / kPowers[digits];
    if ((data[0] & 0x80) != 0 && mantissa != 0) value = -value;
  }
  text = c.apply_display_rule(platform::format("%.5f", value)).text;
  return kDecoded;
}

int decode_name(const std::uint8_t* data, std::size_t count, std::string& text) {
  if (count != 4 && count != 6) {
    text = length_error(count);
    return kDecodedErrorText;
  }
  static constexpr char kCharacters[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-_/ ";
  std::string out;
  for (int i = 3; i >= 0; --i) {
    int code = data[i];
    if (code > 79) {
      text = "Недопустимый код символа в сетевом имени";
      return kDecodedErrorText;
    }
    out.push_back(kCharacters[code / 2]);
    if (code % 2 != 0) out.push_back('.');
  }
  text = out;
  return kDecoded;
}

// Status code or value of "rEAd", "r.CAL", "rd.rg", "Set.P" and "r.OUt".
int decode_measured_value(std::string_view name, const std::uint8_t* data, std::size_t count,
                          std::string& text) {
  if (data[0] >= 240) {
    int code = data[0];
    if ((code == 243 || code == 245) && count < 4) {
      // The sub-code that details these codes is missing.
      text = length_error(count);
      return kDecodedErrorText;
    }
    int sub_code = count >= 4 ? data[3] : 0;
    text = measured_status_text(code, sub_code, platform::iequals(name, "Set.P"));
    return kDecodedErrorText;
  }
  if (count < 4) {
    text = length_error(count);
    return kDecodedErrorText;
  }
  if (data[0] == 0x7F) {
    text = "Переполнение";
    return kDecodedErrorText;
  }
  text = platform::format("%5.3f", static_cast<double>(single_from_bytes(data)));
  return kDecoded;
}

// Text to a number of one or two bytes: the low 16 bits, two bytes from 256 up.
void push_short_number(std::uint32_t value, std::vector<std::uint8_t>& data) {
  value &= 0xFFFF;
  if (value >= 256) data.push_back(static_cast<std::uint8_t>(value >> 8));
  data.push_back(static_cast<std::uint8_t>(value));
}

std::string_view without_trailing_controls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

int encode_stored_dot(const MyConverter& c, std::string_view text,
                      std::vector<std::uint8_t>& data) {
  text = without_trailing_controls(text);
  double value = 0.0;
  scan_decimal(text, value);  // a text without a number encodes as 0
  bool negative = value < 0;
  value += negative ? -0.0005 : 0.0005;
  int digits = c.decimals;
  if (digits == 0) {
    std::size_t point = text.rfind('.');
    digits = point == std::string_view::npos ? 0 : static_cast<int>(text.size() - point - 1);
  }
  digits = std::clamp(digits, 0, 3);
  double scaled = std::fabs(value) * std::pow(10.0, digits);
  // The decimal text is exact only in decimal; a relative nudge far below one unit of the
  // mantissa keeps a value such as 1.2345 (1.23449999… in binary) from losing its last unit.
  scaled *= 1.0 + 1e-12;
  constexpr double kMantissaLimit = 268435456.0;  // 2^28: what four bytes can carry
  if (!std::isfinite(scaled) || scaled >= kMantissaLimit) return kNotEncodable;
  auto mantissa = static_cast<std::uint32_t>(scaled);
  std::uint8_t head = static_cast<std::uint8_t>((negative ? 0x80 : 0x00) | (digits << 4));
  if (mantissa < 0x1000) {
    data = {static_cast<std::uint8_t>(head | (mantissa >> 8)), static_cast<std::uint8_t>(mantissa)};
  } else if (mantissa < 0x100000) {
    data = {static_cast<std::uint8_t>(head | (mantissa >> 16)),
            static_cast<std::uint8_t>(mantissa >> 8), static_cast<std::uint8_t>(mantissa)};
  } else {
    data = {static_cast<std::uint8_t>(head | (mantissa >> 24)),
            static_cast<std::uint8_t>(mantissa >> 16), static_cast<std::uint8_t>(mantissa >> 8),
            static_cast<std::uint8_t>(mantissa)};
  }
  return kEncoded;
}

int encode_clock(std::string_view text, std::vector<std::uint8_t>& data) {
  std::uint32_t value = 0;
  char previous = 0;
  for (char ch : text) {
    if (ch >= '0' && ch <= '9') {
      value = value * (previous == ':' ? 6 : 10) + static_cast<std::uint32_t>(ch - '0');
    } else if (ch != ':') {
      return kNoWriteMethod;
    }
    previous = ch;
  }
  push_short_number(value, data);
  return kEncoded;
}

int encode_name(std::string_view text, std::vector<std::uint8_t>& data, std::string& message) {
  if (text.empty()) {
    message = "Сетевое имя пусто";
    return kNoWriteMethod;
  }
  if (platform::cp1251_length(text) >= 9) {
    message = "Сетевое имя слишком длинное";
    return kNoWriteMethod;
  }
  std::string upper = platform::upper_case(text);
  int codes[5] = {78, 78, 78, 78, 78};
  int built = 0;
  for (std::size_t i = 0; i < upper.size() && built < 5; ++i) {
    char ch = upper[i];
    int code;
    if (ch == '.') {
      if (i == 0) {
        message = "Недопустимый символ в сетевом имени";
        return kNoWriteMethod;
      }
      codes[built - 1] += 1;
      continue;
    }
    code = name_character_code(ch);
    if (code < 0) {
      message = "Недопустимый символ в сетевом имени";
      return kNoWriteMethod;
    }
    codes[built++] = code;
  }
  // The first character travels in the last byte.
  for (int k = 3; k >= 0; --k) data.push_back(static_cast<std::uint8_t>(codes[k]));
  return kEncoded;
}

int encode_item(std::string_view text, bool item_position, const std::vector<std::string>& items,
                std::uint8_t offset, std::vector<std::uint8_t>& data) {
  long long position = item_position ? scan_integer(text) : find_item(items, text);
  if (position == -1) return kNotEncodable;
  // One byte carries the position; one that does not fit is refused rather than cut.
  long long sent = position + offset;
  if (position < -128 || sent > 255) return kNotEncodable;
  data.push_back(static_cast<std::uint8_t>(sent & 0xFF));
  return kEncoded;
}

}  // namespace

int MyConverter::ConvertFromData(const std::uint8_t* data, std::size_t count, bool indexed,
                                 std::string& text) const {
  text.clear();
  // The commands "APLY" and "PRTL" carry no data either way.
  if (platform::iequals_any(short_name, {"APLY", "PRTL"})) return kDecoded;
  if (platform::iequals_any(short_name, {"dev", "ver"})) {
    if (count == 0) return kNotDecodable;
    text = reversed_text(data, count);
    return kDecoded;
  }
  if (platform::iequals(short_name, "exit")) {
    if (count != 3) return kNotDecodable;
    if (data[0] == 24) {
      text = std::string("Адрес прибора:") + " " + std::to_string(data[1] * 256 + data[2]);
    } else {
      text = reset_cause_text(data[2]);
    }
    return kDecoded;
  }
  if (count == 0) return kNotDecodable;
  if (is_measured_value(short_name)) return decode_measured_value(short_name, data, count, text);
  if (is_state_value(short_name)) {
    if (data[0] >= 240) {
      text = state_status_text(data[0]);
      return kDecodedErrorText;
    }
    if (count == 2) {
      ++data;
      count = 1;
    }
  }

  // The index bytes at the end of an indexed reply are left out where the value's length
  // varies; the decoders of fixed lengths look at the leading bytes only.
  std::size_t value_count = indexed ? (count >= 2 ? count - 2 : 0) : count;
  // The line settings keep their own value lists: a code received for them selects the entry by
  // position whatever the parameter's format says.
  if (const NetworkSetting* setting = find_line_setting(short_name)) {
    return decode_item(data, value_count, parse_format(setting->format).items, text);
  }
  ValueFormat f = parsed_format();
  FormatKind kind = platform::iequals(short_name, "Addr") ? FormatKind::DecDot : f.kind;
  switch (kind) {
    case FormatKind::StoredDot:
      return decode_stored_dot(*this, data, value_count, text);
    case FormatKind::Float:
      if (count < 4) {
        text = length_error(count);
        return kDecodedErrorText;
      }
      text = platform::format("%f", static_cast<double>(single_from_bytes(data)));
      return kDecoded;
    case FormatKind::DecDot:
    case FormatKind::ClkFrm: {
      long value = short_number(data, count);
      if (value < 0) {
        text = length_error(count);
        return kDecodedErrorText;
      }
      auto v = static_cast<unsigned>(value);
      text = kind == FormatKind::DecDot ? platform::format("%u", v)
                                        : platform::format("%02u:%02u", v / 60, v % 60);
      return kDecoded;
    }
    case FormatKind::String:
    case FormatKind::Asci:
      if (value_count == 0) return kNotDecodable;
      text = reversed_text(data, value_count);
      return kDecoded;
    case FormatKind::Name:
      return decode_name(data, count, text);
    case FormatKind::ItemList:
      return decode_item(data, value_count, f.items, text);
  }
  return kNotDecodable;
}

int MyConverter::ConvertToData(std::string_view text, bool item_position,
                               const EncodeContext& context, std::vector<std::uint8_t>& data,
                               std::string& message) const {
  data.clear();
  message.clear();
  int result = kNotEncodable;
  if (platform::iequals_any(short_name, {"dev", "ver", "exit"})) {
    result = kNoWriteMethod;
  } else if (platform::iequals_any(short_name, {"APLY", "PRTL"})) {
    result = kEncoded;
  } else if (const NetworkSetting* setting = find_line_setting(short_name)) {
    result = encode_item(text, item_position, parse_format(setting->format).items, 0, data);
  } else {
    ValueFormat f = parsed_format();
    FormatKind kind = platform::iequals(short_name, "Addr") ? FormatKind::DecDot : f.kind;
    switch (kind) {
      case FormatKind::StoredDot:
        result = encode_stored_dot(*this, text, data);
        break;
      case FormatKind::Float: {
        double value = 0.0;
        if (scan_decimal(text, value) > 0) {
          auto single = static_cast<float>(value);
          std::uint32_t bits;
          std::memcpy(&bits, &single, sizeof bits);
          data = {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
                  static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
        }
        result = kEncoded;
        break;
      }
      case FormatKind::DecDot:
        push_short_number(static_cast<std::uint32_t>(scan_integer(without_trailing_controls(text))),
                          data);
        result = kEncoded;
        break;
      case FormatKind::ClkFrm:
        result = encode_clock(text, data);
        break;
      case FormatKind::Name:
        result = encode_name(text, data, message);
        break;
      case FormatKind::String:
      case FormatKind::Asci:
        // No writer of their own: the format word is their only item.
        result = encode_item(text, item_position, {format}, 0, data);
        break;
      case FormatKind::ItemList: {
        bool attribute_bytes =
            format == kAttributeListFormat && context.document_open && context.access_level >= 2;
        result = encode_item(text, item_position, f.items, attribute_bytes ? 0xAC : 0, data);
        break;
      }
    }
  }
  if (result != kEncoded) data.clear();
  return result;
}

DisplayText MyConverter::apply_display_rule(std::string_view text) const {
  DisplayText out{std::string(text), false};
  if (decimals > 0) {
    std::size_t point = text.find('.');
    std::size_t keep = point + 1 + static_cast<std::size_t>(decimals);
    if (point != std::string_view::npos && keep < text.size()) out.text.resize(keep);
    return out;
  }
  // With no limits there is nothing to fit the digits to: the text stays whole.
  if (!has_limits()) return out;

  // The digits of the text, the point removed, read as an integer M.
  std::string pointless;
  for (char ch : text) {
    if (ch != '.') pointless.push_back(ch);
  }
  std::size_t i = 0;
  while (i < pointless.size() && std::isspace(static_cast<unsigned char>(pointless[i]))) ++i;
  bool negative = false;
  if (i < pointless.size() && (pointless[i] == '-' || pointless[i] == '+')) {
    negative = pointless[i] == '-';
    ++i;
  }
  std::size_t first_digit = i;
  while (i < pointless.size() && pointless[i] >= '0' && pointless[i] <= '9') ++i;
  if (i == first_digit) return {"", false};
  std::string digits = pointless.substr(first_digit, i - first_digit);
  std::size_t nonzero = digits.find_first_not_of('0');
  digits = nonzero == std::string::npos ? "0" : digits.substr(nonzero);
  auto m_value = [&]() -> long double {
    if (digits.size() > 40) return std::numeric_limits<long double>::infinity();
    long double v = std::strtold(digits.c_str(), nullptr);
    return negative ? -v : v;
  };

  // Drop M's last digits while it lies outside the limits.
  std::size_t length = text.size();
  for (long double m = m_value(); (m < minimum || m > maximum) && digits.size() > 1;
       m = m_value()) {
    digits.pop_back();
    --length;
  }
  std::size_t point = text.find('.');
  bool has_point = point != std::string_view::npos;
  if (has_point && length > 4) length = 5;
  // Digits before the point are never cut: 100000 must not turn into 10000.
  std::size_t integer_length = has_point ? point : text.size();
  length = std::max(length, integer_length);
  if (length >= text.size()) return out;

  auto cut = [](std::string s, std::size_t n) {
    if (s.size() > n) s.resize(n);
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
  };
  std::string kept = cut(std::string(text), length);
  // Round: doubling the remainder and cutting again rounds half away from zero.
  double full = 0.0;
  double shown = 0.0;
  scan_decimal(text, full);
  scan_decimal(kept, shown);
  std::string rounded = platform::format("%lf", shown + 2 * (full - shown));
  std::size_t rounded_point = rounded.find('.');
  std::size_t rounded_length =
      std::max(length, rounded_point == std::string::npos ? rounded.size() : rounded_point);
  return {cut(rounded, rounded_length), true};
}

std::string MyConverter::type_name() const {
  switch (parsed_format().kind) {
    case FormatKind::StoredDot:
      return decimals > 0 ? "Знаковое число с односторонней десятичной точкой"
                          : "Число с плавающей точкой";
    case FormatKind::Float:
      return "32-разрядное вещественное число";
    case FormatKind::DecDot:
      return "Знаковое целое число";
    case FormatKind::ClkFrm:
      return "Составной тип данных с информацией о времени";
    case FormatKind::Asci:
      return "Строковый тип";
    case FormatKind::Name:
      return "Нетипизированный набор битов";
    case FormatKind::String:
    case FormatKind::ItemList:
      return format;
  }
  return format;
}

}  // namespace kba604
