#include <gtest/gtest.h>

#include "desc/description_checks.h"
#include "desc/description_source.h"
#include "description/item_marks.h"
#include "model/network_settings.h"
#include "support/description_files.h"

namespace kba604::description {
namespace {

TEST(SourceRepeats, ExpandWithPlaceholdersInnermostFirst) {
  auto node = SourceJson::parse(R"([
    {"repeat": {"var": "p", "from": 0, "to": 1},
     "each": {"repeat": {"var": "s", "from": 0, "to": 2, "step": 2},
              "each": {"id": "sp:{s+{p*5}}", "n": "{s+{p*5}}", "t": "Шаг {s+1} ({p*2-1}) {x}"}}},
    {"keep": "{p}"}])");
  std::string error;
  ASSERT_TRUE(expand_repeats(node, error)) << error;
  auto expected = SourceJson::parse(R"([
    {"id": "sp:0", "n": 0, "t": "Шаг 1 (-1) {x}"}, {"id": "sp:2", "n": 2, "t": "Шаг 3 (-1) {x}"},
    {"id": "sp:5", "n": 5, "t": "Шаг 1 (1) {x}"}, {"id": "sp:7", "n": 7, "t": "Шаг 3 (1) {x}"},
    {"keep": "{p}"}])");
  EXPECT_EQ(node, expected);
}

TEST(SourceRepeats, MalformedRepeatsAreErrors) {
  for (const char* text :
       {R"([{"repeat": {"var": "k", "from": 0}, "each": {}}])",
        R"([{"repeat": {"var": "k", "from": 0, "to": 1}}])",
        R"([{"repeat": {"var": "k", "from": 0, "to": 1, "step": 0}, "each": 1}])",
        R"([{"repeat": {"var": "k", "from": 0, "to": 1}, "each": 1, "x": 2}])",
        R"({"a": {"repeat": {"var": "k", "from": 0, "to": 1}, "each": 1}})",
        // Nested repeats that would make 10^15 copies.
        R"([{"repeat": {"var": "a", "from": 0, "to": 99999}, "each": [{"repeat": {"var": "b",
           "from": 0, "to": 99999}, "each": [{"repeat": {"var": "c", "from": 0, "to": 99999},
           "each": {"name": "x{a}{b}{c}"}}]}]}])"}) {
    auto node = SourceJson::parse(text);
    std::string error;
    EXPECT_FALSE(expand_repeats(node, error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

bool compiles(const char* parameters, const char* tree, std::vector<std::string>& errors,
              DescriptionRecords& out) {
  std::array<SourceJson, kTreeCount> trees;
  if (tree != nullptr) trees[0] = SourceJson::parse(tree);
  return compile_description(SourceJson::parse(parameters), trees, out, errors);
}

TEST(SourceCompiler, FaultsNameTheFileAndTheRecord) {
  struct Case {
    const char* parameters;
    const char* tree;
    const char* fault;
  } cases[] = {
      {R"({"parameters": [{"name": "a", "titel": "x"}]})", nullptr, "unknown field \"titel\""},
      {R"({"parameters": [{"title": "x"}]})", nullptr, "\"name\" is missing"},
      {R"({"parameters": [{"name": "a", "index": 1, "offset": 2}]})", nullptr, "either"},
      {R"({"parameters": [{"name": "a", "read_only": 300}]})", nullptr, "out of range"},
      {R"({"parameters": [{"name": "a"}, {"name": "a"}]})", nullptr, "share the id \"a\""},
      {R"({"parameters": [{"name": "a"}]})", R"({"branch": "R", "children": [{"ref": "b"}]})",
       "no parameter record has the id \"b\""},
      {R"({"parameters": [{"name": "a"}]})", R"({"branch": "R", "children": [{"ref": 1}]})",
       "outside the table"},
      {R"({"parameters": [{"name": "a"}]})",
       R"({"branch": "R", "counts": [1, 0, 0], "children": [{"ref": "a"}, {"ref": "a"}]})",
       "add up to 1"},
      {R"({"parameters": [{"name": "a"}]})",
       R"({"branch": "R", "children": [{"ref": "a", "kind": 2}]})", "kind"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> errors;
    DescriptionRecords out;
    EXPECT_FALSE(compiles(c.parameters, c.tree, errors, out)) << c.parameters;
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find(c.fault), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find(".json"), std::string::npos) << errors[0];
  }
}

TEST(SourceCompiler, TextsMustFitTheirFieldsInWindows1251) {
  std::vector<std::string> errors;
  DescriptionRecords out;
  ASSERT_TRUE(compiles(R"({"parameters": [{"name": "ДлинноеИмя"}, {"name": "日本"}]})", nullptr,
                       errors, out));
  pack_parameter_records(out.parameters, errors);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0].find("too long"), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find("Windows-1251"), std::string::npos) << errors[1];
}

