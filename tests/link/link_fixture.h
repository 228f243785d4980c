// A link over the scripted line, on the test clock, with frames built the independent way: the
// packet laid out byte by byte here, its checksum and nibbles from the protocol's own codes
// (checked against the worked values on their own).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/application.h"
#include "link/device_io.h"
#include "model/talv_codec.h"
#include "platform/settings_store.h"
#include "support/recording_prompter.h"
#include "support/scripted_line.h"

namespace kba604::test {

// "#", the packet with its checksum in nibble characters, carriage return.
inline std::string talv_frame(std::vector<std::uint8_t> packet) {
  const std::uint16_t sum = hash_buffer(packet.data(), packet.size());
  packet.push_back(static_cast<std::uint8_t>(sum >> 8));
  packet.push_back(static_cast<std::uint8_t>(sum & 0xFF));
  return "#" + encode_buffer(packet.data(), packet.size()) + "\r";
}

// A frame of address byte, flags byte (request bit and length filled in), hash and data.
inline std::string talv_frame(std::uint8_t address, int request_bit, std::uint16_t hash,
                              const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> packet = {
      address, static_cast<std::uint8_t>((request_bit << 4) | static_cast<int>(data.size())),
      static_cast<std::uint8_t>(hash >> 8), static_cast<std::uint8_t>(hash & 0xFF)};
  packet.insert(packet.end(), data.begin(), data.end());
  return talv_frame(packet);
}

// The instrument at address 16 answering with data.
inline LineResponse answer(std::uint16_t hash, const std::vector<std::uint8_t>& data) {
  return LineResponse::reply(talv_frame(16, 1, hash, data));
}
inline LineResponse refusal(std::uint8_t code) {
  return LineResponse::reply(talv_frame(16, 1, kHashNErr, {code}));
}

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    // The automatic converter: writes take no time on the test clock.
    io.sio().set_converter_automatic(1);
  }

  platform::ManualClock clock;
  RecordingPrompter prompter;
  CKBA604App app{prompter, clock};
  platform::MemorySettingsStore settings;
  ScriptedLine line{clock};
  DeviceIO io{app, settings, line.opener()};
};

}  // namespace kba604::test
