#include "sim/device_value.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/text.h"

namespace kba604::sim {
namespace {

std::string trim(std::string_view text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

bool parse_integer(std::string_view text, long long& out) {
  std::string t = trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

bool within_limits(const ParamDef& p, double v) {
  if (!p.has_limits()) return true;
  // The limits are 32-bit floats: allow for their rounding.
  double slack_lo = 1e-6 * std::max(1.0, std::fabs(p.minimum));
  double slack_hi = 1e-6 * std::max(1.0, std::fabs(p.maximum));
  return v >= p.minimum - slack_lo && v <= p.maximum + slack_hi;
}

Bytes integer_bytes(unsigned value) {
  value &= 0xFFFF;
  if (value < 256) return {static_cast<std::uint8_t>(value)};
  return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
}

// 1 or 2 bytes, most significant first; the 2-byte form is signed when the limits allow
// negative values.
double integer_value(const ParamDef& p, const Bytes& v) {
  if (v.size() == 1) return v[0];
  unsigned raw = unsigned(v[0]) << 8 | v[1];
  if (p.minimum < 0 && raw >= 0x8000) return static_cast<double>(static_cast<int>(raw) - 0x10000);
  return raw;
}

// A decimal text split into sign, digits and point position, rounded to `point` digits after
// the point when point >= 0 (else as many as the text has, at most 3).
bool parse_decimal(std::string_view text, int point, bool& negative, int& out_point,
                   std::uint64_t& mantissa) {
  std::string t = trim(text);
  std::size_t i = 0;
  negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  std::string whole;
  std::string fraction;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) whole += t[i++];
  if (i < t.size() && (t[i] == '.' || t[i] == ',')) {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) fraction += t[i++];
  }
  if (i != t.size() || (whole.empty() && fraction.empty())) return false;
  int p = point >= 0 ? point : std::min<int>(3, static_cast<int>(fraction.size()));
  std::string digits = whole + fraction.substr(0, std::min<std::size_t>(fraction.size(), p));
  while (static_cast<int>(digits.size() - whole.size()) < p) digits += '0';
  bool round_up = static_cast<int>(fraction.size()) > p && fraction[p] >= '5';
  mantissa = 0;
  for (char c : digits) {
    mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
    if (mantissa > 0xFFFFFFFFull) return false;
  }
  if (round_up) ++mantissa;
  out_point = p;
  return true;
}

double stored_dot_value(const Bytes& v) {
  std::uint64_t m = v[0] & 0x0F;
  for (std::size_t i = 1; i < v.size(); ++i) m = m << 8 | v[i];
  double value = static_cast<double>(m) / std::pow(10.0, (v[0] >> 4) & 7);
  return (v[0] & 0x80) ? -value : value;
}

// Network name characters: 0-9, A-Z, "-", "_", "/", blank; a code is twice the character number
// plus the point bit.
int name_character_number(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c == '-') return 36;
  if (c == '_') return 37;
  if (c == '/') return 38;
  if (c == ' ') return 39;
  return -1;
}

}  // namespace

int fixed_point(const ParamDef& p) {
  return std::clamp(p.decimals, 0, 3);
}

Bytes float_bytes(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
          static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
}

Bytes stored_dot_bytes(bool negative, int point, std::uint32_t mantissa) {
  std::uint8_t head = static_cast<std::uint8_t>((negative ? 0x80 : 0) | (point & 7) << 4);
  if (mantissa < 0x1000)
    return {static_cast<std::uint8_t>(head | mantissa >> 8), static_cast<std::uint8_t>(mantissa)};
  if (mantissa < 0x100000)
    return {static_cast<std::uint8_t>(head | mantissa >> 16),
            static_cast<std::uint8_t>(mantissa >> 8), static_cast<std::uint8_t>(mantissa)};
  return {static_cast<std::uint8_t>(head | (mantissa >> 24 & 0x0F)),
          static_cast<std::uint8_t>(mantissa >> 16), static_cast<std::uint8_t>(mantissa >> 8),
          static_cast<std::uint8_t>(mantissa)};
}

std::optional<int> item_position(const ParamDef& p, std::string_view text) {
  std::string wanted = trim(text);
  for (char& c : wanted)
    if (c == '_') c = ' ';
  for (std::size_t i = 0; i < p.items.size(); ++i) {
    if (platform::iequals(p.items[i], wanted)) return static_cast<int>(i);
  }
  long long n;
  if (parse_integer(wanted, n) && n >= 0 && n < static_cast<long long>(p.items.size()))
    return static_cast<int>(n);
  return std::nullopt;
}

