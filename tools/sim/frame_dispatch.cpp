#include "sim/frame_dispatch.h"

namespace kba604::sim {
namespace {

// No frame of either protocol is longer; a receiver that collects more has missed an end.
constexpr std::size_t kLongestTalvFrame = 80;
constexpr std::size_t kLongestAsciiFrame = 520;
constexpr std::size_t kRtuWindow = 256;

}  // namespace

std::size_t FrameReceiver::hear_talv(const std::string& chunk, double now,
                                     const TalvHandler& frame) {
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    const char c = chunk[i];
    if (c == '#') {
      collecting_ = true;
      frame_.clear();
      frame_started_ = now;
    } else if (collecting_ && c == '\r') {
      collecting_ = false;
      if (!frame(frame_, i, frame_started_)) return i;
    } else if (collecting_) {
      frame_ += c;
      if (frame_.size() > kLongestTalvFrame) collecting_ = false;
    }
  }
  return chunk.size();
}

void FrameReceiver::hear_modbus_ascii(const std::string& chunk, double now,
                                      const ModbusHandler& packet) {
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    const char c = chunk[i];
    if (c == ':') {
      collecting_ = true;
      modbus_.clear();
      frame_started_ = now;
    } else if (collecting_ && c == '\n') {
      collecting_ = false;
      std::string body = modbus_;
      if (!body.empty() && body.back() == '\r') body.pop_back();
      // The frame took its digits, ":", the carriage return and the line feed on the line.
      if (std::optional<Bytes> p = ascii_packet(body))
        packet(*p, i, body.size() + 3, frame_started_);
    } else if (collecting_) {
      modbus_ += c;
      if (modbus_.size() > kLongestAsciiFrame) collecting_ = false;
    }
  }
}

void FrameReceiver::hear_modbus_rtu(const std::string& chunk, double now, double gap,
                                    const ModbusHandler& packet) {
  if (now - last_byte_ > gap) modbus_.clear();
  if (modbus_.empty()) frame_started_ = now;
  last_byte_ = now;
  modbus_ += chunk;
  if (modbus_.size() > kRtuWindow) modbus_.erase(0, modbus_.size() - kRtuWindow);
  // A frame is complete when what has arrived ends with a valid CRC.
  for (std::size_t start = 0; start + 4 <= modbus_.size(); ++start) {
    if (std::optional<Bytes> p = rtu_packet(std::string_view(modbus_).substr(start))) {
      const std::size_t heard = modbus_.size();
      modbus_.clear();
      packet(*p, chunk.size(), heard, frame_started_);
      return;
    }
  }
}

}  // namespace kba604::sim
