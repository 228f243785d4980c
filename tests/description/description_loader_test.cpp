#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "description/description_loader.h"
#include "model/talv_codec.h"
#include "support/description_files.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;
using description::BranchRecord;
using description::ParameterRecord;
using description::ReferenceRecord;

// A folder of description files built for one test.
class LoaderTest : public ::testing::Test {
 protected:
  fs::path folder() const { return home_.root() / "desc"; }
  DescriptionLoad load(const test::DescriptionFiles& files, DescriptionRequest request = {}) {
    files.write_to(folder());
    request.data_folder = folder();
    return load_description(table_, request, &prompter_);
  }
  Parameter& param(std::string_view name) {
    Parameter* p = table_.find_by_name(name);
    EXPECT_NE(p, nullptr) << name;
    return *p;
  }

  test::TestHome home_;
  ParameterTable table_;
  test::RecordingPrompter prompter_;
};

constexpr const char* kVer = R"({"name": "ver", "format": "ASCI", "read_only": true})";

std::string params(std::initializer_list<std::string> records) {
  std::string s = R"({"parameters": [)";
  bool first = true;
  for (const auto& r : records) {
    if (!first) s += ",";
    first = false;
    s += r;
  }
  return s + "]}";
}

TEST(VersionGate, PacksTheTokensOfTheVersionText) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> packed;
  } cases[] = {
      {"1.10", 0x010A},        {"0.9", 9},       {"5", 5},        {"v1.10", 0x010A},
      {"ver 2.3.1", 0x020301}, {"1. 2", 0x0102}, {"1.x", 0x0100}, {"нет данных", std::nullopt},
      {"", std::nullopt},      {"1..2", 0x0102},
  };
  for (const auto& c : cases) EXPECT_EQ(pack_version(c.text), c.packed) << c.text;
}

TEST_F(LoaderTest, TableWithAPartialRecordAtItsEndLoadsTheWholeRecords) {
  std::vector<ParameterRecord> records(3);
  records[0].name = "ver";
  records[1].name = "a";
  records[2].name = "b";
  auto raw = test::parameter_bytes(records);
  raw.resize(2 * description::kParameterRecordSize + 1000);  // 2343 × 2 + 1000
  fs::create_directories(folder());
  auto zipped = test::gzip_bytes(raw);
  std::ofstream(folder() / "parameters.zip", std::ios::binary)
      .write(reinterpret_cast<const char*>(zipped.data()), static_cast<long>(zipped.size()));
  auto result = load_parameter_table(table_, folder() / "parameters.zip", &prompter_);
  EXPECT_EQ(result.outcome, FileLoad::Loaded);
  EXPECT_EQ(table_.size(), 2u);
  EXPECT_EQ(table_[1].short_name, "a");
  EXPECT_EQ(prompter_.count(), 0u);
}

TEST_F(LoaderTest, VersionGateDecidesWhetherTheDescriptionLoads) {
  struct Case {
    std::optional<std::string> file_version;
    std::string device_value;
    int read_error;
    bool loads;
  } cases[] = {
      {std::nullopt, "1.10", 0, true},      {std::nullopt, "0.9", 0, false},
      {std::nullopt, "5", 0, false},        {std::nullopt, "0.9", 2, true},  // unreadable
      {std::nullopt, "нет", 0, true},       {std::string("0.9"), "1.10", 0, false},
      {std::string("2.0"), "0.1", 0, true},
  };
  auto files = test::build_description(params({kVer, R"({"name": "x", "format": "DEC_dot"})"}),
                                       {R"({"branch": "R", "children": [{"ref": "x"}]})",
                                        R"({"branch": "O"})", R"({"branch": "H"})"});
  for (const auto& c : cases) {
    table_.reset(0, "");
    files.write_to(folder());
    load_parameter_table(table_, folder() / "parameters.zip", nullptr);
    DescriptionRequest request;
    request.version_text = c.file_version;
    int reads = 0;
    request.read_ver = [&](Parameter& ver) {
      ++reads;
      ver.value = c.device_value;
      return c.read_error;
    };
    auto result = load(files, request);
    EXPECT_EQ(result.main_tree != nullptr, c.loads) << c.device_value;
    EXPECT_EQ(result.stopped_by_version, !c.loads);
    EXPECT_EQ(reads, c.file_version ? 0 : 1);
  }
  EXPECT_EQ(prompter_.count(), 0u);
}

