#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace kba604::platform {
namespace {

std::filesystem::path absolute_env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0' || v[0] != '/') return {};
  return v;
}

std::filesystem::path home() {
  std::filesystem::path h = absolute_env("HOME");
  return h.empty() ? temp_dir() : h;
}

}  // namespace

std::filesystem::path config_home() {
  std::filesystem::path p = absolute_env("XDG_CONFIG_HOME");
  return p.empty() ? home() / ".config" : p;
}

std::filesystem::path data_home() {
  std::filesystem::path p = absolute_env("XDG_DATA_HOME");
  return p.empty() ? home() / ".local" / "share" : p;
}

std::filesystem::path runtime_dir() {
  std::filesystem::path p = absolute_env("XDG_RUNTIME_DIR");
  return p.empty() ? temp_dir() : p;
}

std::filesystem::path temp_dir() {
  std::filesystem::path p = absolute_env("TMPDIR");
  return p.empty() ? std::filesystem::path("/tmp") : p;
}

std::filesystem::path settings_file() {
  return config_home() / "TALV" / "KBA604.conf";
}

std::filesystem::path devices_file() {
  return config_home() / "TALV" / "Devices.conf";
}

std::filesystem::path program_directory() {
  return data_home() / "TALV" / "KBA604" / "";
}

bool ensure_program_directory(std::string* error) {
  const std::filesystem::path root = program_directory();
  for (const char* sub : {"protocol", "temp"}) {
    std::error_code ec;
    std::filesystem::create_directories(root / sub, ec);
    if (ec) {
      if (error != nullptr) *error = (root / sub).string() + ": " + ec.message();
      return false;
    }
  }
  return true;
}

std::filesystem::path executable_path() {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : p;
}

std::filesystem::path default_data_directory() {
  std::filesystem::path exe = executable_path();
  std::filesystem::path dir = exe.empty() ? std::filesystem::current_path() : exe.parent_path();
  return (dir / ".." / "share" / "kba604" / "").lexically_normal();
}

std::string with_trailing_slash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace kba604::platform