TEST(SourceCompiler, DecompilingKeepsCountsKindsAndDuplicateRecords) {
  // A foreign description: two records with one name and index, a reference kind of its own
  // and counts split otherwise than ours.
  DescriptionRecords records;
  records.parameters.resize(2);
  records.parameters[0].name = records.parameters[1].name = "x";
  records.parameters[1].index_kind = 7;
  records.parameters[1].minimum = 0.1f;
  records.parameters[1].maximum = std::numeric_limits<float>::quiet_NaN();
  BranchRecord root;
  root.name = "R";
  root.counts[2] = 2;
  ReferenceRecord a, b;
  a.number = 0;
  a.kind = 9;
  b.number = 1;
  b.minimum = 1e-7f;
  records.trees[0] = {root, a, b};
  records.tooltips = {{"x", "общая"}};
  SourceJson parameters;
  std::array<SourceJson, kTreeCount> trees;
  std::vector<std::string> errors;
  ASSERT_TRUE(decompile_description(records, parameters, trees, errors));
  parameters = SourceJson::parse(dump_source(parameters));
  trees[0] = SourceJson::parse(dump_source(trees[0]));
  DescriptionRecords again;
  ASSERT_TRUE(compile_description(parameters, trees, again, errors)) << errors[0];
  auto first = pack_parameter_records(records.parameters, errors);
  EXPECT_EQ(pack_parameter_records(again.parameters, errors), first);
  EXPECT_EQ(pack_tree_records(again.trees[0], "t", errors),
            pack_tree_records(records.trees[0], "t", errors));
  EXPECT_EQ(again.tooltips, records.tooltips);
}

