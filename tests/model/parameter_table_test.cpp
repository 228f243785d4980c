#include "model/parameter_table.h"

#include <gtest/gtest.h>

#include "model/talv_codec.h"

namespace kba604 {
namespace {

TEST(ParameterTable, HoldsOneBlockWithItsName) {
  ParameterTable t(3, "parameters.zip");
  EXPECT_EQ(t.size(), 3u);
  EXPECT_EQ(t.name(), "parameters.zip");
  EXPECT_EQ(&t[2] - &t[0], 2);  // contiguous
  EXPECT_EQ(t[1].value, "Нет данных");
  EXPECT_TRUE(t.contains(t[2]));
  Parameter outside;
  EXPECT_FALSE(t.contains(outside));
  EXPECT_FALSE(t.loaded_at_max_access());
  t.set_loaded_at_max_access(true);
  EXPECT_TRUE(t.loaded_at_max_access());
  t[1].short_name = "r.co";
  t[2].short_name = "R.CO";
  EXPECT_EQ(t.find_by_name("R.Co"), &t[1]);
  t[0].create_polling_timer();
  EXPECT_EQ(t.operational_count(), 1u);
  ParameterTable empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(empty.find_by_name("r.co"), nullptr);
}

// Slot of each device role code by the linear index.
TEST(ParameterTable, DeviceRoleSlotsFollowTheRoleRules) {
  struct Case {
    int code;
    bool indexed;
    int index;
    int slot;
  };
  const Case cases[] = {
      {100, true, 0, 0},   {100, true, 15, 0},  {100, true, 16, 1},  {100, true, 47, 2},
      {101, true, 119, 0}, {101, true, 120, 1}, {102, true, 250, 2}, {104, true, 360, 3},
      {105, true, 7, 7},   {106, true, 12, 12}, {108, true, 3, 3},   {115, true, 200, 200},
      {116, true, 1, 1},   {107, true, 240, 2}, {109, true, 8, 2},   {109, true, 9, 3},
      {110, true, 13, 13}, {112, true, 8, 8},   {113, true, 23, 23}, {111, true, 17, 2},
      {114, true, 8, 1},   {111, false, 17, 0}, {114, false, 99, 0}, {200, true, 55, 0},
      {200, false, 0, 0},  {105, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << " index " << c.index);
    ParameterTable t(1, "parameters.zip");
    t[0].indexed = c.indexed;
    t[0].linear_index = c.index;
    t[0].role_code = 55;
    ASSERT_TRUE(t.apply_role_code(t[0], c.code));
    EXPECT_EQ(t[0].role_code, 0);
    EXPECT_EQ(t.device_slot(c.code, c.slot), &t[0]);
    EXPECT_TRUE(t[0].in_role_slot());
  }
}

TEST(ParameterTable, OtherRoleCodesAreKeptInTheParameter) {
  ParameterTable t(1, "parameters.zip");
  for (int code : {0, 1, -2, 5, 99, 117, 199, 201}) {
    EXPECT_TRUE(t.apply_role_code(t[0], code));
    EXPECT_EQ(t[0].role_code, code);
    EXPECT_FALSE(t[0].in_role_slot());
  }
}

TEST(ParameterTable, DamagedIndexesNeverWriteOutsideTheSlotTables) {
  ParameterTable t(2, "parameters.zip");
  t[0].indexed = true;
  for (int index : {-1, -100, 1 << 20, 0x7FFFFFFF}) {
    t[0].linear_index = index;
    for (int code = 100; code <= 116; ++code) {
      EXPECT_FALSE(t.apply_role_code(t[0], code)) << code << " " << index;
    }
  }
  EXPECT_FALSE(t[0].in_role_slot());
  // A parameter that is not in this table is never put into its slots.
  Parameter outside;
  EXPECT_FALSE(t.apply_role_code(outside, 200));
  EXPECT_EQ(t.device_slot(200, 0), nullptr);
  EXPECT_EQ(t.device_slot(105, -1), nullptr);
  EXPECT_EQ(t.device_slot(105, 100000), nullptr);
  EXPECT_EQ(t.device_slot(99, 0), nullptr);
}

TEST(ParameterTable, SlotIsEmptiedWhenItsParameterGoes) {
  ParameterTable t(2, "parameters.zip");
  ASSERT_TRUE(t.apply_role_code(t[0], 200));
  EXPECT_EQ(t.device_slot(200, 0), &t[0]);
  // A later parameter takes the slot over; the first one no longer clears it.
  ASSERT_TRUE(t.apply_role_code(t[1], 200));
  EXPECT_EQ(t.device_slot(200, 0), &t[1]);
  t[1].indexed = true;
  t[1].linear_index = 1;
  t[1].role_code = 1;
  ASSERT_TRUE(t.place_in_role_table(t[1], 3));
  EXPECT_EQ(t.role_table_entry(1, 19), &t[1]);
  t.reset(1, "other.zip");
  EXPECT_EQ(t.device_slot(200, 0), nullptr);
  EXPECT_EQ(t.role_table_entry(1, 19), nullptr);
  EXPECT_EQ(t.name(), "other.zip");
  EXPECT_EQ(t.size(), 1u);
}

// Position = row × slots per row + sub-index, by the role tables of the tree references.
TEST(ParameterTable, RoleTablePositions) {
  struct Case {
    int code;
    int index;
    int sub;
    int table;
    int position;
  };
  const Case cases[] = {
      {1, 0, 0, 1, 0},  {1, 2, 5, 1, 37}, {2, 3, 4, 2, 34}, {-2, 4, 1, 2, 21}, {-2, 5, 1, 2, 261},
      {3, 7, 1, 3, 15}, {4, 5, 3, 4, 11}, {4, 4, 0, 4, 8},  {5, 9, 0, 5, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << " index " << c.index << " sub " << c.sub);
    ParameterTable t(1, "parameters.zip");
    t[0].indexed = true;
    t[0].linear_index = c.index;
    t[0].role_code = c.code;
    ASSERT_TRUE(t.place_in_role_table(t[0], c.sub));
    EXPECT_EQ(t.role_table_entry(c.table, c.position), &t[0]);
  }
}

TEST(ParameterTable, RoleTablesRefuseOutsidePositionsAndOtherCodes) {
  ParameterTable t(1, "parameters.zip");
  t[0].indexed = true;
  t[0].role_code = 1;
  t[0].linear_index = 0;
  EXPECT_FALSE(t.place_in_role_table(t[0], -1));
  EXPECT_FALSE(t.place_in_role_table(t[0], static_cast<int>(ParameterTable::role_table_size(1))));
  t[0].linear_index = -3;
  EXPECT_FALSE(t.place_in_role_table(t[0], 0));
  t[0].linear_index = 0x7FFFFFFF;
  EXPECT_FALSE(t.place_in_role_table(t[0], 0x7FFFFFFF));
  t[0].linear_index = 0;
  t[0].role_code = 6;
  EXPECT_FALSE(t.place_in_role_table(t[0], 0));
  EXPECT_EQ(t.role_table_entry(0, 0), nullptr);
  EXPECT_EQ(t.role_table_entry(6, 0), nullptr);
  EXPECT_EQ(t.role_table_entry(1, -1), nullptr);
}

TEST(ParameterTable, ConfigurationKeyMapKeepsTheFirstAndLeavesOutPolledParameters) {
  ParameterTable t(4, "parameters.zip");
  for (Parameter& p : t) {
    p.short_name = "S.idx";
    p.indexed = true;
    p.linear_index = 3;
  }
  t[0].create_polling_timer();  // not indexed any more, and left out
  std::uint32_t hash = hash_name("S.idx");
  KeyMap keys = t.configuration_key_map();
  EXPECT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys.find(0x00030000u | hash), &t[1]);
  EXPECT_EQ(keys.find(0xFFFF0000u | hash), nullptr);
  EXPECT_EQ(keys.find(0x12345678u), nullptr);
}

TEST(ParameterTable, EepromKeyMapKeepsTheLaterAndKeysPolledParametersByAddressOffset) {
  ParameterTable t(4, "parameters.zip");
  for (Parameter& p : t) {
    p.short_name = "rEAd";
    p.indexed = true;
    p.linear_index = 1;
  }
  t[3].create_polling_timer();
  t[3].address_offset = 2;
  std::uint32_t hash = hash_name("rEAd");
  KeyMap keys = t.eeprom_key_map();
  EXPECT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys.find(0x00010000u | hash), &t[2]);
  EXPECT_EQ(keys.find(0x00020000u | hash), &t[3]);
}

}  // namespace
}  // namespace kba604
