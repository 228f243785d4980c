// The working modes of the menu "Режимы программы", the access level and the modification
// number. Each mode is a plain flag read by the code that does the work, from any thread.
#pragma once

#include <atomic>

namespace kba604 {

struct ProgramModes {
  std::atomic<bool> auto_read{true};  // "Режим автоматического считывания"
  std::atomic<bool> immediate_write{false};  // "Режим немедленной записи"
  std::atomic<bool> show_indexes{false};  // "Показывать линейные индексы"
  std::atomic<bool> no_attributes{false};  // "Не передавать атрибуты параметров"
  std::atomic<bool> hide_minimised{false};  // "Скрывать свернутое окно"
  std::atomic<int> rs485_type{0};           // 0 semi-automatic (KP-5), 1 automatic converter
  std::atomic<int> access_level{2};         // 2 full, 1 middle, 0 lowest
  std::atomic<int> modification{0};         // row of the modification table, 0..6
};

}  // namespace kba604