TEST(SourceCompiler, TreeThatIsNoCompleteBranchCannotBeDecompiled) {
  DescriptionRecords records;
  BranchRecord root;
  root.counts[0] = 2;
  records.trees[1] = {root, BranchRecord{}};
  SourceJson parameters;
  std::array<SourceJson, kTreeCount> trees;
  std::vector<std::string> errors;
  EXPECT_FALSE(decompile_description(records, parameters, trees, errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("kba604.tree.op.zip"), std::string::npos);
}

TEST(Tooltips, ForeignOrEmptyFilesHoldNothing) {
  std::vector<TooltipEntry> entries = {{"a:1", "строка\nвторая\t\\"}, {"b", "x"}};
  EXPECT_EQ(read_tooltip_file(write_tooltip_file(entries)), entries);
  EXPECT_TRUE(read_tooltip_file("").empty());
  EXPECT_TRUE(read_tooltip_file("\x1f\x8b\x08 binary").empty());
  EXPECT_TRUE(read_tooltip_file("KBA604 tooltip 2\na\tb\n").empty());
}

TEST(ItemMarks, HideMarkersBecomeMarks) {
  struct Case {
    const char* text;
    const char* format;
    std::vector<std::string> marks;
  } cases[] = {
      {"Выкл:Вкл<hide>:Авто<hide>(1,3)", "Выкл:Вкл:Авто", {"", "h", "h1,3"}},
      {"a<hide>b<hide>", "ab", {"h"}},
      {"<hide>()x", "x", {"h"}},
      {"a<hide>(2)b(c)", "ab(c)", {"h2"}},
      {"DEC_dot", "DEC_dot", {""}},
      {"", "", {""}},
  };
  for (const auto& c : cases) {
    ItemMarks marks;
    std::string error;
    ASSERT_TRUE(parse_item_marks(c.text, marks, error)) << c.text;
    EXPECT_EQ(marks.format, c.format);
    EXPECT_EQ(marks.marks, c.marks);
  }
  ItemMarks marks;
  std::string error;
  EXPECT_FALSE(parse_item_marks("a:b<hide>(1,2", marks, error));
  EXPECT_NE(error.find("<hide>("), std::string::npos);
}

// A small data set that passes every check, then one fault at a time.
class DataSetChecks : public ::testing::Test {
 protected:
  std::vector<std::string> check(const std::string& extra_parameter,
                                 const std::string& extra_reference = "",
                                 const char* operational = nullptr) {
    std::string p = R"({"parameters": [)";
    for (auto name : special_parameter_names()) {
      p += R"({"name": ")" + std::string(name) + R"(", "read_only": true, "format": ")" +
           (name == "net.s" ? "a:b" : "DEC_dot") + "\"";
      if (name == "r.co") p += R"(, "reference": "1")";
      p += "},";
    }
    for (const kba604::NetworkSetting& rule : kba604::kNetworkSettings) {
      if (rule.name == "net.s") continue;
      p += R"({"id": "net-)" + std::string(rule.name) + R"(", "name": ")" + std::string(rule.name) +
           R"(", "index": 0, "format": ")" +
           std::string(rule.format.empty() ? "a:b" : rule.format) + R"("},)";
    }
    p += extra_parameter + "]}";
    std::string t = R"({"branch": "R", "children": [{"branch": "N", "role": 100, "children": [)";
    for (const kba604::NetworkSetting& rule : kba604::kNetworkSettings) {
      t += rule.name == "net.s" ? R"({"ref": "net.s"},)"
                                : R"({"ref": "net-)" + std::string(rule.name) + R"("},)";
    }
    t += R"({"ref": "x"}]})" + extra_reference + "]}";
    std::array<SourceJson, kTreeCount> trees;
    trees[0] = SourceJson::parse(t);
    if (operational != nullptr) trees[kOperationalTree] = SourceJson::parse(operational);
    DescriptionRecords records;
    std::vector<std::string> errors;
    EXPECT_TRUE(compile_description(SourceJson::parse(p), trees, records, errors))
        << (errors.empty() ? "" : errors[0]);
    return check_data_set(records);
  }
};

TEST_F(DataSetChecks, EachRuleCatchesItsFault) {
  EXPECT_EQ(check(R"({"name": "x", "format": "DEC_dot"})"), std::vector<std::string>{});
  struct Case {
    const char* parameter;
    const char* reference;
    const char* fault;
  } cases[] = {
      {R"({"name": "x", "format": "STORED_DOT"})", "", "needs limits"},
      {R"({"name": "x", "format": "STORED_DOT", "min": 5, "max": 1})", "", "minimum exceeds"},
      {R"({"name": "x", "format": "один"})", "", "fewer than two items"},
      {R"({"name": "x", "format": "a:b", "reference": "c"})", "", "no item"},
      {R"({"name": "x", "format": "a:b<hide>(1"})", "", "<hide>("},
      {R"({"name": "x", "format": "DEC_dot"}, {"name": "Alr.1.H", "index": 2, "format": "DEC_dot"},
          {"name": "Alr.1.L", "index": 2, "format": "DEC_dot"})",
       "", "first four characters"},
      {R"({"name": "x", "format": "DEC_dot"}, {"name": "lONGNAME9", "format": "DEC_dot"})", "",
       "1 to 8 characters"},
      {R"({"name": "x", "format": "DEC_dot"})", R"(, {"branch": "M", "role": 100})", "exactly one"},
  };
  for (const auto& c : cases) {
    auto faults = check(c.parameter, c.reference);
    ASSERT_FALSE(faults.empty()) << c.fault;
    EXPECT_NE(faults[0].find(c.fault), std::string::npos) << faults[0];
  }
}

TEST_F(DataSetChecks, OperationalParametersMayShareKeys) {
  // The same name twice is a collision, unless the parameters are polled (they are left out
  // of configuration files).
  const char* twice =
      R"({"name": "x", "format": "DEC_dot"}, {"id": "y2", "name": "x", "format": "DEC_dot"})";
  auto faults = check(twice);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].find("is also that of"), std::string::npos) << faults[0];
  EXPECT_TRUE(check(twice, "", R"({"branch": "O", "children": [{"ref": "y2"}]})").empty());
}

}  // namespace
}  // namespace kba604::description
