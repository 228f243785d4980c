// Recorded days in the trend view. "Открыть записанный день в графике..." in the tree's menu,
// and "Открыть день..." of the trend view itself, list the days of the protocol folder and of
// its monthly archives, newest first (CTrendDayDlg). The chosen day is read on a worker thread
// (an archived day is unpacked into the working folder first) and then shown in the trend view
// in place of the live lines. While it is read, and afterwards, the view's status line says how
// far the reading is and what it could not read: a damaged day never brings up a box.
//
//   wire_trend_days(window);  // once the polling binding is in place
#pragma once

#include <QDialog>
#include <QObject>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "measurement/recorded_days.h"
#include "model/parameter_table.h"
#include "platform/thread.h"

class QListWidget;
class QPushButton;

namespace kba604 {

class MainWindow;
class TrendView;
namespace ui {
class TaskRelay;
}

inline constexpr const char* kTrendDayCommandText =
    QT_TRANSLATE_NOOP("QObject", "Открыть записанный день в графике...");

// The choice of a recorded day.
class CTrendDayDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CTrendDayDlg(std::vector<RecordedDay> days, QWidget* parent = nullptr);
  // The day chosen in the list (OK or a double click on it).
  std::optional<RecordedDay> chosen() const;
  QListWidget* list() const { return list_; }

 private:
  std::vector<RecordedDay> days_;
  QListWidget* list_ = nullptr;
  QPushButton* ok_ = nullptr;
};

class TrendDays : public QObject {
  Q_OBJECT

 public:
  struct Sources {
    // The trend view (made when first needed) and the description's parameters now.
    std::function<TrendView&()> view;
    std::function<const ParameterTable*()> table;
    std::filesystem::path protocol_dir;
    std::filesystem::path temp_dir;
  };
  // Asks which day to show; nothing when none was chosen. By default CTrendDayDlg.
  using Chooser =
      std::function<std::optional<RecordedDay>(const std::vector<RecordedDay>&, QWidget*)>;

  explicit TrendDays(Sources sources, QObject* parent = nullptr);
  // Stops a reading under way; a worker that does not stop at once is left to end alone.
  ~TrendDays() override;

  void set_chooser(Chooser chooser) { chooser_ = std::move(chooser); }
  // Lists the recorded days, asks for one and opens it.
  void choose_day(QWidget* parent);
  // Reads the day on a worker and shows it when read. A reading under way is given up.
  void open_day(const RecordedDay& day);
  bool reading() const { return reading_; }

 signals:
  // A reading has ended: shown is false when nothing could be read (the status line says why).
  void day_read(bool shown);

 private:
  void finished(unsigned generation, const RecordedDay& day, std::shared_ptr<DaySeriesSet> set);
  void stop_reading();

  Sources sources_;
  Chooser chooser_;
  platform::Thread worker_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::shared_ptr<ui::TaskRelay> relay_;
  unsigned generation_ = 0;
  bool reading_ = false;
};

// Adds the command to the window's tree menu, beside the trend view's, and "Открыть день..."
// of the trend view, over the program's document. Nothing when the window has no polling
// binding.
TrendDays* wire_trend_days(MainWindow& window);

}  // namespace kba604
