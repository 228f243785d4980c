// MyConverter: the value part of every parameter. It holds the short name, the value text, the
// last reply received for the parameter, the format descriptor, the decimals and the limits,
// and converts between the instrument's data bytes and the value text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/texts.h"
#include "model/value_format.h"

namespace kba604 {

// Results of ConvertFromData.
inline constexpr int kDecoded = 1;
inline constexpr int kNotDecodable = 0;
inline constexpr int kDecodedErrorText = -1;  // the text is a message to show as the value
// Results of ConvertToData.
inline constexpr int kEncoded = 1;
inline constexpr int kNotEncodable = 0;
inline constexpr int kNoWriteMethod = -1;  // no write form, or a refusal with a message

// The format descriptor of the access-attribute list, whose position is editable + 2 × owned
// by the user.
inline constexpr std::string_view kAttributeListFormat =
    "Не_редактируемый,_Заводской:Редактируемый,_Заводской:Не_редактируемый,_Пользовательский:"
    "Редактируемый,_Пользовательский";

// What ConvertToData needs to know about the program around it: the attribute list is sent as
// the bytes 0xAC..0xAF (in place of its positions 0..3) only when a configuration document is
// open and the access level is the maximum, 2.
struct EncodeContext {
  bool document_open = false;
  int access_level = 0;
};

// A value text after the display rule of "STORED_DOT", and whether the automatic precision
// dropped digits from it.
struct DisplayText {
  std::string text;
  bool dropped = false;
};

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

  // Reply data bytes to value text. indexed: the reply ends with the two bytes of the linear
  // index. Returns kDecoded, kNotDecodable (text empty), or kDecodedErrorText when the text is
  // a message (a length error, an invalid name code, a status code of a measured value) that
  // is shown in place of the value. Short names with conversions of their own ("dev", "ver",
  // "exit", "APLY", "PRTL", the network settings, the measured values with status codes) take
  // precedence over the format.
  int ConvertFromData(const std::uint8_t* data, std::size_t count, bool indexed,
                      std::string& text) const;

  // Value text to request data bytes (at most 255). item_position: the text of an item-list
  // value is the item's position rather than its text. Returns kEncoded, kNotEncodable or
  // kNoWriteMethod; on anything but kEncoded data is empty, and a refusal that has words for
  // it leaves them in message.
  int ConvertToData(std::string_view text, bool item_position, const EncodeContext& context,
                    std::vector<std::uint8_t>& data, std::string& message) const;

  // The display rule of "STORED_DOT" for a text (the print of a decoded value, or a text typed
  // by the user). With fixed decimals the text is cut that many characters after the point.
  // With automatic precision its digits are fitted to the limits: read without the point as a
  // whole number, it loses digits from the end while it lies outside them; a text with a
  // point keeps at most five characters, never fewer than the digits before the point; the
  // last kept digit is rounded. Without limits the text stays whole.
  DisplayText apply_display_rule(std::string_view text) const;

  // The name of the value's type shown to the user.
  std::string type_name() const;

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
