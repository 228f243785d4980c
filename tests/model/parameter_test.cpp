#include "model/parameter.h"

#include <gtest/gtest.h>

#include <string>

#include "model/archive.h"
#include "model/talv_codec.h"
#include "model/value_format.h"

namespace kba604 {
namespace {

const char* const kAttributeList =
    "Не_редактируемый,_Заводской:Редактируемый,_Заводской:Не_редактируемый,_Пользовательский:"
    "Редактируемый,_Пользовательский";

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

TEST(Parameter, NewParameterHasTheInitialValuesOfTheModel) {
  Parameter p;
  EXPECT_EQ(p.value, "Нет данных");
  EXPECT_EQ(p.title, "<неизвестный параметр>");
  EXPECT_EQ(p.format, "неизвестен");
  EXPECT_EQ(p.access_mask, 7);
  EXPECT_TRUE(p.writable());
  EXPECT_TRUE(p.editable);
  EXPECT_FALSE(p.factory);
  EXPECT_EQ(p.polling_period(), 1000);
  EXPECT_TRUE(p.note.empty());
  EXPECT_EQ(p.decimals, 0);
  EXPECT_EQ(p.minimum, 0.0);
  EXPECT_EQ(p.maximum, 0.0);
  EXPECT_FALSE(p.has_limits());
  EXPECT_FALSE(p.indexed);
  EXPECT_EQ(p.linear_index, 0);
  EXPECT_EQ(p.reserved_number, 0);
  EXPECT_EQ(p.role_code, 0);
  EXPECT_FALSE(p.changed || p.editability_changed || p.owner_changed);
  EXPECT_FALSE(p.owns_polling_timer());
  EXPECT_FALSE(p.timer_armed());
  EXPECT_EQ(p.last_reply_length, 0);
}

TEST(Parameter, DisplayTitleReplacesTitleWhenSet) {
  Parameter p;
  p.title = "Уставка";
  EXPECT_EQ(p.shown_title(), "Уставка");
  p.display_title = "Уставка канала 1";
  EXPECT_EQ(p.shown_title(), "Уставка канала 1");
}

TEST(Parameter, WritableNeedsBothAccessBits) {
  const struct {
    int mask;
    bool writable;
  } cases[] = {{7, true}, {3, true}, {6, false}, {5, false}, {0, false}};
  for (const auto& c : cases) {
    Parameter p;
    p.access_mask = static_cast<std::uint8_t>(c.mask);
    EXPECT_EQ(p.writable(), c.writable) << c.mask;
  }
}

TEST(Parameter, LastReplyCopyNeverOutgrowsItsField) {
  Parameter p;
  std::uint8_t reply[40];
  for (int i = 0; i < 40; ++i) reply[i] = static_cast<std::uint8_t>(i + 1);
  p.store_reply(reply, 5);
  EXPECT_EQ(p.last_reply_length, 5);
  EXPECT_EQ(p.last_reply[4], 5);
  p.store_reply(reply, 40);
  EXPECT_EQ(p.last_reply_length, 31);
  EXPECT_EQ(p.last_reply[30], 31);
  p.store_reply(nullptr, 0);
  EXPECT_EQ(p.last_reply_length, 0);
}

TEST(Parameter, KeyHoldsIndexOrFFFFAboveNameHash) {
  Parameter p;
  p.short_name = "S.idx";
  std::uint32_t hash = hash_name("S.idx");
  EXPECT_EQ(p.key(), 0xFFFF0000u | hash);
  p.indexed = true;
  p.linear_index = 3;
  EXPECT_EQ(p.key(), 0x00030000u | hash);
  // The index goes with its index flag only.
  p.indexed = false;
  EXPECT_EQ(p.key(), 0xFFFF0000u | hash);
}

// With attribute multiplicity 4, indexes 4 and 8 carry attributes, 5 to 7 refer to the row above.
TEST(ParameterRow, AttributeAndOwnerTextsFollowTheMultiplicity) {
  struct Case {
    int multiplicity;
    int index;
    const char* value;
    bool editable;
    bool factory;
    const char* attribute;
    const char* owner;
  };
  const Case cases[] = {
      {0, 0, "1", true, false, "", ""},
      {1, 7, "1", true, false, "Редактируемый", "Пользователь"},
      {1, 0, "1", false, true, "Не редактируемый", "Завод"},
      {4, 4, "1", true, true, "Редактируемый", "Завод"},
      {4, 5, "1", true, true, "см. выше", "см. выше"},
      {4, 6, "1", true, true, "см. выше", "см. выше"},
      {4, 7, "Нет данных", true, true, "см. выше", "см. выше"},
      {4, 8, "1", false, false, "Не редактируемый", "Пользователь"},
      {4, 8, "Нет данных", false, false, "Нет данных", "Нет данных"},
      {1, 0, "НЕТ ДАННЫХ", true, false, "Нет данных", "Нет данных"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.multiplicity << ":" << c.index << " " << c.value);
    Parameter p;
    p.indexed = true;
    p.attribute_multiplicity = c.multiplicity;
    p.linear_index = c.index;
    p.value = c.value;
    p.editable = c.editable;
    p.factory = c.factory;
    ParameterRow row = p.row(false);
    EXPECT_EQ(row.attribute, c.attribute);
    EXPECT_EQ(row.owner, c.owner);
  }
}

TEST(ParameterRow, ColourFollowsNoteThenChangeFlags) {
  struct Case {
    const char* note;
    int flag;  // 0 none, 1 changed, 2 editability changed, 3 owner changed
    Rgb colour;
  };
  const Case cases[] = {
      {"", 0, {0, 0, 0}},
      {"", 1, {0, 187, 0}},
      {"", 2, {0, 187, 0}},
      {"", 3, {0, 187, 0}},
      {"Знач-е в приборе: '5',Ред-ый,польз.", 0, {64, 64, 255}},
      {"Знач-е в приборе: '5',Ред-ый,польз.", 1, {64, 64, 255}},
      {"Таймаут при передаче данных (нет связи)", 0, {213, 0, 0}},
      {"Таймаут при передаче данных (нет связи)", 1, {213, 0, 0}},
      {"Значение не записано, так как параметер не инициализирован", 0, {0, 0, 0}},
      {"Значение не записано, так как параметер не инициализирован", 1, {0, 187, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.note << " / " << c.flag);
    Parameter p;
    p.note = c.note;
    p.changed = c.flag == 1;
    p.editability_changed = c.flag == 2;
    p.owner_changed = c.flag == 3;
    EXPECT_EQ(p.row(false).colour, c.colour);
  }
}

TEST(ParameterRow, NameShowsIndexOnlyWhenAskedAndIndexed) {
  Parameter p;
  p.short_name = "S.idx";
  p.linear_index = 12;
  EXPECT_EQ(p.row(true).name, "S.idx");
  p.indexed = true;
  EXPECT_EQ(p.row(false).name, "S.idx");
  EXPECT_EQ(p.row(true).name, "S.idx:12");
  p.value = "42";
  p.note = "Ошибка";
  ParameterRow row = p.row(true);
  EXPECT_EQ(row.value, "42");
  EXPECT_EQ(row.note, "Ошибка");
}

TEST(ParameterRow, IconByWritabilityAndFormat) {
  struct Case {
    const char* format;
    int mask;
    RowIcon icon;
  };
  const Case cases[] = {
      {"Выкл:Вкл", 7, RowIcon::WritableItemList}, {"STORED_DOT", 7, RowIcon::Writable},
      {"DEC_dot", 3, RowIcon::Writable},          {"name", 7, RowIcon::Writable},
      {"Выкл:Вкл", 6, RowIcon::ReadOnly},         {"STORED_DOT", 5, RowIcon::ReadOnly},
  };
  for (const Case& c : cases) {
    Parameter p;
    p.format = c.format;
    p.access_mask = static_cast<std::uint8_t>(c.mask);
    EXPECT_EQ(p.row(false).icon, c.icon) << c.format << " " << c.mask;
  }
}

TEST(ParameterTimer, ArmAndDisarmReportTheirState) {
  Parameter plain;
  EXPECT_EQ(plain.ArmTimer(0), 1);
  EXPECT_EQ(plain.DisarmTimer(), 1);
  EXPECT_FALSE(plain.timer_armed());

  Parameter op;
  op.indexed = true;
  op.create_polling_timer();
  EXPECT_TRUE(op.owns_polling_timer());
  EXPECT_FALSE(op.indexed);
  EXPECT_EQ(op.DisarmTimer(), 1);
  op.set_polling_period(1500);
  EXPECT_EQ(op.ArmTimer(10'000), 0);
  EXPECT_TRUE(op.timer_armed());
  EXPECT_EQ(op.next_due_ms(), 11'500);
  EXPECT_EQ(op.ArmTimer(20'000), 1);
  EXPECT_EQ(op.next_due_ms(), 11'500);
  EXPECT_EQ(op.DisarmTimer(), 0);
  EXPECT_FALSE(op.timer_armed());
}

// The record of a configuration file, byte by byte.
TEST(ParameterRecord, StoresFieldsInRecordOrder) {
  Parameter p;
  p.short_name = "r.St";
  p.format = "DEC_dot";
  p.value = "12";
  p.indexed = true;
  p.linear_index = 0x01020304;
  p.address_offset = -1;
  p.note = "Ошибка";
  p.changed = true;
  p.editability_changed = false;
  p.owner_changed = true;
  p.editable = false;
  p.factory = true;
  p.reserved_number = 7;
  p.description_flag = true;
  ArchiveWriter w;
  Archive ar(w);
  p.Serialize(ar);
  std::string expected =
      bytes({0x04, 'r',  '.',  'S',  't',  0x02, '1',  '2',  0x01, 0x04, 0x03, 0x02,
             0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x06, 0xCE, 0xF8, 0xE8, 0xE1,
             0xEA, 0xE0, 0x01, 0x00, 0x01, 0x00, 0x01, 0x07, 0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(w.bytes(), expected);

  Parameter q;
  q.format = "DEC_dot";
  ArchiveReader r(w.bytes());
  Archive in(r);
  q.Serialize(in);
  EXPECT_TRUE(r.at_end());
  EXPECT_EQ(q.short_name, "r.St");
  EXPECT_EQ(q.value, "12");
  EXPECT_TRUE(q.indexed);
  EXPECT_EQ(q.linear_index, 0x01020304);
  EXPECT_EQ(q.address_offset, -1);
  EXPECT_EQ(q.note, "Ошибка");
  EXPECT_TRUE(q.changed);
  EXPECT_FALSE(q.editability_changed);
  EXPECT_TRUE(q.owner_changed);
  EXPECT_FALSE(q.editable);
  EXPECT_TRUE(q.factory);
  EXPECT_EQ(q.reserved_number, 7);
  EXPECT_TRUE(q.description_flag);
}

// An item list is stored as the item's position and read back from a position or an item text.
TEST(ParameterRecord, ItemListValuesTravelAsPositions) {
  struct Case {
    const char* format;
    const char* value;
    const char* stored;
  };
  const Case store_cases[] = {
      {"Выкл:Вкл:Авто", "Вкл", "1"},
      {"Выкл:Вкл:Авто", "АВТО", "2"},         // letter case does not matter
      {"Выкл:Вкл:Авто", "Нет данных", "-1"},  // no item
      {"Выкл:Вкл:Авто", "Вкл2", "-1"},
      {"Выкл:Вкл:Авто", "", "-1"},
      {"Нет_связи:Есть", "Нет связи", "0"},  // "_" stands for a blank
      {kAttributeList, "Редактируемый, Пользовательский", "3"},
      {"STORED_DOT", "12.5", "12.5"},  // other formats keep their text
      {"name", "AB.1 ", "AB.1 "},
  };
  for (const Case& c : store_cases) {
    SCOPED_TRACE(testing::Message() << c.format << " " << c.value);
    Parameter p;
    p.format = c.format;
    p.value = c.value;
    ArchiveWriter w;
    Archive ar(w);
    p.Serialize(ar);
    ArchiveReader r(w.bytes());
    r.read_string();
    EXPECT_EQ(r.read_string(), c.stored);
  }

  const Case load_cases[] = {
      {"Выкл:Вкл:Авто", "1", "Вкл"},
      {"Выкл:Вкл:Авто", "-1", "Нет данных"},
      {"Выкл:Вкл:Авто", "3", "Нет данных"},  // beyond the list
      {"Выкл:Вкл:Авто", "вКЛ", "Вкл"},       // an item text in any letter case
      {"Выкл:Вкл:Авто", "Вентилятор", "Нет данных"},
      {"Выкл:Вкл:Авто", "", ""},  // empty stays empty
      {"Нет_связи:Есть", "0", "Нет связи"},
      {"DEC_dot", "-1", "-1"},
      {"STORED_DOT", "", ""},
  };
  for (const Case& c : load_cases) {
    SCOPED_TRACE(testing::Message() << c.format << " " << c.stored);
    ArchiveWriter w;
    w.write_string("x");
    w.write_string(c.value);
    w.write_bytes(std::string(11, '\0'));
    w.write_string("");
    w.write_bytes(std::string(10, '\0'));
    Parameter p;
    p.format = c.format;
    p.value = "старое";
    ArchiveReader r(w.bytes());
    Archive in(r);
    p.Serialize(in);
    EXPECT_EQ(p.value, c.stored);
    EXPECT_TRUE(r.at_end());
  }
}

TEST(ParameterRecord, ValueThatIsNoItemSavesAsMinusOneAndReloadsAsNoData) {
  Parameter p;
  p.short_name = "Reg";
  p.format = "Выкл:Вкл";
  p.value = "Авто";
  ArchiveWriter w;
  Archive out(w);
  p.Serialize(out);

  Parameter q;
  q.format = "Выкл:Вкл";
  q.value = "Вкл";
  ArchiveReader r(w.bytes());
  Archive in(r);
  q.Serialize(in);
  EXPECT_EQ(q.value, "Нет данных");
}

TEST(ParameterRecord, RecordCutShortRaisesEndOfFile) {
  Parameter p;
  p.short_name = "r.St";
  ArchiveWriter w;
  Archive out(w);
  p.Serialize(out);
  for (std::size_t cut = 0; cut < w.bytes().size(); ++cut) {
    std::string part = w.bytes().substr(0, cut);
    ArchiveReader r(part);
    Archive in(r);
    Parameter q;
    try {
      q.Serialize(in);
      ADD_FAILURE() << "cut at " << cut << " read without error";
    } catch (const ArchiveError& e) {
      EXPECT_TRUE(e.end_of_file()) << cut;
    }
  }
}

TEST(ItemMarks, HideItemsByLevelAndModification) {
  struct Case {
    const char* mark;
    int level;
    int modification;
    bool hidden;
  };
  const Case cases[] = {
      {"", 1, 0, false},      {"h", 2, 0, true},
      {"h", 1, 3, true},      {"h1,3", 1, 3, true},
      {"h1,3", 1, 1, true},   {"h1,3", 1, 2, false},
      {"h1,3", 2, 3, false},  {"h1,3", 0, 3, false},
      {"h 1, 3", 1, 3, true}, {"h99999999999", 1, 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(item_hidden(c.mark, c.level, c.modification), c.hidden)
        << c.mark << " " << c.level << " " << c.modification;
  }
}

TEST(FormatDescriptor, KindsAndItems) {
  EXPECT_EQ(parse_format("stored_dot").kind, FormatKind::StoredDot);
  EXPECT_EQ(parse_format("STORED_DOT:1").kind, FormatKind::StoredDot);
  EXPECT_EQ(parse_format("Float").kind, FormatKind::Float);
  EXPECT_EQ(parse_format("clk_FRM").kind, FormatKind::ClkFrm);
  EXPECT_EQ(parse_format("STRING").kind, FormatKind::String);
  EXPECT_EQ(parse_format("asci").kind, FormatKind::Asci);
  EXPECT_EQ(parse_format("NAME").kind, FormatKind::Name);
  // Only the first token names a numeric format; "string" must be the whole descriptor.
  ValueFormat list = parse_format("string:Вкл_1::");
  EXPECT_EQ(list.kind, FormatKind::ItemList);
  EXPECT_EQ(list.items, (std::vector<std::string>{"string", "Вкл 1", "", ""}));
  EXPECT_TRUE(parse_format("").items.empty());
  EXPECT_EQ(parse_format("неизвестен").items, (std::vector<std::string>{"неизвестен"}));
}

}  // namespace
}  // namespace kba604
