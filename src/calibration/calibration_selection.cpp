#include "calibration/calibration_selection.h"

#include <utility>

#include "app/translatable.h"
#include "calibration/calibration_texts.h"
#include "model/value_format.h"

namespace kba604::calibration {
namespace {

constexpr int kInputCount = 8;

}  // namespace

bool WrongCodeCount::count_wrong() {
  if (count_.fetch_add(1) + 1 < kLimit) return false;
  count_.store(0);
  return true;
}

WrongCodeCount& program_wrong_code_count() {
  static WrongCodeCount count;
  return count;
}

CalibrationSelection::CalibrationSelection(CalibrationLink& link, Prompter& prompter,
                                           WrongCodeCount& wrong_codes, int access_level,
                                           int modification)
    : link_(link), prompter_(prompter), wrong_codes_(wrong_codes) {
  view_.types.push_back(0);
  for (int t : offered_types(access_level, modification)) view_.types.push_back(t);
}

SelectionView CalibrationSelection::view() const {
  return locked(view_);
}

SelectionEnd CalibrationSelection::end() const {
  return locked(end_);
}

StepsStart CalibrationSelection::steps_start() const {
  return locked(start_);
}

void CalibrationSelection::close(SelectionEnd end) {
  update([&] { end_ = end; });
}

void CalibrationSelection::choose_type(int type) {
  if (end() != SelectionEnd::Open) return;
  bool offered = false;
  for (int t : view().types) offered = offered || t == type;
  if (!offered) return;
  update([&] {
    view_.type = type;
    view_.description = type_description(type);
    view_.sensors_shown = type == 1 || type == 2 || type == 4;
    view_.inputs_shown = type == 4;
    view_.code_shown = type != 0;
    view_.sensors.clear();
    view_.sensor = -1;
    view_.inputs.clear();
    if (type != 4) view_.input = -1;
  });
  fill_sensors();
}

void CalibrationSelection::choose_input(int input) {
  if (end() != SelectionEnd::Open || view().type != 4) return;
  if (input < 0 || input >= kInputCount) return;
  update([&] { view_.input = input; });
  fill_sensors();
}

void CalibrationSelection::choose_sensor(int position) {
  update([&] {
    view_.sensor =
        position >= 0 && position < static_cast<int>(view_.sensors.size()) ? position : -1;
  });
}

bool CalibrationSelection::fill_sensors() {
  const SelectionView v = view();
  if (v.type != 1 && v.type != 2 && v.type != 4) return true;
  const int input = v.type == 4 && v.input >= 0 ? v.input : 0;

  int code = -1;
  for (bool again = false;; again = true) {
    // A repeat reads the instrument again: the table's value is what failed to match.
    SensorType current = link_.sensor_type(input, again);
    std::string error = current.error;
    if (current.ok) {
      code = find_item(current.items, current.value);
      if (code >= 0) break;
      error = "Странный ответ на \"in-t\": '" + current.value + "'\n";
    }
    if (!prompter_.confirm(error + "Для повтора предыдущей команды нажмите кнопку Да, или можете "
                                   "выйти из процесса юстировки.",
                           KBA604_TR_NOOP("Messages", "Проблема обмена с прибором"),
                           PromptIcon::Question)) {
      close(SelectionEnd::Cancelled);
      return false;
    }
  }

  update([&] {
    view_.sensors.clear();
    for (const SensorEntry& e : sensors_of_type(view_.type)) view_.sensors.emplace_back(e.text);
    if (view_.type == 4) {
      view_.inputs.clear();
      // "Вход №1" to "Вход №8".
      const std::string first = "Вход №1";
      for (int i = 1; i <= kInputCount; ++i) {
        view_.inputs.push_back(first.substr(0, first.size() - 1) + std::to_string(i));
      }
    }
    view_.sensor = sensor_position(view_.type, code);
  });
  return true;
}

void CalibrationSelection::press_continue(std::string_view code_text) {
  if (end() != SelectionEnd::Open) return;
  const SelectionView v = view();
  if (v.type == 0) {
    prompter_.show(
        KBA604_TR_NOOP("Messages", "Выбертие тип юстировки для прохода в следующее меню."),
        "Ошибка", PromptIcon::Error);
    return;
  }
  if (typed_code(code_text) != access_code(v.type)) {
    prompter_.show(KBA604_TR_NOOP("Messages", "Неправильно введен код доступа!"), "Ошибка",
                   PromptIcon::Error);
    if (wrong_codes_.count_wrong()) close(SelectionEnd::Cancelled);
    return;
  }
  wrong_codes_.reset();

  StepsStart start;
  start.type = v.type;
  int code = -1;
  std::span<const SensorEntry> sensors = sensors_of_type(v.type);
  if (v.type != 3) {
    if (v.sensor < 0 || v.sensor >= static_cast<int>(sensors.size())) return;
    if (v.type == 4 && v.input < 0) return;
    const SensorEntry& chosen = sensors[static_cast<std::size_t>(v.sensor)];
    code = chosen.code;
    if (v.type == 1) start.instruction = instruction_text(chosen.group);
    if (v.type == 4) start.input = v.input;
  }
  while (code >= 0) {
    std::string error = link_.write_sensor_type(start.input, code);
    if (error.empty()) break;
    if (!prompter_.confirm(error + "\nДля повтора предыдущей команды нажмите кнопку Да, или можете "
                                   "выйти из процесса юстирвки.",
                           KBA604_TR_NOOP("Messages", "Ошибка обмена с прибором (запись)"),
                           PromptIcon::Question)) {
      close(SelectionEnd::Cancelled);
      return;
    }
  }
  update([&] {
    start_ = start;
    end_ = SelectionEnd::Continued;
  });
}

void CalibrationSelection::press_cancel() {
  if (end() == SelectionEnd::Open) close(SelectionEnd::Cancelled);
}

}  // namespace kba604::calibration
