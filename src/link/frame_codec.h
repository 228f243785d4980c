// The frame exchange of the ТАЛВ protocol: one request (address, request bit, name hash, up to 15
// data bytes) becomes an ASCII frame, is transferred with the repetitions the protocol allows,
// and the reply is checked and unpacked. The hashes and the nibble coding are the parameter
// model's (model/talv_codec.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/exchange_outcome.h"

namespace kba604 {

class DeviceIO;

// Data bytes of one request at most, and of a reply that fits the 29 characters a transfer reads.
inline constexpr int kMaxRequestData = 15;
inline constexpr int kMaxReplyData = 7;

// The ASCII frame of a request: "#", the packet in nibble characters, carriage return. The
// address is base + offset in 8-bit (low 8 bits sent) or 11-bit addressing; an offset of -1
// sends to address 255 instead.
std::string build_frame(int base_address, int address_length, int request_bit, std::uint16_t hash,
                        const std::uint8_t* data, int count, int address_offset);

// One request/reply exchange over the link, under the link lock for all its repetitions.
// request_bit 1 reads, 0 writes; count is 0..15 (more is cut to 15). On success returns a
// Success outcome with the reply's data bytes in reply (room for kMaxReplyData) and their count
// in *reply_count. On failure returns the outcome (Timeout, LineFault, LostStart, LostPort,
// Checksum, ForeignReply, or Refused with the instrument's code) and its words
// (frame_outcome_text) in *error_text; *reply_count stays 0 unless a reply passed its checksum
// (an "n.Err" reply leaves its data, with the error code in byte 0). An "APLY" command is
// transferred once and reported as a success without data, whatever comes back.
ExchangeOutcome exchange_frame(DeviceIO& link, int request_bit, std::uint16_t hash,
                               const std::uint8_t* data, int count, int address_offset,
                               std::uint8_t* reply, int* reply_count, std::string* error_text);

// The words of a frame exchange's outcome, as the parameter's note shows them; empty for a
// success. A refusal takes the text of its network error code, or a text of its own when the
// table lacks the code or the instrument sent none.
std::string frame_outcome_text(const ExchangeOutcome& outcome);

// The failure texts of the exchange.
extern const char* const kTimeoutText;
extern const char* const kPortSettingsText;
extern const char* const kLostStartText;
extern const char* const kChecksumText;
extern const char* const kForeignReplyText;
// A refusal whose code the table of network errors lacks (printf format, one %02X for the code)
// and a refusal that carries no code at all.
extern const char* const kRefusalUnknownCodeFormat;
extern const char* const kRefusalWithoutCodeText;

}  // namespace kba604
