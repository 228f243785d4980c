// Small description files built in memory, for tests that need a description without the
// shipped data set. The description is written in the source form of data/description (JSON),
// compiled and compressed as the build does it.
//
//   auto files = test::build_description(R"({"parameters": [{"name": "ver", "format": "ASCI"}]})",
//                                        {R"({"branch": "Корень", "children": [{"ref":
//                                        "ver"}]})"});
//   files.write_to(folder);
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "description/description_records.h"
#include "desc/description_source.h"
#include "support/build_paths.h"

namespace kba604::test {

struct DescriptionFiles {
  std::vector<std::uint8_t> parameters;            // "parameters.zip"
  std::array<std::vector<std::uint8_t>, 3> trees;  // main, operational, hidden
  std::string tooltips;                            // "tooltip.dat"
  bool has_tree[3] = {false, false, false};

  // Writes the files into folder (created when missing); a tree without source is not written.
  void write_to(const std::filesystem::path& folder) const;
};

// Compiles the JSON texts; an empty tree text leaves that tree out. A fault in the source
// fails the calling test (ADD_FAILURE) and gives empty files.
DescriptionFiles build_description(std::string_view parameters_json,
                                   std::array<std::string_view, 3> trees_json = {});

// The uncompressed bytes of records, and gzip around any bytes, for building damaged files.
std::vector<std::uint8_t> parameter_bytes(const std::vector<description::ParameterRecord>& records);
std::vector<std::uint8_t> tree_bytes(const std::vector<description::TreeRecord>& records);
std::vector<std::uint8_t> gzip_bytes(const std::vector<std::uint8_t>& raw);

// The shipped description as the build laid it out in <build>/share/kba604/.
std::filesystem::path shipped_description_folder();

}  // namespace kba604::test