TEST_F(LoaderTest, ParameterRecordFieldsBecomeTheParameter) {
  auto files = test::build_description(params({
      kVer,
      R"j({"name": "mode", "title": "Режим", "index": 3, "role": 7, "changed": 1, "flag": 1,
          "editable": 0, "owner": 1, "format": "Выкл:Вкл<hide>:Авто<hide>(1,3)",
          "reference": "?3", "note": "n"})j",
      R"({"name": "sp", "index": 0, "multiplicity": 0, "editable": 0, "owner": 1,
          "format": "Нет:Сильный_нагрев", "reference": "сильный_НАГРЕВ"})",
      R"({"name": "t", "offset": 5, "read_only": true, "format": "Нет:Да", "reference": "9"})",
      R"({"name": "u", "index_kind": 1, "index_value": -1, "format": "DEC_dot", "decimals": 2,
          "min": -1.5, "max": 2.5, "value": "12", "reference": "a_b"})",
      R"({"name": "w", "index": 0, "index_kind": 0, "index_value": -4, "format": "Нет:Да",
          "reference": "Может"})",
  }));
  load(files);
  ASSERT_EQ(table_.size(), 6u);
  Parameter& mode = param("mode");
  EXPECT_EQ(mode.title, "Режим");
  EXPECT_TRUE(mode.indexed);
  EXPECT_EQ(mode.linear_index, 3);
  EXPECT_EQ(mode.role_code, 7);
  EXPECT_TRUE(mode.changed);
  EXPECT_TRUE(mode.description_flag);
  EXPECT_FALSE(mode.editable);
  EXPECT_TRUE(mode.factory);
  EXPECT_EQ(mode.format, "Выкл:Вкл:Авто");
  EXPECT_EQ(mode.item_marks, (std::vector<std::string>{"", "h", "h1,3"}));
  EXPECT_TRUE(mode.check_only);
  EXPECT_EQ(mode.reference_value, "Нет данных");  // "3" is past the three items
  EXPECT_EQ(mode.note, "n");
  EXPECT_EQ(mode.access_mask, 7);
  EXPECT_TRUE(mode.from_description);

  Parameter& sp = param("sp");
  EXPECT_EQ(sp.attribute_multiplicity, 0);
  EXPECT_TRUE(sp.editable);  // attributes are taken only with a multiplicity
  EXPECT_FALSE(sp.factory);
  EXPECT_FALSE(sp.check_only);
  EXPECT_EQ(sp.reference_value, "Сильный нагрев");

  Parameter& t = param("t");
  EXPECT_FALSE(t.indexed);
  EXPECT_EQ(t.address_offset, 5);
  EXPECT_EQ(t.access_mask & 1, 0);
  EXPECT_EQ(t.reference_value, "Нет данных");

  Parameter& u = param("u");
  EXPECT_FALSE(u.indexed);
  EXPECT_EQ(u.address_offset, 0);
  EXPECT_EQ(u.decimals, 2);
  EXPECT_DOUBLE_EQ(u.minimum, -1.5);
  EXPECT_DOUBLE_EQ(u.maximum, 2.5);
  EXPECT_EQ(u.value, "12");
  EXPECT_EQ(u.reference_value, "a b");

  Parameter& w = param("w");
  EXPECT_FALSE(w.indexed);
  EXPECT_EQ(w.reference_value, "Нет данных");
}

TEST_F(LoaderTest, ReferenceFourOfAnItemListIsTheFourthItemAndCheckOnly) {
  auto files = test::build_description(
      params({kVer, R"({"name": "x", "format": "a:b:c:d:e", "reference": "?3"})"}));
  load(files);
  EXPECT_TRUE(param("x").check_only);
  EXPECT_EQ(param("x").reference_value, "d");
}

// One table, a main tree and a hidden tree that both refer to the same parameters.
const char* kTreeParams = R"({"parameters": [
    {"name": "ver", "format": "ASCI"},
    {"name": "a", "index": 2, "role": 1, "format": "STORED_DOT", "min": -1, "max": 1},
    {"name": "b", "role": -2, "index": 3, "format": "DEC_dot", "min": 5, "max": 6},
    {"name": "OfFs", "format": "DEC_dot"},
    {"name": "c", "index": 0, "format": "DEC_dot"}]})";

