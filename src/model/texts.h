// Texts of the parameter model that other subsystems compare against: the value that means
// "nothing known", the initial title and format of a parameter, and the notes that operations
// leave in a parameter and that decide its colour and whether it counts as an error.
#pragma once

#include <string_view>

namespace kba604 {

// The value of a parameter about which nothing is known.
inline constexpr std::string_view kNoData = "Нет данных";
// Title and format of a parameter until the description fills them.
inline constexpr std::string_view kUnknownTitle = "<неизвестный параметр>";
inline constexpr std::string_view kUnknownFormat = "неизвестен";

// Note of a write that was not made because the value was "Нет данных". It is no error: rows
// keep their colour, and "write the parameters with errors" does not pick it up.
inline constexpr std::string_view kNotInitialisedNote =
    "Значение не записано, так как параметер не инициализирован";
// Beginning of the note a comparison leaves when the instrument holds another value.
inline constexpr std::string_view kDifferencePrefix = "Знач-е в приборе:";

}  // namespace kba604
