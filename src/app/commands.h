// Menu command numbers and the rules that enable them. The rules are a pure function of the
// program's state, so a menu, a toolbar or the control channel only asks command_enabled().
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/translatable.h"

namespace kba604 {

namespace command {
inline constexpr int kAutoRead = 134;  // "Режим автоматического считывания"
inline constexpr int kReadAll = 139;       // read all parameters (Alt+R)
inline constexpr int kWriteAll = 140;      // write all parameters
inline constexpr int kShowIndexes = 145;   // "Показывать линейные индексы"
inline constexpr int kAccessDenied = 146;  // no menu entry; only refuses
inline constexpr int kExportParameterList = 154;  // "Экспорт списка параметров в HTML"
inline constexpr int kProgramNetSettings = 268;  // "Сетевые параметры программы"
inline constexpr int kImmediateWrite = 271;  // "Режим немедленной записи"
inline constexpr int kNoAttributes = 294;  // "Не передавать атрибуты параметров"
inline constexpr int kWriteFactory = 263;  // "Записать заводские параметры в прибор"
inline constexpr int kCalibrate = 32800;          // the calibration wizard
inline constexpr int kConverterSemiAuto = 32810;  // "Полуавтоматический (KP-5)"
inline constexpr int kConverterAuto = 32811;      // "Автоматический"
inline constexpr int kHideMinimised = 32880;      // "Скрывать свернутое окно"
inline constexpr int kSaveEepromImage = 32890;    // "Сохранить образ EEPROM..."
inline constexpr int kLoadEepromImage = 32893;    // "Загрузить образ EEPROM..."
inline constexpr int kRecord = 33000;  // the data logger of the command line ("--record")
}  // namespace command

// The text of the command 146.
inline constexpr std::string_view kAccessDeniedText =
    KBA604_TR_NOOP("Messages", "Операция запрещена на этом уровне доступа.");

// One row of the modification table.
struct Modification {
  std::string_view name;     // "Модификация №0" .. "Модификация №6"
  int code;                  // used by the item marks of item-list formats
  int command_class;         // used by the command-enabling rules
  std::string_view tooltip;  // tooltip file of the description folder
};

inline constexpr std::array<Modification, 7> kModifications = {{
    {"Модификация №0", 0, 0, "tooltip.dat"},
    {"Модификация №1", 1, 1, "tooltip.dat"},
    {"Модификация №2", 2, 2, "tooltip.dat"},
    {"Модификация №3", 3, 3, "tooltip.dat"},
    {"Модификация №4", 4, 4, "tooltip.dat"},
    {"Модификация №5", 5, 5, "tooltip.dat"},
    {"Модификация №6", 6, 6, "tooltip.dat"},
}};

// The row for a modification number; a number outside 0..6 gives row 0.
const Modification& modification_row(int modification);

// What is selected in the tree view, as far as the rules care.
enum class SelectedKind { None, Branch, Parameter, OtherElement };

struct CommandContext {
  bool no_port = false;  // started with switches but without a port
  int access_level = 2;  // 2 full, 1 middle, 0 lowest
  int modification = 0;  // row of the modification table
  SelectedKind selected = SelectedKind::None;
  std::string selected_name;  // the name of the selected element
};

// Whether the command is enabled. Commands without a rule are always enabled.
bool command_enabled(int command, const CommandContext& context);

// Item marks of item-list formats: an item is hidden at access level 1 when the
// modification's code is among the mark's codes.
bool item_hidden_by_mark(int access_level, int modification, const int* codes, std::size_t count);

}  // namespace kba604
