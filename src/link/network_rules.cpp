#include "link/network_rules.h"

#include <cmath>
#include <cstdlib>

#include "link/net_rs485.h"
#include "model/value_format.h"
#include "platform/text.h"

namespace kba604 {
namespace {

// A whole decimal number ("16", "16.0"); nothing for any other text ("Нет данных").
std::optional<long> whole_number(std::string_view text) {
  const std::string s(text);
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v) || v != std::floor(v)) return std::nullopt;
  if (std::fabs(v) > 1e9) return std::nullopt;
  return static_cast<long>(v);
}

// The value of name: the edited one for the edited name, the element's current one otherwise.
std::string value_of(const ObjectWithParameters& element, std::string_view name,
                     std::string_view edited_name, std::string_view edited_value) {
  if (platform::iequals(name, edited_name)) return std::string(edited_value);
  return element.GetValueByName(name);
}

// The instrument's code of the protocol: the position of the value in the list of "Prot"; 0
// (ТАЛВ) for an element without that parameter, or for a value the list does not hold.
int protocol_code(const ObjectWithParameters& element, std::string_view edited_name,
                  std::string_view edited_value) {
  const Parameter* prot = element.FindByName("Prot");
  if (prot == nullptr) return 0;
  const std::string text = value_of(element, "Prot", edited_name, edited_value);
  const int position = find_item(parse_format(prot->format).items, text);
  return position < 0 ? 0 : position;
}

}  // namespace

bool check_char_format(const ObjectWithParameters& element, std::string_view name,
                       std::string_view value) {
  if (!platform::iequals_any(name, {"PrtY", "LEn", "Sbit"})) return true;
  const std::optional<long> bits = whole_number(value_of(element, "LEn", name, value));
  const std::optional<long> stops = whole_number(value_of(element, "Sbit", name, value));
  const int parity = Elements::parity_code_of(value_of(element, "PrtY", name, value));
  if (!bits || !stops) return true;
  return char_format_supported(static_cast<int>(*bits), parity, static_cast<int>(*stops));
}

bool char_format_supported(int data_bits, int parity_code, int stop_bits) {
  if (data_bits == 7 && stop_bits == 1 && parity_code == 3) return false;
  if (data_bits == 8 && stop_bits == 2 && (parity_code == 1 || parity_code == 4)) return false;
  return true;
}

bool check_address_rules(std::string_view name, const ObjectWithParameters& element,
                         std::string_view value, std::string* message) {
  const bool on_addr = platform::iequals(name, "Addr");
  const bool on_length = platform::iequals(name, "A.Len");
  const bool on_protocol = platform::iequals(name, "Prot");
  if (!on_addr && !on_length && !on_protocol) return true;

  const std::optional<long> address = whole_number(value_of(element, "Addr", name, value));
  const std::optional<long> length = whole_number(value_of(element, "A.Len", name, value));
  const bool talv = protocol_code(element, name, value) == 0;

  struct Rule {
    bool checked;
    bool broken;
    const char* line;
  };
  const Rule rules[] = {
      {on_addr || on_length, length == 8 && address && *address > 248,
       "\n - при 8-битной адресации базовый адрес прибора должен быть не больше 248"},
      {on_addr || on_protocol, !talv && address && *address > 248,
       "\n - при использовании протокола обмена, отличного от ТАЛВ, адрес прибора должен быть "
       "не больше 248"},
      {on_addr || on_protocol, talv && address && *address % 8 != 0,
       "\n - при использовании протокола ТАЛВ адрес прибора должен быть кратен 8"},
      {on_length || on_protocol, !talv && length == 11,
       "\n - при использовании протокола обмена, отличного от ТАЛВ, длина адреса не может быть "
       "равна 11 битам"},
  };
  std::string text(kAddressRulesHeading);
  bool accepted = true;
  for (const Rule& rule : rules) {
    if (!rule.checked || !rule.broken) continue;
    accepted = false;
    text += rule.line;
  }
  if (!accepted && message != nullptr) *message = text;
  return accepted;
}

bool check_address_multiple(std::string_view name, std::string_view value) {
  if (!platform::iequals(name, "Addr")) return true;
  const std::optional<long> address = whole_number(value);
  return !address || *address % 8 == 0;
}

std::optional<BoxMessage> check_network_edit(const ObjectWithParameters& element,
                                             std::string_view name, std::string_view value) {
  if (!check_char_format(element, name, value)) {
    return BoxMessage{std::string(kCharFormatRefusedText), std::string(kEditRefusedCaption),
                      PromptIcon::Warning};
  }
  std::string message;
  if (!check_address_rules(name, element, value, &message)) {
    return BoxMessage{message, std::string(kEditRefusedCaption), PromptIcon::Warning};
  }
  if (!check_address_multiple(name, value)) {
    return BoxMessage{std::string(kAddressMultipleText), std::string(kAddressRefusedCaption),
                      PromptIcon::Warning};
  }
  return std::nullopt;
}

}  // namespace kba604
