// The progress window of an operation over the instrument ("Прибор <==> программа"), as the
// operation engine sees it: a title taken from the operation code, a range with counters "done
// of total" and an error count, a coloured log, one button captioned "Остановить" while the
// operation runs and "Закрыть" afterwards, and the check box "Автоматически закрывать окно".
//
// The engine calls the view from its worker thread; a front end hands the calls over to its UI
// thread. What the person does comes back through OperationControl.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace kba604 {

inline constexpr std::string_view kOperationWindowTitle = "Прибор <==> программа";
inline constexpr std::string_view kStopCaption = "Остановить";
inline constexpr std::string_view kCloseCaption = "Закрыть";
inline constexpr std::string_view kAutoCloseText = "Автоматически закрывать окно";
inline constexpr std::string_view kElapsedLabel = "Продолжительность:";
inline constexpr std::string_view kProcessedLabel = "Обработано пар-ов:";
inline constexpr std::string_view kErrorsLabel = "с ошибками:";

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
};

// The view of the headless runner: prints the title, the log lines and, at the end, the counters
// to stderr. Nobody can press its button, so it always closes by itself.
class StderrOperationView final : public OperationView {
 public:
  explicit StderrOperationView(platform::Clock& clock = platform::Clock::real()) : clock_(clock) {}
  void open(int operation_code, int total, OperationControl* control) override;
  void set_range(int total) override;
  void set_counters(int done, int total, int errors) override;
  void add_log_line(std::string_view text, LogColour colour, bool bold, bool italic) override;
  void set_button(OperationButton) override {}
  bool auto_close() const override { return true; }
  void set_auto_close(bool) override {}
  void close() override;
  bool is_open() const override;

 private:
  platform::Clock& clock_;
  mutable std::mutex mutex_;
  bool open_ = false;
  int code_ = 0, done_ = 0, total_ = 0, errors_ = 0;
  std::int64_t start_ms_ = 0;
};

}  // namespace kba604
