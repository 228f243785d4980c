#include <gtest/gtest.h>

#include "model/archive.h"
#include "model/talv_codec.h"
#include "operations/eeprom_image.h"
#include "operations/reread_set.h"

namespace kba604 {
namespace {

Parameter& describe(Parameter& p, const std::string& name, int index, const std::string& value) {
  p.short_name = name;
  p.indexed = index >= 0;
  p.linear_index = index >= 0 ? index : 0;
  p.value = value;
  p.format = "DEC_dot";
  return p;
}

TEST(ReReadSet, WritingAParameterMarksWhatItChanges) {
  struct Case {
    const char* written;
    int index;
    const char* value;
    std::vector<std::pair<const char*, const char*>> entries;
  } cases[] = {
      {"n.Ch", 0, "5", {{"S.idx", "0;1;2;3;4;5;6;7"}, {"S.SAU", "all"}}},
      {"N.CH", 2, "5", {{"s.idx", "2;3;4;5;6;7;8;9"}, {"S.SAU", "all"}}},
      {"n.Obj", 0, "2", {{"S.idx", "all"}, {"n.Ch", "all"}}},
      {"cal.t", 3, "1", {{"n.in.c", "3"}}},
      {"OD.tP", 1, "1", {{"r.OD.i", "all"}, {"S.OD", "all"}}},
      {"Rel.a", 4, "1", {{"S.OE", "all"}}},
      {"OP.i", 0, "1", {{"S.OE", "all"}}},
      {"OP", 0, "1", {{"S.OE", "all"}}},
      {"al.re", 0, "1", {{"S.OE", "all"}}},
      {"n.rel", 0, "1", {{"S.OE", "all"}}},
      {"Ch.At", 0, "1", {{"Ch.At", "all"}}},
      {"nPC", 2, "3", {{"PCP.i", "2;3;4;5"}, {"S.MD", "all"}}},
      {"nPC", 0, "Нет данных", {{"PCP.i", "all"}, {"S.MD", "all"}}},
      {"A.i.j", 5, "1", {{"A.i.j", "4;5"}}},
      {"lg.ty", 4, "1", {{"A.i.j", "4;5"}}},
      {"r.St", 0, "1", {}},
  };
  for (const Case& c : cases) {
    Parameter p;
    describe(p, c.written, c.index, "1");
    ReReadSet set;
    set.note_written(p, c.value);
    EXPECT_EQ(set.size(), c.entries.size()) << c.written;
    for (auto [name, text] : c.entries) EXPECT_EQ(set.entry_text(name), text) << c.written;
  }
}

TEST(ReReadSet, AllStaysAllAndIndexesAccumulate) {
  ReReadSet set;
  set.add_index("S.idx", 3);
  set.add_index("S.idx", 1);
  EXPECT_EQ(set.entry_text("s.IDX"), "1;3");
  set.add_all("S.idx");
  set.add_index("S.idx", 9);
  EXPECT_EQ(set.entry_text("S.idx"), "all");

  Parameter indexed, other;
  describe(indexed, "S.idx", 9, "1");
  describe(other, "S.SAU", -1, "1");
  EXPECT_TRUE(set.names(indexed));
  EXPECT_FALSE(set.names(other));
}

// ---- the image file -----------------------------------------------------------------------

// Reads an image independently of the loader: the count and the records.
struct ParsedImage {
  std::int32_t count = 0;
  std::vector<std::tuple<std::uint32_t, std::string, std::string>> records;
};
ParsedImage parse(const std::string& bytes) {
  ParsedImage image;
  ArchiveReader r(bytes);
  image.count = r.read_i32();
  while (!r.at_end()) {
    std::uint32_t key = r.read_u32();
    std::string name = r.read_string();
    std::string value = r.read_string();
    image.records.emplace_back(key, name, value);
  }
  return image;
}

TEST(EepromImage, PolledParametersAreCountedButNotStored) {
  ParameterTable table(300, "parameters.zip");
  for (std::size_t i = 0; i < table.size(); ++i) {
    describe(table[i], "q" + std::to_string(i), static_cast<int>(i), std::to_string(i));
    if (i % 25 == 7) table[i].create_polling_timer();
  }
  ASSERT_EQ(table.operational_count(), 12u);
  const std::string bytes = build_eeprom_image(table);
  ParsedImage image = parse(bytes);
  EXPECT_EQ(image.count, 300);
  ASSERT_EQ(image.records.size(), 288u);
  EXPECT_EQ(std::get<1>(image.records[0]), "q0");
  EXPECT_EQ(std::get<1>(image.records[7]), "q8");  // q7 is polled

  // Loading reads the 288 records and stops at the end of the file.
  for (Parameter& p : table) p.value = std::string(kNoData);
  EepromLoad load = load_eeprom_image(table, bytes);
  EXPECT_EQ(load.count, 300);
  EXPECT_EQ(load.records, 288);
  EXPECT_EQ(load.matched, 288);
  EXPECT_FALSE(load.short_file);
  EXPECT_TRUE(load.damage.empty());
  EXPECT_EQ(table[299].value, "299");
  EXPECT_EQ(table[7].value, kNoData);
}

TEST(EepromImage, RecordKeysCarryTheIndexOrNoIndex) {
  ParameterTable table(2, "parameters.zip");
  describe(table[0], "in-t", 3, "1");
  describe(table[1], "in-t", -1, "1");
  ParsedImage image = parse(build_eeprom_image(table));
  ASSERT_EQ(image.records.size(), 2u);
  const std::uint32_t hash = hash_name("in-t");
  EXPECT_EQ(std::get<0>(image.records[0]), 0x00030000u | hash);
  EXPECT_EQ(std::get<0>(image.records[1]), 0xFFFF0000u | hash);
}

TEST(EepromImage, ItemListValuesTravelAsPositions) {
  ParameterTable table(2, "parameters.zip");
  describe(table[0], "Ch.At", -1, "Заводской");
  describe(table[1], "Ch.At", 1, "Не из списка");
  for (Parameter& p : table) p.format = "Пользовательский:Заводской";
  ParsedImage image = parse(build_eeprom_image(table));
  EXPECT_EQ(std::get<2>(image.records[0]), "1");
  EXPECT_EQ(std::get<2>(image.records[1]), "-1");
  load_eeprom_image(table, build_eeprom_image(table));
  EXPECT_EQ(table[0].value, "Заводской");
  EXPECT_EQ(table[1].value, kNoData);
}

TEST(EepromImage, UnknownKeysAreSkippedAndShortFilesEndQuietly) {
  ParameterTable table(2, "parameters.zip");
  describe(table[0], "a.b", -1, "1");
  describe(table[1], "c.d", 2, "1");
  ArchiveWriter w;
  w.write_i32(3);
  w.write_u32(0x7777AAAA);  // another instrument's parameter
  w.write_string("zz.z");
  w.write_string("99");
  w.write_u32(0x00020000u | hash_name("c.d"));
  w.write_string("c.d");
  w.write_string("42");
  w.write_u32(0xFFFF0000u | hash_name("a.b"));
  w.write_string("a.b");
  w.write_string("17");
  const std::string bytes = w.take();

  EepromLoad load = load_eeprom_image(table, bytes);
  EXPECT_EQ(load.records, 3);
  EXPECT_EQ(load.skipped, 1);
  EXPECT_EQ(table[1].value, "42");
  EXPECT_EQ(table[0].value, "17");

  // Cut inside the last record: the records before it load, the cut one changes nothing.
  table[0].value = "1";
  table[1].value = "1";
  for (std::size_t cut : {bytes.size() - 1, bytes.size() - 4, bytes.size() - 9}) {
    load = load_eeprom_image(table, bytes.substr(0, cut));
    EXPECT_TRUE(load.short_file) << cut;
    EXPECT_EQ(table[1].value, "42") << cut;
    EXPECT_EQ(table[0].value, "1") << cut;
  }
}

TEST(EepromImage, DamagedStringsAreReportedNotLoaded) {
  ParameterTable table(1, "parameters.zip");
  describe(table[0], "a.b", -1, "1");
  ArchiveWriter w;
  w.write_i32(1);
  w.write_u32(0xFFFF0000u | hash_name("a.b"));
  // A Unicode string marker, which this layout never writes.
  w.write_u8(0xFF);
  w.write_u16(0xFFFE);
  w.write_u8(4);
  w.write_bytes("a.b!");
  EepromLoad load = load_eeprom_image(table, w.take());
  EXPECT_FALSE(load.damage.empty());
  EXPECT_EQ(table[0].value, "1");
  EXPECT_EQ(table[0].short_name, "a.b");
}

}  // namespace
}  // namespace kba604