bool encode_value(const ParamDef& p, std::string_view text, Bytes& out, std::string* why) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
  switch (p.kind) {
    case FormatKind::kStoredDot: {
      bool negative;
      int point;
      std::uint64_t mantissa;
      if (!parse_decimal(text, p.decimals > 0 ? fixed_point(p) : -1, negative, point, mantissa))
        return fail("not a decimal number");
      if (mantissa >= (1u << 28)) return fail("more digits than the instrument keeps");
      out = stored_dot_bytes(negative, point, static_cast<std::uint32_t>(mantissa));
      return true;
    }
    case FormatKind::kFloat: {
      std::string t = trim(text);
      char* end = nullptr;
      float v = std::strtof(t.c_str(), &end);
      if (t.empty() || *end != '\0') return fail("not a number");
      out = float_bytes(v);
      return true;
    }
    case FormatKind::kDecDot: {
      long long v;
      if (!parse_integer(text, v)) return fail("not an integer");
      if (v < -32768 || v > 65535) return fail("does not fit 16 bits");
      out = integer_bytes(static_cast<unsigned>(v));
      return true;
    }
    case FormatKind::kClock: {
      std::string t = trim(text);
      long long value = 0;
      if (t.find(':') == std::string::npos) {
        if (!parse_integer(t, value)) return fail("not a time");
      } else {
        for (std::size_t i = 0, start = 0; i <= t.size(); ++i) {
          if (i == t.size() || t[i] == ':') {
            long long part;
            if (!parse_integer(std::string_view(t).substr(start, i - start), part) || part < 0)
              return fail("not a time");
            value = value * 60 + part;
            start = i + 1;
          }
        }
      }
      if (value < 0 || value > 65535) return fail("does not fit 16 bits");
      out = integer_bytes(static_cast<unsigned>(value));
      return true;
    }
    case FormatKind::kAscii:
    case FormatKind::kString: {
      std::string bytes = platform::to_cp1251(text);
      out.assign(bytes.rbegin(), bytes.rend());
      return true;
    }
    case FormatKind::kName: {
      std::string t = platform::upper_case(trim(text));
      if (t.empty() || t.size() > 8) return fail("not a network name");
      std::uint8_t codes[4] = {78, 78, 78, 78};
      int produced = 0;
      for (std::size_t i = 0; i < t.size() && produced < 4; ++i) {
        if (t[i] == '.') {
          if (produced == 0) return fail("a network name cannot start with a point");
          codes[produced - 1] |= 1;
          continue;
        }
        int n = name_character_number(t[i]);
        if (n < 0) return fail("a character a network name cannot hold");
        codes[produced++] = static_cast<std::uint8_t>(n * 2);
      }
      out = {codes[3], codes[2], codes[1], codes[0]};
      return true;
    }
    case FormatKind::kItems: {
      std::optional<int> pos = item_position(p, text);
      if (!pos) return fail("no item of the list");
      out = {static_cast<std::uint8_t>(*pos)};
      return true;
    }
  }
  return fail("unknown format");
}

std::uint8_t check_value(const ParamDef& p, const Bytes& v) {
  switch (p.kind) {
    case FormatKind::kStoredDot: {
      if (v.empty() || v.size() > 4) return nerr::kDataSize;
      int point = (v[0] >> 4) & 7;
      if (point > 3) return nerr::kPointPosition;
      if (p.decimals > 0 && point != fixed_point(p)) return nerr::kFixedPoint;
      return within_limits(p, stored_dot_value(v)) ? nerr::kNone : nerr::kMantissa;
    }
    case FormatKind::kFloat: {
      if (v.size() != 4) return nerr::kDataSize;
      std::uint32_t bits =
          std::uint32_t(v[0]) << 24 | std::uint32_t(v[1]) << 16 | std::uint32_t(v[2]) << 8 | v[3];
      float f;
      std::memcpy(&f, &bits, sizeof f);
      if (!std::isfinite(f)) return nerr::kInvalid;
      return within_limits(p, f) ? nerr::kNone : nerr::kMantissa;
    }
    case FormatKind::kDecDot:
    case FormatKind::kClock:
      if (v.empty() || v.size() > 2) return nerr::kDataSize;
      return within_limits(p, integer_value(p, v)) ? nerr::kNone : nerr::kMantissa;
    case FormatKind::kAscii:
    case FormatKind::kString:
      return v.empty() || v.size() > 7 ? nerr::kDataSize : nerr::kNone;
    case FormatKind::kName:
      if (v.size() != 4) return nerr::kDataSize;
      for (std::uint8_t code : v)
        if (code > 79) return nerr::kInvalid;
      return nerr::kNone;
    case FormatKind::kItems:
      if (v.size() != 1) return nerr::kDataSize;
      return v[0] < p.items.size() ? nerr::kNone : nerr::kInvalid;
  }
  return nerr::kInvalid;
}

std::optional<double> numeric_value(const ParamDef& p, const Bytes& v) {
  if (v.empty()) return std::nullopt;
  switch (p.kind) {
    case FormatKind::kStoredDot:
      return stored_dot_value(v);
    case FormatKind::kFloat: {
      if (v.size() < 4) return std::nullopt;
      std::uint32_t bits =
          std::uint32_t(v[0]) << 24 | std::uint32_t(v[1]) << 16 | std::uint32_t(v[2]) << 8 | v[3];
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    case FormatKind::kDecDot:
    case FormatKind::kClock:
      return v.size() <= 2 ? std::optional<double>(integer_value(p, v)) : std::nullopt;
    case FormatKind::kItems:
      return v[0];
    default:
      return std::nullopt;
  }
}

Bytes bytes_for_number(const ParamDef& p, double value) {
  switch (p.kind) {
    case FormatKind::kStoredDot: {
      int point = p.decimals > 0 ? fixed_point(p) : 1;
      double scaled = std::round(std::fabs(value) * std::pow(10.0, point));
      scaled = std::min(scaled, double((1u << 28) - 1));
      return stored_dot_bytes(value < 0, point, static_cast<std::uint32_t>(scaled));
    }
    case FormatKind::kFloat:
      return float_bytes(static_cast<float>(value));
    case FormatKind::kDecDot:
    case FormatKind::kClock:
      return integer_bytes(
          static_cast<unsigned>(std::lround(std::clamp(value, -32768.0, 65535.0))));
    case FormatKind::kItems: {
      long n = std::lround(value);
      long last = static_cast<long>(p.items.size()) - 1;
      return {static_cast<std::uint8_t>(std::clamp(n, 0L, std::max(0L, last)))};
    }
    default:
      return {};
  }
}

}  // namespace kba604::sim