TEST_F(LoaderTest, TreeReferencesSetTitlesLimitsReadOnlyBitAndRoleTables) {
  auto files = test::build_description(
      kTreeParams,
      {R"({"branch": "Прибор", "value": 9, "image": 3, "selected_image": 4, "children": [
            {"ref": "a:2", "title": "А", "read_only": true, "min": -10, "max": 10},
            {"ref": "b:3", "title": "Б"},
            {"ref": "OfFs", "title": "offs", "read_only": true},
            {"branch": "Сеть", "role": 100, "children": [{"ref": "c:0", "read_only": true}]},
            {"connector": "Связь", "template": "Вход_#", "key": "c", "lower": 1, "upper": 8}]})",
       "",
       R"({"branch": "Скрытые", "children": [
            {"ref": "a:2", "title": "Скрытое А", "read_only": false, "sub": 5},
            {"ref": "b:3", "read_only": true, "sub": 1, "min": 1, "max": 2}]})"});
  auto result = load(files);
  ASSERT_TRUE(result.main_tree);
  ASSERT_TRUE(result.hidden_tree);
  EXPECT_FALSE(result.operational_tree);  // no file: refused with a message
  const DescBranch& root = *result.main_tree;
  EXPECT_EQ(root.name(), "Прибор");
  EXPECT_EQ(root.construction_value(), 0);
  EXPECT_EQ(root.record_value(0), 9);
  EXPECT_EQ(root.tree_image(), 3);
  EXPECT_EQ(root.selected_tree_image(), 4);
  ASSERT_EQ(root.parameters().size(), 2u);  // OFFS is left out
  ASSERT_EQ(root.children().size(), 1u);
  ASSERT_EQ(root.connectors().size(), 1u);
  EXPECT_EQ(root.connectors()[0]->branch_name, "Прибор");
  EXPECT_EQ(root.connectors()[0]->key, "c");
  EXPECT_EQ(result.network_branch, root.children()[0].get());

  Parameter& a = param("a");
  EXPECT_EQ(a.display_title, "Скрытое А");  // the hidden tree is loaded last
  EXPECT_EQ(a.access_mask, 5);              // main tree's lock stays: hidden has none
  EXPECT_DOUBLE_EQ(a.minimum, -10);         // hidden limits both 0: kept
  EXPECT_EQ(table_.role_table_entry(1, 2 * 16 + 5), &a);
  Parameter& b = param("b");
  EXPECT_EQ(b.display_title, "");
  EXPECT_EQ(b.access_mask, 7);
  EXPECT_DOUBLE_EQ(b.minimum, 1);
  EXPECT_DOUBLE_EQ(b.maximum, 2);
  EXPECT_EQ(table_.role_table_entry(2, (3 / 2 + 24) * 10 + 1), &b);
  Parameter& offs = param("offs");
  EXPECT_EQ(offs.display_title, "");
  EXPECT_EQ(offs.access_mask, 7);
  EXPECT_EQ(param("c").access_mask, 5);
}

TEST_F(LoaderTest, LaterTreeOverridesTheReadOnlyBitOfAnEarlierOne) {
  auto files = test::build_description(
      kTreeParams, {R"({"branch": "R", "children": [{"ref": "c:0", "read_only": true}]})",
                    R"({"branch": "O", "children": [{"ref": "c:0"}]})", ""});
  load(files);
  EXPECT_EQ(param("c").access_mask, 7);
}

TEST_F(LoaderTest, OperationalParametersGetTimersAndLoseTheirIndexedMark) {
  auto files = test::build_description(
      kTreeParams,
      {R"({"branch": "R", "children": [{"ref": "a:2"}]})",
       R"({"branch": "O", "children": [{"branch": "in", "children": [{"ref": "c:0"}]}]})",
       R"({"branch": "H"})"});
  auto result = load(files);
  ASSERT_TRUE(result.operational_tree);
  EXPECT_TRUE(param("c").owns_polling_timer());
  EXPECT_FALSE(param("c").indexed);
  EXPECT_FALSE(param("a").owns_polling_timer());
  EXPECT_TRUE(param("a").indexed);
  EXPECT_EQ(table_.operational_count(), 1u);
  EXPECT_TRUE(table_.loaded_at_max_access());
  EXPECT_EQ(result.tooltip_file, folder() / "tooltip.dat");
  EXPECT_FALSE(result.refused);
  EXPECT_EQ(prompter_.count(), 0u);
}

TEST_F(LoaderTest, ExcludedRoleMarksTheBranchAndEverythingBelow) {
  auto files = test::build_description(
      kTreeParams, {R"({"branch": "R", "children": [{"branch": "F", "role": 101, "children": [
             {"branch": "G", "children": [{"branch": "H"}]}]}, {"branch": "K"}]})",
                    R"({"branch": "O"})", R"({"branch": "H"})"});
  DescriptionRequest middle_level;
  middle_level.access_level = 1;
  auto result = load(files, middle_level);
  EXPECT_FALSE(table_.loaded_at_max_access());
  const DescBranch& f = *result.main_tree->children()[0];
  EXPECT_FALSE(result.main_tree->excluded_from_writing());
  EXPECT_TRUE(f.excluded_from_writing());
  EXPECT_TRUE(f.children()[0]->excluded_from_writing());
  EXPECT_TRUE(f.children()[0]->children()[0]->excluded_from_writing());
  EXPECT_FALSE(result.main_tree->children()[1]->excluded_from_writing());
}

