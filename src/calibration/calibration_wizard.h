// The calibration wizard as a whole: the type selection and the step dialog open each other
// (a new input after a valve is done, a new attempt after a faulty coefficient, a new selection
// after a failed store), each modal and finished before the next opens.
#pragma once

#include "app/prompter.h"
#include "calibration/calibration_selection.h"
#include "calibration/calibration_steps.h"

namespace kba604::calibration {

// How the front end runs the two dialogs.
class WizardDialogs {
 public:
  virtual ~WizardDialogs() = default;
  // Runs the type selection until it closes; on "Продолжить" fills start and returns Continued.
  virtual SelectionEnd run_selection(StepsStart& start) = 0;
  // Runs the step dialog until it has closed and gone; returns what the wizard does next.
  virtual FollowUp run_steps(const StepsStart& start) = 0;
};

// Runs the wizard to its end, asking the questions that follow a closed step dialog. True when
// a type selection closed with "Продолжить" (the configuration view is then refreshed).
bool run_wizard(WizardDialogs& dialogs, Prompter& prompter);

}  // namespace kba604::calibration
