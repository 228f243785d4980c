// The instrument's own value bytes and its checks of written values.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/device_value.h"
#include "sim_test_util.h"

namespace kba604::test {
namespace {

using sim::Bytes;

sim::ParamDef stored_dot(int decimals, double lo = 0, double hi = 0) {
  return P("x", "STORED_DOT").decimals(decimals).limits(lo, hi).d;
}

TEST(InstrumentValues, DescriptionTextsBecomeTheDeviceBytes) {
  struct Case {
    sim::ParamDef def;
    const char* text;
    Bytes bytes;
  };
  const Case cases[] = {
      // Packed decimal: sign, point position, mantissa (the configurator's worked values).
      {stored_dot(1), "12.5", {0x10, 0x7D}},
      {stored_dot(2), "-3.25", {0xA1, 0x45}},
      {stored_dot(1), "1234.5", {0x10, 0x30, 0x39}},
      {stored_dot(1), "100000", {0x1F, 0x42, 0x40}},
      {stored_dot(0), "0", {0x00, 0x00}},
      {stored_dot(0), "1.23456", {0x34, 0xD3}},  // three digits after the point: 1235
      {stored_dot(0), "15", {0x00, 0x0F}},
      {P("x", "float").d, "1.0", {0x3F, 0x80, 0x00, 0x00}},
      {P("x", "DEC_dot").d, "300", {0x01, 0x2C}},
      {P("x", "DEC_dot").d, "5", {0x05}},
      {P("x", "DEC_dot").d, "-1", {0xFF, 0xFF}},
      {P("x", "CLK_frm").d, "12:34", {0x02, 0xF2}},
      {P("x", "CLK_frm").d, "0:30", {0x1E}},
      {P("x", "name").d, "AB.1", {0x4E, 0x02, 0x17, 0x14}},
      {P("x", "Выкл:Вкл_сразу").d, "вкл СРАЗУ", {0x01}},
      {P("x", "Выкл:Вкл").d, "1", {0x01}},
      {P("x", "ASCI").d, "KBA", {'A', 'B', 'K'}},
  };
  for (const Case& c : cases) {
    Bytes out;
    std::string why;
    EXPECT_TRUE(sim::encode_value(c.def, c.text, out, &why)) << c.text << ": " << why;
    EXPECT_EQ(out, c.bytes) << c.def.format << " " << c.text;
  }
}

TEST(InstrumentValues, TextsThatAreNoValueOfTheFormatAreRefused) {
  struct Case {
    sim::ParamDef def;
    const char* text;
  };
  const Case cases[] = {
      {stored_dot(1), "abc"},         {stored_dot(0), "1.2.3"},       {P("x", "DEC_dot").d, "12.5"},
      {P("x", "DEC_dot").d, "70000"}, {P("x", "CLK_frm").d, "1:x"},   {P("x", "name").d, ".AB"},
      {P("x", "name").d, "A+B"},      {P("x", "Выкл:Вкл").d, "Авто"}, {P("x", "Выкл:Вкл").d, "2"},
  };
  for (const Case& c : cases) {
    Bytes out;
    EXPECT_FALSE(sim::encode_value(c.def, c.text, out, nullptr)) << c.def.format << " " << c.text;
  }
}

TEST(InstrumentValues, WrittenBytesAreCheckedOnTheInstrumentsTerms) {
  struct Case {
    sim::ParamDef def;
    Bytes value;
    std::uint8_t code;
  };
  const sim::ParamDef list = P("x", "А:Б:В").d;
  const Case cases[] = {
      {stored_dot(1, 0, 100), {0x10, 0x7D}, 0x00},        // 12.5
      {stored_dot(0, 0, 100), {0x40, 0x01}, 0x02},        // point position 4
      {stored_dot(1, 0, 100), {0x21, 0x45}, 0x05},        // 3.25 where one decimal is fixed
      {stored_dot(1, 0, 100), {0x13, 0xE9}, 0x06},        // 100.1 above the maximum
      {stored_dot(1, 0, 100), {0x90, 0x01}, 0x06},        // -0.1 below the minimum
      {stored_dot(1, 0, 0), {0x1F, 0x42, 0x40}, 0x00},    // no limits
      {stored_dot(1, 0, 100), {0x10, 0, 0, 0, 1}, 0x31},  // five bytes
      {P("x", "DEC_dot").limits(0, 255).d, {0x01, 0x2C}, 0x06},
      {P("x", "DEC_dot").limits(-10, 10).d, {0xFF, 0xFF}, 0x00},  // -1 where negatives are allowed
      {P("x", "DEC_dot").d, {1, 2, 3}, 0x31},
      {P("x", "CLK_frm").limits(0, 60).d, {0x3D}, 0x06},
      {P("x", "float").limits(-1, 1).d, {0x3F, 0x80, 0, 0}, 0x00},
      {P("x", "float").limits(-1, 1).d, {0x40, 0, 0, 0}, 0x06},
      {P("x", "float").d, {0x7F, 0xC0, 0, 0}, 0x47},  // not a number
      {P("x", "float").d, {0x3F, 0x80}, 0x31},
      {P("x", "name").d, {0x4E, 0x02, 0x17, 0x14}, 0x00},
      {P("x", "name").d, {0x50, 0x02, 0x17, 0x14}, 0x47},
      {list, {2}, 0x00},
      {list, {3}, 0x47},
      {list, {0x80}, 0x47},
      {list, {1, 0}, 0x31},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sim::check_value(c.def, c.value), c.code)
        << c.def.format << " [" << c.def.minimum << "," << c.def.maximum << "] byte0 "
        << int(c.value[0]);
  }
}

TEST(InstrumentValues, StoredBytesReadBackAsNumbers) {
  EXPECT_DOUBLE_EQ(*sim::numeric_value(stored_dot(2), {0xA1, 0x45}), -3.25);
  EXPECT_DOUBLE_EQ(*sim::numeric_value(P("x", "CLK_frm").d, {0x02, 0xF2}), 754);
  EXPECT_DOUBLE_EQ(*sim::numeric_value(P("x", "float").d, {0xC0, 0x20, 0, 0}), -2.5);
  EXPECT_DOUBLE_EQ(*sim::numeric_value(P("x", "А:Б").d, {1}), 1);
  // A number put into a format and read back is the number (to the format's precision).
  for (double v : {0.0, 7.0, 99.5, 1234.5}) {
    sim::ParamDef d = stored_dot(1);
    EXPECT_NEAR(*sim::numeric_value(d, sim::bytes_for_number(d, v)), v, 0.05) << v;
  }
}

}  // namespace
}  // namespace kba604::test
