// The step dialog's logic ("Продолжение юстировки"): the measurement ("CLB.I" and the polling with
// "CLB.S"), the coefficients ("CLB.T", "CLB.G"), their storing ("CLB.P") and the end ("CLB.A"),
// with every text the dialog shows. The dialog only shows the view and forwards its buttons.
//
// Threads. press_continue, press_cancel and dialog_gone exchange with the instrument and wait;
// the front end runs them off the UI thread (one at a time, in order) and reads view() from the
// UI thread. request_stop may be called from any thread: a wait in progress ends at once and the
// step returns, leaving the rest to the cancel that follows. The questions of a failed exchange
// go through the prompter on the thread that runs the step.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "app/prompter.h"
#include "calibration/calibration_link.h"
#include "calibration/listened_state.h"
#include "platform/clock.h"
#include "platform/event.h"

namespace kba604::calibration {

// What the type selection hands to the step dialog.
struct StepsStart {
  int type = 1;             // 1..4
  int input = 0;            // 0..7, type 4
  std::string instruction;  // type 1: the instruction of the chosen sensor's group
};

// What the step dialog shows.
struct StepView {
  std::string caption;
  std::string main_text;
  std::string status;
  bool continue_visible = true;
  bool continue_enabled = true;
};

enum class StepsEnd { Open, Continued, Cancelled };

// What the wizard does once the step dialog has closed.
enum class FollowUp {
  None,
  AskExit,  // type 4 stored: "Выйти из юстировки?" (No: a new type selection)
  OfferRepeat,  // a faulty coefficient: "повторить юстировку?" (Yes: the same steps anew)
  RestartSelection,  // the store failed four times and the engineer asked to calibrate again
};

class CalibrationSteps : public ListenedState {
 public:
  static constexpr int kPollLimit = 12;
  static constexpr int kPollWaitMs = 1000;
  static constexpr int kCoefficientWaitMs = 500;
  static constexpr int kStoreAttempts = 4;

  // link, prompter and clock must outlive the steps; the clock times the waits.
  CalibrationSteps(CalibrationLink& link, Prompter& prompter, platform::Clock& clock,
                   StepsStart start);

  // The buttons. Nothing happens once the dialog has closed, nor for a Continue that is
  // hidden or disabled.
  void press_continue();
  void press_cancel();
  // The dialog has gone, however it closed: "CLB.A" once more (only the first call sends it).
  void dialog_gone();
  // Ends a wait in progress at once; the running step returns. Any thread.
  void request_stop();

  StepView view() const;
  StepsEnd end() const;
  FollowUp follow_up() const;
  int step() const;
  int valve_position() const;
  const StepsStart& start() const { return start_; }
  // The words for the process flags of the last reply that carried them (not shown).
  std::string flags_text() const;

 private:
  enum class Outcome { Done, Stopped, Cancelled };
  struct Reply {
    std::uint8_t flags = 0;
    std::uint8_t status = 0;
  };

  void measure();
  void coefficients();
  void store();
  void finish(FollowUp follow_up);
  void abort_and_close(StepsEnd end, FollowUp follow_up = FollowUp::None);

  // An exchange with the error box and the repeat question of a failed exchange: Done with the
  // reply, Cancelled when the engineer chose not to repeat (the dialog is then closed after
  // "CLB.A"), Stopped when a stop was requested.
  Outcome exchange_with_retry(std::string_view name, int request_bit, const Bytes& data,
                              std::string_view context, std::string_view question_caption,
                              Exchange& out);
  Outcome read_coefficient(int number, std::string_view context, bool& has_value, float& value);
  // Takes the flags and status code of a reply; false when the reply is too short to carry them.
  bool decode(const Bytes& data, std::size_t at);
  bool wait(int ms);  // false when a stop ended the wait
  void abort_command();
  bool stopping() const { return stop_.is_set(); }

  CalibrationLink& link_;
  Prompter& prompter_;
  platform::Clock& clock_;
  const StepsStart start_;
  platform::Event stop_{platform::Event::Reset::Manual, false};

  StepView view_;
  StepsEnd end_ = StepsEnd::Open;
  FollowUp follow_up_ = FollowUp::None;
  int step_ = 0;
  int position_ = 0;  // valve position of type 4: 0 closed, 1 open
  std::string flags_text_;

  // Used only by the thread that runs the steps.
  std::string error_text_;
  bool status_error_ = false;
  std::uint8_t status_ = 0;
  std::string status_message_;
  std::uint8_t flags_ = 0;
  bool gone_ = false;
  // The last coefficient reply: value present, the four value bytes, its first byte.
  bool value_present_ = false;
  std::uint8_t value_bytes_[4] = {};
  std::uint8_t first_byte_ = 0;
};

}  // namespace kba604::calibration
