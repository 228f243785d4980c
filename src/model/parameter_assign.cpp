// Assignment of typed text to a parameter, and the texts that describe its range and a
// refused assignment.
#include <cmath>
#include <vector>

#include "app/translatable.h"
#include "model/parameter.h"
#include "model/value_numbers.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// Tolerance of the limit test of "STORED_DOT" and "DEC_dot": the printed limits are rounded.
constexpr double kLimitTolerance = 0.0009;

// A whole time text in seconds: the fields from the right count once, 60 and 3600 times.
// nullopt when a field is too long or there are more fields than that.
std::optional<double> clock_seconds(std::string_view text) {
  if (text.find(':') == std::string_view::npos) {
    double value = 0.0;
    scan_decimal(text, value);
    return value;
  }
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    std::size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (fields.back().size() > 2 || fields.size() > 3) return std::nullopt;
  double total = 0.0;
  for (std::string_view field : fields)
    total = total * 60.0 + static_cast<double>(scan_integer(field));
  return total;
}

unsigned as_unsigned(double v) {
  return static_cast<unsigned>(static_cast<long long>(v));
}

std::string minutes_seconds_range(const char* fmt, double minimum, double maximum) {
  unsigned lo = as_unsigned(minimum);
  unsigned hi = as_unsigned(maximum);
  return platform::format(fmt, lo / 60, lo % 60, hi / 60, hi % 60);
}

}  // namespace

int Parameter::AssignFromText(std::string_view text, Prompter* prompter) {
  ValueFormat f = parsed_format();
  std::string assigned;
  switch (f.kind) {
    case FormatKind::StoredDot: {
      if (!text.empty() && text.front() == '.') return kBadFormat;
      double scanned = 0.0;
      scan_decimal(text, scanned);
      auto number = static_cast<float>(scanned);
      if (has_limits() &&
          (number < minimum - kLimitTolerance || number > maximum + kLimitTolerance)) {
        return kNotAcceptable;
      }
      DisplayText shown = apply_display_rule(text);
      if (shown.dropped && decimals <= 0 && prompter != nullptr) {
        prompter->show(
            platform::format(KBA604_TR_NOOP("Messages", "Параметру присвоено значение %s"),
                             shown.text.c_str()),
            "Предупреждение", PromptIcon::Warning);
      }
      assigned = shown.text;
      break;
    }
    case FormatKind::DecDot: {
      double number = 0.0;
      if (text.empty() || scan_decimal(text, number) != text.size()) return kNotAcceptable;
      if (has_limits() &&
          (number < minimum - kLimitTolerance || number > maximum + kLimitTolerance)) {
        return kNotAcceptable;
      }
      if (std::fabs(number - std::round(number)) > 0.00001) return kNotAcceptable;
      assigned = std::string(text);
      break;
    }
    case FormatKind::ClkFrm: {
      std::optional<double> seconds = clock_seconds(text);
      if (!seconds) return kBadFormat;
      if (has_limits() && (*seconds < minimum || *seconds > maximum)) return kNotAcceptable;
      assigned = std::string(text);
      break;
    }
    default:
      assigned = std::string(text);
      break;
  }
  // Under the value lock (the warning above is shown before it is taken): a worker or a view
  // may be reading the parameter.
  ValueWriteLock lock(*this);
  value = std::move(assigned);
  changed = true;
  return kAssigned;
}

BoxMessage Parameter::assignment_failure(int result, std::string_view typed) const {
  if (result == kBadFormat) {
    return {
        platform::format("Заданное значение параметра (\"%s\") не соответствует формату данных!",
                         std::string(typed).c_str()),
        "Неверное значение", PromptIcon::Information};
  }
  std::string text = platform::format(
      "Параметру '%s' (%s) не может быть присвоено значение '%s'.\n(Тип: %s. Диапазон значений: ",
      short_name.c_str(), shown_title().c_str(), std::string(typed).c_str(), type_name().c_str());
  if (has_limits()) {
    switch (parsed_format().kind) {
      case FormatKind::DecDot:
        text += platform::format("от %.0f до %.0f)", minimum, maximum);
        break;
      case FormatKind::StoredDot:
        text += platform::format("от %.3f до %.3f)", minimum, maximum);
        break;
      case FormatKind::ClkFrm:
        text += minutes_seconds_range("от %02u:%02u до %02u:%02u)", minimum, maximum);
        break;
      default:
        break;
    }
  }
  return {text, "Неудалось изменить параметр", PromptIcon::Error};
}

std::string Parameter::range_description(std::optional<int> address_length_bits) const {
  bool address = platform::iequals(short_name, "Addr");
  double top = maximum;
  if (address && address_length_bits && *address_length_bits >= 0 && *address_length_bits < 32) {
    top = std::ldexp(1.0, *address_length_bits) - 1;
  }
  if (minimum == top || owns_polling_timer()) return "";
  FormatKind kind = address ? FormatKind::DecDot : parsed_format().kind;
  switch (kind) {
    case FormatKind::StoredDot:
      return platform::format(
          "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть вещественного типа, от %.3f до %.3f.", minimum,
          top);
    case FormatKind::ClkFrm:
      return minutes_seconds_range(
          "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть от %02u:%02u до %02u:%02u.", minimum, top);
    case FormatKind::DecDot:
      return platform::format(
          "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть целого типа, от %.0f до %.0f.", minimum, top);
    default:
      return "";
  }
}

}  // namespace kba604
