// "Произвольный доступ к отдельным параметрам (Single Point)": any parameter read or written by
// name, with an index in the data or in the address, and the protocol of every exchange. The
// exchange runs on a task thread (operations/single_point.h); the dialog stays responsive and
// appends the lines when it has ended.
#pragma once

#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>

#include "app/prompter.h"
#include "operations/single_point.h"
#include "platform/thread.h"
#include "ui/task_relay.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace kba604::Dialogs {

class CSinglePoint : public QDialog {
  Q_OBJECT

 public:
  // Selects the parameter's row in the tree view; false when the tree shows no such row.
  using TreeFinder = std::function<bool(Parameter&)>;

  CSinglePoint(std::shared_ptr<DirectExchange> link, ParameterTable& table, Prompter& prompter,
               TreeFinder find_in_tree = {}, QWidget* parent = nullptr);
  ~CSinglePoint() override;

  QComboBox* name_box() const { return name_; }
  QLineEdit* hash_edit() const { return hash_; }
  QLabel* description_label() const { return description_; }
  QCheckBox* index_check() const { return with_index_; }
  QLineEdit* from_edit() const { return from_; }
  QLineEdit* to_edit() const { return to_; }
  QRadioButton* index_in_data() const { return in_data_; }
  QRadioButton* index_in_address() const { return in_address_; }
  QRadioButton* read_button() const { return read_; }
  QRadioButton* write_button() const { return write_; }
  QComboBox* what_box() const { return what_; }
  QListWidget* protocol() const { return protocol_; }
  QPushButton* execute_button() const { return execute_; }
  QPushButton* find_button() const { return find_; }
  QPushButton* exit_button() const { return exit_; }
  // Whether an exchange runs on the task thread.
  bool busy() const { return busy_; }

 signals:
  // An exchange has ended and its lines are in the protocol.
  void executed();

 public slots:
  // "Выполнить!"
  void execute();
  // "Найти и показать этот параметр в \"дереве\""
  void find_in_tree();
  // "Выход", Esc, the close box: an exchange in progress is finished first.
  void reject() override;

 private:
  void name_changed(const QString& name);
  void finished(const SinglePointOutcome& outcome);

  std::shared_ptr<DirectExchange> link_;
  ParameterTable& table_;
  Prompter& prompter_;
  TreeFinder find_in_tree_;
  SinglePoint point_;
  std::shared_ptr<ui::TaskRelay> relay_;
  std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
  platform::Thread task_;
  bool busy_ = false;
  bool closing_ = false;

  QComboBox* name_ = nullptr;
  QLineEdit* hash_ = nullptr;
  QLabel* description_ = nullptr;
  QCheckBox* with_index_ = nullptr;
  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  QRadioButton* in_data_ = nullptr;
  QRadioButton* in_address_ = nullptr;
  QRadioButton* read_ = nullptr;
  QRadioButton* write_ = nullptr;
  QComboBox* what_ = nullptr;
  QListWidget* protocol_ = nullptr;
  QPushButton* execute_ = nullptr;
  QPushButton* find_ = nullptr;
  QPushButton* exit_ = nullptr;
};

}  // namespace kba604::Dialogs
