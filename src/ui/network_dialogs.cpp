#include "ui/network_dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QVBoxLayout>

#include "model/value_format.h"
#include "operations/device.h"
#include "platform/port_names.h"
#include "ui/translation.h"

namespace kba604 {
// ---- "APLY" -------------------------------------------------------------------------------------

ApplyDialog::ApplyDialog(Dialogs::CApply& apply, QWidget* parent) : QDialog(parent), apply_(apply) {
  setObjectName(QStringLiteral("applyDialog"));
  setWindowTitle(translate_message(Dialogs::CApply::kTitle));
  auto* warning = new QLabel(translate_message(Dialogs::CApply::kWarning), this);
  warning->setWordWrap(true);
  auto* group = new QGroupBox(translate_message(Dialogs::CApply::kNewParametersLabel), this);
  parameters_ = new QLabel(QString::fromStdString(apply.parameters_text()), group);
  parameters_->setObjectName(QStringLiteral("parameters"));
  parameters_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* hint = new QLabel(translate_message(Dialogs::CApply::kHint), group);
  auto* inner = new QVBoxLayout(group);
  inner->addWidget(parameters_);
  inner->addWidget(hint);

  change_program_ = new QCheckBox(translate_message(Dialogs::CApply::kChangeProgramOption), this);
  change_program_->setChecked(apply.change_program_settings);
  broadcast_ = new QCheckBox(translate_message(Dialogs::CApply::kBroadcastOption), this);
  broadcast_->setChecked(apply.broadcast);
  three_times_ = new QCheckBox(translate_message(Dialogs::CApply::kThreeTimesOption), this);
  three_times_->setChecked(apply.three_times);
  three_times_->setEnabled(Dialogs::CApply::three_times_enabled());

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &ApplyDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &ApplyDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(warning);
  layout->addWidget(group);
  layout->addWidget(change_program_);
  layout->addWidget(broadcast_);
  layout->addWidget(three_times_);
  layout->addWidget(buttons);
}

void ApplyDialog::accept() {
  apply_.change_program_settings = change_program_->isChecked();
  apply_.broadcast = broadcast_->isChecked();
  apply_.three_times = three_times_->isChecked();
  QDialog::accept();
}

// ---- the connection search ----------------------------------------------------------------------

SetupCarrierDialog::SetupCarrierDialog(Device& device, Prompter& prompter,
                                       std::function<QString(const QString&)> port_hint,
                                       QWidget* parent)
    : QDialog(parent), device_(device), prompter_(prompter), port_hint_(std::move(port_hint)) {
  setObjectName(QStringLiteral("setupCarrierDialog"));
  setWindowTitle(translate_message(PreStart::kSetupCarrierTitle));
  carrier_ = std::make_unique<PreStart::CSetupCarrier>(device, *this);

  table_ = new QTableWidget(this);
  table_->setObjectName(QStringLiteral("settingsTable"));
  table_->setColumnCount(2);
  table_->setHorizontalHeaderLabels(
      {translate_message(PreStart::kPortColumn), translate_message(PreStart::kValueColumn)});
  table_->verticalHeader()->hide();
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setMinimumWidth(440);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  status_->setWordWrap(true);

  connect_ = new QPushButton(tr("Установить связь"), this);
  scan_ = new QPushButton(tr("Сканирование сети"), this);
  factory_ = new QPushButton(tr("Заводские сетевые параметры прибора"), this);
  offline_ = new QPushButton(tr("Работать offline"), this);
  exit_ = new QPushButton(tr("Выход"), this);
  connect_->setDefault(true);
  connect(connect_, &QPushButton::clicked, this, [this] { carrier_->OnConnect(); });
  connect(scan_, &QPushButton::clicked, this, [this] { carrier_->OnScan(); });
  connect(factory_, &QPushButton::clicked, this, [this] { carrier_->OnFactorySettings(); });
  connect(offline_, &QPushButton::clicked, this, [this] { carrier_->OnOffline(); });
  connect(exit_, &QPushButton::clicked, this, [this] { carrier_->OnExit(); });

  auto* buttons = new QVBoxLayout;
  for (QPushButton* b : {connect_, scan_, factory_, offline_, exit_}) buttons->addWidget(b);
  buttons->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(table_, 1);
  top->addLayout(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(status_);

  // The ports present now: an adapter plugged in since the last start is offered too.
  device.program_settings().refresh_port_list();
  carrier_->OnInitDialog();
  fill_table();
  line_scan_ = new LineScanPanel(*carrier_, prompter_, this);
  layout->addWidget(line_scan_, 1);
  // While the line scan has the line, the search of the buttons waits for it.
  connect(line_scan_, &LineScanPanel::scanning_changed, this, [this](bool scanning) {
    connect_->setEnabled(!scanning);
    scan_->setEnabled(!scanning);
  });
  connect(this, &QDialog::finished, line_scan_, [this] { line_scan_->cancel_scan(); });
  // The value column takes a quarter of the width, the captions the rest.
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
  table_->setColumnWidth(1, table_->minimumWidth() / 4 + 40);
  resize(720, 800);
}

SetupCarrierDialog::~SetupCarrierDialog() {
  // The scan thread and the worker use the carrier and this dialog as its view: they end
  // before either goes.
  line_scan_->stop_scan();
  carrier_->close();
}

void SetupCarrierDialog::fill_table() {
  filling_ = true;
  const std::vector<PreStart::CSetupCarrier::Row> rows = carrier_->rows();
  table_->setRowCount(static_cast<int>(rows.size()));
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    const PreStart::CSetupCarrier::Row& row = rows[static_cast<std::size_t>(i)];
    auto* caption = new QTableWidgetItem(QString::fromStdString(row.caption));
    caption->setFlags(Qt::ItemIsEnabled);
    table_->setItem(i, 0, caption);
    const Parameter* p = device_.program_settings().FindByName(row.name);
    if (p != nullptr && p->is_item_list()) {
      auto* combo = new QComboBox(table_);
      for (const std::string& item : p->parsed_format().items) {
        const QString text = QString::fromStdString(item);
        combo->addItem(text);
        // A port name shows the device behind it.
        if (row.name == "Port" && port_hint_) {
          combo->setItemData(combo->count() - 1, port_hint_(text), Qt::ToolTipRole);
        }
      }
      connect(combo, &QComboBox::activated, this,
              [this, i, combo](int) { edit_row(i, combo->currentText()); });
      table_->setCellWidget(i, 1, combo);
    } else {
      auto* edit = new QLineEdit(table_);
      edit->setFrame(false);
      connect(edit, &QLineEdit::editingFinished, this, [this, i, edit] {
        if (edit->isModified()) edit_row(i, edit->text());
        edit->setModified(false);
      });
      table_->setCellWidget(i, 1, edit);
    }
    set_row_text(i, QString::fromStdString(row.value));
  }
  filling_ = false;
}

QWidget* SetupCarrierDialog::row_editor(int row) const {
  return table_->cellWidget(row, 1);
}

void SetupCarrierDialog::edit_row(int row, const QString& text) {
  if (filling_) return;
  const std::optional<BoxMessage> refusal =
      carrier_->edit_row(static_cast<std::size_t>(row), text.toStdString());
  const std::vector<PreStart::CSetupCarrier::Row> rows = carrier_->rows();
  if (refusal && !refusal->text.empty()) {
    prompter_.show(refusal->text, refusal->caption, refusal->icon);
  }
  // The row shows what the element holds now: the new value, or the old one after a refusal.
  if (row >= 0 && static_cast<std::size_t>(row) < rows.size()) {
    set_row_text(row, QString::fromStdString(rows[static_cast<std::size_t>(row)].value));
  }
}

void SetupCarrierDialog::set_row_text(int row, const QString& text) {
  filling_ = true;
  if (auto* combo = qobject_cast<QComboBox*>(table_->cellWidget(row, 1))) {
    int i = combo->findText(text);
    if (i < 0) {
      combo->addItem(text);
      i = combo->count() - 1;
    }
    combo->setCurrentIndex(i);
  } else if (auto* edit = qobject_cast<QLineEdit*>(table_->cellWidget(row, 1))) {
    edit->setText(text);
  }
  filling_ = false;
}

void SetupCarrierDialog::reject() {
  // Escape stops a line scan first; otherwise it and the frame's close button mean "Выход".
  if (line_scan_->cancel_scan()) return;
  carrier_->OnExit();
}

void SetupCarrierDialog::show_status(std::string_view text, bool error) {
  const QString t = translate_message(text);
  QPointer<SetupCarrierDialog> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, t, error] {
        if (self == nullptr) return;
        self->status_->setText(t);
        self->status_error_ = error;
        self->status_->setStyleSheet(error ? QStringLiteral("QLabel { color: rgb(200, 0, 0); }")
                                           : QString());
      },
      Qt::QueuedConnection);
}

