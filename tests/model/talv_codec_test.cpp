#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "model/talv_codec.h"

namespace kba604 {
namespace {

TEST(NameHash, WorkedValues) {
  EXPECT_EQ(hash_name("n.Err"), 0x0233);
  EXPECT_EQ(hash_name("APLY"), 0x8403);
  EXPECT_EQ(hash_name("dev"), 0xD681);
  EXPECT_EQ(hash_name(""), 0);
}

TEST(NameHash, CaseAndLeadingPointAndPaddingRules) {
  EXPECT_EQ(hash_name("Set.P"), hash_name("SET.P"));
  EXPECT_EQ(hash_name(".dev"), hash_name("dev"));
  // Only the first four codes take part; the fifth and later characters do not.
  EXPECT_EQ(hash_name("ABCDE"), hash_name("ABCD"));
  EXPECT_EQ(hash_name("Alr.1.H"), hash_name("Alr.1.L"));
  // A short name is padded with space codes.
  EXPECT_EQ(hash_name("ab"), hash_name("ab  "));
  // Characters after the eighth are ignored, so a point there changes nothing.
  EXPECT_EQ(hash_name("ABCDEFGH."), hash_name("ABCDEFGH"));
  // A point is a flag of the character before it.
  EXPECT_NE(hash_name("r.St"), hash_name("rSt"));
}

TEST(Checksum, WorkedValues) {
  const char* abc = "abc";
  EXPECT_EQ(hash_buffer(reinterpret_cast<const std::uint8_t*>(abc), 3), 0x4F8D);
  const std::uint8_t dev8[] = {0x10, 0x10, 0xD6, 0x81};
  EXPECT_EQ(hash_buffer(dev8, 4), 0x9068);
  const std::uint8_t dev11[] = {0x02, 0x10, 0xD6, 0x81};
  EXPECT_EQ(hash_buffer(dev11, 4), 0x54DA);
}

TEST(Nibbles, WorkedFramesEncode) {
  const std::uint8_t dev8[] = {0x10, 0x10, 0xD6, 0x81, 0x90, 0x68};
  EXPECT_EQ(encode_buffer(dev8, 6), "HGHGTMOHPGMO");
  const std::uint8_t dev11[] = {0x02, 0x10, 0xD6, 0x81, 0x54, 0xDA};
  EXPECT_EQ(encode_buffer(dev11, 6), "GIHGTMOHLKTQ");
}

TEST(Nibbles, DecodeRoundTripAndInvalidCharacters) {
  std::uint8_t out[6] = {};
  decode_buffer("HGHGTMOHPGMO", 12, out);
  const std::uint8_t expect[] = {0x10, 0x10, 0xD6, 0x81, 0x90, 0x68};
  EXPECT_EQ(std::memcmp(out, expect, 6), 0);

  std::uint8_t keep[2] = {0xAB, 0xAB};
  decode_buffer("zHHz", 4, keep);
  EXPECT_EQ(keep[0], 0xAB | 0x01);  // invalid high character keeps the byte, low nibble or-ed
  EXPECT_EQ(keep[1], 0x10);         // invalid low character leaves the low nibble 0
}

}  // namespace
}  // namespace kba604
