#include "ui/regul_dlg.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/translation.h"

namespace kba604::Dialogs {
namespace {

// The columns and their shares of the table's width, in eighths.
struct Column {
  const char* caption;
  int eighths;
};
constexpr Column kColumns[] = {{QT_TRANSLATE_NOOP("kba604::Dialogs::CRegulDlg", "№ объекта"), 1},
                               {QT_TRANSLATE_NOOP("kba604::Dialogs::CRegulDlg", "Описание"), 3},
                               {QT_TRANSLATE_NOOP("kba604::Dialogs::CRegulDlg", "Параметр"), 2},
                               {QT_TRANSLATE_NOOP("kba604::Dialogs::CRegulDlg", "Значение"), 2}};
constexpr int kTableWidth = 480;

}  // namespace

CRegulDlg::CRegulDlg(std::unique_ptr<RegulationControl> control, Prompter& prompter,
                     QWidget* parent)
    : QDialog(parent),
      control_(std::move(control)),
      prompter_(prompter),
      relay_(std::make_shared<ui::TaskRelay>(this)) {
  setWindowTitle(translate_message(kRegulationCaption));
  setModal(true);

  table_ = new QTableWidget(0, 4, this);
  QStringList captions;
  for (const Column& c : kColumns) captions << tr(c.caption);
  table_->setHorizontalHeaderLabels(captions);
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setMinimumWidth(kTableWidth + 4);
  for (int i = 0; i < 4; ++i) table_->setColumnWidth(i, kTableWidth * kColumns[i].eighths / 8);
  for (const RegulationRow& row : control_->rows()) {
    const int r = table_->rowCount();
    table_->insertRow(r);
    const std::string cells[] = {row.object, row.title, row.name, row.value};
    for (int c = 0; c < 4; ++c) table_->setItem(r, c, new QTableWidgetItem(utf8_text(cells[c])));
  }
  if (table_->rowCount() > 0) table_->selectRow(0);

  network_start_ = new QComboBox(this);
  for (const std::string& choice : control_->network_start_choices()) {
    network_start_->addItem(utf8_text(choice));
  }
  // Enabled once the instrument's value is known.
  network_start_->setEnabled(false);
  auto* permission = new QHBoxLayout;
  permission->addWidget(new QLabel(tr("Запуск по сети:"), this));
  permission->addWidget(network_start_, 1);

  start_ = new QPushButton(tr("Запустить"), this);
  stop_ = new QPushButton(tr("Остановить"), this);
  cancel_ = new QPushButton(tr("Отмена"), this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addStretch(1);
  buttons->addWidget(cancel_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_);
  layout->addLayout(permission);
  layout->addLayout(buttons);

  connect(start_, &QPushButton::clicked, this,
          [this] { control_->start_regulation(selected_rows()); });
  connect(stop_, &QPushButton::clicked, this,
          [this] { control_->stop_regulation(selected_rows()); });
  connect(cancel_, &QPushButton::clicked, this, &CRegulDlg::reject);
  connect(network_start_, &QComboBox::activated, this,
          [this](int index) { control_->choose_network_start(index); });

  std::shared_ptr<ui::TaskRelay> relay = relay_;
  RegulationControl::Events events;
  events.network_start_read = [this, relay](int choice) {
    relay->post([this, choice] {
      network_start_->setCurrentIndex(choice);
      network_start_->setEnabled(network_start_->count() > 0);
    });
  };
  events.polled = [this, relay](const RegulationPoll& poll) {
    relay->post([this, poll] { show_poll(poll); });
  };
  events.ended = [this, relay] { relay->post([this] { worker_ended(); }); };
  control_->start(std::move(events));
}

CRegulDlg::~CRegulDlg() {
  relay_->close();
  control_.reset();
}

int CRegulDlg::run(std::shared_ptr<DirectExchange> link, ParameterTable& table, Prompter& prompter,
                   QWidget* parent) {
  std::string error;
  std::unique_ptr<RegulationControl> control =
      RegulationControl::create(std::move(link), table, &error);
  if (!control) {
    prompter.show(error, "", PromptIcon::Error);
    return QDialog::Rejected;
  }
  CRegulDlg dialog(std::move(control), prompter, parent);
  return dialog.exec();
}

std::vector<int> CRegulDlg::selected_rows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
    rows.push_back(index.row());
  }
  return rows;
}

void CRegulDlg::show_poll(const RegulationPoll& poll) {
  if (QTableWidgetItem* cell = table_->item(poll.row, 3)) cell->setText(utf8_text(poll.value));
  if (!poll.message.empty()) prompter_.show(poll.message, "", PromptIcon::Warning);
  control_->next_poll();
}

void CRegulDlg::worker_ended() {
  ended_ = true;
  if (closing_) QDialog::reject();
}

void CRegulDlg::reject() {
  if (ended_) {
    QDialog::reject();
    return;
  }
  if (closing_) return;
  closing_ = true;
  start_->setEnabled(false);
  stop_->setEnabled(false);
  network_start_->setEnabled(false);
  cancel_->setEnabled(false);
  if (control_->cancel()) QDialog::reject();
}

}  // namespace kba604::Dialogs
