#include "model/archive.h"

#include <gtest/gtest.h>

#include <string>

namespace kba604 {
namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

TEST(Archive, IntegersAreLittleEndian) {
  ArchiveWriter w;
  w.write_u8(0xAB);
  w.write_u16(0x1234);
  w.write_u32(0x89ABCDEF);
  w.write_i32(-2);
  w.write_bool(true);
  EXPECT_EQ(w.bytes(),
            bytes({0xAB, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0xFE, 0xFF, 0xFF, 0xFF, 0x01}));

  ArchiveReader r(w.bytes());
  EXPECT_EQ(r.read_u8(), 0xAB);
  EXPECT_EQ(r.read_u16(), 0x1234);
  EXPECT_EQ(r.read_u32(), 0x89ABCDEFu);
  EXPECT_EQ(r.read_i32(), -2);
  EXPECT_TRUE(r.read_bool());
  EXPECT_TRUE(r.at_end());
}

TEST(Archive, DoubleRoundTrip) {
  ArchiveWriter w;
  w.write_f64(-1234.5625);
  EXPECT_EQ(w.bytes(), bytes({0x00, 0x00, 0x00, 0x00, 0x40, 0x4A, 0x93, 0xC0}));
  ArchiveReader r(w.bytes());
  EXPECT_EQ(r.read_f64(), -1234.5625);
}

// The length prefix switches form at 255 and at 0xFFFE Windows-1251 bytes.
TEST(Archive, StringLengthPrefixForms) {
  struct Case {
    std::size_t length;
    std::string prefix;
  };
  const Case cases[] = {
      {0, bytes({0x00})},
      {254, bytes({0xFE})},
      {255, bytes({0xFF, 0xFF, 0x00})},
      {0xFFFD, bytes({0xFF, 0xFD, 0xFF})},
      {0xFFFE, bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
      {0x12345, bytes({0xFF, 0xFF, 0xFF, 0x45, 0x23, 0x01, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string text(c.length, 'x');
    ArchiveWriter w;
    w.write_string(text);
    ASSERT_EQ(w.bytes().size(), c.prefix.size() + c.length);
    EXPECT_EQ(w.bytes().substr(0, c.prefix.size()), c.prefix);
    ArchiveReader r(w.bytes());
    EXPECT_EQ(r.read_string(), text);
    EXPECT_TRUE(r.at_end());
  }
}

TEST(Archive, StringsTravelAsWindows1251) {
  ArchiveWriter w;
  w.write_string("Нет данных");
  // One byte per letter in Windows-1251, so the length is 10, not the 19 UTF-8 bytes.
  EXPECT_EQ(w.bytes(), bytes({0x0A, 0xCD, 0xE5, 0xF2, 0x20, 0xE4, 0xE0, 0xED, 0xED, 0xFB, 0xF5}));
  ArchiveReader r(w.bytes());
  EXPECT_EQ(r.read_string(), "Нет данных");

  // 200 Cyrillic letters are 200 bytes in the file: still the one-byte prefix.
  std::string long_text;
  for (int i = 0; i < 200; ++i) long_text += "Ж";
  ArchiveWriter w2;
  w2.write_string(long_text);
  EXPECT_EQ(static_cast<unsigned char>(w2.bytes()[0]), 200);
  EXPECT_EQ(w2.bytes().size(), 201u);
}

TEST(Archive, ReadingFailuresTellEndOfDataFromMalformedRecords) {
  struct Case {
    const char* what;
    std::string data;
    bool end_of_file;
  };
  const Case cases[] = {
      {"nothing at all", "", true},
      {"string shorter than its length", bytes({0x05, 'a', 'b'}), true},
      {"16-bit length cut", bytes({0xFF, 0x10}), true},
      {"32-bit length cut", bytes({0xFF, 0xFF, 0xFF, 0x01}), true},
      {"Unicode string marker", bytes({0xFF, 0xFE, 0xFF, 0x02, 'a', 0, 'b', 0}), false},
      {"64-bit length announced", bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ArchiveReader r(c.data);
    try {
      r.read_string();
      ADD_FAILURE() << "no exception";
    } catch (const ArchiveError& e) {
      EXPECT_EQ(e.end_of_file(), c.end_of_file);
    }
  }
  ArchiveReader r(bytes({1, 2, 3}));
  EXPECT_THROW(r.read_u32(), ArchiveError);
  // A failed read consumes nothing, so a caller can tell how far the data went.
  EXPECT_EQ(r.position(), 0u);
  EXPECT_EQ(r.read_u16(), 0x0201);
}

}  // namespace
}  // namespace kba604