TEST_F(LoaderTest, TreeWhoseFirstRecordIsNoBranchIsAnEmptyRoot) {
  ReferenceRecord ref;
  ref.number = 0;
  auto tree = test::gzip_bytes(test::tree_bytes({ref}));
  auto files = test::build_description(kTreeParams);
  files.write_to(folder());
  load_parameter_table(table_, folder() / "parameters.zip", nullptr);
  auto root = load_tree_from_bytes(table_, tree, "t", "", &prompter_);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->name(), "Корень");
  EXPECT_TRUE(root->parameters().empty());
  EXPECT_EQ(prompter_.count(), 0u);
}

TEST_F(LoaderTest, TableWithoutVerLoadsWithAWarning) {
  auto files = test::build_description(R"({"parameters": [{"name": "x", "format": "DEC_dot"}]})",
                                       {R"({"branch": "R", "children": [{"ref": "x"}]})",
                                        R"({"branch": "O"})", R"({"branch": "H"})"});
  auto result = load(files);
  EXPECT_TRUE(result.main_tree);
  EXPECT_FALSE(result.refused);
  ASSERT_EQ(prompter_.count(), 1u);
  EXPECT_EQ(prompter_.records()[0].caption, "Предупреждение");
  EXPECT_NE(prompter_.records()[0].text.find("\"ver\""), std::string::npos);
}

// Damaged tree files: each is refused with one message naming the file and its fault; the
// other trees load.
TEST_F(LoaderTest, DamagedTreeFilesAreRefusedOneByOne) {
  auto good = test::build_description(
      kTreeParams, {R"({"branch": "R", "children": [{"ref": "a:2"}, {"branch": "S"}]})",
                    R"({"branch": "O"})", R"({"branch": "H"})"});
  BranchRecord runs_past;
  runs_past.name = "R";
  runs_past.counts[1] = 3;
  ReferenceRecord outside;
  outside.number = 5;
  BranchRecord outside_root;
  outside_root.counts[0] = 1;
  ReferenceRecord negative;
  negative.number = -1;
  auto valid = good.trees[0];
  auto truncated = std::vector<std::uint8_t>(valid.begin(), valid.end() - 12);
  auto corrupt = valid;
  corrupt[valid.size() / 2] ^= 0x55;
  auto wrong_length = valid;
  wrong_length[valid.size() - 1] ^= 0x01;
  auto trailing = valid;
  trailing.insert(trailing.end(), valid.begin(), valid.end());
  auto huge_length = valid;
  huge_length[valid.size() - 1] = 0x7F;
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    const char* fault;
  } cases[] = {
      {"empty file", {}, "слишком короткий"},
      {"not gzip", std::vector<std::uint8_t>(100, 'x'), "поврежден"},
      {"truncated", truncated, ""},
      {"corrupt", corrupt, ""},
      {"trailer length", wrong_length, "длина"},
      {"impossible trailer length", huge_length, "длина"},
      {"second member", trailing, "лишние"},
      {"children past the data", test::gzip_bytes(test::tree_bytes({runs_past})), "меньше"},
      {"reference outside", test::gzip_bytes(test::tree_bytes({outside_root, outside})),
       "вне таблицы"},
      {"negative reference", test::gzip_bytes(test::tree_bytes({outside_root, negative})),
       "вне таблицы"},
  };
  for (const auto& c : cases) {
    table_.reset(0, "");
    prompter_.clear();
    auto files = good;
    files.trees[0] = c.bytes;
    auto result = load(files);
    EXPECT_TRUE(result.refused) << c.what;
    EXPECT_FALSE(result.main_tree) << c.what;
    EXPECT_TRUE(result.operational_tree) << c.what;
    EXPECT_TRUE(result.hidden_tree) << c.what;
    ASSERT_EQ(prompter_.count(), 1u) << c.what;
    auto box = prompter_.records()[0];
    EXPECT_EQ(box.icon, PromptIcon::Error);
    EXPECT_NE(box.text.find("kba604.tree.zip"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find(c.fault), std::string::npos) << c.what << ": " << box.text;
  }
}

