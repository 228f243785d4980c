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
#include <QScrollBar>
#include <QSignalBlocker>
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
  if (seconds < 3600) return TrendView::tr("%1 мин").arg(seconds / 60);
  return TrendView::tr("%1 ч").arg(seconds / 3600);
}

// The scroll bar of a recorded day counts seconds; a damaged day spanning more than an int's
// worth of them counts in larger steps.
qint64 scroll_unit_ms(qint64 span_ms) {
  return 1000 * std::max<qint64>(1, span_ms / 1000 / 1000000000 + 1);
}

QString time_format(int window_seconds) {
  return window_seconds > 3 * 3600 ? "dd.MM HH:mm" : "HH:mm:ss";
}

// The indices of a day's series whose polls lie from from_ms to to_ms.
std::pair<std::size_t, std::size_t> day_range(const DaySeries& s, qint64 from_ms, qint64 to_ms) {
  auto first = std::lower_bound(s.times.begin(), s.times.end(), from_ms,
                                [](std::int64_t t, qint64 ms) { return t * 1000 < ms; });
  auto end = std::upper_bound(first, s.times.end(), to_ms,
                              [](qint64 ms, std::int64_t t) { return ms < t * 1000; });
  return {static_cast<std::size_t>(first - s.times.begin()),
          static_cast<std::size_t>(end - s.times.begin())};
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
  time_axis_->setTitleText(tr("Время"));
  value_axis_ = new QValueAxis();
  chart_->addAxis(time_axis_, Qt::AlignBottom);
  chart_->addAxis(value_axis_, Qt::AlignLeft);
  view_ = new QChartView(chart_, this);
  view_->setRenderHint(QPainter::Antialiasing);

  window_box_ = new QComboBox(this);
  for (int seconds : window_choices()) window_box_->addItem(window_label(seconds), seconds);
  window_box_->setCurrentIndex(1);
  pause_button_ = new QPushButton(tr("Пауза"), this);
  pause_button_->setCheckable(true);
  png_button_ = new QPushButton(tr("Сохранить PNG..."), this);
  csv_button_ = new QPushButton(tr("Сохранить CSV..."), this);
  open_button_ = new QPushButton(tr("Открыть день..."), this);
  open_button_->setToolTip(tr("Показать записанные данные одного из прошлых дней"));
  live_button_ = new QPushButton(tr("Текущие данные"), this);
  live_button_->setToolTip(tr("Вернуться к опрашиваемым сейчас параметрам"));
  live_button_->setVisible(false);
  status_ = new QLabel(this);
  status_->setWordWrap(true);
  status_->setVisible(false);
  day_scroll_ = new QScrollBar(Qt::Horizontal, this);
  day_scroll_->setVisible(false);

  auto* bar = new QHBoxLayout();
  bar->addWidget(new QLabel(tr("Окно:"), this));
  bar->addWidget(window_box_);
  bar->addWidget(pause_button_);
  bar->addWidget(open_button_);
  bar->addWidget(live_button_);
  bar->addStretch(1);
  bar->addWidget(png_button_);
  bar->addWidget(csv_button_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(status_);
  layout->addWidget(view_, 1);
  layout->addWidget(day_scroll_);

  connect(window_box_, &QComboBox::currentIndexChanged, this,
          [this](int index) { set_window_seconds(window_box_->itemData(index).toInt()); });
  connect(pause_button_, &QPushButton::toggled, this, [this](bool on) { set_paused(on); });
  connect(open_button_, &QPushButton::clicked, this, &TrendView::open_day_requested);
  connect(live_button_, &QPushButton::clicked, this, &TrendView::show_live);
  connect(day_scroll_, &QScrollBar::valueChanged, this, [this](int value) {
    if (!day_) return;
    day_start_ms_ = day_first_ms_ + value * scroll_unit_ms(day_last_ms_ - day_first_ms_);
    apply_day_range();
  });
  // A recorded day is thinned to the plot's width: drawn again when the width changes.
  draw_timer_.setSingleShot(true);
  draw_timer_.setInterval(0);
  connect(&draw_timer_, &QTimer::timeout, this, [this] { draw_day(); });
  connect(chart_, &QChart::plotAreaChanged, this, [this] {
    if (day_) draw_timer_.start();
  });
  connect(png_button_, &QPushButton::clicked, this, [this] {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Сохранить график"), QString(), "PNG (*.png)");
    if (!path.isEmpty()) export_png(path);
  });
  connect(csv_button_, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, tr("Сохранить данные графика"),
                                                      QString(), "CSV (*.csv)");
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
  const std::optional<double> value = plotted_number(poll.value);
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
  if (!in_order) {
    std::stable_sort(l.points.begin(), l.points.end(),
                     [](const Point& a, const Point& b) { return a.ms < b.ms; });
  }
  // Old points go in batches, so that a long run does not rebuild its lines at every poll.
  bool trimmed = false;
  if (!l.points.empty() && l.points.front().ms < latest_ms_ - kKeptMs - 3600 * 1000) {
    const qint64 oldest = latest_ms_ - kKeptMs;
    l.points.erase(l.points.begin(),
                   std::find_if(l.points.begin(), l.points.end(),
                                [oldest](const Point& q) { return q.ms >= oldest; }));
    trimmed = true;
  }
  // While a recorded day is shown the point is only kept, for the return to the live lines.
  if (day_) return;
  if (in_order && !trimmed) {
    append_to_series(key, l, p);
  } else {
    rebuild_series(key, l);
  }
  if (!paused_) follow_latest();
}

QLineSeries* TrendView::new_segment(const QString& key, std::vector<QLineSeries*>& segments,
                                    bool visible) {
  auto* series = new QLineSeries();
  series->setName(key);
  chart_->addSeries(series);
  series->attachAxis(time_axis_);
  series->attachAxis(value_axis_);
  const QList<QLegendMarker*> markers = chart_->legend()->markers(series);
  if (segments.empty()) {
    for (QLegendMarker* m : markers) {
      connect(m, &QLegendMarker::clicked, this,
              [this, key] { set_line_visible(key, !line_visible(key)); });
    }
  } else {
    // A stretch after a gap: the line's colour, and no legend entry of its own.
    series->setColor(segments.front()->color());
    for (QLegendMarker* m : markers) m->setVisible(false);
  }
  series->setVisible(visible);
  segments.push_back(series);
  return series;
}

void TrendView::append_to_series(const QString& key, Line& l, const Point& p) {
  if (!p.value) return;
  const bool after_gap = l.points.size() >= 2 && !l.points[l.points.size() - 2].value;
  if (l.segments.empty() || after_gap) new_segment(key, l.segments, l.visible);
  l.segments.back()->append(static_cast<qreal>(p.ms), *p.value);
}

void TrendView::rebuild_series(const QString& key, Line& l) {
  drop_segments(l.segments);
  // Each stretch goes in at once: a day of polls appended one by one would take seconds.
  QList<QPointF> stretch;
  auto flush = [&] {
    if (stretch.isEmpty()) return;
    new_segment(key, l.segments, l.visible)->replace(stretch);
    stretch.clear();
  };
  for (const Point& p : l.points) {
    if (!p.value) {
      flush();
      continue;
    }
    stretch.append(QPointF(static_cast<qreal>(p.ms), *p.value));
  }
  flush();
  set_line_visible(key, l.visible);
}

void TrendView::drop_segments(std::vector<QLineSeries*>& segments) {
  for (QLineSeries* series : segments) {
    chart_->removeSeries(series);
    delete series;
  }
  segments.clear();
}

void TrendView::clear() {
  for (auto& [key, l] : lines_) drop_segments(l.segments);
  lines_.clear();
  latest_ms_ = 0;
}

void TrendView::show_day(std::shared_ptr<const DaySeriesSet> day, const QString& label) {
  if (!day) return;
  if (!day_) {
    // The live lines leave the chart; their points stay for the return.
    for (auto& [key, l] : lines_) drop_segments(l.segments);
    live_window_seconds_ = window_seconds_;
    live_title_ = windowTitle();
  }
  for (auto& [key, l] : day_lines_) drop_segments(l.segments);
  day_lines_.clear();
  day_ = std::move(day);
  for (const DaySeries& s : day_->series) day_lines_[QString::fromStdString(s.key)].series = &s;
  const auto extent = day_->extent();
  day_first_ms_ = extent ? extent->first * 1000 : 0;
  day_last_ms_ = extent ? extent->second * 1000 : 0;
  day_start_ms_ = day_first_ms_;

  const QString name = label.isEmpty() ? QString::fromStdString(day_->day) : label;
  QString title = tr("Записанные данные за %1").arg(name);
  if (day_->from_archive) title += tr(" (из архива)");
  chart_->setTitle(title);
  setWindowTitle(live_title_.isEmpty() ? title : live_title_ + " — " + title);
  pause_button_->setEnabled(false);
  live_button_->setVisible(true);
  day_scroll_->setVisible(true);
  set_status(QString::fromStdString(day_->problems()));
  // The whole day at first (choosing the window draws it).
  set_window_seconds(window_choices().back());
}

void TrendView::show_live() {
  if (!day_) return;
  for (auto& [key, l] : day_lines_) drop_segments(l.segments);
  day_lines_.clear();
  day_.reset();
  chart_->setTitle(QString());
  setWindowTitle(live_title_);
  pause_button_->setEnabled(true);
  live_button_->setVisible(false);
  day_scroll_->setVisible(false);
  set_status(QString());
  for (auto& [key, l] : lines_) rebuild_series(key, l);
  set_window_seconds(live_window_seconds_);
}

void TrendView::set_range_start(const QDateTime& start) {
  if (!day_) return;
  day_start_ms_ = start.toMSecsSinceEpoch();
  apply_day_range();
}

void TrendView::apply_day_range() {
  const qint64 window = window_seconds_ * 1000LL;
  const qint64 latest_start = std::max(day_first_ms_, day_last_ms_ - window);
  day_start_ms_ = std::clamp(day_start_ms_, day_first_ms_, latest_start);
  const qint64 unit = scroll_unit_ms(day_last_ms_ - day_first_ms_);
  {
    const QSignalBlocker quiet(day_scroll_);
    day_scroll_->setRange(0, static_cast<int>((latest_start - day_first_ms_) / unit));
    day_scroll_->setPageStep(static_cast<int>(std::max<qint64>(1, window / unit)));
    day_scroll_->setSingleStep(static_cast<int>(std::max<qint64>(1, window / unit / 20)));
    day_scroll_->setValue(static_cast<int>((day_start_ms_ - day_first_ms_) / unit));
  }
  // The lines are emptied first: a chart maps every point of its series again on each change
  // of an axis, and the old range's points are of no use.
  for (auto& [key, l] : day_lines_) {
    for (QLineSeries* series : l.segments) series->clear();
  }
  time_axis_->setRange(QDateTime::fromMSecsSinceEpoch(day_start_ms_),
                       QDateTime::fromMSecsSinceEpoch(day_start_ms_ + window));
  time_axis_->setFormat(time_format(window_seconds_));
  draw_day();
}

void TrendView::draw_day() {
  if (!day_) return;
  const qint64 from = time_axis_->min().toMSecsSinceEpoch();
  const qint64 to = time_axis_->max().toMSecsSinceEpoch();
  const int columns = plot_columns();
  std::vector<std::vector<std::vector<PlotPoint>>> stretches;
  stretches.reserve(day_lines_.size());
  for (const auto& [key, l] : day_lines_) {
    stretches.push_back(plot_stretches(*l.series, from, to, columns));
  }
  // The value axis before the points, so the chart maps the new points once.
  fit_values();
  std::size_t line = 0;
  for (auto& [key, l] : day_lines_) {
    const std::vector<std::vector<PlotPoint>>& parts = stretches[line++];
    const std::size_t needed = std::max<std::size_t>(1, parts.size());
    while (l.segments.size() > needed) {
      chart_->removeSeries(l.segments.back());
      delete l.segments.back();
      l.segments.pop_back();
    }
    while (l.segments.size() < needed) new_segment(key, l.segments, l.visible);
    for (std::size_t k = 0; k < l.segments.size(); ++k) {
      QList<QPointF> points;
      if (k < parts.size()) {
        points.reserve(static_cast<qsizetype>(parts[k].size()));
        for (const PlotPoint& p : parts[k])
          points.append(QPointF(static_cast<qreal>(p.ms), p.value));
      }
      l.segments[k]->replace(points);
    }
  }
}

int TrendView::plot_columns() const {
  // A plot not laid out yet (never shown) is drawn for a usual width.
  const int columns = static_cast<int>(chart_->plotArea().width());
  return columns < 50 ? 1000 : columns;
}

void TrendView::set_status(const QString& text) {
  status_->setText(text);
  status_->setVisible(!text.isEmpty());
}

QString TrendView::status() const {
  return status_->text();
}

int TrendView::drawn_points(const QString& key) const {
  const std::vector<QLineSeries*>* segments = nullptr;
  if (day_) {
    auto it = day_lines_.find(key);
    if (it != day_lines_.end()) segments = &it->second.segments;
  } else {
    auto it = lines_.find(key);
    if (it != lines_.end()) segments = &it->second.segments;
  }
  int n = 0;
  if (segments != nullptr) {
    for (const QLineSeries* s : *segments) n += static_cast<int>(s->count());
  }
  return n;
}

void TrendView::set_window_seconds(int seconds) {
  window_seconds_ = std::max(1, seconds);
  const int index = window_box_->findData(window_seconds_);
  if (index >= 0 && index != window_box_->currentIndex()) window_box_->setCurrentIndex(index);
  if (day_) {
    apply_day_range();
    return;
  }
  follow_latest();
}

void TrendView::set_paused(bool paused) {
  paused_ = paused;
  pause_button_->setText(paused ? tr("Продолжить") : tr("Пауза"));
  if (pause_button_->isChecked() != paused) pause_button_->setChecked(paused);
  if (!paused) follow_latest();
}

void TrendView::set_line_visible(const QString& key, bool visible) {
  std::vector<QLineSeries*>* segments = nullptr;
  if (day_) {
    auto it = day_lines_.find(key);
    if (it == day_lines_.end()) return;
    it->second.visible = visible;
    segments = &it->second.segments;
  } else {
    auto it = lines_.find(key);
    if (it == lines_.end()) return;
    it->second.visible = visible;
    segments = &it->second.segments;
  }
  for (QLineSeries* s : *segments) s->setVisible(visible);
  // Hiding a series hides its legend entry too: the first stays, dimmed, to be clicked again.
  if (!segments->empty()) {
    for (QLegendMarker* m : chart_->legend()->markers(segments->front())) {
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
  if (day_) {
    auto it = day_lines_.find(key);
    return it != day_lines_.end() && it->second.visible;
  }
  auto it = lines_.find(key);
  return it != lines_.end() && it->second.visible;
}

QStringList TrendView::lines() const {
  QStringList keys;
  if (day_) {
    for (const auto& [key, l] : day_lines_) keys << key;
    return keys;
  }
  for (const auto& [key, l] : lines_) keys << key;
  return keys;
}

int TrendView::point_count(const QString& key) const {
  if (day_) {
    auto it = day_lines_.find(key);
    return it == day_lines_.end() ? 0 : static_cast<int>(it->second.series->size());
  }
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
  time_axis_->setFormat(time_format(window_seconds_));
  if (!fit_timer_.isActive()) fit_timer_.start();
}

void TrendView::fit_values() {
  const qint64 from = time_axis_->min().toMSecsSinceEpoch();
  const qint64 to = time_axis_->max().toMSecsSinceEpoch();
  double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
  for (const auto& [key, l] : day_lines_) {
    if (!l.visible) continue;
    const auto [first, end] = day_range(*l.series, from, to);
    for (std::size_t i = first; i < end; ++i) {
      const double v = l.series->values[i];
      if (std::isnan(v)) continue;
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  for (const auto& [key, l] : lines_) {
    if (day_) break;
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
  for (const auto& [key, l] : day_lines_) {
    if (!l.visible) continue;
    const auto [first, end] = day_range(*l.series, from, to);
    for (std::size_t i = first; i < end; ++i) {
      const double v = l.series->values[i];
      text += iso_local_time(l.series->times[i] * 1000) + "," + csv_field(key.toStdString()) + "," +
              (std::isnan(v) ? std::string() : QString::number(v, 'g', 10).toStdString()) + "\r\n";
    }
  }
  for (const auto& [key, l] : lines_) {
    if (day_) break;
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
