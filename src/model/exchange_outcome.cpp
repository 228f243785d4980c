#include "model/exchange_outcome.h"

namespace kba604 {

const char* outcome_name(ExchangeOutcome::Kind kind) {
  using Kind = ExchangeOutcome::Kind;
  switch (kind) {
    case Kind::Success:
      return "success";
    case Kind::Timeout:
      return "timeout";
    case Kind::LineFault:
      return "line fault";
    case Kind::LostStart:
      return "lost start";
    case Kind::LostPort:
      return "lost port";
    case Kind::Checksum:
      return "checksum";
    case Kind::ForeignReply:
      return "foreign reply";
    case Kind::Refused:
      return "refused";
    case Kind::NotDecodable:
      return "not decodable";
    case Kind::NotEncodable:
      return "not encodable";
    case Kind::NoWriteMethod:
      return "no write method";
    case Kind::AttributeFailure:
      return "attribute failure";
    case Kind::AttributeReplySize:
      return "attribute reply size";
    case Kind::EchoMismatch:
      return "echo mismatch";
    case Kind::AddressTooLong:
      return "address too long";
    case Kind::NotInitialised:
      return "not initialised";
    case Kind::Stopped:
      return "stopped";
    case Kind::NegativeIndex:
      return "negative index";
  }
  return "unknown";
}

}  // namespace kba604
