// Frame dispatch of the virtual line: how each instrument on it gathers the characters the
// program sends into frames. A receiver per instrument collects a ТАЛВ frame from "#" to the
// carriage return, a Modbus ASCII frame from ":" to the line feed, and a Modbus RTU frame until
// what has arrived ends with a valid CRC (a pause of 3.5 characters drops a partial frame).
// What a frame asks for is not its business: each complete frame goes to the handler the line
// gives, which answers it command by command (Line and Instrument).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "sim/frame.h"
#include "sim/line_settings.h"

namespace kba604::sim {

class FrameReceiver {
 public:
  // A complete ТАЛВ frame: the characters between "#" and the carriage return, the position of
  // the carriage return in the chunk, and when the frame's first character was heard. Returns
  // false when the rest of the chunk is no longer ТАЛВ (the instrument switched protocols).
  using TalvHandler =
      std::function<bool(const std::string& body, std::size_t position, double started)>;
  // A complete Modbus packet (address first), the position in the chunk after which it is
  // answered, and the number of characters it took on the line.
  using ModbusHandler = std::function<void(const Bytes& packet, std::size_t position,
                                           std::size_t characters, double started)>;

  // Forgets any frame begun: characters at other line settings arrive as garbage.
  void reset() { *this = FrameReceiver{}; }

  // The characters of a chunk heard at time now, in the ТАЛВ protocol. The chunk's position
  // where the handler stopped the protocol, or the chunk's size.
  std::size_t hear_talv(const std::string& chunk, double now, const TalvHandler& frame);
  // The characters of a chunk in Modbus ASCII (":" … CR LF).
  void hear_modbus_ascii(const std::string& chunk, double now, const ModbusHandler& packet);
  // The characters of a chunk in Modbus RTU; gap is the silence after which a partial frame is
  // dropped.
  void hear_modbus_rtu(const std::string& chunk, double now, double gap,
                       const ModbusHandler& packet);

 private:
  bool collecting_ = false;
  std::string frame_;
  std::string modbus_;
  double last_byte_ = 0;
  double frame_started_ = 0;  // when the frame's first character was heard
};

}  // namespace kba604::sim
