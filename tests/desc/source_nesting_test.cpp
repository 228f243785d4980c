// Trees nested deeper than the program loads: the compiler and the decompiler refuse them with
// a message, as the loader does, and none of them runs out of stack on the way.
#include <gtest/gtest.h>

#include <string>

#include "desc/description_source.h"
#include "description/description_loader.h"
#include "support/description_files.h"
#include "support/recording_prompter.h"

namespace kba604::description {
namespace {

// A root branch with `levels` branches nested below it, one in each.
std::vector<TreeRecord> chain_records(int levels) {
  std::vector<TreeRecord> records;
  for (int i = 0; i < levels; ++i) {
    BranchRecord b;
    b.name = "b" + std::to_string(i);
    b.counts[0] = 1;
    records.push_back(b);
  }
  BranchRecord last;
  last.name = "b" + std::to_string(levels);
  records.push_back(last);
  return records;
}

// The same tree in the source form.
std::string chain_source(int levels) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += R"({"branch": "b", "children": [)";
  text += R"({"branch": "x"})";
  for (int i = 0; i < levels; ++i) text += "]}";
  return text;
}

TEST(TreeNesting, CompilerDecompilerAndLoaderAgreeOnTheDeepestTree) {
  struct Case {
    int levels;
    bool accepted;
  } cases[] = {
      {kMaximumTreeDepth, true},
      {kMaximumTreeDepth + 1, false},
      {20000, false},  // far deeper than a stack of recursive calls would survive
  };
  SourceJson parameters = SourceJson::parse(R"({"parameters": [{"name": "ver"}]})");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.levels);
    // Binary records to source.
    DescriptionRecords records;
    records.trees[kMainTree] = chain_records(c.levels);
    SourceJson decompiled;
    std::array<SourceJson, kTreeCount> trees;
    std::vector<std::string> errors;
    EXPECT_EQ(decompile_description(records, decompiled, trees, errors), c.accepted);
    EXPECT_EQ(errors.empty(), c.accepted);
    if (!c.accepted) {
      ASSERT_FALSE(errors.empty());
      EXPECT_NE(errors[0].find("kba604.tree.zip"), std::string::npos) << errors[0];
      EXPECT_TRUE(trees[kMainTree].is_null());
    }

    // Source to records.
    trees = {};
    trees[kMainTree] = SourceJson::parse(chain_source(c.levels));
    DescriptionRecords compiled;
    errors.clear();
    EXPECT_EQ(compile_description(parameters, trees, compiled, errors), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(compiled.trees[kMainTree].size(), static_cast<std::size_t>(c.levels) + 1);
    } else {
      ASSERT_FALSE(errors.empty());
      EXPECT_NE(errors[0].find("tree.json"), std::string::npos) << errors[0];
    }

    // The program's loader draws the line at the same depth.
    ParameterTable table;
    test::RecordingPrompter prompter;
    FileLoad outcome = FileLoad::Loaded;
    auto root =
        load_tree_from_bytes(table, test::gzip_bytes(test::tree_bytes(chain_records(c.levels))),
                             "kba604.tree.zip", "", &prompter, &outcome);
    EXPECT_EQ(root != nullptr, c.accepted);
    EXPECT_EQ(outcome, c.accepted ? FileLoad::Loaded : FileLoad::Refused);
  }
}

}  // namespace
}  // namespace kba604::description