TEST_F(LoaderTest, DeepNestingIsRefusedInsteadOfExhaustingTheStack) {
  std::vector<description::TreeRecord> records;
  for (int i = 0; i < 5000; ++i) {
    BranchRecord b;
    b.counts[0] = 1;
    records.push_back(b);
  }
  records.push_back(BranchRecord{});
  auto files = test::build_description(kTreeParams);
  files.write_to(folder());
  load_parameter_table(table_, folder() / "parameters.zip", nullptr);
  FileLoad outcome = FileLoad::Loaded;
  auto root = load_tree_from_bytes(table_, test::gzip_bytes(test::tree_bytes(records)), "deep", "",
                                   &prompter_, &outcome);
  EXPECT_FALSE(root);
  EXPECT_EQ(outcome, FileLoad::Refused);
}

TEST_F(LoaderTest, DamagedParameterTableIsRefusedAndNoTreeLoads) {
  auto good = test::build_description(kTreeParams, {R"({"branch": "R"})", "", ""});
  std::vector<ParameterRecord> records(1);
  records[0].name = "ver";
  records[0].format = "a:b<hide>(1,2:c";
  auto bad_marks = test::gzip_bytes(test::parameter_bytes(records));
  auto truncated = std::vector<std::uint8_t>(good.parameters.begin(), good.parameters.end() - 30);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    const char* fault;
  } cases[] = {
      {"hide without closing", bad_marks, "<hide>("},
      {"truncated", truncated, ""},
      {"garbage", std::vector<std::uint8_t>(5000, 0xAB), ""},
  };
  for (const auto& c : cases) {
    prompter_.clear();
    auto files = good;
    files.parameters = c.bytes;
    auto result = load(files);
    EXPECT_TRUE(result.refused) << c.what;
    EXPECT_FALSE(result.main_tree) << c.what;
    EXPECT_EQ(table_.size(), 0u) << c.what;
    ASSERT_EQ(prompter_.count(), 1u) << c.what;
    EXPECT_NE(prompter_.records()[0].text.find("parameters.zip"), std::string::npos);
    EXPECT_NE(prompter_.records()[0].text.find(c.fault), std::string::npos)
        << prompter_.records()[0].text;
  }
}

TEST_F(LoaderTest, MissingTableIsAnEmptyTableAndTheDescriptionSaysSoOnce) {
  auto result = load_parameter_table(table_, folder() / "parameters.zip", &prompter_);
  EXPECT_EQ(result.outcome, FileLoad::Missing);
  EXPECT_EQ(table_.size(), 0u);
  EXPECT_EQ(prompter_.count(), 0u);
  DescriptionRequest request;
  request.data_folder = folder();
  auto load = load_description(table_, request, &prompter_);
  EXPECT_TRUE(load.refused);
  EXPECT_EQ(prompter_.count(), 1u);
}

TEST(DataFolder, SettingOrTheInstalledFolderEndingWithASlash) {
  platform::MemorySettingsStore settings;
  EXPECT_EQ(description_data_folder(&settings).string().back(), '/');
  settings.set_value("datadirectory", "/opt/kba");
  EXPECT_EQ(description_data_folder(&settings), fs::path("/opt/kba/"));
}

}  // namespace
}  // namespace kba604

namespace kba604 {
namespace {

TEST_F(LoaderTest, HelpTextsAreFoundByIndexThenByName) {
  auto files = test::build_description(
      R"({"parameters": [{"name": "ver", "format": "ASCI"},
          {"name": "In", "index": 0, "format": "DEC_dot", "help": "Вход"},
          {"name": "In", "index": 1, "format": "DEC_dot", "help": "Вход"},
          {"name": "In", "index": 2, "format": "DEC_dot", "help": "Особый\nвход"},
          {"name": "r", "offset": 3, "format": "DEC_dot", "help": "Опрос"},
          {"name": "none", "format": "DEC_dot"}]})",
      {R"({"branch": "R"})", R"({"branch": "O"})", R"({"branch": "H"})"});
  auto result = load(files);
  ASSERT_EQ(table_.size(), 6u);
  EXPECT_EQ(result.tooltips.text_for(table_[1]), "Вход");
  EXPECT_EQ(result.tooltips.text_for(table_[3]), "Особый\nвход");
  EXPECT_EQ(result.tooltips.text_for(table_[4]), "Опрос");
  EXPECT_EQ(result.tooltips.text_for(table_[5]), "");
  table_[1].short_name = "iN";
  EXPECT_EQ(result.tooltips.text_for(table_[1]), "Вход");
}

}  // namespace
}  // namespace kba604
