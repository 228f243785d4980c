// Frames on the instrument's side of the line.
#include <gtest/gtest.h>

#include "sim/frame.h"
#include "sim_test_util.h"

namespace kba604::test {
namespace {

TEST(InstrumentFrames, WorkedRequestFramesEncodeAndDecode) {
  sim::Packet dev = request(16, true, "dev");
  EXPECT_EQ(sim::encode_frame(dev, 8), "#HGHGTMOHPGMO\r");
  EXPECT_EQ(sim::encode_frame(dev, 11), "#GIHGTMOHLKTQ\r");

  struct Case {
    const char* body;
    int address_length;
    unsigned address;
  };
  for (const Case& c : {Case{"HGHGTMOHPGMO", 8, 16}, Case{"GIHGTMOHLKTQ", 11, 16}}) {
    sim::DecodedFrame f = sim::decode_frame(c.body, c.address_length);
    ASSERT_EQ(f.status, sim::FrameStatus::kOk) << c.body;
    EXPECT_EQ(f.packet.address, c.address);
    EXPECT_TRUE(f.packet.read);
    EXPECT_EQ(f.packet.hash, 0xD681);
    EXPECT_TRUE(f.packet.data.empty());
  }
}

TEST(InstrumentFrames, DamagedFramesAreToldApart) {
  struct Case {
    const char* body;
    sim::FrameStatus status;
    bool address_known;
  };
  const Case cases[] = {
      {"HGHGTMOHPGMP", sim::FrameStatus::kBadChecksum, true},
      {"HGHGTMOHPGMOG", sim::FrameStatus::kBadCharacter, true},  // odd length
      {"HGHGTMOHPGMa", sim::FrameStatus::kBadCharacter, true},
      {"HGHGHG", sim::FrameStatus::kTooShort, true},
      {"xGHGTMOHPGMO", sim::FrameStatus::kBadCharacter, false},
      // The count says one data byte, but none follows: the checksum sits elsewhere.
      {"HGHHTMOHPGMO", sim::FrameStatus::kBadChecksum, true},
  };
  for (const Case& c : cases) {
    sim::DecodedFrame f = sim::decode_frame(c.body, 8);
    EXPECT_EQ(f.status, c.status) << c.body;
    EXPECT_EQ(f.address_known, c.address_known) << c.body;
  }
}

TEST(InstrumentFrames, ModbusFramingsOfTheSwitchBackCommand) {
  // The classic coil write 01 05 00 00 FF 00 carries the CRC 8C 3A and the LRC FB.
  sim::Bytes coil{0x01, 0x05, 0x00, 0x00, 0xFF, 0x00};
  EXPECT_EQ(sim::rtu_frame(coil), std::string("\x01\x05\x00\x00\xFF\x00\x8C\x3A", 8));
  EXPECT_EQ(sim::ascii_frame(coil), ":01050000FF00FB\r\n");
  EXPECT_EQ(sim::rtu_packet(std::string("\x01\x05\x00\x00\xFF\x00\x8C\x3A", 8)), coil);
  EXPECT_FALSE(sim::rtu_packet(std::string("\x01\x05\x00\x00\xFF\x00\x8C\x3B", 8)));
  EXPECT_EQ(sim::ascii_packet("01050000FF00FB"), coil);
  EXPECT_FALSE(sim::ascii_packet("01050000FF00FC"));
  EXPECT_FALSE(sim::ascii_packet("0105000GFF00FB"));
}

}  // namespace
}  // namespace kba604::test
