// Reading the instrument's parameters from the description files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "sim/description.h"
#include "sim_test_util.h"
#include "support/test_home.h"

namespace kba604::test {
namespace {

namespace fs = std::filesystem;

// A 512-byte tree record.
std::string tree_record(std::uint8_t kind) {
  std::string r(512, '\0');
  r[0] = static_cast<char>(kind);
  return r;
}
std::string branch(int children) {
  std::string r = tree_record(1);
  put_i32(r, 1, children);
  put_text(r, 29, 483, "Ветвь");
  return r;
}
std::string reference(int number, float lo, float hi, bool read_only) {
  std::string r = tree_record(0);
  put_i32(r, 1, number);
  put_f32(r, 5, lo);
  put_f32(r, 9, hi);
  r[13] = read_only ? 1 : 0;
  return r;
}

TEST(DescriptionFiles, RecordsBecomeTheInstrumentsParameters) {
  TestHome home;
  fs::path folder = home.root() / "desc";
  fs::create_directories(folder);
  std::string table;
  table += param_record(
      P("in-t", "Выкл:ТСМ<hide>:ТХК<hide>(1,3):Ток").init("ТХК").attrs(4, true, false).d, 3, 0,
      "?1");
  table += param_record(P("rEAd", "float").ro().d, 5, 1, "");  // address offset 5
  table += param_record(P("t.A", "STORED_DOT").decimals(1).limits(0, 100).d, -1, 1, "Сброс_всех");
  table += param_record(P("x", "DEC_dot").d, -3, 0, "");  // a negative index: not indexed
  table += std::string(1000, '\x55');  // a partial record at the end is no parameter
  write_gzip(folder / "parameters.zip", table);
  // The operational tree lists "rEAd"; the main tree narrows the limits of "t.A" and marks it
  // read-only; the hidden tree sets limits but its read-only mark counts for nothing.
  write_gzip(folder / "kba604.tree.zip",
             branch(2) + reference(2, -10, 10, true) + reference(3, 0, 0, true));
  write_gzip(folder / "kba604.tree.op.zip",
             branch(2) + reference(1, 0, 0, false) + reference(2, 0, 0, false));
  write_gzip(folder / "kba604.tree.h.zip", branch(1) + reference(0, 0, 40, true));

  sim::Description d;
  std::string error;
  ASSERT_TRUE(sim::load_description(folder.string(), d, &error)) << error;
  ASSERT_EQ(d.params.size(), 4u);
  const sim::ParamDef& in_t = d.params[0];
  EXPECT_EQ(in_t.name, "in-t");
  EXPECT_TRUE(in_t.indexed);
  EXPECT_EQ(in_t.index, 3);
  EXPECT_EQ(in_t.format, "Выкл:ТСМ:ТХК:Ток");
  EXPECT_EQ(in_t.items, (std::vector<std::string>{"Выкл", "ТСМ", "ТХК", "Ток"}));
  EXPECT_EQ(in_t.multiplicity, 4);
  EXPECT_TRUE(in_t.check_only);
  EXPECT_EQ(in_t.reference, "1");
  EXPECT_DOUBLE_EQ(in_t.maximum, 40);
  const sim::ParamDef& read = d.params[1];
  EXPECT_FALSE(read.indexed);
  EXPECT_EQ(read.address_offset, 5);
  EXPECT_EQ(read.slot(), 5);
  EXPECT_TRUE(read.operational);
  EXPECT_EQ(read.kind, sim::FormatKind::kFloat);
  const sim::ParamDef& t = d.params[2];
  EXPECT_EQ(t.address_offset, 0);
  EXPECT_EQ(t.reference, "Сброс всех");
  EXPECT_FALSE(t.tree_read_only) << "the operational tree's later reference clears it";
  EXPECT_DOUBLE_EQ(t.minimum, -10);
  EXPECT_FALSE(d.params[3].indexed);
  EXPECT_TRUE(d.params[3].tree_read_only);
  EXPECT_EQ(d.find("T.a"), &d.params[2]);
  EXPECT_EQ(d.find("rEAd", 5), &d.params[1]);
  EXPECT_EQ(d.find("rEAd", 4), nullptr);
}

TEST(DescriptionFiles, DamagedFilesAreRefusedWithTheFileAndTheFault) {
  TestHome home;
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    const char* file;
  };
  const std::string record = param_record(P("a", "DEC_dot").d, -1, 1, "");
  const Case cases[] = {
      {"missing table", [](const fs::path&) {}, "parameters.zip"},
      {"not gzip", [](const fs::path& f) { std::ofstream(f / "parameters.zip") << "plain text"; },
       "parameters.zip"},
      {"truncated stream",
       [&](const fs::path& f) {
         write_gzip(f / "parameters.zip", record + record);
         fs::resize_file(f / "parameters.zip", fs::file_size(f / "parameters.zip") - 12);
       },
       "parameters.zip"},
      {"no whole record",
       [](const fs::path& f) { write_gzip(f / "parameters.zip", std::string(100, 'x')); },
       "parameters.zip"},
      {"tree reference outside the table",
       [&](const fs::path& f) {
         write_gzip(f / "parameters.zip", record);
         write_gzip(f / "kba604.tree.zip", branch(1) + reference(7, 0, 0, false));
       },
       "kba604.tree.zip"},
      {"children beyond the data",
       [&](const fs::path& f) {
         write_gzip(f / "parameters.zip", record);
         write_gzip(f / "kba604.tree.h.zip", branch(3) + reference(0, 0, 0, false));
       },
       "kba604.tree.h.zip"},
  };
  int n = 0;
  for (const Case& c : cases) {
    fs::path folder = home.root() / ("case" + std::to_string(n++));
    fs::create_directories(folder);
    c.make(folder);
    sim::Description d;
    std::string error;
    EXPECT_FALSE(sim::load_description(folder.string(), d, &error)) << c.what;
    EXPECT_NE(error.find(c.file), std::string::npos) << c.what << ": " << error;
  }
}

TEST(DescriptionFiles, HideMarkersAreRemovedFromEveryItem) {
  struct Case {
    const char* in;
    const char* out;
  };
  for (const Case& c :
       {Case{"Выкл:Вкл<hide>:Авто<hide>(1,3)", "Выкл:Вкл:Авто"}, Case{"<hide>А:Б", "А:Б"},
        Case{"А<hide>(2:Б", "А:Б"}, Case{"STORED_DOT", "STORED_DOT"}}) {
    EXPECT_EQ(sim::strip_hide_markers(c.in), c.out) << c.in;
  }
}

}  // namespace
}  // namespace kba604::test
