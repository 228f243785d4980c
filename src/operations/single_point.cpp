#include "operations/single_point.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>

#include "model/talv_codec.h"
#include "model/texts.h"
#include "model/value_format.h"
#include "platform/text.h"

namespace kba604 {
namespace {

constexpr double kLimitTolerance = 0.0009;

// What an exchange needs of a parameter, with its value and attributes.
std::unique_ptr<Parameter> working_copy(const Parameter& p) {
  // A scanner or the engine may be changing the table's parameter meanwhile.
  ValueReadLock lock(p);
  auto copy = std::make_unique<Parameter>();
  copy->short_name = p.short_name;
  copy->value = p.value;
  copy->format = p.format;
  copy->decimals = p.decimals;
  copy->maximum = p.maximum;
  copy->minimum = p.minimum;
  copy->title = p.title;
  copy->display_title = p.display_title;
  copy->indexed = p.indexed;
  copy->linear_index = p.linear_index;
  copy->address_offset = p.address_offset;
  copy->access_mask = p.access_mask;
  copy->editable = p.editable;
  copy->factory = p.factory;
  copy->attribute_multiplicity = p.attribute_multiplicity;
  copy->item_marks = p.item_marks;
  copy->changed = p.changed;
  copy->editability_changed = p.editability_changed;
  copy->owner_changed = p.owner_changed;
  return copy;
}

void take_answer(const Parameter& from, Parameter& to) {
  ValueWriteLock lock(to);
  to.value = from.value;
  to.note = from.note;
  to.outcome = from.outcome;
  to.changed = from.changed;
  to.editability_changed = from.editability_changed;
  to.owner_changed = from.owner_changed;
  to.editable = from.editable;
  to.factory = from.factory;
  to.store_reply(from.last_reply.data(), from.last_reply_length);
}

std::optional<double> number_of(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<std::string> SinglePoint::names() const {
  std::vector<std::string> names;
  for (const Parameter& p : table_) {
    if (p.short_name.empty()) continue;
    if (std::find(names.begin(), names.end(), p.short_name) == names.end()) {
      names.push_back(p.short_name);
    }
  }
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string fa = platform::fold_case(a), fb = platform::fold_case(b);
    return fa != fb ? fa < fb : a < b;
  });
  return names;
}

SinglePointChoice SinglePoint::choose(std::string_view name) const {
  SinglePointChoice choice;
  choice.hash = platform::format("0x%X", hash_name(name));
  const Parameter* p = table_.find_by_name(name);
  if (p == nullptr) {
    choice.description = std::string(kUnknownTitle) + " (" + std::string(kUnknownTypeText) + ")";
    return choice;
  }
  choice.description = p->shown_title() + " (" + p->format + ")";
  const ValueFormat format = p->parsed_format();
  if (format.kind == FormatKind::ItemList) choice.write_choices = format.items;
  return choice;
}

Parameter* SinglePoint::find(std::string_view name, bool with_index, int index,
                             bool index_in_address) const {
  Parameter* first = nullptr;
  for (Parameter& p : table_) {
    if (!platform::iequals(p.short_name, name)) continue;
    if (!with_index) return &p;
    if (first == nullptr) first = &p;
    const bool same = index_in_address ? (!p.indexed && p.address_offset == index)
                                       : (p.indexed && p.linear_index == index);
    if (same) return &p;
  }
  return first;
}

SinglePointOutcome SinglePoint::execute(DirectExchange& link, const SinglePointRequest& request,
                                        const std::atomic<bool>* stop) {
  SinglePointOutcome out;
  const int from = std::clamp(request.from, 0, kMaxSinglePointIndex);
  const int to = std::clamp(std::max(request.to, request.from), 0, kMaxSinglePointIndex);
  Parameter* found = find(request.name, request.with_index, from, request.index_in_address);
  if (found == nullptr) {
    out.message = std::string(kNotInTableText);
    out.caption = std::string(kNotInTableCaption);
    return out;
  }
  out.found = true;
  std::vector<std::string>& lines = out.lines;
  const int last = request.with_index ? to : from;
  for (int index = from; index <= last; ++index) {
    if (stop != nullptr && stop->load()) break;
    Parameter* own = found;
    std::unique_ptr<Parameter> copy = working_copy(*found);
    if (request.with_index) {
      own = find(request.name, true, index, request.index_in_address);
      if (request.index_in_address) {
        // The index is added to the instrument's address: the low three bits of a base
        // address that is a multiple of 8.
        lines.push_back("Индекс передается в поле адреса запроса");
        if (index >= 8) lines.push_back("Предупреждение: адрес увеличен более чем на 7!");
        copy->indexed = false;
        copy->address_offset = index;
        if (own != nullptr && (own->indexed || own->address_offset != index)) own = nullptr;
      } else {
        lines.push_back("Индекс передается в посылке запроса");
        copy->indexed = true;
        copy->linear_index = index;
        if (own != nullptr && (!own->indexed || own->linear_index != index)) own = nullptr;
      }
    }
    lines.push_back(copy->short_name + " (" + copy->shown_title() + ")");

    int request_bit = 1;
    bool as_position = false;
    if (request.write) {
      request_bit = 0;
      std::string text = request.what;
      const ValueFormat format = copy->parsed_format();
      if (format.kind == FormatKind::StoredDot && copy->has_limits()) {
        const std::optional<double> v = number_of(text);
        if (v && *v >= copy->minimum - kLimitTolerance && *v <= copy->maximum + kLimitTolerance) {
          const std::string rounded = copy->apply_display_rule(text).text;
          if (!rounded.empty() && rounded != text) {
            lines.push_back(platform::format("Значение было округлено до %s", rounded.c_str()));
            text = rounded;
          }
        }
      }
      if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
      } else if (format.kind == FormatKind::ItemList) {
        // A number is the item's position; an entry of "Что записать:" means its own item,
        // even when its text is a number ("9600" of the baud rates is item 2, not 9600).
        as_position = find_item(format.items, text) < 0;
      }
      copy->value = text;
    }

    const int result = link.transact(&lines, *copy, request_bit, as_position);
    if (result != kRequestOk || !copy->outcome.ok() || !copy->note.empty()) {
      lines.push_back("Имеет место ошибка:");
      lines.push_back(copy->note.empty() ? platform::format("код %i", result) : copy->note);
    } else if (request.write) {
      lines.push_back("Нет ошибок; записано. Обратно вернулось='" + copy->value + "'");
    } else {
      lines.push_back("Нет ошибок; строковая нотация ответа:");
      lines.push_back(copy->value);
    }
    if (own != nullptr) {
      take_answer(*copy, *own);
      link.changed(*own);
    }
  }
  return out;
}

}  // namespace kba604
