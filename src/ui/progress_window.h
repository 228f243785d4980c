// The progress window of an operation over the instrument, "Прибор <==> программа": the
// operation's title as the window title, a coloured log with bold and italic lines, the
// elapsed time, "Обработано пар-ов: done из total", the error count on a light red ground once
// it is above 0, a progress bar, the check box "Автоматически закрывать окно" and one button,
// "Остановить" while the operation runs and "Закрыть" afterwards.
//
// ProgressWindow is the widget alone and lives on the UI thread. ProgressOperationView is what
// the operation engine talks to (OperationView): its calls come from the worker thread, are
// gathered under a mutex and shown by the UI thread in one go, so that a fast operation never
// waits for a repaint and the window never falls behind by more than one turn of the event
// loop. The window is modal to the main window but shown with show(), never exec(): the event
// loop goes on and the engine's hand-overs keep arriving.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/operation_view.h"
#include "platform/clock.h"

namespace kba604 {

class StatusOperationView;

struct ProgressLogLine {
  std::string text;
  LogColour colour;
  bool bold = false;
  bool italic = false;
};

class ProgressWindow final : public QDialog {
  Q_OBJECT

 public:
  explicit ProgressWindow(QWidget* parent = nullptr);

  // A new operation: its title, the range 0..total, counters and log empty, the box ticked,
  // the button "Остановить".
  void begin(const QString& title, int total);
  void set_range(int total);
  void set_counters(int done, int total, int errors);
  void append(const std::vector<ProgressLogLine>& lines);
  void set_button(OperationButton button);
  void set_auto_close(bool ticked);
  // The elapsed time shown, in milliseconds.
  void set_elapsed(std::int64_t ms);

  QPlainTextEdit& log() { return *log_; }
  QPushButton& button() { return *button_; }
  QCheckBox& auto_close_box() { return *auto_close_; }
  QLabel& elapsed_label() { return *elapsed_; }
  QLabel& processed_label() { return *processed_; }
  QLabel& errors_label() { return *errors_; }
  QProgressBar& progress() { return *progress_; }
  OperationButton button_state() const { return button_state_; }

  // "Продолжительность" as shown: hours, minutes and seconds.
  static QString elapsed_text(std::int64_t ms);

 signals:
  // The one button was pressed (also closing the window from its frame or with Escape, which
  // is what a person means by the button).
  void button_pressed();
  void auto_close_toggled(bool ticked);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  QPlainTextEdit* log_;
  QCheckBox* auto_close_;
  QPushButton* button_;
  QLabel* elapsed_;
  QLabel* processed_;
  QLabel* errors_;
  QProgressBar* progress_;
  OperationButton button_state_ = OperationButton::Stop;
  // Set while the window itself ticks the box, so that no toggle reaches the engine.
  bool setting_box_ = false;
};

class ProgressOperationView final : public QObject, public OperationView {
  Q_OBJECT

 public:
  // clock: the elapsed time. status: the main window's status-bar view, which is told the same
  // (it refreshes the tree when an operation closes); may be none.
  explicit ProgressOperationView(platform::Clock& clock = platform::Clock::real(),
                                 StatusOperationView* status = nullptr);
  ~ProgressOperationView() override;

  // The main window the progress window belongs to (UI thread). Until then nothing is shown.
  void set_parent_window(QWidget* parent);
  // Started with switches: the window is shown without modality, so that nothing waits for a
  // person, and not at all while the main window is hidden.
  void set_quiet(bool quiet) { quiet_.store(quiet); }
  // Another view told the same as this one (set before the first operation; may be none): a
  // program started with switches also writes its operations' log on standard error, as it
  // does without a window, for the program that started it.
  void set_echo(OperationView* echo) { echo_ = echo; }

  // OperationView (any thread)
  void open(int operation_code, int total, OperationControl* control) override;
  void set_range(int total) override;
  void set_counters(int done, int total, int errors) override;
  void add_log_line(std::string_view text, LogColour colour, bool bold, bool italic) override;
  void set_button(OperationButton button) override;
  bool auto_close() const override { return auto_close_.load(); }
  void set_auto_close(bool ticked) override;
  void close() override;
  bool is_open() const override { return open_.load(); }
  void after_close(std::function<void()> task) override;

  // UI thread: shows what the engine has handed over so far (the event loop does it by
  // itself; tests call it to look at once).
  void flush();
  // The window; none before set_parent_window.
  ProgressWindow* window() const { return window_.data(); }
  // Whether the window is on screen (UI thread).
  bool shown() const;

 private:
  void schedule();
  void pressed();
  void toggled(bool ticked);
  void tick();

  struct State {
    bool begin = false;  // a new operation to show
    bool closing = false;
    QString title;
    int total = 0, done = 0, errors = 0;
    bool range_changed = false;
    bool counters_changed = false;
    std::vector<ProgressLogLine> lines;
    OperationButton button = OperationButton::Stop;
    bool button_changed = false;
    bool box_changed = false;
    OperationControl* control = nullptr;
    std::int64_t start_ms = 0;
  };

  platform::Clock& clock_;
  StatusOperationView* status_;
  OperationView* echo_ = nullptr;
  std::atomic<bool> quiet_{false};
  std::atomic<bool> open_{false};
  std::atomic<bool> auto_close_{true};
  std::atomic<bool> flush_posted_{false};
  mutable std::mutex mutex_;
  State state_;
  // UI thread only.
  QPointer<QWidget> parent_;
  QPointer<ProgressWindow> window_;
  QTimer ticker_;
  std::int64_t shown_start_ms_ = 0;
  bool elapsed_frozen_ = false;
  std::vector<std::function<void()>> after_close_;
};

}  // namespace kba604