void SetupCarrierDialog::enable_table(bool enabled) {
  QPointer<SetupCarrierDialog> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, enabled] {
        if (self == nullptr) return;
        // The worker may have begun another check meanwhile: the carrier knows.
        const bool on = enabled && self->carrier_->table_enabled();
        self->table_->setEnabled(on);
        self->factory_->setEnabled(on);
      },
      Qt::QueuedConnection);
}

void SetupCarrierDialog::show_row(std::size_t row, std::string_view value) {
  const QString v = utf8_text(value);
  QPointer<SetupCarrierDialog> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, row, v] {
        if (self != nullptr) self->set_row_text(static_cast<int>(row), v);
      },
      Qt::QueuedConnection);
}

void SetupCarrierDialog::end_dialog(int result) {
  QPointer<SetupCarrierDialog> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, result] {
        if (self == nullptr) return;
        self->ended_with_ = result;
        self->done(result);
      },
      Qt::QueuedConnection);
}

void SetupCarrierDialog::post_command(PreStart::PendingCommand command) {
  QPointer<SetupCarrierDialog> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, command] {
        if (self != nullptr) self->carrier_->complete(command);
      },
      Qt::QueuedConnection);
}

std::function<bool(Device&)> connection_search_dialog(Prompter& prompter,
                                                      const platform::SettingsStore* settings) {
  return [&prompter, settings](Device& device) {
    std::function<QString(const QString&)> hint;
    if (settings != nullptr) {
      hint = [settings](const QString& port) {
        return QString::fromStdString(platform::port_device(*settings, port.toStdString()));
      };
    }
    SetupCarrierDialog dialog(device, prompter, hint);
    return dialog.exec() == PreStart::kResultConnected;
  };
}

}  // namespace kba604
