// Switching the working modes of the menu "Режимы программы". Each switch changes its flag in
// ProgramModes and does what goes with it: an explanation through the prompter, a setting
// written, the views told to redraw, the background writer woken.
#pragma once

#include <functional>
#include <string_view>

#include "app/notifications.h"
#include "app/program_modes.h"
#include "app/program_settings.h"
#include "app/prompter.h"
#include "app/translatable.h"

namespace kba604 {

inline constexpr std::string_view kImmediateWriteText = KBA604_TR_NOOP(
    "Messages",
    "В режиме 'Моментальная запись' введеные значения\nавтоматически записываются в прибор\nсразу "
    "после ввода (без нажатия на 'Записать измененные')\nЭто ускоряет работу, но снижает "
    "надежность\nи увеличивает вероятность ошибок.\nРежим 'Моментальная запись' не "
    "записывает\nизмененные атрибуты доступа.");
inline constexpr std::string_view kNoAttributesText = KBA604_TR_NOOP(
    "Messages",
    "В режиме 'Не передавать атрибуты' обмен информацией\nоб индивидуальных защитных атрибутах "
    "параметров\nне производится.\nЭто ускоряет работу, но не дает возможность "
    "предварительно\nконтролировать доступность параметров на запись\nсо стороны компьютера "
    "(программы-конфигуратора).\nПри попытке записи защищенного параметра запрос записи\nбудет "
    "отвергнут прибором с соответствующим сообщением\nкак ошибка записи.\nЗапись измененных "
    "атрибутов принадлежности в режиме\n'Не передавать атрибуты' также не производится.");

class ModeSwitches {
 public:
  // Everything passed must outlive this object.
  ModeSwitches(ProgramModes& modes, ProgramSettings& settings, Prompter& prompter,
               NotificationSink& sink)
      : modes_(modes), settings_(settings), prompter_(prompter), sink_(sink) {}

  // Called when the immediate-write mode goes on: the background worker takes the main tree
  // and writes what has changed. Set by the operations once they exist.
  void set_immediate_write_started(std::function<void()> started) {
    immediate_write_started_ = std::move(started);
  }

  // Runs a mode command of the menu (145, 134, 271, 294, 32880, 32810, 32811); false for any
  // other command.
  bool run(int command);
  // Whether the menu entry of a mode command shows its check mark.
  bool checked(int command) const;

 private:
  ProgramModes& modes_;
  ProgramSettings& settings_;
  Prompter& prompter_;
  NotificationSink& sink_;
  std::function<void()> immediate_write_started_;
};

}  // namespace kba604
