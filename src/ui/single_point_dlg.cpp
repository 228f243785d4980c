#include "ui/single_point_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/translation.h"

namespace kba604::Dialogs {
namespace {

std::string s(const QString& text) {
  return text.toStdString();
}

}  // namespace

CSinglePoint::CSinglePoint(std::shared_ptr<DirectExchange> link, ParameterTable& table,
                           Prompter& prompter, TreeFinder find_in_tree, QWidget* parent)
    : QDialog(parent),
      link_(std::move(link)),
      table_(table),
      prompter_(prompter),
      find_in_tree_(std::move(find_in_tree)),
      point_(table),
      relay_(std::make_shared<ui::TaskRelay>(this)) {
  setWindowTitle(translate_message(kSinglePointCaption));
  setModal(true);

  name_ = new QComboBox(this);
  name_->setEditable(true);
  name_->setInsertPolicy(QComboBox::NoInsert);
  for (const std::string& n : point_.names()) name_->addItem(utf8_text(n));
  name_->setCurrentIndex(-1);
  name_->setEditText(QString());
  hash_ = new QLineEdit(this);
  hash_->setReadOnly(true);
  description_ = new QLabel(translate_message(kNoDescriptionText), this);

  auto* command = new QGridLayout;
  command->addWidget(new QLabel(tr("Определите команду:"), this), 0, 0);
  command->addWidget(name_, 0, 1);
  command->addWidget(new QLabel(tr("Хеш-код:"), this), 0, 2);
  command->addWidget(hash_, 0, 3);
  command->addWidget(description_, 1, 0, 1, 4);

  with_index_ = new QCheckBox(tr("Наличие лин-го индекса:"), this);
  from_ = new QLineEdit(QStringLiteral("0"), this);
  to_ = new QLineEdit(QStringLiteral("0"), this);
  for (QLineEdit* e : {from_, to_}) {
    e->setValidator(new QIntValidator(0, kMaxSinglePointIndex, e));
  }
  from_->setToolTip(
      tr("Начальный индекс параметра, а также индекс, используемый при поиске в дереве."));
  to_->setToolTip(tr("Конечный индекс параметра."));
  in_data_ = new QRadioButton(tr("Индекс в поле данных"), this);
  in_address_ = new QRadioButton(tr("Индекс в адресе (3 бит)"), this);
  in_data_->setChecked(true);
  auto* index = new QHBoxLayout;
  index->addWidget(with_index_);
  index->addWidget(new QLabel(tr("от"), this));
  index->addWidget(from_);
  index->addWidget(new QLabel(tr("до"), this));
  index->addWidget(to_);
  auto* index_place = new QVBoxLayout;
  index_place->addWidget(in_data_);
  index_place->addWidget(in_address_);
  index->addLayout(index_place);

  auto* operation = new QGroupBox(tr("Операция:"), this);
  read_ = new QRadioButton(tr("Чтение"), operation);
  write_ = new QRadioButton(tr("Запись"), operation);
  read_->setChecked(true);
  auto* operation_layout = new QHBoxLayout(operation);
  operation_layout->addWidget(read_);
  operation_layout->addWidget(write_);
  what_ = new QComboBox(this);
  what_->setEditable(true);
  what_->setInsertPolicy(QComboBox::NoInsert);
  auto* what = new QHBoxLayout;
  what->addWidget(operation);
  what->addWidget(new QLabel(tr("Что записать:"), this));
  what->addWidget(what_, 1);

  protocol_ = new QListWidget(this);
  protocol_->setMinimumSize(520, 220);

  execute_ = new QPushButton(tr("Выполнить!"), this);
  find_ = new QPushButton(tr("Найти и показать этот параметр в \"дереве\""), this);
  exit_ = new QPushButton(tr("Выход"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(execute_);
  buttons->addWidget(find_);
  buttons->addStretch(1);
  buttons->addWidget(exit_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(command);
  layout->addLayout(index);
  layout->addLayout(what);
  layout->addWidget(new QLabel(tr("Протокол обмена данными с прибором:"), this));
  layout->addWidget(protocol_, 1);
  layout->addLayout(buttons);

  connect(name_, &QComboBox::currentTextChanged, this, &CSinglePoint::name_changed);
  connect(execute_, &QPushButton::clicked, this, &CSinglePoint::execute);
  connect(find_, &QPushButton::clicked, this, &CSinglePoint::find_in_tree);
  connect(exit_, &QPushButton::clicked, this, &CSinglePoint::reject);
}

CSinglePoint::~CSinglePoint() {
  stop_->store(true);
  relay_->close();
  task_.join(platform::Thread::kDefaultJoinMs);
}

void CSinglePoint::name_changed(const QString& name) {
  if (name.isEmpty()) {
    hash_->clear();
    description_->setText(translate_message(kNoDescriptionText));
    what_->clear();
    return;
  }
  const SinglePointChoice choice = point_.choose(s(name));
  hash_->setText(utf8_text(choice.hash));
  description_->setText(utf8_text(choice.description));
  what_->clear();
  for (const std::string& item : choice.write_choices) what_->addItem(utf8_text(item));
}

void CSinglePoint::execute() {
  if (busy_ || closing_) return;
  SinglePointRequest request;
  request.name = s(name_->currentText().trimmed());
  request.with_index = with_index_->isChecked();
  request.from = from_->text().toInt();
  request.to = to_->text().toInt();
  request.index_in_address = in_address_->isChecked();
  request.write = write_->isChecked();
  request.what = s(what_->currentText());

  busy_ = true;
  execute_->setEnabled(false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  stop_->store(false);
  // The task holds what it uses; the table lives as long as the document.
  task_.start(
      [link = link_, relay = relay_, stop = stop_, point = point_, request, this]() mutable {
        SinglePointOutcome outcome = point.execute(*link, request, stop.get());
        relay->post([this, outcome = std::move(outcome)] { finished(outcome); });
      });
}

void CSinglePoint::finished(const SinglePointOutcome& outcome) {
  task_.join(platform::Thread::kDefaultJoinMs);
  busy_ = false;
  QApplication::restoreOverrideCursor();
  execute_->setEnabled(true);
  if (closing_) {
    QDialog::reject();
    return;
  }
  if (!outcome.found) {
    prompter_.show(outcome.message, outcome.caption, PromptIcon::Warning);
    emit executed();
    return;
  }
  for (const std::string& line : outcome.lines) protocol_->addItem(utf8_text(line));
  protocol_->scrollToBottom();
  emit executed();
}

void CSinglePoint::find_in_tree() {
  const bool with_index = with_index_->isChecked();
  const bool in_address = in_address_->isChecked();
  const int index = from_->text().toInt();
  Parameter* p = point_.find(s(name_->currentText().trimmed()), with_index, index, in_address);
  // An index the table does not have finds nothing, rather than the row of another index.
  if (p != nullptr && with_index &&
      !(in_address ? !p->indexed && p->address_offset == index
                   : p->indexed && p->linear_index == index)) {
    p = nullptr;
  }
  if (p == nullptr || !find_in_tree_ || !find_in_tree_(*p)) {
    prompter_.show(kNotInTreeText, kNotInTreeCaption, PromptIcon::Information);
  }
}

void CSinglePoint::reject() {
  if (!busy_) {
    QDialog::reject();
    return;
  }
  closing_ = true;
  stop_->store(true);
  exit_->setEnabled(false);
}

}  // namespace kba604::Dialogs
