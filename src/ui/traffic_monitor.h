// "Монитор обмена": a dock window that shows every frame on the serial line as it happens (the
// lines of link/traffic_log.h), with a filter by parameter name, a filter for failures only,
// a pause, and saving as text or CSV. It taps the port only while it is shown: closed, it costs
// the line nothing. A slow window never holds up the line: the tap's queue is bounded, and what
// it had to drop is counted and said.
#pragma once

#include <QDockWidget>
#include <QTimer>
#include <deque>
#include <memory>

#include "app/prompter.h"
#include "link/traffic_log.h"
#include "link/traffic_tap.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kba604 {

class Sio;
class ParameterTable;

class TrafficMonitor final : public QDockWidget {
  Q_OBJECT

 public:
  // The transfers kept for the filters and for saving; older ones give way.
  static constexpr std::size_t kKeptTransfers = 20000;

  // sio: the port watched; table: where the hashes' names come from (read on the UI thread);
  // prompter: the message of a file that could not be written. All outlive the monitor.
  TrafficMonitor(Sio& sio, const ParameterTable& table, Prompter& prompter,
                 QWidget* parent = nullptr);
  ~TrafficMonitor() override;

  // Takes what the line recorded since the last time (a timer does it ten times a second while
  // the monitor is shown).
  void drain();
  // The transfers that the filters let through, as lines or as CSV (with its header row).
  QString shown_text() const;
  QString shown_csv() const;
  // Writes shown_text() or shown_csv() to the file without ever leaving it half-written; false,
  // after saying why, when it could not be written.
  bool save_text(const QString& path);
  bool save_csv(const QString& path);
  // Whether the port is tapped now.
  bool tapping() const { return tapping_; }
  std::size_t kept() const { return entries_.size(); }
  std::uint64_t dropped() const { return log_.dropped(); }

  QPlainTextEdit* view() const { return view_; }
  QLineEdit* name_filter() const { return name_filter_; }
  QCheckBox* failures_only() const { return failures_only_; }
  QPushButton* pause_button() const { return pause_; }
  QLabel* counters() const { return counters_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void attach();
  void detach();
  void filters_changed();
  void show_entries();
  void update_counters();
  void choose_file_and_save(bool csv);
  bool save(const QString& path, const QString& content);
  TrafficFilter filter() const;

  Sio& sio_;
  const ParameterTable& table_;
  Prompter& prompter_;
  std::shared_ptr<TrafficTap> tap_ = std::make_shared<TrafficTap>();
  TrafficLog log_;
  TrafficNames names_;
  const Parameter* names_of_ = nullptr;  // the table the names were taken from
  std::size_t names_size_ = 0;
  std::deque<TrafficEntry> entries_;
  std::uint64_t transfers_ = 0;
  bool tapping_ = false;
  bool paused_ = false;
  QTimer timer_;
  QPlainTextEdit* view_ = nullptr;
  QLineEdit* name_filter_ = nullptr;
  QCheckBox* failures_only_ = nullptr;
  QPushButton* pause_ = nullptr;
  QLabel* counters_ = nullptr;
};

}  // namespace kba604
