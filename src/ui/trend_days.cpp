#include "ui/trend_days.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "files/kba604_doc.h"
#include "ui/main_window.h"
#include "ui/polling_binding.h"
#include "ui/task_relay.h"
#include "ui/trend_view.h"

namespace kba604 {

namespace {

// How long the window waits for a reading it gives up before leaving it to end alone.
constexpr int kStopWaitMs = 2000;

}  // namespace

CTrendDayDlg::CTrendDayDlg(std::vector<RecordedDay> days, QWidget* parent)
    : QDialog(parent), days_(std::move(days)) {
  setWindowTitle(tr("Открыть записанный день"));
  list_ = new QListWidget(this);
  for (const RecordedDay& d : days_) {
    QString text = QString::fromStdString(d.date_text());
    if (!d.on_disk && !d.archive.empty()) {
      text += "  " + tr("(архив %1)").arg(QString::fromStdString(d.archive.filename().string()));
    }
    list_->addItem(text);
  }
  if (!days_.empty()) list_->setCurrentRow(0);
  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("Отмена"), QDialogButtonBox::RejectRole);
  ok_->setEnabled(!days_.empty());
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(
      days_.empty() ? tr("Записанных дней нет.") : tr("Выберите день для показа на графике:"),
      this));
  layout->addWidget(list_, 1);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  resize(360, 420);
}

std::optional<RecordedDay> CTrendDayDlg::chosen() const {
  const int row = list_->currentRow();
  if (row < 0 || row >= static_cast<int>(days_.size())) return std::nullopt;
  return days_[static_cast<std::size_t>(row)];
}

TrendDays::TrendDays(Sources sources, QObject* parent)
    : QObject(parent), sources_(std::move(sources)) {
  chooser_ = [](const std::vector<RecordedDay>& days, QWidget* parent) {
    CTrendDayDlg dialog(days, parent);
    return dialog.exec() == QDialog::Accepted ? dialog.chosen() : std::nullopt;
  };
}

TrendDays::~TrendDays() {
  stop_reading();
}

void TrendDays::stop_reading() {
  if (cancel_) cancel_->store(true);
  if (relay_) relay_->close();
  // The worker holds only what it shares: one that is still unpacking is left to end alone.
  worker_.join(kStopWaitMs);
  reading_ = false;
}

void TrendDays::choose_day(QWidget* parent) {
  const std::vector<RecordedDay> days = recorded_days(sources_.protocol_dir);
  if (std::optional<RecordedDay> day = chooser_(days, parent)) open_day(*day);
}

void TrendDays::open_day(const RecordedDay& day) {
  stop_reading();
  const ParameterTable* table = sources_.table ? sources_.table() : nullptr;
  if (table == nullptr) return;
  // The formats are copied here, on the UI thread that owns the table.
  auto builder = std::make_shared<const DaySeriesBuilder>(*table);
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  relay_ = std::make_shared<ui::TaskRelay>(this);
  const unsigned generation = ++generation_;
  reading_ = true;

  TrendView& view = sources_.view();
  const QString date = QString::fromStdString(day.date_text());
  view.set_status(tr("Чтение записанных данных за %1...").arg(date));
  view.show();
  view.raise();

  worker_.start([builder, day, protocol = sources_.protocol_dir, temp = sources_.temp_dir,
                 cancel = cancel_, relay = relay_, generation, date, this] {
    auto progress = [relay, generation, date, this](int percent) {
      relay->post([this, generation, date, percent] {
        if (generation != generation_ || !reading_) return;
        sources_.view().set_status(
            tr("Чтение записанных данных за %1: %2 %").arg(date).arg(percent));
      });
    };
    auto set = std::make_shared<DaySeriesSet>(
        load_recorded_day(*builder, day, protocol, temp, cancel.get(), progress));
    relay->post([this, generation, day, set] { finished(generation, day, set); });
  });
}

void TrendDays::finished(unsigned generation, const RecordedDay& day,
                         std::shared_ptr<DaySeriesSet> set) {
  if (generation != generation_) return;
  worker_.join(kStopWaitMs);
  reading_ = false;
  TrendView& view = sources_.view();
  if (!set->error.empty() || set->cancelled) {
    // Nothing to show: the view stays as it was and says why.
    view.set_status(QString::fromStdString(set->problems()));
    emit day_read(false);
    return;
  }
  view.show_day(std::move(set), QString::fromStdString(day.date_text()));
  emit day_read(true);
}

TrendDays* wire_trend_days(MainWindow& window) {
  auto* polling = window.findChild<PollingBinding*>();
  if (polling == nullptr) return nullptr;
  CKBA604Doc& doc = window.document();
  TrendDays::Sources sources;
  sources.view = [polling]() -> TrendView& { return polling->trend_view(); };
  sources.table = [&doc]() -> const ParameterTable* { return &doc.table(); };
  sources.protocol_dir = doc.protocol_directory();
  sources.temp_dir = doc.temp_directory();
  auto* days = new TrendDays(std::move(sources), polling);
  QWidget* parent = &window;
  if (QMenu* menu = polling->trend_menu()) {
    QAction* action = menu->addAction(QObject::tr(kTrendDayCommandText));
    QObject::connect(action, &QAction::triggered, days,
                     [days, parent] { days->choose_day(parent); });
  }
  QObject::connect(polling, &PollingBinding::trend_view_made, days, [days](TrendView* view) {
    QObject::connect(view, &TrendView::open_day_requested, days,
                     [days, view] { days->choose_day(view); });
  });
  return days;
}

}  // namespace kba604
