// ExchangeOutcome: how an exchange of one parameter with the instrument ended, as a type. It is
// carried next to the parameter's note: the note holds the words the engineer reads, the
// outcome is what the program decides on (was it a failure, a time-out, a refusal and with
// which code). A note read back from a "*.604" file has no outcome; the rules that work on
// stored notes (the row colour, "write the parameters with errors") keep reading the text.
#pragma once

#include <cstdint>

namespace kba604 {

struct ExchangeOutcome {
  enum class Kind : std::uint8_t {
    Success,
    // The frame exchange.
    Timeout,       // no reply after every repetition
    LineFault,     // line errors or breaks after every repetition
    LostStart,     // replies without their "#" after every repetition
    LostPort,      // the port vanished under the exchange (the device was unplugged)
    Checksum,      // a reply that fails its checksum or its own length
    ForeignReply,  // a reply to another request (or, in Modbus, from another address)
    Refused,       // "n.Err": the instrument refused; refusal_code holds its code when it sent one
    // The request layer.
    NotDecodable,        // the reply could not be turned into a value
    NotEncodable,        // the value cannot be put into a frame
    NoWriteMethod,       // a command without a write form ("dev", "ver", "exit")
    AttributeFailure,    // the attribute exchange failed; cause tells how
    AttributeReplySize,  // the attribute reply has the wrong size
    EchoMismatch,        // the switch-back command came back different, or malformed
    AddressTooLong,      // a Modbus request with an address longer than 8 bits
    // The per-parameter operations.
    NotInitialised,  // not written: the value is "Нет данных"
    Stopped,         // the stop event was set
    NegativeIndex,   // skipped: the linear index is negative
  };

  Kind kind = Kind::Success;
  // The instrument's network error code of a refusal; -1 when it sent none.
  int refusal_code = -1;
  // For AttributeFailure: the outcome of the attribute frame (a time-out, a refusal...).
  Kind cause = Kind::Success;

  static constexpr ExchangeOutcome of(Kind kind) { return ExchangeOutcome{kind, -1, kind}; }
  static constexpr ExchangeOutcome refused(int code) {
    return ExchangeOutcome{Kind::Refused, code, Kind::Refused};
  }
  // An attribute exchange that failed in its frame with the given outcome.
  static constexpr ExchangeOutcome attribute_failure(const ExchangeOutcome& frame) {
    return ExchangeOutcome{Kind::AttributeFailure, frame.refusal_code, frame.kind};
  }

  bool ok() const { return kind == Kind::Success; }
  // A failure of the exchange that counts as an error of the operation. A stopped operation
  // and a skipped parameter are no errors.
  bool failed() const {
    return kind != Kind::Success && kind != Kind::Stopped && kind != Kind::NegativeIndex;
  }
  // No reply at all, also when it was the attribute frame that got none.
  bool timed_out() const {
    return kind == Kind::Timeout || (kind == Kind::AttributeFailure && cause == Kind::Timeout);
  }
  // The port went away, also when it was the attribute frame that found it gone.
  bool lost_port() const {
    return kind == Kind::LostPort || (kind == Kind::AttributeFailure && cause == Kind::LostPort);
  }
  bool refused_with(int code) const { return kind == Kind::Refused && refusal_code == code; }
  bool operator==(const ExchangeOutcome&) const = default;
};

// A short English name of the kind ("timeout", "refused"), for logs and test messages.
const char* outcome_name(ExchangeOutcome::Kind kind);

}  // namespace kba604
