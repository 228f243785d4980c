#include "ui/traffic_monitor.h"
#include "ui/translation.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/sio.h"
#include "model/parameter_table.h"
#include "platform/atomic_file.h"

namespace kba604 {
TrafficMonitor::TrafficMonitor(Sio& sio, const ParameterTable& table, Prompter& prompter,
                               QWidget* parent)
    : QDockWidget(tr("Монитор обмена"), parent), sio_(sio), table_(table), prompter_(prompter) {
  setObjectName(QStringLiteral("trafficMonitor"));
  log_.set_names([this](std::uint16_t hash) {
    auto it = names_.find(hash);
    return it != names_.end() ? it->second : std::string();
  });

  auto* body = new QWidget(this);
  auto* layout = new QVBoxLayout(body);
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(tr("Параметр:"), body));
  name_filter_ = new QLineEdit(body);
  name_filter_->setPlaceholderText(tr("имя или хеш"));
  name_filter_->setClearButtonEnabled(true);
  bar->addWidget(name_filter_);
  failures_only_ = new QCheckBox(tr("Только сбои"), body);
  bar->addWidget(failures_only_);
  pause_ = new QPushButton(tr("Пауза"), body);
  pause_->setCheckable(true);
  bar->addWidget(pause_);
  auto* clear = new QPushButton(tr("Очистить"), body);
  bar->addWidget(clear);
  auto* save_text_button = new QPushButton(tr("Сохранить текст..."), body);
  bar->addWidget(save_text_button);
  auto* save_csv_button = new QPushButton(tr("Сохранить CSV..."), body);
  bar->addWidget(save_csv_button);
  bar->addStretch(1);
  counters_ = new QLabel(body);
  bar->addWidget(counters_);
  layout->addLayout(bar);
  view_ = new QPlainTextEdit(body);
  view_->setReadOnly(true);
  view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view_->setMaximumBlockCount(static_cast<int>(2 * kKeptTransfers + 100));
  layout->addWidget(view_);
  setWidget(body);

  connect(name_filter_, &QLineEdit::textChanged, this, [this] { filters_changed(); });
  connect(failures_only_, &QCheckBox::toggled, this, [this] { filters_changed(); });
  connect(pause_, &QPushButton::toggled, this, [this](bool on) {
    paused_ = on;
    pause_->setText(on ? tr("Продолжить") : tr("Пауза"));
    // What arrived during the pause is shown at once.
    if (!on) show_entries();
  });
  connect(clear, &QPushButton::clicked, this, [this] {
    entries_.clear();
    view_->clear();
    update_counters();
  });
  connect(save_text_button, &QPushButton::clicked, this, [this] { choose_file_and_save(false); });
  connect(save_csv_button, &QPushButton::clicked, this, [this] { choose_file_and_save(true); });
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, &TrafficMonitor::drain);
  update_counters();
}

TrafficMonitor::~TrafficMonitor() {
  detach();
}

void TrafficMonitor::showEvent(QShowEvent* event) {
  QDockWidget::showEvent(event);
  attach();
}

void TrafficMonitor::hideEvent(QHideEvent* event) {
  QDockWidget::hideEvent(event);
  detach();
}

void TrafficMonitor::attach() {
  if (tapping_) return;
  tapping_ = true;
  sio_.add_tap(tap_);
  timer_.start();
}

void TrafficMonitor::detach() {
  if (!tapping_) return;
  tapping_ = false;
  sio_.remove_tap(tap_.get());
  timer_.stop();
  // What the line recorded up to now is still shown.
  drain();
}

void TrafficMonitor::drain() {
  std::vector<TrafficRecord> records = tap_->take();
  if (records.empty()) return;
  // A description loaded anew brings another table: the names follow it.
  if (table_.begin() != names_of_ || table_.size() != names_size_) {
    names_ = traffic_names(table_);
    names_of_ = table_.begin();
    names_size_ = table_.size();
  }
  const TrafficFilter shown = filter();
  QStringList lines;
  for (TrafficRecord& r : records) {
    entries_.push_back(log_.add(std::move(r)));
    ++transfers_;
    if (entries_.size() > kKeptTransfers) entries_.pop_front();
    if (paused_ || !shown.matches(entries_.back())) continue;
    for (const std::string& line : traffic_lines(entries_.back())) lines << utf8_text(line);
  }
  if (!lines.isEmpty()) view_->appendPlainText(lines.join('\n'));
  update_counters();
}

TrafficFilter TrafficMonitor::filter() const {
  TrafficFilter f;
  f.name = name_filter_->text().trimmed().toStdString();
  f.failures_only = failures_only_->isChecked();
  return f;
}

void TrafficMonitor::filters_changed() {
  show_entries();
}

void TrafficMonitor::show_entries() {
  view_->setPlainText(shown_text());
  view_->moveCursor(QTextCursor::End);
}

void TrafficMonitor::update_counters() {
  counters_->setText(tr("Передач: %1, не показано (монитор не успевал): %2")
                         .arg(transfers_ + log_.dropped())
                         .arg(log_.dropped()));
}

QString TrafficMonitor::shown_text() const {
  const TrafficFilter shown = filter();
  QStringList lines;
  for (const TrafficEntry& e : entries_) {
    if (!shown.matches(e)) continue;
    for (const std::string& line : traffic_lines(e)) lines << utf8_text(line);
  }
  return lines.isEmpty() ? QString() : lines.join('\n') + '\n';
}

QString TrafficMonitor::shown_csv() const {
  const TrafficFilter shown = filter();
  QStringList rows{utf8_text(traffic_csv_header())};
  for (const TrafficEntry& e : entries_) {
    if (!shown.matches(e)) continue;
    for (const std::string& row : traffic_csv_rows(e)) rows << utf8_text(row);
  }
  return rows.join('\n') + '\n';
}

bool TrafficMonitor::save_text(const QString& path) {
  return save(path, shown_text());
}

bool TrafficMonitor::save_csv(const QString& path) {
  return save(path, shown_csv());
}

bool TrafficMonitor::save(const QString& path, const QString& content) {
  std::string error;
  const QByteArray bytes = content.toUtf8();
  if (platform::write_file_atomically(path.toStdString(),
                                      std::string_view(bytes.constData(), bytes.size()), &error)) {
    return true;
  }
  prompter_.show(
      tr("Не удалось записать файл \"%1\": %2").arg(path, utf8_text(error)).toStdString(), "",
      PromptIcon::Error);
  return false;
}

void TrafficMonitor::choose_file_and_save(bool csv) {
  const QString path = QFileDialog::getSaveFileName(
      this, tr("Сохранить обмен"), {}, csv ? tr("Таблицы CSV (*.csv)") : tr("Текст (*.txt)"));
  if (path.isEmpty()) return;
  if (csv) {
    save_csv(path);
  } else {
    save_text(path);
  }
}

}  // namespace kba604
