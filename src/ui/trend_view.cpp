#include "ui/trend_view.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "measurement/data_logger.h"
#include "platform/atomic_file.h"

namespace kba604 {
namespace {

// Points older than the longest window before the latest one are let go.
constexpr qint64 kKeptMs = 24LL * 3600 * 1000;

QString window_label(int seconds) {
  if (seconds < 3600) return QString("%1 мин").arg(seconds / 60);
  return QString("%1 ч").arg(seconds / 3600);
}

// The number a value text stands for: the whole text, a decimal comma taken as a point. Read
// the same way whatever the user's locale is (a Russian locale would want a comma).
std::optional<double> number_of(const std::string& text) {
  QString t = QString::fromStdString(text).trimmed();
  t.replace(',', '.');
  bool ok = false;
  const double v = t.toDouble(&ok);
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return v;
}

// The first point at or after ms in a line kept in time order.
template <typename Points>
auto first_at(const Points& points, qint64 ms) {
  return std::lower_bound(points.begin(), points.end(), ms,
                          [](const auto& p, qint64 t) { return p.ms < t; });
}

}  // namespace

const std::vector<int>& TrendView::window_choices() {
  static const std::vector<int> choices = {60, 300, 900, 1800, 3600, 10800, 21600, 43200, 86400};
  return choices;
}

TrendView::TrendView(QWidget* parent) : QWidget(parent) {
  chart_ = new QChart();
  chart_->legend()->setVisible(true);
  chart_->legend()->setAlignment(Qt::AlignBottom);
  time_axis_ = new QDateTimeAxis();
  time_axis_->setFormat("HH:mm:ss");
  time_axis_->setTitleText("Время");
  value_axis_ = new QValueAxis();
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  chart_->addAxis(value_axis_, Qt::AlignLeft);
  view_ = new QChartView(chart_, this);
  view_->setRenderHint(QPainter::Antialiasing);

  window_box_ = new QComboBox(this);
  for (int seconds : window_choices()) window_box_->addItem(window_label(seconds), seconds);
  window_box_->setCurrentIndex(1);
  pause_button_ = new QPushButton("Пауза", this);
  pause_button_->setCheckable(true);
  png_button_ = new QPushButton("Сохранить PNG...", this);
  csv_button_ = new QPushButton("Сохранить CSV...", this);

  auto* bar = new QHBoxLayout();
  bar->addWidget(new QLabel("Окно:", this));
  bar->addWidget(window_box_);
  bar->addWidget(pause_button_);
  bar->addStretch(1);
  bar->addWidget(png_button_);
  bar->addWidget(csv_button_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(view_, 1);

  connect(window_box_, &QComboBox::currentIndexChanged, this,
          [this](int index) { set_window_seconds(window_box_->itemData(index).toInt()); });
  connect(pause_button_, &QPushButton::toggled, this, [this](bool on) { set_paused(on); });
  connect(png_button_, &QPushButton::clicked, this, [this] {
    const QString path =
        QFileDialog::getSaveFileName(this, "Сохранить график", QString(), "PNG (*.png)");
    if (!path.isEmpty()) export_png(path);
  });
  connect(csv_button_, &QPushButton::clicked, this, [this] {
    const QString path =
        QFileDialog::getSaveFileName(this, "Сохранить данные графика", QString(), "CSV (*.csv)");
    if (!path.isEmpty()) export_csv(path);
  });
  // Many polls arrive together (every polled parameter of one period): the value axis is
  // fitted once after them.
  fit_timer_.setSingleShot(true);
  fit_timer_.setInterval(200);
  connect(&fit_timer_, &QTimer::timeout, this, [this] { fit_values(); });
  set_window_seconds(window_box_->currentData().toInt());
}

TrendView::~TrendView() = default;

void TrendView::add_snapshot(const PollSnapshot& poll) {
  const QString key = poll.address_offset != 0 ? QString::fromStdString(poll.short_name) + "@" +
                                                     QString::number(poll.address_offset)
                                               : QString::fromStdString(poll.short_name);
  const QDateTime time = QDateTime::fromMSecsSinceEpoch(poll.wall_ms);
  if (!poll.note.empty()) {
    add_point(key, time, std::nullopt);
    return;
  }
  const std::optional<double> value = number_of(poll.value);
  // A value that is no number: a gap in a line that had numbers, nothing otherwise.
  if (!value && lines_.find(key) == lines_.end()) return;
  add_point(key, time, value);
}

TrendView::Line& TrendView::line(const QString& key) {
  return lines_[key];
}

void TrendView::add_point(const QString& key, const QDateTime& time, std::optional<double> value) {
  const Point p{time.toMSecsSinceEpoch(), value};
  Line& l = line(key);
  const bool in_order = l.points.empty() || l.points.back().ms <= p.ms;
  l.points.push_back(p);
  latest_ms_ = std::max(latest_ms_, p.ms);
  if (in_order) {
    append_to_series(key, l, p);
  } else {
    std::stable_sort(l.points.begin(), l.points.end(),
                     [](const Point& a, const Point& b) { return a.ms < b.ms; });
    rebuild_series(key, l);
  }
  // Old points go in batches, so that a long run does not rebuild its lines at every poll.
  if (!l.points.empty() && l.points.front().ms < latest_ms_ - kKeptMs - 3600 * 1000) {
    const qint64 oldest = latest_ms_ - kKeptMs;
    l.points.erase(l.points.begin(),
                   std::find_if(l.points.begin(), l.points.end(),
                                [oldest](const Point& q) { return q.ms >= oldest; }));
    rebuild_series(key, l);
  }
  if (!paused_) follow_latest();
}

void TrendView::append_to_series(const QString& key, Line& l, const Point& p) {
  if (!p.value) return;
  const bool after_gap = l.points.size() >= 2 && !l.points[l.points.size() - 2].value;
  if (l.segments.empty() || after_gap) {
    auto* series = new QLineSeries();
    series->setName(key);
    chart_->addSeries(series);
    series->attachAxis(time_axis_);
    series->attachAxis(value_axis_);
    const QList<QLegendMarker*> markers = chart_->legend()->markers(series);
    if (l.segments.empty()) {
      for (QLegendMarker* m : markers) {
        connect(m, &QLegendMarker::clicked, this,
                [this, key] { set_line_visible(key, !line_visible(key)); });
      }
    } else {
      series->setColor(l.segments.front()->color());
      for (QLegendMarker* m : markers) m->setVisible(false);
    }
    series->setVisible(l.visible);
    l.segments.push_back(series);
  }
  l.segments.back()->append(static_cast<qreal>(p.ms), *p.value);
}

void TrendView::rebuild_series(const QString& key, Line& l) {
  for (QLineSeries* s : l.segments) {
    chart_->removeSeries(s);
    delete s;
  }
  l.segments.clear();
  const std::vector<Point> points = std::move(l.points);
  l.points.clear();
  for (const Point& p : points) {
    l.points.push_back(p);
    append_to_series(key, l, p);
  }
  set_line_visible(key, l.visible);
}

void TrendView::clear() {
  for (auto& [key, l] : lines_) {
    for (QLineSeries* s : l.segments) {
      chart_->removeSeries(s);
      delete s;
    }
  }
  lines_.clear();
  latest_ms_ = 0;
}

void TrendView::set_window_seconds(int seconds) {
  window_seconds_ = std::max(1, seconds);
  const int index = window_box_->findData(window_seconds_);
  if (index >= 0 && index != window_box_->currentIndex()) window_box_->setCurrentIndex(index);
  follow_latest();
}

void TrendView::set_paused(bool paused) {
  paused_ = paused;
  pause_button_->setText(paused ? "Продолжить" : "Пауза");
  if (pause_button_->isChecked() != paused) pause_button_->setChecked(paused);
  if (!paused) follow_latest();
}

void TrendView::set_line_visible(const QString& key, bool visible) {
  auto it = lines_.find(key);
  if (it == lines_.end()) return;
  it->second.visible = visible;
  for (QLineSeries* s : it->second.segments) s->setVisible(visible);
  // Hiding a series hides its legend entry too: the first stays, dimmed, to be clicked again.
  if (!it->second.segments.empty()) {
    for (QLegendMarker* m : chart_->legend()->markers(it->second.segments.front())) {
      m->setVisible(true);
      QColor c = m->labelBrush().color();
      c.setAlphaF(visible ? 1.0 : 0.4);
      m->setLabelBrush(c);
    }
  }
  fit_values();
}

double TrendView::value_min() const {
  return value_axis_->min();
}

double TrendView::value_max() const {
  return value_axis_->max();
}

bool TrendView::line_visible(const QString& key) const {
  auto it = lines_.find(key);
  return it != lines_.end() && it->second.visible;
}

QStringList TrendView::lines() const {
  QStringList keys;
  for (const auto& [key, l] : lines_) keys << key;
  return keys;
}

int TrendView::point_count(const QString& key) const {
  auto it = lines_.find(key);
  return it == lines_.end() ? 0 : static_cast<int>(it->second.points.size());
}

QDateTime TrendView::range_start() const {
  return time_axis_->min();
}

QDateTime TrendView::range_end() const {
  return time_axis_->max();
}

void TrendView::follow_latest() {
  const qint64 end = latest_ms_ != 0 ? latest_ms_ : QDateTime::currentMSecsSinceEpoch();
  time_axis_->setRange(QDateTime::fromMSecsSinceEpoch(end - window_seconds_ * 1000LL),
                       QDateTime::fromMSecsSinceEpoch(end));
  time_axis_->setFormat(window_seconds_ > 3 * 3600 ? "dd.MM HH:mm" : "HH:mm:ss");
  if (!fit_timer_.isActive()) fit_timer_.start();
}

void TrendView::fit_values() {
  const qint64 from = time_axis_->min().toMSecsSinceEpoch();
  const qint64 to = time_axis_->max().toMSecsSinceEpoch();
  double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
  for (const auto& [key, l] : lines_) {
    if (!l.visible) continue;
    for (auto it = first_at(l.points, from); it != l.points.end() && it->ms <= to; ++it) {
      if (!it->value) continue;
      low = std::min(low, *it->value);
      high = std::max(high, *it->value);
    }
  }
  if (low > high) {
    value_axis_->setRange(0, 1);
    return;
  }
  const double margin = high > low ? (high - low) * 0.05 : std::max(1.0, std::abs(high) * 0.05);
  value_axis_->setRange(low - margin, high + margin);
}

bool TrendView::export_csv(const QString& path, QString* error) const {
  const qint64 from = time_axis_->min().toMSecsSinceEpoch();
  const qint64 to = time_axis_->max().toMSecsSinceEpoch();
  std::string text = "time,parameter,value\r\n";
  for (const auto& [key, l] : lines_) {
    if (!l.visible) continue;
    for (auto it = first_at(l.points, from); it != l.points.end() && it->ms <= to; ++it) {
      const Point& p = *it;
      text += iso_local_time(p.ms) + "," + csv_field(key.toStdString()) + "," +
              (p.value ? QString::number(*p.value, 'g', 10).toStdString() : std::string()) + "\r\n";
    }
  }
  platform::AtomicFileWriter file(std::filesystem::path(path.toStdString()));
  if (!file.write(text) || !file.commit()) {
    if (error) *error = QString::fromStdString(file.error());
    return false;
  }
  return true;
}

bool TrendView::export_png(const QString& path) const {
  return view_->grab().save(path, "PNG");
}

}  // namespace kba604
