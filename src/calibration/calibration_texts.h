// The calibration wizard's tables: the four calibration types with their descriptions and access
// codes, the sensor lists and the codes written into "in-t", the instruction texts, and the
// decoding of the instrument's process flags and status codes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kba604::calibration {

inline constexpr int kTypeCount = 4;

// One entry of a sensor list: its text, the sensor code written into "in-t" and, for type 1,
// the group of the instruction text the step dialog shows first.
struct SensorEntry {
  std::string_view text;
  int code = 0;
  int group = 0;
};

// The sensor list of a type (1, 2 and 4; type 3 has none).
std::span<const SensorEntry> sensors_of_type(int type);
// Position of the entry with this sensor code in the type's list, -1 when none has it.
int sensor_position(int type, int code);

// The entry of the type list ("Не выбран" for 0).
std::string_view type_entry(int type);
// The description shown under the type list; empty for 0.
std::string_view type_description(int type);
// The access code of a type.
int access_code(int type);
// The typed access code as a decimal number: leading blanks and a sign are taken, reading stops
// at the first character that is no digit, and a text without digits counts as 0.
long typed_code(std::string_view text);
// Types offered in the type list at an access level and modification number, placeholder aside.
std::vector<int> offered_types(int access_level, int modification);
// The menu command "Юстировка входов..." is available: the instrument identified itself as the
// KBA604, and the access level (2 always, 1 for the modifications 3, 4 and 6) allows it.
bool calibration_available(bool identified, int access_level, int modification);

// Instruction texts of type 1, by group (0..8).
std::string_view instruction_text(int group);
// The step dialog's first text: for type 1 the instruction of the chosen sensor's group.
std::string_view first_text(int type, std::string_view instruction);
// Shown when the coefficients are stored.
std::string_view completion_text(int type);

// Process flag bits.
inline constexpr std::uint8_t kMeasurementFinished = 0x80;

// The message of a status code (codes above 36 give the message of code 16).
std::string_view status_message(int code);
// The words for the process flags of a reply.
std::string flags_text(std::uint8_t flags);

// Prints a coefficient as the "%f" conversion does (six decimals, a point), whatever the locale.
std::string fixed6(double value);

}  // namespace kba604::calibration
