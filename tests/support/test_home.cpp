#include "support/test_home.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace kba604::test {

namespace {
constexpr const char* kVariables[] = {
    "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "TMPDIR"};
}  // namespace

TestHome::TestHome() {
  for (const char* name : kVariables) {
    const char* v = std::getenv(name);
    saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "kba604-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  for (const char* sub : {"config", "data", "runtime", "tmp", "cache"}) {
    std::filesystem::create_directories(root_ / sub);
  }
  std::filesystem::permissions(root_ / "runtime", std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  ::setenv("HOME", root_.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
  ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
}

TestHome::~TestHome() {
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
  // The next home of the same test program starts from the environment it found.
  for (const auto& [name, value] : saved_) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
}

std::string TestHome::unique_name(const std::string& base) const {
  return base + "-" + root_.filename().string().substr(std::string("kba604-test-").size());
}

}  // namespace kba604::test
