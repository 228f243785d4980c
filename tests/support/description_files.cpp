#include "description_files.h"

#include <gtest/gtest.h>

#include <fstream>

#include "description/gzip_file.h"
#include "support/build_paths.h"

namespace kba604::test {
namespace {

void write_bytes(const std::filesystem::path& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

void DescriptionFiles::write_to(const std::filesystem::path& folder) const {
  std::filesystem::create_directories(folder);
  write_bytes(folder / description::kParametersFile, parameters.data(), parameters.size());
  for (int t = 0; t < 3; ++t) {
    if (has_tree[t]) {
      write_bytes(folder / description::kTreeFiles[t], trees[t].data(), trees[t].size());
    }
  }
  write_bytes(folder / description::kTooltipFile, tooltips.data(), tooltips.size());
}

DescriptionFiles build_description(std::string_view parameters_json,
                                   std::array<std::string_view, 3> trees_json) {
  DescriptionFiles files;
  description::SourceJson parameters;
  std::array<description::SourceJson, description::kTreeCount> trees;
  try {
    parameters = description::SourceJson::parse(parameters_json);
    for (int t = 0; t < 3; ++t) {
      if (!trees_json[t].empty()) trees[t] = description::SourceJson::parse(trees_json[t]);
    }
  } catch (const std::exception& e) {
    ADD_FAILURE() << "description source: " << e.what();
    return files;
  }
  description::DescriptionRecords records;
  std::vector<std::string> errors;
  if (!description::compile_description(parameters, trees, records, errors)) {
    for (const auto& e : errors) ADD_FAILURE() << e;
    return files;
  }
  files.parameters = gzip_bytes(description::pack_parameter_records(records.parameters, errors));
  for (int t = 0; t < 3; ++t) {
    files.has_tree[t] = !trees_json[t].empty();
    files.trees[t] = gzip_bytes(tree_bytes(records.trees[t]));
  }
  files.tooltips = description::write_tooltip_file(records.tooltips);
  for (const auto& e : errors) ADD_FAILURE() << e;
  return files;
}

std::vector<std::uint8_t> parameter_bytes(
    const std::vector<description::ParameterRecord>& records) {
  std::vector<std::string> errors;
  auto bytes = description::pack_parameter_records(records, errors);
  for (const auto& e : errors) ADD_FAILURE() << e;
  return bytes;
}

std::vector<std::uint8_t> tree_bytes(const std::vector<description::TreeRecord>& records) {
  std::vector<std::string> errors;
  auto bytes = description::pack_tree_records(records, "tree", errors);
  for (const auto& e : errors) ADD_FAILURE() << e;
  return bytes;
}

std::vector<std::uint8_t> gzip_bytes(const std::vector<std::uint8_t>& raw) {
  return description::gzip_compress(raw.data(), raw.size());
}

std::filesystem::path shipped_description_folder() {
  return std::filesystem::path(KBA604_BUILD_DIR) / "share" / "kba604";
}

}  // namespace kba604::test
