// "Запуск / Остановка регулирования": the regulation state of the instrument, start and stop
// over the network, and the permission to start over the network. The exchanges run on the
// control's worker thread (operations/regulation_control.h); the dialog shows what it reports.
#pragma once

#include <QDialog>
#include <memory>

#include "app/prompter.h"
#include "operations/regulation_control.h"
#include "ui/task_relay.h"

class QComboBox;
class QPushButton;
class QTableWidget;

namespace kba604::Dialogs {

class CRegulDlg : public QDialog {
  Q_OBJECT

 public:
  // The dialog for a control that was created (RegulationControl::create); prompter shows the
  // start and stop failures.
  CRegulDlg(std::unique_ptr<RegulationControl> control, Prompter& prompter,
            QWidget* parent = nullptr);
  ~CRegulDlg() override;

  // Opens the dialog modally; without "r.st" in the table shows "Не найден параметр \"r.st\"!"
  // instead and returns QDialog::Rejected.
  static int run(std::shared_ptr<DirectExchange> link, ParameterTable& table, Prompter& prompter,
                 QWidget* parent = nullptr);

  QTableWidget* table() const { return table_; }
  QComboBox* network_start() const { return network_start_; }
  QPushButton* start_button() const { return start_; }
  QPushButton* stop_button() const { return stop_; }
  QPushButton* cancel_button() const { return cancel_; }
  // Whether "Отмена" was pressed and the dialog waits for the worker to end.
  bool closing() const { return closing_; }

 public slots:
  // "Отмена", Esc and the window's close box: closes when the worker has ended.
  void reject() override;

 private:
  std::vector<int> selected_rows() const;
  void show_poll(const RegulationPoll& poll);
  void worker_ended();

  std::unique_ptr<RegulationControl> control_;
  Prompter& prompter_;
  std::shared_ptr<ui::TaskRelay> relay_;
  QTableWidget* table_ = nullptr;
  QComboBox* network_start_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool closing_ = false;
  bool ended_ = false;
};

}  // namespace kba604::Dialogs
