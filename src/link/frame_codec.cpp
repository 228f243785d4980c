#include "link/frame_codec.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "link/device_io.h"
#include "model/device_codes.h"
#include "model/talv_codec.h"

namespace kba604 {

const char* const kTimeoutText = "Таймаут при передаче данных (нет связи)";
const char* const kPortSettingsText = "Неверны настройки порта.";
const char* const kLostStartText = "Потеря начала посылки.";
const char* const kPortLostText = "Последовательный порт пропал.";
const char* const kChecksumText = "Ошибка в контрольной сумме ответа";
const char* const kForeignReplyText =
    "Пришла посылка с кодом команды, отличным от посланной и от n.Err.\nВозможно в сети RS-485 "
    "присутствует прибор со включенной функцией \"Мастер\"";
const char* const kRefusalUnknownCodeFormat =
    "Прибор отказал в выполнении запроса (код ошибки 0x%02X)";
const char* const kRefusalWithoutCodeText =
    "Прибор отказал в выполнении запроса, не сообщив код ошибки";

namespace {

// Repetitions allowed after the first transfer, per kind of failure; each kind counts on its own.
constexpr int kTimeoutRepeats = 3;
constexpr int kLineErrorRepeats = 16;
constexpr int kLostStartRepeats = 15;

}  // namespace

std::string build_frame(int base_address, int address_length, int request_bit, std::uint16_t hash,
                        const std::uint8_t* data, int count, int address_offset) {
  const int address = address_offset == -1 ? 255 : base_address + address_offset;
  // The count travels in four bits and the packet has room for 15 data bytes: a larger count
  // is cut rather than written past the packet or sent with a count that lies.
  count = std::clamp(count, 0, kMaxRequestData);
  if (data == nullptr) count = 0;
  std::uint8_t packet[4 + kMaxRequestData + 2];
  int top_bits = 0;
  if (address_length == 11) {
    packet[0] = static_cast<std::uint8_t>((address >> 3) & 0xFF);
    top_bits = address & 0x07;
  } else {
    packet[0] = static_cast<std::uint8_t>(address & 0xFF);
  }
  packet[1] =
      static_cast<std::uint8_t>((top_bits << 5) | ((request_bit & 1) << 4) | (count & 0x0F));
  packet[2] = static_cast<std::uint8_t>(hash >> 8);
  packet[3] = static_cast<std::uint8_t>(hash & 0xFF);
  for (int i = 0; i < count; ++i) packet[4 + i] = data[i];
  const std::uint16_t sum = hash_buffer(packet, static_cast<std::size_t>(4 + count));
  packet[4 + count] = static_cast<std::uint8_t>(sum >> 8);
  packet[5 + count] = static_cast<std::uint8_t>(sum & 0xFF);
  return "#" + encode_buffer(packet, static_cast<std::size_t>(6 + count)) + "\r";
}

std::string frame_outcome_text(const ExchangeOutcome& outcome) {
  using Kind = ExchangeOutcome::Kind;
  switch (outcome.kind) {
    case Kind::Success:
      return {};
    case Kind::Timeout:
      return kTimeoutText;
    case Kind::LineFault:
      return kPortSettingsText;
    case Kind::LostStart:
      return kLostStartText;
    case Kind::LostPort:
      return kPortLostText;
    case Kind::Checksum:
      return kChecksumText;
    case Kind::ForeignReply:
      return kForeignReplyText;
    case Kind::Refused: {
      // A code the table lacks, or a refusal without one, still gets words: an empty note would
      // show the engineer nothing about a request that failed.
      if (outcome.refusal_code < 0) return kRefusalWithoutCodeText;
      std::string text = network_error_text(static_cast<std::uint8_t>(outcome.refusal_code));
      if (!text.empty()) return text;
      char buffer[96];
      std::snprintf(buffer, sizeof buffer, kRefusalUnknownCodeFormat, outcome.refusal_code);
      return buffer;
    }
    default:
      return {};
  }
}

ExchangeOutcome exchange_frame(DeviceIO& link, int request_bit, std::uint16_t hash,
                               const std::uint8_t* data, int count, int address_offset,
                               std::uint8_t* reply, int* reply_count, std::string* error_text) {
  using Kind = ExchangeOutcome::Kind;
  *reply_count = 0;
  if (count < 0 || count > kMaxRequestData) count = count < 0 ? 0 : kMaxRequestData;
  Sio& sio = link.sio();
  ExitFlags& exit_flags = link.app().exit_flags;
  auto fail = [error_text](ExchangeOutcome outcome) {
    if (error_text != nullptr) *error_text = frame_outcome_text(outcome);
    return outcome;
  };

  std::lock_guard lock(link.link_lock());
  const std::string frame = build_frame(sio.device_address(), sio.address_length(), request_bit,
                                        hash, data, count, address_offset);
  char chars[32];
  static_assert(sizeof chars >= Sio::kMaxReply, "a transfer fills up to Sio::kMaxReply characters");
  std::size_t received = 0;
  int result = sio.transfer(frame.data(), frame.size(), chars, &received);

  // The instrument takes new network settings on "APLY" and may answer at the new settings or
  // not at all.
  if (hash == kHashAply) return {};

  int timeouts = 0;
  int line_errors = 0;
  int lost_starts = 0;
  for (;;) {
    if (result == Sio::kLost) {
      // The port is gone: repeating cannot reach the instrument. Its flag is that of a port that
      // could not be opened; the note names the port and the system's reason.
      exit_flags.set_bits(ExitFlags::kPortOpenFailed);
      const ExchangeOutcome lost = fail(ExchangeOutcome::of(Kind::LostPort));
      if (error_text != nullptr) *error_text = sio.lost_note() + ".";
      return lost;
    }
    if (result == Sio::kTimeout) {
      if (timeouts == kTimeoutRepeats) {
        exit_flags.note_timeout();
        return fail(ExchangeOutcome::of(Kind::Timeout));
      }
      ++timeouts;
    } else if (result == Sio::kLineError) {
      if (line_errors == kLineErrorRepeats) {
        exit_flags.set_to(ExitFlags::kPortSettings);
        return fail(ExchangeOutcome::of(Kind::LineFault));
      }
      ++line_errors;
    } else {
      if (received >= 2 && chars[0] == '#') break;
      if (lost_starts == kLostStartRepeats) {
        exit_flags.set_to(ExitFlags::kPortSettings);
        return fail(ExchangeOutcome::of(Kind::LostStart));
      }
      ++lost_starts;
    }
    result = sio.transfer(frame.data(), frame.size(), chars, &received);
  }

  // The link answered again: a time-out noted earlier becomes a loss of the connection.
  exit_flags.note_reply_after_loss();

  // The characters between "#" and the last one (the carriage return) are the packet.
  std::uint8_t packet[16] = {};
  static_assert((Sio::kMaxReply - 2) / 2 <= sizeof packet,
                "the longest reply a transfer reads must decode into the packet");
  static_assert((Sio::kMaxReply - 2) / 2 - 6 <= kMaxReplyData,
                "the data of the longest reply must fit the caller's reply buffer");
  const std::size_t size = (received - 2) / 2;
  decode_buffer(chars + 1, received - 2, packet);
  // A reply too short for its header, or whose length disagrees with its own data count,
  // cannot pass the checksum test; its bytes are never read beyond what was decoded.
  // A damaged reply is a fault of the line as much as a lost start: it gives the exit code of
  // the line's faults, so that a supervising program never takes a read whose replies all came
  // in damaged for a success.
  const int length = size >= 2 ? (packet[1] & 0x0F) : 0;
  if (size < 6 || size != static_cast<std::size_t>(6 + length)) {
    exit_flags.set_to(ExitFlags::kPortSettings);
    return fail(ExchangeOutcome::of(Kind::Checksum));
  }
  const std::uint16_t sum = hash_buffer(packet, size - 2);
  if (sum != ((packet[4 + length] << 8) | packet[5 + length])) {
    exit_flags.set_to(ExitFlags::kPortSettings);
    return fail(ExchangeOutcome::of(Kind::Checksum));
  }
  for (int i = 0; i < length; ++i) reply[i] = packet[4 + i];
  *reply_count = length;

  const std::uint16_t reply_hash = static_cast<std::uint16_t>((packet[2] << 8) | packet[3]);
  if (reply_hash == hash) return {};
  if (reply_hash == kHashNErr) {
    // The instrument refused the request; the code stays in the reply for the caller too.
    return fail(ExchangeOutcome::refused(length == 0 ? -1 : reply[0]));
  }
  return fail(ExchangeOutcome::of(Kind::ForeignReply));
}

}  // namespace kba604
