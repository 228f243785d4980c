// The progress window of an operation over the instrument ("Прибор <==> программа"), as the
// operation engine sees it: a title taken from the operation code, a range with counters "done
// of total" and an error count, a coloured log, one button captioned "Остановить" while the
// operation runs and "Закрыть" afterwards, and the check box "Автоматически закрывать окно".
//
// The engine calls the view from its worker thread; a front end hands the calls over to its UI
// thread. What the person does comes back through OperationControl.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "app/translatable.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace kba604 {

inline constexpr std::string_view kOperationWindowTitle =
    KBA604_TR_NOOP("Messages", "Прибор <==> программа");
inline constexpr std::string_view kStopCaption = KBA604_TR_NOOP("Messages", "Остановить");
inline constexpr std::string_view kCloseCaption = KBA604_TR_NOOP("Messages", "Закрыть");
inline constexpr std::string_view kAutoCloseText =
    KBA604_TR_NOOP("Messages", "Автоматически закрывать окно");
inline constexpr std::string_view kElapsedLabel = KBA604_TR_NOOP("Messages", "Продолжительность:");
inline constexpr std::string_view kProcessedLabel =
    KBA604_TR_NOOP("Messages", "Обработано пар-ов:");
inline constexpr std::string_view kErrorsLabel = KBA604_TR_NOOP("Messages", "с ошибками:");

// The title of an operation code (1, 4..9, 17..19); empty for an unknown code.
std::string_view operation_title(int code);

struct LogColour {
  std::uint8_t red = 0, green = 0, blue = 0;
  bool operator==(const LogColour&) const = default;
};

// The colours of the log; failed reads are bold, notices italic, the closing hint bold.
namespace log_colour {
inline constexpr LogColour kNormal{0, 0, 0};
inline constexpr LogColour kReadFailed{200, 0, 0};  // also failed attribute steps
inline constexpr LogColour kWriteFailed{255, 0, 0};
inline constexpr LogColour kNotice{0, 0, 150};
inline constexpr LogColour kHint{128, 0, 0};
// The background of the error count when it is above 0.
inline constexpr LogColour kErrorBackground{255, 166, 166};
}  // namespace log_colour

enum class OperationButton { Stop, Close };

// What the person does in the window; the engine implements it.
class OperationControl {
 public:
  virtual ~OperationControl() = default;
  // The one button was pressed (whatever its caption).
  virtual void button_pressed() = 0;
  // The check box "Автоматически закрывать окно" was toggled.
  virtual void auto_close_toggled(bool ticked) = 0;
};

class OperationView {
 public:
  virtual ~OperationView() = default;

  // Opens the window for an operation: title from the code, range 0..total, counters and log
  // empty, the check box ticked, the button "Остановить". control (may be null) receives the
  // person's actions until close().
  virtual void open(int operation_code, int total, OperationControl* control) = 0;
  // A new range (a forced re-read group replaces the total); the position goes back to 0.
  virtual void set_range(int total) = 0;
  // "done из total" and the error count.
  virtual void set_counters(int done, int total, int errors) = 0;
  virtual void add_log_line(std::string_view text, LogColour colour, bool bold, bool italic) = 0;
  virtual void set_button(OperationButton button) = 0;
  // Whether "Автоматически закрывать окно" is ticked.
  virtual bool auto_close() const = 0;
  virtual void set_auto_close(bool ticked) = 0;
  virtual void close() = 0;
  virtual bool is_open() const = 0;
  // UI thread: runs task once the window a person may still be reading has gone (what is to
  // follow an operation, such as the compare report, comes after its window). A view that
  // never waits for a person runs it at once.
  virtual void after_close(std::function<void()> task) { task(); }
};

// The view of the headless runner, on stderr (or another stream). On a terminal it keeps one
// progress line at the bottom ("Обработано пар-ов: done из total", the errors, the elapsed
// time), redrawn as the counters change and every second while the window is open, so that a
// long operation never looks frozen; log lines scroll above it in their colours (ANSI codes,
// bold and italics). Without a terminal it prints plain lines: the title, the log lines, a
// progress line at most every 5 seconds while the counters move, and the counters at the end.
// Nobody can press its button, so it always closes by itself.
class StderrOperationView final : public OperationView {
 public:
  enum class Output { Detect, Terminal, Plain };

  // out: the stream (stderr by default); Detect asks whether it is a terminal. The redraw every
  // tick_ms runs only on a terminal and with the real clock; closing waits up to join_ms for
  // it and leaves it running after that (it owns what it draws).
  explicit StderrOperationView(platform::Clock& clock = platform::Clock::real(),
                               std::FILE* out = nullptr, Output output = Output::Detect,
                               int tick_ms = 1000, int join_ms = platform::Thread::kDefaultJoinMs);
  ~StderrOperationView() override;
  StderrOperationView(const StderrOperationView&) = delete;
  StderrOperationView& operator=(const StderrOperationView&) = delete;

  void open(int operation_code, int total, OperationControl* control) override;
  void set_range(int total) override;
  void set_counters(int done, int total, int errors) override;
  void add_log_line(std::string_view text, LogColour colour, bool bold, bool italic) override;
  void set_button(OperationButton) override {}
  bool auto_close() const override { return true; }
  void set_auto_close(bool) override {}
  void close() override;
  bool is_open() const override;

  // Redraws the progress line (the periodic redraw calls it).
  void tick();
  bool terminal() const { return screen_->terminal; }

 private:
  // What the view draws: shared with the redraw thread, which may outlive the view when its
  // stream blocks (a full pipe).
  struct Screen {
    Screen(platform::Clock& clock, std::FILE* out) : clock(clock), out(out) {}
    std::string progress_text() const;
    // Terminal: replaces the progress line. Under mutex.
    void draw_progress();
    void write(const std::string& text);

    platform::Clock& clock;
    std::FILE* out;
    bool terminal = false;
    mutable std::mutex mutex;
    bool open = false;
    bool progress_shown = false;
    int code = 0, done = 0, total = 0, errors = 0;
    std::int64_t start_ms = 0;
    std::int64_t last_plain_progress_ms = 0;
  };
  void start_ticker();
  void stop_ticker();

  std::shared_ptr<Screen> screen_;
  int tick_ms_;
  int join_ms_;
  std::shared_ptr<platform::Event> ticker_stop_;
  std::unique_ptr<platform::Thread> ticker_;
};

}  // namespace kba604
