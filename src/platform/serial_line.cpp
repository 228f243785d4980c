#include "platform/serial_line.h"

namespace kba604::platform {

ParmrkDecoder::Step ParmrkDecoder::feed(std::uint8_t byte, std::uint8_t* out) {
  switch (state_) {
    case 0:
      if (byte == 0xFF) {
        state_ = 1;
        return Step::Nothing;
      }
      *out = byte;
      return Step::Data;
    case 1:
      if (byte == 0x00) {
        state_ = 2;
        return Step::Nothing;
      }
      // FF FF is a data byte FF (nothing else follows a single FF in marked input).
      state_ = 0;
      *out = byte;
      return Step::Data;
    default:
      // FF 00 x: x is the byte received with a parity or framing error, 0 for a break.
      state_ = 0;
      return Step::LineError;
  }
}

}  // namespace kba604::platform
