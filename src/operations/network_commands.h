// The commands that make the instrument take new network settings into use: "APLY" (the dialog
// Dialogs::CApply, "Послать команду APLY") and "PRTL" ("Послать команду PRTL"), which switches
// it to the exchange protocol chosen in its "Prot" parameter.
//
// Both write through the operation engine (WriteParameter) on the calling thread, as commands
// of the menu run. CApply is the dialog's logic without its window: the front end shows its
// texts and options and calls OnOK when the engineer confirms.
//
//   Dialogs::CApply apply(device.get(), &instrument_network);
//   apply.broadcast = true;  // the engineer ticked "Поcлать широковещательную команду APLY"
//   apply.OnOK();
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/translatable.h"
#include "link/net_rs485.h"
#include "operations/device.h"

namespace kba604 {
namespace Dialogs {

class CApply {
 public:
  static constexpr std::string_view kTitle =
      KBA604_TR_NOOP("Messages", "Перевод прибора на новый режим работы");
  static constexpr std::string_view kWarning = KBA604_TR_NOOP(
      "Messages",
      "ВНИМАНИЕ: Данная операция приведет к переключению прибора на новые сетевые параметры. "
      "Это может привести к потере связи с прибором. Проверьте параметры связи:");
  static constexpr std::string_view kNewParametersLabel =
      KBA604_TR_NOOP("Messages", "Новые параметры:");
  static constexpr std::string_view kHint =
      KBA604_TR_NOOP("Messages", "Параметры можно посмотреть в дереве №26\n\"Мастер Сети\"");
  static constexpr std::string_view kChangeProgramOption =
      KBA604_TR_NOOP("Messages", "Поменять сразу сетевые настройки программы");
  static constexpr std::string_view kBroadcastOption =
      KBA604_TR_NOOP("Messages", "Поcлать широковещательную команду APLY");
  static constexpr std::string_view kThreeTimesOption =
      KBA604_TR_NOOP("Messages", "Поcлать посылку трижды (для надежности)");
  static constexpr std::string_view kErrorCaption =
      KBA604_TR_NOOP("Messages", "Имела место ошибка");
  static constexpr std::string_view kNoDeviceText = KBA604_TR_NOOP(
      "Messages",
      "Нет данных - контекст устройства не получен диалогом APLY\n\nВнутренняя ошибка программы");
  static constexpr std::string_view kNoElementText = KBA604_TR_NOOP(
      "Messages",
      "Нет данных - элемент 'Сетевые параметры прибора' не инициализирован\n\nВнутренняя ошибка "
      "программы");
  // The pause before and after each repeated broadcast.
  static constexpr int kBroadcastPauseMs = 100;

  // device and instrument (the instrument's network element) may be none: the dialog then
  // shows its internal error and OK does nothing.
  CApply(Device* device, const Elements::NetRS485* instrument)
      : device_(device), instrument_(instrument) {}

  // The text under "Новые параметры:": the instrument's new settings, one line each, or the
  // internal error.
  std::string parameters_text() const;
  // Whether OK can do anything (a device and the instrument's element are there).
  bool ready() const { return device_ != nullptr && instrument_ != nullptr; }

  // The options as the engineer leaves them. "Поcлать посылку трижды" is ticked and cannot be
  // changed (three_times_enabled).
  bool change_program_settings = true;
  bool broadcast = false;
  bool three_times = true;
  static constexpr bool three_times_enabled() { return false; }

  // OK: sends "APLY" at the program's current settings; with change_program_settings copies
  // the instrument's six settings that have a value into the program's, reopens the port (with
  // its failure message) and checks silently who answers there; with broadcast sends "APLY" to
  // the broadcast address once more (three times with three_times), each time between pauses
  // of 100 ms; finally shows the check's error text, if any, under "Имела место ошибка". False
  // when the dialog is not ready.
  bool OnOK();

  // The error text the device check left (empty when it found the instrument, or did not run).
  const std::string& check_errors() const { return check_errors_; }

 private:
  Device* device_;
  const Elements::NetRS485* instrument_;
  std::string check_errors_;
};

}  // namespace Dialogs

inline constexpr std::string_view kPrtlCaption =
    KBA604_TR_NOOP("Messages", "Перевод прибора на новый протокол обмена");

// "Послать команду PRTL": asks, with the protocol the instrument is to speak (the value text of
// its "Prot" parameter, prot; none reads as "Нет данных"), whether to switch it; on Yes writes
// "PRTL" and returns the write's result. Nothing when the engineer said No (the safe answer, the
// one a program with command-line switches takes).
std::optional<int> send_prtl(Device& device, const Parameter* prot);
// The two halves of send_prtl, for a front end that asks on its UI thread and writes off it:
// the question with the protocol's text, and the write of "PRTL" (its result).
std::string prtl_question(const std::string& protocol);
int write_prtl(Device& device);

}  // namespace kba604
