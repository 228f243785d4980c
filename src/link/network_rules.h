// The rules an edit of the network settings must satisfy, for the instrument's settings (the
// network branch of the description) and the program's own (the port settings element) alike.
// The tree view and the port settings table ask them before they take an edited value; a
// refused value keeps the old one and shows the message.
//
//   if (std::optional<BoxMessage> refusal = check_network_edit(element, "Addr", "249")) {
//     prompter.show(refusal->text, refusal->caption, refusal->icon);  // the old value stays
//   }
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/translatable.h"
#include "model/object_with_parameters.h"
#include "model/parameter.h"

namespace kba604 {

inline constexpr std::string_view kCharFormatRefusedText =
    KBA604_TR_NOOP("Messages", "Заданные сетевые настройки не поддерживаются прибором!");
inline constexpr std::string_view kEditRefusedCaption =
    KBA604_TR_NOOP("Messages", "Неудалось изменить значение");
inline constexpr std::string_view kAddressRulesHeading = "Не выполняются следующие требования:";
inline constexpr std::string_view kAddressMultipleText =
    KBA604_TR_NOOP("Messages", "Значение адреса должно быть кратно 8!");
inline constexpr std::string_view kAddressRefusedCaption =
    KBA604_TR_NOOP("Messages", "Неудалось изменить значение сетевого адреса");

// The character format the instrument cannot take: a change of "PrtY", "LEn" or "Sbit" (the
// other two taken from the element) to 7 data bits with 1 stop bit and no parity, or to 8 data
// bits with 2 stop bits and parity. True accepts; a change of any other name is accepted.
bool check_char_format(const ObjectWithParameters& element, std::string_view name,
                       std::string_view value);
// The same rule for a whole character format (parity as the port's codes: 3 none, 1 even, 4
// odd): false for 7 data bits with 1 stop bit and no parity, and for 8 data bits with 2 stop
// bits and parity.
bool char_format_supported(int data_bits, int parity_code, int stop_bits);

// The address rules, for a change of "Addr", "A.Len" or "Prot" with the other values taken from
// the element: with 8-bit addressing the address is at most 248; under a protocol other than
// ТАЛВ the address is at most 248 and the address is not 11 bits long; under ТАЛВ the address
// is a multiple of 8. An element without a protocol parameter (the program's own settings)
// speaks ТАЛВ. A value that cannot be read (no data) breaks no rule. True accepts; otherwise
// *message (when given) is "Не выполняются следующие требования:" and one line per broken rule,
// in the order above.
bool check_address_rules(std::string_view name, const ObjectWithParameters& element,
                         std::string_view value, std::string* message);

// A value of a parameter named "Addr" must be a multiple of 8 (the low three bits of the
// address field carry the index of a request). True accepts.
bool check_address_multiple(std::string_view name, std::string_view value);

// The three checks in the order the tree view makes them; the box of the first that refuses.
std::optional<BoxMessage> check_network_edit(const ObjectWithParameters& element,
                                             std::string_view name, std::string_view value);

}  // namespace kba604
