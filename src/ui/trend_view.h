// A live plot of the polled operational parameters: one line per parameter (name and address
// offset) that has a number as its value, over a time window chosen from one minute to a day.
// A poll that failed leaves a gap in its line, never a zero. The plot can be paused while the
// points go on being collected, lines are shown and hidden by clicking their legend entries,
// and what is visible can be saved as a PNG picture or as CSV rows.
//
// The window feeds it on the UI thread with each delivered poll (add_snapshot) or a point of
// its own (add_point).
//
// It can also show a recorded day (show_day) in place of the live lines: the day's date is in
// the title, a scroll bar moves the window through the day, the polls that keep arriving are
// collected for the live lines but never drawn among the day's, and "Текущие данные" (show_live)
// brings the live lines back. A day's lines are drawn thinned to the plot's width (a few points
// per pixel column); the day itself stays in its compact series.
#pragma once

#include <QDateTime>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "measurement/day_series.h"
#include "operations/scanner.h"

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLineSeries;
class QLabel;
class QPushButton;
class QScrollBar;
class QValueAxis;

namespace kba604 {

class TrendView : public QWidget {
  Q_OBJECT

 public:
  // The choosable windows, in seconds: 1, 5, 15 and 30 minutes, 1, 3, 6, 12 and 24 hours.
  static const std::vector<int>& window_choices();

  explicit TrendView(QWidget* parent = nullptr);
  ~TrendView() override;

  // A delivered poll: a point of its parameter's line when its value is a number, a gap when
  // the poll failed; a value that is no number (an item of a list) is not plotted.
  void add_snapshot(const PollSnapshot& poll);
  // A point of the line named key at time; no value is a gap.
  void add_point(const QString& key, const QDateTime& time, std::optional<double> value);
  // Forgets every live line.
  void clear();

  // Shows a recorded day instead of the live lines, the whole day at first; what the reading
  // left out goes to the status line.
  // label names the day in the title ("07.12.2026"); empty: the day file's name.
  void show_day(std::shared_ptr<const DaySeriesSet> day, const QString& label = QString());
  // Back to the live lines, with every poll that came meanwhile.
  void show_live();
  bool showing_day() const { return day_ != nullptr; }
  const DaySeriesSet* day() const { return day_.get(); }
  // A recorded day: moves the shown range to begin at start (kept inside the day).
  void set_range_start(const QDateTime& start);
  // The line under the bar: a day being read, what a day's reading left out.
  void set_status(const QString& text);
  QString status() const;
  // The points the chart holds for a line now, over all its stretches.
  int drawn_points(const QString& key) const;
  // The pixel columns a recorded day is thinned to: the plot's width.
  int plot_columns() const;

  void set_window_seconds(int seconds);
  int window_seconds() const { return window_seconds_; }
  // While paused, points are still taken, but the shown time range stays where it was.
  void set_paused(bool paused);
  bool paused() const { return paused_; }
  // Shows or hides a line, as a click on its legend entry does.
  void set_line_visible(const QString& key, bool visible);
  bool line_visible(const QString& key) const;

  // The lines by key, and how many points (gaps included) each holds.
  QStringList lines() const;
  int point_count(const QString& key) const;
  // The shown time range.
  QDateTime range_start() const;
  QDateTime range_end() const;
  // The value axis fitted to the visible points of the shown range now (it is otherwise
  // fitted a moment after points arrive, so that a burst of polls fits it once).
  void fit_values();
  double value_min() const;
  double value_max() const;

  // The visible lines' points inside the shown range, one row each: "time,parameter,value"
  // (a gap has an empty value), UTF-8, times in ISO 8601 with their offset. False with the
  // reason when the file cannot be written; a file is never left half-written.
  bool export_csv(const QString& path, QString* error = nullptr) const;
  bool export_png(const QString& path) const;

  QChart* chart() const { return chart_; }

 signals:
  // "Открыть день..." was pressed.
  void open_day_requested();

 private:
  struct Point {
    qint64 ms;
    std::optional<double> value;
  };
  struct Line {
    std::vector<Point> points;
    // One series per stretch without gaps; the first carries the legend entry.
    std::vector<QLineSeries*> segments;
    bool visible = true;
  };

  // A line of a recorded day: its series, and the chart series of its thinned stretches.
  struct DayLine {
    const DaySeries* series = nullptr;
    std::vector<QLineSeries*> segments;
    bool visible = true;
  };

  Line& line(const QString& key);
  // A chart series for the next stretch of a line; the first carries the legend entry.
  QLineSeries* new_segment(const QString& key, std::vector<QLineSeries*>& segments, bool visible);
  void drop_segments(std::vector<QLineSeries*>& segments);
  void apply_day_range();
  void draw_day();
  void append_to_series(const QString& key, Line& l, const Point& p);
  void rebuild_series(const QString& key, Line& l);
  void follow_latest();

  QChart* chart_ = nullptr;
  QChartView* view_ = nullptr;
  QDateTimeAxis* time_axis_ = nullptr;
  QValueAxis* value_axis_ = nullptr;
  QComboBox* window_box_ = nullptr;
  QPushButton* pause_button_ = nullptr;
  QPushButton* png_button_ = nullptr;
  QPushButton* csv_button_ = nullptr;
  QPushButton* open_button_ = nullptr;
  QPushButton* live_button_ = nullptr;
  QScrollBar* day_scroll_ = nullptr;
  QLabel* status_ = nullptr;

  QTimer fit_timer_;
  std::map<QString, Line> lines_;
  qint64 latest_ms_ = 0;
  int window_seconds_ = 300;
  bool paused_ = false;

  std::shared_ptr<const DaySeriesSet> day_;
  std::map<QString, DayLine> day_lines_;
  qint64 day_first_ms_ = 0;
  qint64 day_last_ms_ = 0;
  qint64 day_start_ms_ = 0;  // the shown range's start
  int live_window_seconds_ = 300;
  QString live_title_;
  QTimer draw_timer_;
};

}  // namespace kba604
