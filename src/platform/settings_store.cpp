#include "platform/settings_store.h"

#include <cctype>
#include <string>

#include "platform/text.h"

namespace kba604::platform {

std::pair<std::string_view, std::string_view> split_settings_key(std::string_view key) {
  std::size_t slash = key.rfind('/');
  if (slash == std::string_view::npos) return {std::string_view(), key};
  return {key.substr(0, slash), key.substr(slash + 1)};
}

std::optional<std::int32_t> read_int_like_scanf(std::string_view text) {
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

std::string SettingsStore::string_or(std::string_view key, std::string_view fallback) const {
  std::optional<std::string> v = value(key);
  return v ? *v : std::string(fallback);
}

std::uint32_t SettingsStore::uint32_or(std::string_view key, std::uint32_t fallback) const {
  std::optional<std::string> v = value(key);
  if (!v) return fallback;
  std::optional<std::int32_t> n = read_int_like_scanf(*v);
  return n ? static_cast<std::uint32_t>(*n) : fallback;
}

bool SettingsStore::set_uint32(std::string_view key, std::uint32_t value) {
  return set_value(key, std::to_string(value));
}

std::size_t MemorySettingsStore::find(std::string_view key) const {
  auto [section, name] = split_settings_key(key);
  for (std::size_t i = 0; i < values_.size(); ++i) {
    auto [s, n] = split_settings_key(values_[i].first);
    if (iequals(s, section) && iequals(n, name)) return i;
  }
  return std::string::npos;
}

std::optional<std::string> MemorySettingsStore::value(std::string_view key) const {
  std::lock_guard lock(mutex_);
  std::size_t i = find(key);
  if (i == std::string::npos) return std::nullopt;
  return values_[i].second;
}

bool MemorySettingsStore::set_value(std::string_view key, std::string_view value) {
  std::lock_guard lock(mutex_);
  if (read_only_) return false;
  std::size_t i = find(key);
  if (i == std::string::npos) {
    values_.emplace_back(std::string(key), std::string(value));
  } else {
    values_[i].second = std::string(value);
  }
  return true;
}

bool MemorySettingsStore::remove(std::string_view key) {
  std::lock_guard lock(mutex_);
  std::size_t i = find(key);
  if (i == std::string::npos) return true;
  if (read_only_) return false;
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(i));
  return true;
}

std::vector<std::string> MemorySettingsStore::keys(std::string_view section) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& [key, v] : values_) {
    auto [s, n] = split_settings_key(key);
    if (iequals(s, section)) out.emplace_back(n);
  }
  return out;
}

void MemorySettingsStore::set_read_only(bool read_only) {
  std::lock_guard lock(mutex_);
  read_only_ = read_only;
}

}  // namespace kba604::platform
