// The description compiler against the description that ships with the program.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "desc/description_checks.h"
#include "description/gzip_file.h"
#include "support/description_files.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

// The compiler's round trip: decompiling the shipped files and compiling the result again
// gives the very same bytes.
TEST(DescriptionCompiler, RoundTripOfTheShippedFilesIsByteExact) {
  fs::path folder = test::shipped_description_folder();
  auto read = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    return std::vector<std::uint8_t>(text.begin(), text.end());
  };
  auto inflate = [](const std::vector<std::uint8_t>& bytes) {
    description::GzipReader reader(bytes.data(), bytes.size());
    std::vector<std::uint8_t> out(reader.trailer_length());
    out.resize(reader.read(out.data(), out.size()));
    EXPECT_EQ(reader.finish(), description::GzipStatus::Ok);
    return out;
  };
  description::DescriptionRecords records;
  auto table = read(folder / "parameters.zip");
  records.parameters = description::unpack_parameter_records(inflate(table));
  std::array<std::vector<std::uint8_t>, 3> trees;
  for (int t = 0; t < 3; ++t) {
    trees[t] = read(folder / description::kTreeFiles[t]);
    records.trees[t] = description::unpack_tree_records(inflate(trees[t]));
  }
  auto tips = read(folder / "tooltip.dat");
  records.tooltips = description::read_tooltip_file(std::string(tips.begin(), tips.end()));
  EXPECT_FALSE(records.tooltips.empty());

  description::SourceJson parameters;
  std::array<description::SourceJson, 3> tree_sources;
  std::vector<std::string> errors;
  ASSERT_TRUE(description::decompile_description(records, parameters, tree_sources, errors));
  // Through the printed text, as the files on disk would be.
  parameters = description::SourceJson::parse(description::dump_source(parameters));
  for (auto& t : tree_sources) t = description::SourceJson::parse(description::dump_source(t));
  description::DescriptionRecords again;
  ASSERT_TRUE(description::compile_description(parameters, tree_sources, again, errors));
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(test::gzip_bytes(description::pack_parameter_records(again.parameters, errors)), table);
  for (int t = 0; t < 3; ++t) {
    EXPECT_EQ(test::gzip_bytes(test::tree_bytes(again.trees[t])), trees[t]) << t;
  }
  std::string tips_again = description::write_tooltip_file(again.tooltips);
  EXPECT_EQ(std::vector<std::uint8_t>(tips_again.begin(), tips_again.end()), tips);
  EXPECT_TRUE(description::check_data_set(again).empty());
}

}  // namespace
}  // namespace kba604
