#include "model/parameter.h"

#include <charconv>

#include "model/talv_codec.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// A decimal integer filling the whole text (an optional minus sign, then digits).
bool parse_whole_integer(std::string_view text, long long& out) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end;
}

}  // namespace

Parameter::~Parameter() {
  if (role_slot_ != nullptr && *role_slot_ == this) *role_slot_ = nullptr;
  role_slot_ = nullptr;
  timer_armed_.store(false);
  owns_timer_ = false;
}

void Parameter::Serialize(Archive& ar) {
  if (ar.is_storing()) {
    ArchiveWriter& w = ar.writer();
    w.write_string(short_name);
    w.write_string(stored_value());
    w.write_bool(indexed);
    w.write_i32(linear_index);
    w.write_i32(address_offset);
    w.write_u8(0);
    w.write_u8(0);
    w.write_string(note);
    w.write_bool(changed);
    w.write_bool(editability_changed);
    w.write_bool(owner_changed);
    w.write_bool(editable);
    w.write_bool(factory);
    w.write_i32(reserved_number);
    w.write_bool(description_flag);
    return;
  }
  ArchiveReader& r = ar.reader();
  short_name = r.read_string();
  std::string stored = r.read_string();
  indexed = r.read_bool();
  linear_index = r.read_i32();
  address_offset = r.read_i32();
  r.read_u8();
  r.read_u8();
  note = r.read_string();
  outcome = {};
  changed = r.read_bool();
  editability_changed = r.read_bool();
  owner_changed = r.read_bool();
  editable = r.read_bool();
  factory = r.read_bool();
  reserved_number = r.read_i32();
  description_flag = r.read_bool();
  // Converted last: the item list is the parameter's own, and a record cut short leaves the
  // fields read so far.
  value = value_from_stored(std::move(stored));
}

bool Parameter::has_problem_note() const {
  return !note.empty() && note != kNotInitialisedNote;
}

bool Parameter::has_difference_note() const {
  return note.compare(0, kDifferencePrefix.size(), kDifferencePrefix) == 0;
}

bool Parameter::has_no_data() const {
  return platform::iequals(value, kNoData);
}

std::uint32_t Parameter::key() const {
  std::uint32_t upper = indexed ? (static_cast<std::uint32_t>(linear_index) & 0xFFFFu) : 0xFFFFu;
  return (upper << 16) | hash_name(short_name);
}

std::string Parameter::attribute_text() const {
  if (attribute_multiplicity <= 0) return "";
  if (linear_index % attribute_multiplicity != 0) return "см. выше";
  if (has_no_data()) return std::string(kNoData);
  return editable ? "Редактируемый" : "Не редактируемый";
}

std::string Parameter::owner_text() const {
  if (attribute_multiplicity <= 0) return "";
  if (linear_index % attribute_multiplicity != 0) return "см. выше";
  if (has_no_data()) return std::string(kNoData);
  return factory ? "Завод" : "Пользователь";
}

Rgb Parameter::row_colour() const {
  if (has_problem_note()) return has_difference_note() ? kRowBlue : kRowRed;
  if (any_change()) return kRowGreen;
  return kRowBlack;
}

RowIcon Parameter::row_icon() const {
  if (!writable()) return RowIcon::ReadOnly;
  return is_item_list() ? RowIcon::WritableItemList : RowIcon::Writable;
}

ParameterRow Parameter::row(bool show_indexes) const {
  ParameterRow r;
  r.name = short_name;
  if (indexed && show_indexes) r.name += ":" + std::to_string(linear_index);
  r.value = value;
  r.attribute = attribute_text();
  r.owner = owner_text();
  r.note = note;
  r.colour = row_colour();
  r.icon = row_icon();
  return r;
}

ParameterRow Parameter::locked_row(bool show_indexes) const {
  ValueReadLock lock(*this);
  return row(show_indexes);
}

void Parameter::create_polling_timer() {
  owns_timer_ = true;
  indexed = false;
}

int Parameter::ArmTimer(std::int64_t now_ms) {
  if (!owns_timer_ || timer_armed_.load()) return 1;
  next_due_ms_.store(now_ms + polling_period_.load());
  timer_armed_.store(true);
  return 0;
}

int Parameter::DisarmTimer() {
  if (!owns_timer_ || !timer_armed_.load()) return 1;
  timer_armed_.store(false);
  return 0;
}

// The item position keeps a file valid when only the letter case of the item texts changes.
std::string Parameter::stored_value() const {
  ValueFormat f = parsed_format();
  if (f.kind != FormatKind::ItemList) return value;
  return std::to_string(find_item(f.items, value));
}

std::string Parameter::value_from_stored(std::string stored) const {
  ValueFormat f = parsed_format();
  if (f.kind != FormatKind::ItemList || stored.empty()) return stored;
  long long position = 0;
  if (parse_whole_integer(stored, position)) {
    if (position >= 0 && position < static_cast<long long>(f.items.size())) {
      return f.items[static_cast<std::size_t>(position)];
    }
    return std::string(kNoData);
  }
  int found = find_item(f.items, stored);
  return found >= 0 ? f.items[static_cast<std::size_t>(found)] : std::string(kNoData);
}

}  // namespace kba604
