#include "support/test_home.h"

#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace kba604::test {

TestHome::TestHome() {
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
}

std::string TestHome::unique_name(const std::string& base) const {
  return base + "-" + root_.filename().string().substr(std::string("kba604-test-").size());
}

}  // namespace kba604::test
