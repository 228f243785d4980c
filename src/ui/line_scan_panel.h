// The line scan of the connection-search dialog: which instruments answer on the program's
// port, tried over a range of addresses (in steps of 8) at the speeds and character formats the
// person ticks. The scan runs on a thread of the panel's own through the search carrier, which
// takes the line for it as for a check; the panel shows which probe runs, a progress bar and a
// table that grows by a row as each instrument answers. Picking a row (double click, Enter or
// "Выбрать") hands that instrument's settings to the carrier, which puts them into the table and
// the program's settings and tries the connection at them; nothing else changes the settings.
//
//   auto* panel = new LineScanPanel(carrier, prompter, dialog);  // after carrier.OnInitDialog()
//   ...
//   panel->stop_scan();   // before the carrier goes: the scan thread uses it
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "app/prompter.h"
#include "link/line_scan.h"
#include "operations/setup_carrier.h"

namespace kba604 {

class LineScanPanel final : public QGroupBox {
  Q_OBJECT

 public:
  // carrier and prompter must outlive the panel's scan (stop_scan joins it). The ticked speeds
  // and format start from the carrier's rows: the program's speed with its neighbours in the
  // list, and the program's character format.
  LineScanPanel(PreStart::CSetupCarrier& carrier, Prompter& prompter, QWidget* parent = nullptr);
  ~LineScanPanel() override;

  // The widgets, for the person (and for tests).
  QSpinBox& first_address_box() { return *first_; }
  QSpinBox& last_address_box() { return *last_; }
  // In the order of the program's speed list, and of supported_line_formats().
  const std::vector<QCheckBox*>& speed_boxes() const { return speed_boxes_; }
  const std::vector<QCheckBox*>& format_boxes() const { return format_boxes_; }
  QPushButton& all_speeds_button() { return *all_speeds_; }
  QPushButton& scan_button() { return *scan_; }
  QPushButton& cancel_button() { return *cancel_; }
  QPushButton& pick_button() { return *pick_; }
  QLabel& progress_label() { return *progress_label_; }
  QProgressBar& progress_bar() { return *progress_; }
  QTableWidget& found_table() { return *found_table_; }
  // The instruments found by the last scan, in the table's order.
  const std::vector<FoundInstrument>& found() const { return found_; }
  bool scanning() const { return scanning_; }
  // How many probes the scan thread has begun so far (read on any thread).
  int probes_begun() const { return probes_begun_.load(); }

  // "Сканировать": starts a scan of what is ticked; false (with the reason in the progress line)
  // when nothing is to be tried or the line is busy with a check.
  bool start_scan();
  // Stops a running scan before its next probe; true when one was running (Escape stops the
  // scan before it closes the dialog).
  bool cancel_scan();
  // Cancels and waits for the scan thread (a probe at most).
  void stop_scan();
  // Picks the instrument of a row; during a scan the scan is stopped first and the pick follows
  // when it has ended.
  void pick_row(int row);

 signals:
  // A scan began or ended: the dialog's own search waits meanwhile.
  void scanning_changed(bool scanning);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void set_defaults();
  std::optional<ScanPlan> plan_from_widgets();
  void show_probe(const ScanStep& step, int total);
  void add_found(const FoundInstrument& found);
  void scan_ended(std::vector<ScanRemark> remarks);
  void set_scanning(bool on);
  void apply_pick(int row);

  PreStart::CSetupCarrier& carrier_;
  Prompter& prompter_;
  QSpinBox* first_;
  QSpinBox* last_;
  std::vector<int> speeds_;
  std::vector<QCheckBox*> speed_boxes_;
  std::vector<LineFormat> formats_;
  std::vector<QCheckBox*> format_boxes_;
  QPushButton* all_speeds_;
  QPushButton* scan_;
  QPushButton* cancel_;
  QPushButton* pick_;
  QLabel* progress_label_;
  QProgressBar* progress_;
  QTableWidget* found_table_;

  std::vector<FoundInstrument> found_;
  bool scanning_ = false;
  bool cancelled_ = false;
  int pending_pick_ = -1;  // a row picked during the scan
  std::atomic<int> probes_begun_{0};
  std::thread thread_;
};

}  // namespace kba604
