#include "platform/text.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

namespace kba604::platform {
namespace {

// Said once on stderr when the system cannot convert to or from Windows-1251.
void report_missing_conversion() {
  static std::once_flag once;
  std::call_once(once,
                 [] { std::fprintf(stderr, "kba604: %s\n", text_conversion_error().c_str()); });
}

// One conversion descriptor per thread and direction: an iconv_t must not be shared.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) report_missing_conversion();
  }
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  std::string run(std::string_view in, bool to_cp1251) {
    std::string out;
    if (in.empty()) return {};
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      // Passing the text through would put wrong name hashes and values on the line and into
      // files: every character outside ASCII becomes the replacement, visibly.
      for (unsigned char c : in) {
        if (c < 0x80) {
          out += static_cast<char>(c);
        } else if (!to_cp1251) {
          out += "\xEF\xBF\xBD";  // one Windows-1251 byte
        } else if ((c & 0xC0) != 0x80) {
          out += '?';  // the lead byte of a UTF-8 sequence
        }
      }
      return out;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.resize(in.size() * (to_cp1251 ? 1 : 3) + 4);
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size();
    char* dst = out.data();
    std::size_t dst_left = out.size();
    while (src_left > 0) {
      std::size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        std::size_t used = out.size() - dst_left;
        out.resize(out.size() * 2);
        dst = out.data() + used;
        dst_left = out.size() - used;
        continue;
      }
      // An invalid or unmappable sequence: emit a replacement and skip one character.
      const char* repl = to_cp1251 ? "?" : "\xEF\xBF\xBD";
      std::size_t repl_len = to_cp1251 ? 1 : 3;
      if (dst_left < repl_len) {
        std::size_t used = out.size() - dst_left;
        out.resize(out.size() * 2 + repl_len);
        dst = out.data() + used;
        dst_left = out.size() - used;
      }
      for (std::size_t i = 0; i < repl_len; ++i) *dst++ = repl[i];
      dst_left -= repl_len;
      std::size_t skip = 1;
      if (to_cp1251) {  // skip the whole UTF-8 sequence
        auto lead = static_cast<unsigned char>(*src);
        skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (skip > src_left) skip = src_left;
      }
      src += skip;
      src_left -= skip;
    }
    out.resize(out.size() - dst_left);
    return out;
  }

 private:
  iconv_t cd_;
};

constexpr std::uint32_t kInvalid = 0xFFFFFFFFu;

// Decodes one UTF-8 code point; malformed input is passed through byte by byte.
std::uint32_t next_code_point(std::string_view s, std::size_t& i) {
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int len = (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 1;
  if (len == 1 || i + len > s.size()) {
    ++i;
    return kInvalid;
  }
  std::uint32_t cp = b0 & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kInvalid;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += len;
  return cp;
}

void append_code_point(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::uint32_t lower(std::uint32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 32;
  if (cp >= 0x410 && cp <= 0x42F) return cp + 32;  // А..Я
  if (cp == 0x401) return 0x451;                   // Ё
  return cp;
}

std::uint32_t upper(std::uint32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 32;
  if (cp >= 0x430 && cp <= 0x44F) return cp - 32;  // а..я
  if (cp == 0x451) return 0x401;                   // ё
  return cp;
}

template <typename Map>
std::string map_case(std::string_view s, Map map) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t start = i;
    std::uint32_t cp = next_code_point(s, i);
    if (cp == kInvalid) {
      out.append(s.substr(start, i - start));
    } else {
      append_code_point(out, map(cp));
    }
  }
  return out;
}

}  // namespace

std::string text_conversion_error() {
  for (const auto& [to, from] : {std::pair{"CP1251", "UTF-8"}, std::pair{"UTF-8", "CP1251"}}) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      return std::string("система не переводит тексты из ") + from + " в " + to +
             " (iconv): имена и тексты прибора нельзя ни передать, ни прочитать";
    }
    iconv_close(cd);
  }
  return {};
}

std::string to_cp1251(std::string_view utf8) {
  // Pure ASCII needs no conversion; most names and numbers are.
  bool ascii = true;
  for (char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(utf8);
  thread_local Converter conv("CP1251", "UTF-8");
  return conv.run(utf8, true);
}

std::string from_cp1251(std::string_view cp1251) {
  bool ascii = true;
  for (char c : cp1251) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(cp1251);
  thread_local Converter conv("UTF-8", "CP1251");
  return conv.run(cp1251, false);
}

std::size_t cp1251_length(std::string_view utf8) {
  // Every character the code page has is one byte; a missing one becomes one '?'.
  std::size_t n = 0, i = 0;
  while (i < utf8.size()) {
    next_code_point(utf8, i);
    ++n;
  }
  return n;
}

std::string fold_case(std::string_view utf8) {
  return map_case(utf8, lower);
}
std::string upper_case(std::string_view utf8) {
  return map_case(utf8, upper);
}

bool iequals(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    std::uint32_t ca = next_code_point(a, i);
    std::uint32_t cb = next_code_point(b, j);
    if (lower(ca) != lower(cb)) return false;
  }
  return i == a.size() && j == b.size();
}

bool iequals_any(std::string_view text, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (iequals(text, name)) return true;
  }
  return false;
}

bool istarts_with(std::string_view text, std::string_view prefix) {
  std::size_t i = 0, j = 0;
  while (j < prefix.size()) {
    if (i >= text.size()) return false;
    if (lower(next_code_point(text, i)) != lower(next_code_point(prefix, j))) return false;
  }
  return true;
}

bool icontains(std::string_view text, std::string_view part) {
  return fold_case(text).find(fold_case(part)) != std::string::npos;
}

std::optional<std::int32_t> scan_int(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '0') {
    base = 8;
    if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      base = 16;
      i += 2;
    }
  }
  auto digit = [base](char c) -> int {
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : 99;
    return d < base ? d : -1;
  };
  std::uint64_t value = 0;
  bool any = false;
  while (i < text.size()) {
    int d = digit(text[i]);
    if (d < 0) break;
    // Keep the low 32 bits only; that is all an int holds.
    value =
        (value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d)) & 0xFFFFFFFFull;
    any = true;
    ++i;
  }
  if (!any) return std::nullopt;
  std::uint32_t bits = static_cast<std::uint32_t>(value);
  if (negative) bits = 0u - bits;
  return static_cast<std::int32_t>(bits);
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), fmt, args);
    out.resize(static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

}  // namespace kba604::platform
