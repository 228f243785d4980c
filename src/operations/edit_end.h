// EditEnd: the rules that decide what happens when the engineer has typed a new text into a
// cell of a parameter row (the value, the short name column of a polled parameter, the
// attribute or the owner). The tree view calls it when an in-place edit ends and the control
// channel's "!set" calls it for a value sent by another program, so both follow the very same
// rules and show the very same messages through the prompter.
//
//   EditEnd rules(prompter, app.modes, &device);
//   rules.set_network_elements(&program_settings, doc.network_branch());
//   EditEnd::Outcome o = rules.end_edit(parameter, EditEnd::kValue, "12,5", old_text);
//   if (o.write_now) { /* off the UI thread: */ rules.write_now(parameter); ... }
//
// Threads: end_edit runs where the edit was made (the UI thread, or the control channel's
// thread with the same guarantees); write_now makes one exchange on the line and must not run
// on the UI thread.
#pragma once

#include <string>
#include <string_view>

#include "app/program_modes.h"
#include "app/prompter.h"
#include "app/translatable.h"
#include "model/object_with_parameters.h"
#include "operations/operation_hooks.h"
#include "operations/scanner.h"

namespace kba604 {

class DeviceOperations;

inline constexpr std::string_view kOnlyZeroText = KBA604_TR_NOOP(
    "Messages", "Для этого параметра Вы можете ввести только значение равное \"0\"!");
inline constexpr std::string_view kWriteFailedCaption =
    KBA604_TR_NOOP("Messages", "Значение не удалось записать в прибор");

class EditEnd {
 public:
  // The cells that can be edited (the columns of the tree view).
  static constexpr int kName = 1;  // the polling period of a polled parameter
  static constexpr int kValue = 2;
  static constexpr int kAttribute = 3;
  static constexpr int kOwner = 4;
  static constexpr int kMinPollingPeriodMs = 1000;

  struct Outcome {
    enum class Result {
      Unchanged,  // the text was the cell's text: nothing happened
      Refused,    // a rule refused the text; the message was shown, the parameter is as it was
      Taken,      // the parameter took the text
    };
    Result result = Result::Unchanged;
    // A polled parameter's value was taken: the caller writes it to the instrument at once
    // (write_now, off the UI thread) and reports a failure with report_write_failure.
    bool write_now = false;
    // One of the program's own port settings changed: the port is reopened with them.
    bool port_settings_changed = false;
    bool taken() const { return result == Result::Taken; }
  };

  // device may be none (no immediate writing, no writes at once).
  EditEnd(Prompter& prompter, const ProgramModes& modes, DeviceOperations* device)
      : prompter_(prompter), modes_(modes), device_(device) {}

  // The elements whose values are network settings: the program's own port settings and the
  // instrument's network branch; either may be none.
  void set_network_elements(const ObjectWithParameters* program_settings,
                            const ObjectWithParameters* instrument_network) {
    program_settings_ = program_settings;
    instrument_network_ = instrument_network;
  }
  // The program's own port settings do not change while operational parameters are polled.
  void set_polling_guard(const PollingGuard* guard) { polling_guard_ = guard; }
  // The scanner that polls the operational rows: a new period restarts an armed parameter's
  // polling with it. Without one the period is only stored.
  void set_scanner(Scanner* scanner) { scanner_ = scanner; }

  // The typed text as the rules see it: every "," becomes "."; for a "clk_frm" parameter a
  // text without ":" is a number of minutes and becomes "hh:mm".
  static std::string normalise(const Parameter& parameter, std::string_view typed);

  // Applies the rules of the edit's end to the cell column of the parameter, whose text was
  // previous before the edit. operational: the parameter is a row of the polled branch.
  Outcome end_edit(Parameter& parameter, int column, std::string_view typed,
                   std::string_view previous, bool operational);

  // Writes a polled parameter's value to the instrument at once; 0 when it was written.
  int write_now(Parameter& parameter);
  // The box of a failed write at once: the note under "Значение не удалось записать в прибор".
  void report_write_failure(const Parameter& parameter);

 private:
  bool network_refused(const Parameter& parameter, const std::string& text);

  Prompter& prompter_;
  const ProgramModes& modes_;
  DeviceOperations* device_;
  const ObjectWithParameters* program_settings_ = nullptr;
  const ObjectWithParameters* instrument_network_ = nullptr;
  const PollingGuard* polling_guard_ = nullptr;
  Scanner* scanner_ = nullptr;
};

}  // namespace kba604
