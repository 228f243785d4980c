// The calibration wizard's two dialogs: the type selection "Создание юстировки" and the step
// dialog "Продолжение юстировки". Both show the state of their UI-free object and forward the
// buttons to it; every exchange and wait runs on the wizard's task queue, so the window stays
// responsive and "Отмена" always ends a wait.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

#include "app/prompter.h"
#include "calibration/calibration_link.h"
#include "calibration/calibration_selection.h"
#include "calibration/calibration_steps.h"
#include "calibration/calibration_tasks.h"
#include "calibration/calibration_wizard.h"
#include "platform/clock.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kba604 {

class Device;

namespace Dialogs {

// What both dialogs need: the link to the instrument, the prompter of the UI thread, the clock of
// the waits and the queue that runs the exchanges. All outlive the dialogs.
struct CalibrationContext {
  calibration::CalibrationLink& link;
  Prompter& prompter;
  platform::Clock& clock;
  calibration::TaskQueue& queue;
};

// The objects a dialog shares with the jobs it posted: they live until the last job is done.
template <typename Logic>
struct CalibrationSession;

class CCalibrate final : public QDialog {
  Q_OBJECT

 public:
  CCalibrate(const CalibrationContext& context, calibration::WrongCodeCount& wrong_codes,
             int access_level, int modification, QWidget* parent = nullptr);
  ~CCalibrate() override;

  // Once closed with "Продолжить": what the step dialog starts with.
  calibration::StepsStart steps_start() const;
  // Whether a job of this dialog is still waiting or running.
  bool busy() const;

  QComboBox* type_list() const { return types_; }
  QComboBox* sensor_list() const { return sensors_; }
  QComboBox* input_list() const { return inputs_; }
  QLineEdit* code_field() const { return code_; }
  QPushButton* continue_button() const { return continue_; }
  QPushButton* cancel_button() const { return cancel_; }

 public slots:
  void reject() override;

 private:
  void post(std::function<void(calibration::CalibrationSelection&)> job);
  void refresh();

  CalibrationContext context_;
  std::shared_ptr<CalibrationSession<calibration::CalibrationSelection>> session_;
  std::uint64_t shown_revision_ = ~std::uint64_t{0};
  bool busy_shown_ = false;
  QTimer timer_;
  QComboBox* types_;
  QLabel* description_;
  QLabel* sensor_label_;
  QComboBox* sensors_;
  QLabel* input_label_;
  QComboBox* inputs_;
  QLabel* code_label_;
  QLineEdit* code_;
  QPushButton* continue_;
  QPushButton* cancel_;
};

class CCalibrate2 final : public QDialog {
  Q_OBJECT

 public:
  CCalibrate2(const CalibrationContext& context, calibration::StepsStart start,
              QWidget* parent = nullptr);
  // The dialog goes: a wait still running ends, and "CLB.A" is sent once more.
  ~CCalibrate2() override;

  // What the wizard does next, once the dialog has closed.
  calibration::FollowUp follow_up() const;
  bool busy() const;

  QPlainTextEdit* main_text() const { return text_; }
  QLineEdit* status_field() const { return status_; }
  QPushButton* continue_button() const { return continue_; }
  QPushButton* cancel_button() const { return cancel_; }

 public slots:
  // "Отмена", Esc and the window's close button: the wait in progress ends, "CLB.A" is sent
  // and the dialog closes once it has been.
  void reject() override;

 private:
  void post(std::function<void(calibration::CalibrationSteps&)> job);
  void refresh();

  CalibrationContext context_;
  std::shared_ptr<CalibrationSession<calibration::CalibrationSteps>> session_;
  std::uint64_t shown_revision_ = ~std::uint64_t{0};
  bool busy_shown_ = false;
  bool cancelling_ = false;
  QTimer timer_;
  QPlainTextEdit* text_;
  QLineEdit* status_;
  QPushButton* continue_;
  QPushButton* cancel_;
};

// Runs the wizard with the real dialogs, each modal over parent.
class QtCalibrationDialogs final : public calibration::WizardDialogs {
 public:
  QtCalibrationDialogs(const CalibrationContext& context, calibration::WrongCodeCount& wrong_codes,
                       int access_level, int modification, QWidget* parent);
  calibration::SelectionEnd run_selection(calibration::StepsStart& start) override;
  calibration::FollowUp run_steps(const calibration::StepsStart& start) override;

 private:
  CalibrationContext context_;
  calibration::WrongCodeCount& wrong_codes_;
  int access_level_;
  int modification_;
  QWidget* parent_;
};

// The menu command "Юстировка входов...": the whole wizard over the device, its questions
// through prompter, its waits timed by clock. Returns after the last "CLB.A" has been sent,
// keeping the window alive meanwhile. True when a type selection closed with "Продолжить".
bool run_calibration_wizard(Device& device, Prompter& prompter, int access_level, int modification,
                            QWidget* parent, platform::Clock& clock = platform::Clock::real());

}  // namespace Dialogs
}  // namespace kba604
