// The core's three reporting interfaces for the window: message boxes (QtPrompter), the plain
// progress indication of an operation in the status bar (StatusOperationView) and the worker's
// notifications turned into queued signals (QtNotificationSink). Workers call them from their
// own threads; everything they show happens on the UI thread.
#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <mutex>

#include "app/notifications.h"
#include "app/operation_view.h"
#include "app/prompter.h"

namespace kba604 {

// Real message boxes on the UI thread. In quiet mode (the program was started with switches)
// nothing modal is shown: the box goes to stderr and the safe answer is given, as in the
// headless program. A box asked for from another thread is never waited on: an OK box is shown
// without blocking and a question gets the safe answer, so no worker can wait on the window
// while the window waits on it.
class QtPrompter final : public Prompter {
 public:
  void set_quiet(bool quiet) { quiet_.store(quiet); }
  bool quiet() const { return quiet_.load(); }
  // The window the boxes belong to.
  void set_parent(QWidget* parent) { parent_ = parent; }

  PromptAnswer ask(std::string_view text, std::string_view caption, PromptIcon icon,
                   PromptButtons buttons, PromptAnswer safe_answer) override;

 private:
  std::atomic<bool> quiet_{false};
  QPointer<QWidget> parent_;
  StderrPrompter stderr_;
};

// The operation's progress in the status bar: the title, "Обработано пар-ов: done из total",
// the errors and a button "Остановить". It closes by itself when the operation ends.
class StatusOperationView final : public QObject, public OperationView {
  Q_OBJECT

 public:
  explicit StatusOperationView(QObject* parent = nullptr);

  void open(int operation_code, int total, OperationControl* control) override;
  void set_range(int total) override;
  void set_counters(int done, int total, int errors) override;
  void add_log_line(std::string_view text, LogColour colour, bool bold, bool italic) override;
  void set_button(OperationButton button) override;
  bool auto_close() const override { return true; }
  void set_auto_close(bool) override {}
  void close() override;
  bool is_open() const override { return open_.load(); }

  // UI thread: the stop button was pressed.
  void stop_pressed();
  // The counters last reported (any thread).
  int done() const { return done_.load(); }
  int total() const { return total_.load(); }
  int errors() const { return errors_.load(); }

 signals:
  void opened(const QString& title, int total);
  void progress(int done, int total, int errors);
  void log_line(const QString& text, const QColor& colour);
  void closed();

 private:
  std::atomic<bool> open_{false};
  std::atomic<int> done_{0}, total_{0}, errors_{0};
  std::mutex mutex_;
  OperationControl* control_ = nullptr;
};

// The worker's notifications as signals; connect them to the window with the default
// connection, which queues them onto the UI thread.
class QtNotificationSink final : public QObject, public NotificationSink {
  Q_OBJECT

 public:
  using QObject::QObject;
  void value_polled(std::uint32_t key, std::string_view value) override;
  void views_changed() override;
  void command_finished(int command) override;
  void parameter_changed(std::size_t table_index) override;

 signals:
  void polled(quint32 key);
  void changed();
  void finished(int command);
  // One parameter of the table changed (its position in the device's table).
  void parameter_changed_at(quint64 table_index);
};

// Runs the UI thread's events, sleeping between them as the program's own event loop does,
// until done() holds or timeout_ms has passed; returns done(). For the places that wait for a
// worker while the window goes on: a loop spinning on processEvents would take one of the
// cores from the very worker it waits for.
bool run_events_until(const std::function<bool()>& done, int timeout_ms);

}  // namespace kba604
