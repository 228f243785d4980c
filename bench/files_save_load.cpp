// Save and load time of a full configuration: the shipped description's table with every
// value set, stored into a "*.604" file atomically (flushed to disk and renamed) and loaded
// back with the description reloaded, as opening a file does.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/prompter.h"
#include "description/description_loader.h"
#include "files/configuration_file.h"
#include "platform/atomic_file.h"
#include "support/description_files.h"

using namespace kba604;
using Clock = std::chrono::steady_clock;

namespace {

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class Target : public ConfigurationTarget {
 public:
  explicit Target(std::filesystem::path folder) : folder_(std::move(folder)) {}
  void reload_description(const std::string& version) override {
    DescriptionRequest request;
    request.data_folder = folder_;
    request.version_text = version;
    description_ = load_description(table_, request, nullptr);
  }
  ParameterTable& table() override { return table_; }
  NameTexts& names() override { return names_; }

 private:
  std::filesystem::path folder_;
  ParameterTable table_;
  NameTexts names_;
  DescriptionLoad description_;
};

}  // namespace

int main() {
  const std::filesystem::path folder = test::shipped_description_folder();
  Target source(folder);
  source.reload_description("");
  ParameterTable& table = source.table();
  if (table.empty()) {
    std::fprintf(stderr, "no description in %s\n", folder.c_str());
    return 1;
  }
  for (Parameter& p : table) {
    if (!p.is_item_list()) p.value = "12.5";
    p.note = "Таймаут при передаче данных (нет связи)";
  }
  Elements::CommonParams service;
  NameTexts names;
  names.fill(std::string(kNameNotSet));
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "kba604-bench-full.604";

  constexpr int kRounds = 20;
  double store_ms = 0, write_ms = 0, load_ms = 0;
  std::size_t bytes = 0, loaded = 0;
  for (int i = 0; i < kRounds; ++i) {
    auto t0 = Clock::now();
    std::string data = store_configuration(service, table, names);
    store_ms += ms_since(t0);
    bytes = data.size();
    auto t1 = Clock::now();
    platform::write_file_atomically(file, data);
    write_ms += ms_since(t1);

    auto t2 = Clock::now();
    std::ifstream in(file, std::ios::binary);
    std::string read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Target target(folder);
    StderrPrompter prompter;
    ConfigurationLoad load = load_configuration(read, file.string(), target, prompter, true);
    load_ms += ms_since(t2);
    loaded = load.loaded;
  }
  std::filesystem::remove(file);
  std::printf("full configuration: %zu table parameters, %zu entries, %zu bytes\n", table.size(),
              loaded, bytes);
  std::printf("store into memory:        %8.3f ms per save\n", store_ms / kRounds);
  std::printf("atomic write (fsync+rename): %5.3f ms per save\n", write_ms / kRounds);
  std::printf("save total:               %8.3f ms\n", (store_ms + write_ms) / kRounds);
  std::printf("load (read, description reload, entries): %8.3f ms per open\n", load_ms / kRounds);
  return 0;
}
