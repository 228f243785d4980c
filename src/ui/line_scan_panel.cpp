#include "ui/line_scan_panel.h"
#include "ui/translation.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPointer>
#include <QVBoxLayout>
#include <algorithm>

#include "link/net_rs485.h"
#include "platform/text.h"

namespace kba604 {
namespace {

constexpr int kStep = 8;

// The speed of the program's list a row's text names, or 0.
int number_of(const std::string& text) {
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || n > 10'000'000) return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

LineScanPanel::LineScanPanel(PreStart::CSetupCarrier& carrier, Prompter& prompter, QWidget* parent)
    : QGroupBox(tr("Поиск приборов на линии"), parent), carrier_(carrier), prompter_(prompter) {
  setObjectName(QStringLiteral("lineScanPanel"));

  first_ = new QSpinBox(this);
  last_ = new QSpinBox(this);
  for (QSpinBox* box : {first_, last_}) {
    box->setSingleStep(kStep);
    box->installEventFilter(this);
  }
  first_->setObjectName(QStringLiteral("firstAddress"));
  last_->setObjectName(QStringLiteral("lastAddress"));
  auto* addresses = new QHBoxLayout;
  addresses->addWidget(new QLabel(tr("Адреса с"), this));
  addresses->addWidget(first_);
  addresses->addWidget(new QLabel(tr("по"), this));
  addresses->addWidget(last_);
  addresses->addWidget(new QLabel(tr("с шагом 8"), this));
  addresses->addStretch(1);

  std::string unused;
  parse_scan_speeds("all", &speeds_, &unused);
  auto* speed_group = new QGroupBox(tr("Скорости"), this);
  auto* speed_grid = new QGridLayout(speed_group);
  for (std::size_t i = 0; i < speeds_.size(); ++i) {
    auto* box = new QCheckBox(QString::number(speeds_[i]), speed_group);
    speed_boxes_.push_back(box);
    speed_grid->addWidget(box, static_cast<int>(i % 3), static_cast<int>(i / 3));
  }
  all_speeds_ = new QPushButton(tr("Все скорости"), speed_group);
  speed_grid->addWidget(all_speeds_, 3, 0, 1, 3);
  connect(all_speeds_, &QPushButton::clicked, this, [this] {
    for (QCheckBox* box : speed_boxes_) box->setChecked(true);
  });

  formats_ = supported_line_formats();
  auto* format_group = new QGroupBox(tr("Формат символа"), this);
  auto* format_grid = new QGridLayout(format_group);
  for (std::size_t i = 0; i < formats_.size(); ++i) {
    auto* box = new QCheckBox(QString::fromStdString(character_format(formats_[i])), format_group);
    format_boxes_.push_back(box);
    format_grid->addWidget(box, static_cast<int>(i % 3), static_cast<int>(i / 3));
  }

  scan_ = new QPushButton(tr("Сканировать"), this);
  cancel_ = new QPushButton(tr("Остановить"), this);
  pick_ = new QPushButton(tr("Выбрать"), this);
  scan_->setObjectName(QStringLiteral("lineScanStart"));
  // The dialog's default button stays its own "Установить связь"; Enter here belongs to the
  // panel's fields (see eventFilter).
  for (QPushButton* b : {scan_, cancel_, pick_}) b->setAutoDefault(false);
  connect(scan_, &QPushButton::clicked, this, [this] { start_scan(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { cancel_scan(); });
  connect(pick_, &QPushButton::clicked, this, [this] { pick_row(found_table_->currentRow()); });

  progress_label_ = new QLabel(this);
  progress_label_->setObjectName(QStringLiteral("lineScanProgress"));
  progress_label_->setWordWrap(true);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 1);
  progress_->setFormat(tr("%v из %m"));
  progress_->setValue(0);

  found_table_ = new QTableWidget(0, 5, this);
  found_table_->setObjectName(QStringLiteral("foundInstruments"));
  found_table_->setHorizontalHeaderLabels(
      {tr("Адрес"), tr("Скорость"), tr("Формат"), tr("Модель"), tr("Версия")});
  found_table_->verticalHeader()->hide();
  found_table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  found_table_->setSelectionMode(QAbstractItemView::SingleSelection);
  found_table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  found_table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  found_table_->installEventFilter(this);
  connect(found_table_, &QTableWidget::cellDoubleClicked, this,
          [this](int row, int) { pick_row(row); });
  connect(found_table_, &QTableWidget::itemSelectionChanged, this,
          [this] { pick_->setEnabled(found_table_->currentRow() >= 0); });

  auto* choices = new QHBoxLayout;
  choices->addWidget(speed_group);
  choices->addWidget(format_group);
  auto* actions = new QHBoxLayout;
  actions->addWidget(scan_);
  actions->addWidget(cancel_);
  actions->addWidget(progress_, 1);
  actions->addWidget(pick_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(addresses);
  layout->addLayout(choices);
  layout->addLayout(actions);
  layout->addWidget(progress_label_);
  layout->addWidget(found_table_, 1);

  set_defaults();
  set_scanning(false);
}

LineScanPanel::~LineScanPanel() {
  stop_scan();
}

void LineScanPanel::set_defaults() {
  std::string speed, bits, parity, stops, length;
  for (const PreStart::CSetupCarrier::Row& row : carrier_.rows()) {
    if (platform::iequals(row.name, "bPS")) speed = row.value;
    if (platform::iequals(row.name, "LEn")) bits = row.value;
    if (platform::iequals(row.name, "PrtY")) parity = row.value;
    if (platform::iequals(row.name, "Sbit")) stops = row.value;
    if (platform::iequals(row.name, "A.Len")) length = row.value;
  }
  const int highest = LineScan::highest_address(number_of(length));
  for (QSpinBox* box : {first_, last_}) box->setRange(0, highest - highest % kStep);
  first_->setValue(0);
  last_->setValue(LineScan::highest_address(8) / kStep * kStep);

  const std::vector<int> ticked = neighbour_speeds(number_of(speed));
  for (std::size_t i = 0; i < speeds_.size(); ++i) {
    speed_boxes_[i]->setChecked(std::find(ticked.begin(), ticked.end(), speeds_[i]) !=
                                ticked.end());
  }
  const LineFormat own{number_of(bits), Elements::parity_code_of(parity), number_of(stops)};
  bool any = false;
  for (std::size_t i = 0; i < formats_.size(); ++i) {
    format_boxes_[i]->setChecked(formats_[i] == own);
    any = any || formats_[i] == own;
  }
  // Settings that are no format of the list (an unreadable value): the instrument's factory 8N1.
  if (!any && !format_boxes_.empty()) format_boxes_.front()->setChecked(true);
}

std::optional<ScanPlan> LineScanPanel::plan_from_widgets() {
  ScanPlan plan;
  for (std::size_t i = 0; i < speeds_.size(); ++i) {
    if (speed_boxes_[i]->isChecked()) plan.speeds.push_back(speeds_[i]);
  }
  for (std::size_t i = 0; i < formats_.size(); ++i) {
    if (format_boxes_[i]->isChecked()) plan.formats.push_back(formats_[i]);
  }
  // The addresses an instrument may have are multiples of 8: the range starts at one.
  const int first = (first_->value() + kStep - 1) / kStep * kStep;
  first_->setValue(first);
  plan.first_address = first_->value();
  plan.last_address = last_->value();
  plan.address_step = kStep;
  if (plan.speeds.empty()) {
    progress_label_->setText(tr("Не выбрано ни одной скорости."));
    return std::nullopt;
  }
  if (plan.formats.empty()) {
    progress_label_->setText(tr("Не выбрано ни одного формата символа."));
    return std::nullopt;
  }
  if (plan.first_address > plan.last_address) {
    progress_label_->setText(tr("Между адресами %1 и %2 нет адреса, кратного 8.")
                                 .arg(first_->value())
                                 .arg(last_->value()));
    return std::nullopt;
  }
  return plan;
}

bool LineScanPanel::start_scan() {
  if (scanning_) return false;
  const std::optional<ScanPlan> plan = plan_from_widgets();
  if (!plan) return false;
  if (!carrier_.begin_line_scan()) {
    progress_label_->setText(tr("Линия занята: дождитесь конца проверки связи."));
    return false;
  }
  if (thread_.joinable()) thread_.join();  // the last scan's thread, already at its end
  found_.clear();
  found_table_->setRowCount(0);
  cancelled_ = false;
  pending_pick_ = -1;
  probes_begun_.store(0);
  const int total = plan->probe_count();
  progress_->setRange(0, total);
  progress_->setValue(0);
  set_scanning(true);
  // What the scan tells goes over to this thread; the scan thread itself never outlives the
  // panel (stop_scan joins it).
  QPointer<LineScanPanel> self(this);
  thread_ = std::thread([this, self, plan = *plan, total] {
    auto on_ui = [this](auto f) {
      QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
    };
    std::vector<ScanRemark> remarks;
    ScanListener listener;
    listener.probe = [&](const ScanStep& step) {
      probes_begun_.store(step.number);
      on_ui([self, step, total] {
        if (self != nullptr) self->show_probe(step, total);
      });
    };
    listener.found = [&](const FoundInstrument& f) {
      on_ui([self, f] {
        if (self != nullptr) self->add_found(f);
      });
    };
    listener.remark = [&](const ScanRemark& r) { remarks.push_back(r); };
    carrier_.run_line_scan(plan, listener);
    on_ui([self, remarks = std::move(remarks)]() mutable {
      if (self != nullptr) self->scan_ended(std::move(remarks));
    });
  });
  return true;
}

bool LineScanPanel::cancel_scan() {
  if (!scanning_) return false;
  cancelled_ = true;
  carrier_.cancel_line_scan();
  progress_label_->setText(tr("Прерывание сканирования..."));
  return true;
}

void LineScanPanel::stop_scan() {
  if (scanning_) cancel_scan();
  if (thread_.joinable()) thread_.join();
}

void LineScanPanel::show_probe(const ScanStep& step, int total) {
  if (cancelled_) return;
  progress_->setValue(step.number - 1);
  progress_label_->setText(tr("Скорость %1, %2, адрес %3 (%4 из %5)")
                               .arg(step.baud_rate)
                               .arg(QString::fromStdString(character_format(step.format)))
                               .arg(step.address)
                               .arg(step.number)
                               .arg(total));
}

void LineScanPanel::add_found(const FoundInstrument& f) {
  found_.push_back(f);
  const int row = found_table_->rowCount();
  found_table_->insertRow(row);
  QString address = QString::number(f.address);
  if (f.address_length == 11) address += tr(" (11 бит)");
  const QString cells[] = {
      address,
      QString::number(f.baud_rate),
      QString::fromStdString(character_format(f.data_bits, f.parity_code, f.stop_bits)),
      utf8_text(f.model),
      f.version.empty() ? QStringLiteral("?") : utf8_text(f.version),
  };
  for (int column = 0; column < 5; ++column) {
    found_table_->setItem(row, column, new QTableWidgetItem(cells[column]));
  }
  // The first instrument found is ready to be picked with Enter.
  if (row == 0) found_table_->selectRow(0);
}

void LineScanPanel::scan_ended(std::vector<ScanRemark> remarks) {
  set_scanning(false);
  if (thread_.joinable()) thread_.join();
  QString text;
  if (cancelled_) {
    text = tr("Сканирование прервано. Найдено приборов: %1.").arg(found_.size());
  } else if (found_.empty()) {
    text = tr("Ни один прибор не ответил.");
  } else {
    text = tr("Сканирование завершено. Найдено приборов: %1.").arg(found_.size());
    progress_->setValue(progress_->maximum());
  }
  // What the probes heard besides answers (a port that did not open, replies that clashed).
  for (std::size_t i = 0; i < remarks.size() && i < 3; ++i) {
    const ScanRemark& r = remarks[i];
    text += QStringLiteral("\n") + QString::number(r.baud_rate) + tr(" бод");
    if (r.address >= 0) text += tr(", адрес ") + QString::number(r.address);
    text += QStringLiteral(": ") + utf8_text(r.text);
  }
  progress_label_->setText(text);
  const int pick = pending_pick_;
  pending_pick_ = -1;
  if (pick >= 0) apply_pick(pick);
}

void LineScanPanel::set_scanning(bool on) {
  const bool changed = scanning_ != on;
  scanning_ = on;
  scan_->setEnabled(!on);
  cancel_->setEnabled(on);
  pick_->setEnabled(found_table_->currentRow() >= 0);
  first_->setEnabled(!on);
  last_->setEnabled(!on);
  all_speeds_->setEnabled(!on);
  for (QCheckBox* box : speed_boxes_) box->setEnabled(!on);
  for (QCheckBox* box : format_boxes_) box->setEnabled(!on);
  if (changed) emit scanning_changed(on);
}

void LineScanPanel::pick_row(int row) {
  if (row < 0 || row >= static_cast<int>(found_.size())) return;
  if (scanning_) {
    // The line belongs to the scan until its probe ends; the pick follows.
    pending_pick_ = row;
    cancel_scan();
    return;
  }
  apply_pick(row);
}

void LineScanPanel::apply_pick(int row) {
  if (row < 0 || row >= static_cast<int>(found_.size())) return;
  const std::optional<BoxMessage> refusal =
      carrier_.OnPickFound(found_[static_cast<std::size_t>(row)]);
  if (refusal && !refusal->text.empty()) {
    prompter_.show(refusal->text, refusal->caption, refusal->icon);
  }
}

bool LineScanPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      // Enter picks the current instrument in the table and starts the scan from the address
      // fields, instead of pressing the dialog's default button.
      if (watched == found_table_) {
        pick_row(found_table_->currentRow());
        return true;
      }
      if (watched == first_ || watched == last_) {
        static_cast<QSpinBox*>(watched)->interpretText();
        start_scan();
        return true;
      }
    }
  }
  return QGroupBox::eventFilter(watched, event);
}

}  // namespace kba604
