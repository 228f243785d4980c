// A private XDG home for one test process: config, data, runtime and temp folders under a
// fresh temporary directory, with the environment pointing at them; removed afterwards, and
// the environment put back as it was.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kba604::test {

class TestHome {
 public:
  TestHome();
  ~TestHome();
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path config_dir() const { return root_ / "config"; }
  std::filesystem::path data_dir() const { return root_ / "data"; }
  std::filesystem::path runtime_dir() const { return root_ / "runtime"; }
  // A name unique to this home, for locks, events and sockets that must not collide between
  // tests running in parallel.
  std::string unique_name(const std::string& base) const;

 private:
  std::filesystem::path root_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace kba604::test
