#include <gtest/gtest.h>

#include <string>

#include "platform/serial_line.h"

namespace kba604::platform {
namespace {

// Feeds raw terminal input; data bytes are collected, every error mark shows as "!".
std::string decode(const std::string& raw, ParmrkDecoder& d) {
  std::string out;
  for (char c : raw) {
    std::uint8_t byte = 0;
    switch (d.feed(static_cast<std::uint8_t>(c), &byte)) {
      case ParmrkDecoder::Step::Data:
        out += static_cast<char>(byte);
        break;
      case ParmrkDecoder::Step::Nothing:
        break;
      case ParmrkDecoder::Step::LineError:
        out += '!';
        break;
    }
  }
  return out;
}

TEST(ParmrkDecoder, MarkedInput) {
  struct Case {
    std::string raw;
    std::string data;
  };
  const Case cases[] = {
      {"#AB\r", "#AB\r"},
      {std::string("\x10\x05\xF0\xF0\xFF\xFF\x00\xBC", 8),
       std::string("\x10\x05\xF0\xF0\xFF\x00\xBC", 7)},
      {std::string("A\xFF\x00\x41"
                   "B",
                   5),
       "A!B"},  // a parity or framing error on "A"
      {std::string("A\xFF\x00\x00"
                   "B",
                   5),
       "A!B"},  // a break
      {std::string("\xFF\xFF\xFF\xFF", 4), "\xFF\xFF"},
      {std::string("\x00\x00", 2), std::string("\x00\x00", 2)},
  };
  for (const auto& c : cases) {
    ParmrkDecoder d;
    EXPECT_EQ(decode(c.raw, d), c.data);
    EXPECT_FALSE(d.inside_mark());
  }
}

TEST(ParmrkDecoder, MarkSplitBetweenReads) {
  ParmrkDecoder d;
  EXPECT_EQ(decode("A\xFF", d), "A");
  EXPECT_TRUE(d.inside_mark());
  EXPECT_EQ(decode(std::string("\x00", 1), d), "");
  EXPECT_EQ(decode(std::string("\x00", 1) + "C", d), "!C");
  EXPECT_EQ(decode("\xFF", d), "");
  EXPECT_EQ(decode("\xFF", d), "\xFF");
  // A purge drops a half-read mark.
  decode("\xFF", d);
  d.reset();
  EXPECT_EQ(decode("Z", d), "Z");
}

}  // namespace
}  // namespace kba604::platform
