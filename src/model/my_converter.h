// MyConverter: the value part of every parameter. It holds the short name, the value text, the
// last reply received for the parameter, the format descriptor, the decimals and the limits,
// and converts between the instrument's data bytes and the value text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/texts.h"
#include "model/value_format.h"

namespace kba604 {

class MyConverter {
 public:
  // The copy of the last reply holds at most this many data bytes.
  static constexpr std::size_t kLastReplyCapacity = 31;

  MyConverter() = default;
  virtual ~MyConverter() = default;

  // Keeps a copy of a reply's data bytes. A reply longer than the copy keeps its first 31
  // bytes, and the stored length then counts the bytes kept, so that length and copy agree.
  void store_reply(const std::uint8_t* data, std::size_t count);

  // Minimum and maximum both 0 mean that the value has no limits.
  bool has_limits() const { return minimum != 0.0 || maximum != 0.0; }
  ValueFormat parsed_format() const { return parse_format(format); }
  bool is_item_list() const { return parsed_format().kind == FormatKind::ItemList; }

  // The device name ("r.St", "Set.P"); compared without regard to case everywhere.
  std::string short_name;
  // The current value in display form; "Нет данных" when nothing is known.
  std::string value{kNoData};
  // Data bytes of the last reply and their count (at most kLastReplyCapacity).
  std::uint8_t last_reply_length = 0;
  std::array<std::uint8_t, kLastReplyCapacity> last_reply{};
  // The format descriptor; "неизвестен" until the description sets it.
  std::string format{kUnknownFormat};
  // Digits after the point for "STORED_DOT"; 0 means automatic precision.
  std::int32_t decimals = 0;
  double maximum = 0.0;
  double minimum = 0.0;
};

}  // namespace kba604
