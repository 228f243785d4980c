// How an instrument gathers the characters of the line into frames, whatever the chunks the
// terminal hands over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/frame_dispatch.h"

namespace kba604::test {
namespace {

struct HeardTalv {
  std::string body;
  std::size_t position;
  double started;
};

TEST(FrameDispatch, TalvFramesAreGatheredAcrossChunksAndOverlongOnesDropped) {
  sim::FrameReceiver rx;
  std::vector<HeardTalv> heard;
  auto frame = [&](const std::string& body, std::size_t position, double started) {
    heard.push_back({body, position, started});
    return true;
  };
  // A frame cut in two, noise before a start, two frames in one chunk.
  EXPECT_EQ(rx.hear_talv("xx#HGHG", 1.0, frame), 7u);
  EXPECT_TRUE(heard.empty());
  rx.hear_talv("TMOH\r", 2.0, frame);
  rx.hear_talv("#AB\r#CD\r", 3.0, frame);
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[0].body, "HGHGTMOH");
  EXPECT_EQ(heard[0].position, 4u);
  EXPECT_EQ(heard[0].started, 1.0);  // when its "#" was heard
  EXPECT_EQ(heard[1].body, "AB");
  EXPECT_EQ(heard[2].body, "CD");
  EXPECT_EQ(heard[2].position, 7u);

  // No frame is that long: the receiver gives it up and waits for the next "#".
  heard.clear();
  rx.hear_talv("#" + std::string(81, 'G') + "\r", 4.0, frame);
  EXPECT_TRUE(heard.empty());
  // A carriage return without a start is no frame either.
  rx.hear_talv("GG\r", 5.0, frame);
  EXPECT_TRUE(heard.empty());

  // A frame that switches the protocol stops the chunk there; the rest is no longer ТАЛВ.
  auto switching = [&](const std::string& body, std::size_t position, double started) {
    heard.push_back({body, position, started});
    return false;
  };
  EXPECT_EQ(rx.hear_talv("#AB\r#CD\r", 6.0, switching), 3u);
  ASSERT_EQ(heard.size(), 1u);
}

struct HeardModbus {
  sim::Bytes packet;
  std::size_t position;
  std::size_t characters;
};

TEST(FrameDispatch, ModbusFramesEndByTheirOwnRules) {
  const sim::Bytes packet = {0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00};
  std::vector<HeardModbus> heard;
  auto on_packet = [&](const sim::Bytes& p, std::size_t position, std::size_t characters,
                       double) { heard.push_back({p, position, characters}); };

  // ASCII: from ":" to the line feed, in pieces; a damaged LRC is no frame.
  sim::FrameReceiver ascii;
  const std::string frame = sim::ascii_frame(packet);
  ascii.hear_modbus_ascii(frame.substr(0, 5), 0.0, on_packet);
  ascii.hear_modbus_ascii(frame.substr(5), 0.0, on_packet);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].packet, packet);
  EXPECT_EQ(heard[0].characters, frame.size());
  std::string damaged = frame;
  damaged[3] = damaged[3] == '0' ? '1' : '0';
  ascii.hear_modbus_ascii(damaged, 1.0, on_packet);
  EXPECT_EQ(heard.size(), 1u);

  // RTU: a frame ends when what arrived ends with its CRC; a pause longer than the gap drops
  // what came before it.
  heard.clear();
  sim::FrameReceiver rtu;
  const std::string bytes = sim::rtu_frame(packet);
  rtu.hear_modbus_rtu(bytes.substr(0, 3), 0.000, 0.005, on_packet);
  rtu.hear_modbus_rtu(bytes.substr(3), 0.001, 0.005, on_packet);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].packet, packet);
  EXPECT_EQ(heard[0].characters, bytes.size());
  heard.clear();
  rtu.hear_modbus_rtu(bytes.substr(0, 3), 1.000, 0.005, on_packet);
  rtu.hear_modbus_rtu(bytes.substr(3), 1.010, 0.005, on_packet);
  EXPECT_TRUE(heard.empty());
  // Noise before a frame within the gap does not hide it.
  rtu.hear_modbus_rtu("\x01\x02" + bytes, 2.0, 0.005, on_packet);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].packet, packet);
}

}  // namespace
}  // namespace kba604::test
