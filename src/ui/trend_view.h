// A live plot of the polled operational parameters: one line per parameter (name and address
// offset) that has a number as its value, over a time window chosen from one minute to a day.
// A poll that failed leaves a gap in its line, never a zero. The plot can be paused while the
// points go on being collected, lines are shown and hidden by clicking their legend entries,
// and what is visible can be saved as a PNG picture or as CSV rows.
//
// The window feeds it on the UI thread with each delivered poll (add_snapshot) or a point of
// its own (add_point); a past day can be shown by handing its points in the same way.
#pragma once

#include <QDateTime>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <map>
#include <optional>
#include <vector>

#include "operations/scanner.h"

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLineSeries;
class QPushButton;
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
  // Forgets every line (before a past day is shown).
  void clear();

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

  Line& line(const QString& key);
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

  QTimer fit_timer_;
  std::map<QString, Line> lines_;
  qint64 latest_ms_ = 0;
  int window_seconds_ = 300;
  bool paused_ = false;
};

}  // namespace kba604
