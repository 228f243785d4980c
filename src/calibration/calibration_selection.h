// The type-selection dialog's logic ("Создание юстировки"): the offered types, the sensor and
// input lists filled from the instrument's current sensor type, the access codes with the count of
// wrong entries, and the writing of the chosen sensor type into "in-t" before the steps begin.
//
// Threads as for the steps (calibration_steps.h): choose_type, choose_input and press_continue
// exchange with the instrument and run off the UI thread, one at a time; view() may be read from
// any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/prompter.h"
#include "calibration/calibration_link.h"
#include "calibration/calibration_steps.h"

namespace kba604::calibration {

// Wrong access codes entered in a row. One count serves the whole run of the program; a right
// code returns it to zero.
class WrongCodeCount {
 public:
  static constexpr int kLimit = 4;
  // Counts a wrong code; true when it was the fourth in a row (the count is then zero again).
  bool count_wrong();
  void reset() { count_.store(0); }
  int value() const { return count_.load(); }

 private:
  std::atomic<int> count_{0};
};

// The count of this run of the program.
WrongCodeCount& program_wrong_code_count();

struct SelectionView {
  std::vector<int> types;  // the type list: 0 (the placeholder), then the offered types
  int type = 0;            // the chosen type, 0 for the placeholder
  std::string description;
  bool sensors_shown = false;
  std::vector<std::string> sensors;
  int sensor = -1;  // chosen entry, -1 for none
  bool inputs_shown = false;
  std::vector<std::string> inputs;
  int input = -1;
  bool code_shown = false;
};

enum class SelectionEnd { Open, Continued, Cancelled };

class CalibrationSelection : public ListenedState {
 public:
  CalibrationSelection(CalibrationLink& link, Prompter& prompter, WrongCodeCount& wrong_codes,
                       int access_level, int modification);

  // A type of the list (0: the placeholder). Fills the sensor list from the instrument.
  void choose_type(int type);
  // Type 4: an input 0..7; the sensor list follows that input's sensor type.
  void choose_input(int input);
  // An entry of the sensor list, -1 for none. Exchanges nothing: any thread may call it.
  void choose_sensor(int position);
  // "Продолжить" with the typed access code.
  void press_continue(std::string_view code_text);
  void press_cancel();

  SelectionView view() const;
  SelectionEnd end() const;
  // What the step dialog is started with, once the selection closed with "Продолжить".
  StepsStart steps_start() const;

 private:
  // Fills the sensor list from the current sensor type; false when the dialog was cancelled.
  bool fill_sensors();
  void close(SelectionEnd end);

  CalibrationLink& link_;
  Prompter& prompter_;
  WrongCodeCount& wrong_codes_;

  SelectionView view_;
  SelectionEnd end_ = SelectionEnd::Open;
  StepsStart start_;
};

}  // namespace kba604::calibration
