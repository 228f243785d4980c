#include "operations/edit_end.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "link/network_rules.h"
#include "model/texts.h"
#include "operations/device_operations.h"
#include "platform/text.h"

namespace kba604 {
namespace {

constexpr std::string_view kEditableWord = "Редактируемый";
constexpr std::string_view kFactoryWord = "Завод";

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool lists(const ObjectWithParameters* element, const Parameter& parameter) {
  if (element == nullptr) return false;
  const auto& list = element->parameters();
  return std::find(list.begin(), list.end(), &parameter) != list.end();
}

// A whole number of at most nine digits, or none: longer texts would not fit the conversion.
std::optional<unsigned> minutes_of(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned n = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  return n;
}

}  // namespace

std::string EditEnd::normalise(const Parameter& parameter, std::string_view typed) {
  std::string text(typed);
  std::replace(text.begin(), text.end(), ',', '.');
  if (parameter.parsed_format().kind == FormatKind::ClkFrm &&
      text.find(':') == std::string::npos) {
    // A text that is no count of minutes stays as typed; the value's own check refuses it.
    if (std::optional<unsigned> n = minutes_of(text)) {
      text = platform::format("%02u:%02u", *n / 60, *n % 60);
    }
  }
  return text;
}

bool EditEnd::network_refused(const Parameter& parameter, const std::string& text) {
  std::optional<BoxMessage> refusal;
  if (lists(program_settings_, parameter)) {
    refusal = check_network_edit(*program_settings_, parameter.short_name, text);
  } else if (lists(instrument_network_, parameter)) {
    refusal = check_network_edit(*instrument_network_, parameter.short_name, text);
  } else if (!check_address_multiple(parameter.short_name, text)) {
    refusal = BoxMessage{std::string(kAddressMultipleText), std::string(kAddressRefusedCaption),
                         PromptIcon::Warning};
  }
  if (!refusal) return false;
  prompter_.show(refusal->text, refusal->caption, refusal->icon);
  return true;
}

EditEnd::Outcome EditEnd::end_edit(Parameter& parameter, int column, std::string_view typed,
                                   std::string_view previous, bool operational) {
  Outcome outcome;
  if (column < kName || column > kOwner) return outcome;
  const std::string text = normalise(parameter, typed);
  if (text == previous) return outcome;
  outcome.result = Outcome::Result::Refused;

  // The watchdog, mains and reset counters can only be cleared.
  if (platform::iequals_any(parameter.short_name, {"dog", "220", "res"}) && text != "0") {
    prompter_.show(kOnlyZeroText, "", PromptIcon::Information);
    return outcome;
  }

  if (operational) {
    if (column == kName) {
      if (scanner_ != nullptr) {
        if (!scanner_->change_period(parameter, text, &prompter_)) return outcome;
      } else {
        const std::optional<std::int32_t> period = Scanner::parse_period(text);
        if (!period) {
          prompter_.show(kPollingPeriodText, kPollingPeriodCaption, PromptIcon::Error);
          return outcome;
        }
        parameter.set_polling_period(*period);
      }
      outcome.result = Outcome::Result::Taken;
      return outcome;
    }
    if (column == kValue) {
      // A scanner may be copying this parameter's value for its row at this moment.
      ValueWriteLock lock(parameter);
      parameter.value = text;
      parameter.note.clear();
      outcome.result = Outcome::Result::Taken;
      outcome.write_now = true;
      return outcome;
    }
    return outcome;
  }

  if (column == kAttribute || column == kOwner) {
    if (column == kAttribute) {
      parameter.editable = starts_with(text, kEditableWord);
      parameter.editability_changed = true;
    } else {
      parameter.factory = starts_with(text, kFactoryWord);
      parameter.owner_changed = true;
    }
    outcome.result = Outcome::Result::Taken;
  } else if (column == kValue) {
    const bool own_settings = lists(program_settings_, parameter);
    if (own_settings && polling_guard_ != nullptr && polling_guard_->AnyPollingOn()) {
      prompter_.show(kPollingRunsText, "", PromptIcon::Error);
      return outcome;
    }
    if (network_refused(parameter, text)) return outcome;
    const int result = parameter.AssignFromText(text, &prompter_);
    if (result != kAssigned) {
      const BoxMessage box = parameter.assignment_failure(result, text);
      prompter_.show(box.text, box.caption, box.icon);
      return outcome;
    }
    outcome.result = Outcome::Result::Taken;
    outcome.port_settings_changed = own_settings;
  } else {
    // The short name column of an ordinary parameter is not a value.
    outcome.result = Outcome::Result::Unchanged;
    return outcome;
  }

  if (device_ != nullptr && parameter.any_change()) device_->immediate_write(parameter);
  return outcome;
}

int EditEnd::write_now(Parameter& parameter) {
  if (device_ == nullptr) return exchange_result::kStopped;
  return device_->WriteValue(parameter, kWriteAll);
}

void EditEnd::report_write_failure(const Parameter& parameter) {
  prompter_.show(parameter.note, kWriteFailedCaption, PromptIcon::Error);
}

}  // namespace kba604
