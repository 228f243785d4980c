// The dialogs of the network settings, bound to the objects that hold their logic:
//  - ApplyDialog, "Перевод прибора на новый режим работы" (Dialogs::CApply): the warning, the
//    instrument's new settings and the three options; OK leaves the options in the object,
//    which the caller then runs off the UI thread.
//  - SetupCarrierDialog, "Установка сетевых параметров программы" (PreStart::CSetupCarrier):
//    the program's port settings in a table, the five buttons and the status line; the search
//    runs on the carrier's own worker, the dialog only shows what it reports.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <functional>
#include <memory>

#include "app/prompter.h"
#include "operations/network_commands.h"
#include "operations/setup_carrier.h"
#include "platform/settings_store.h"
#include "ui/line_scan_panel.h"

namespace kba604 {

class ApplyDialog final : public QDialog {
  Q_OBJECT

 public:
  ApplyDialog(Dialogs::CApply& apply, QWidget* parent = nullptr);

  QCheckBox& change_program_box() { return *change_program_; }
  QCheckBox& broadcast_box() { return *broadcast_; }
  QCheckBox& three_times_box() { return *three_times_; }
  QLabel& parameters_label() { return *parameters_; }

  void accept() override;

 private:
  Dialogs::CApply& apply_;
  QCheckBox* change_program_;
  QCheckBox* broadcast_;
  QCheckBox* three_times_;
  QLabel* parameters_;
};

class SetupCarrierDialog final : public QDialog, public PreStart::SetupCarrierView {
  Q_OBJECT

 public:
  // port_hint: the device path behind a port name ("COM3" → "/dev/serial/by-id/…"), shown as
  // the hint of the port row's choices; may be empty.
  SetupCarrierDialog(Device& device, Prompter& prompter,
                     std::function<QString(const QString&)> port_hint = {},
                     QWidget* parent = nullptr);
  ~SetupCarrierDialog() override;

  // The table and the buttons, for the person (and for tests).
  QTableWidget& table() { return *table_; }
  QLabel& status() { return *status_; }
  bool status_is_error() const { return status_error_; }
  QPushButton& connect_button() { return *connect_; }
  QPushButton& scan_button() { return *scan_; }
  QPushButton& factory_button() { return *factory_; }
  QPushButton& offline_button() { return *offline_; }
  QPushButton& exit_button() { return *exit_; }
  // The choice widget of a row (a combo box for list values, a line edit otherwise).
  QWidget* row_editor(int row) const;
  // Takes a row's new value as the person would (the rules of the network settings apply).
  void edit_row(int row, const QString& text);
  // The result once the dialog has ended (1 connected or offline, 2 quit), else 0.
  int ended_with() const { return ended_with_; }
  // The scan for instruments over addresses, speeds and character formats.
  LineScanPanel& line_scan_panel() { return *line_scan_; }

  void reject() override;

 private:
  // PreStart::SetupCarrierView (any thread): handed over to the UI thread.
  void show_status(std::string_view text, bool error) override;
  void enable_table(bool enabled) override;
  void show_row(std::size_t row, std::string_view value) override;
  void end_dialog(int result) override;
  void post_command(PreStart::PendingCommand command) override;

  void fill_table();
  void set_row_text(int row, const QString& text);

  Device& device_;
  Prompter& prompter_;
  std::function<QString(const QString&)> port_hint_;
  std::unique_ptr<PreStart::CSetupCarrier> carrier_;
  QTableWidget* table_;
  QLabel* status_;
  bool status_error_ = false;
  QPushButton* connect_;
  QPushButton* scan_;
  QPushButton* factory_;
  QPushButton* offline_;
  QPushButton* exit_;
  LineScanPanel* line_scan_;
  int ended_with_ = 0;
  bool filling_ = false;
};

// The connection search of the window program: the dialog, shown modally while the start-up
// waits; true when the program goes on. settings: where the [Ports] names are mapped (the hint
// of the port row); may be none.
std::function<bool(Device&)> connection_search_dialog(Prompter& prompter,
                                                      const platform::SettingsStore* settings);

}  // namespace kba604
