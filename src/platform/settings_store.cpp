#include "platform/settings_store.h"

#include <string>

#include "platform/text.h"

namespace kba604::platform {

std::pair<std::string_view, std::string_view> split_settings_key(std::string_view key) {
  std::size_t slash = key.rfind('/');
  if (slash == std::string_view::npos) return {std::string_view(), key};
  return {key.substr(0, slash), key.substr(slash + 1)};
}

std::string SettingsStore::string_or(std::string_view key, std::string_view fallback) const {
  std::optional<std::string> v = value(key);
  return v ? *v : std::string(fallback);
}

std::uint32_t SettingsStore::uint32_or(std::string_view key, std::uint32_t fallback) const {
  std::optional<std::string> v = value(key);
  if (!v) return fallback;
  std::optional<std::int32_t> n = scan_int(*v);
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
