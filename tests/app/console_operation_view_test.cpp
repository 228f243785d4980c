#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/event.h"
#include "platform/thread.h"

#include "app/operation_view.h"

namespace kba604 {
namespace {

// What a view wrote into a memory stream.
class Captured {
 public:
  Captured() { stream_ = open_memstream(&data_, &size_); }
  ~Captured() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(data_);
  }
  std::FILE* stream() { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(ConsoleOperationView, OnATerminalOneProgressLineIsRedrawnUnderColouredLogLines) {
  platform::ManualClock clock;
  Captured out;
  StderrOperationView view(clock, out.stream(), StderrOperationView::Output::Terminal);
  view.open(1, 10, nullptr);
  view.add_log_line("  Чтение: r.St = 5", log_colour::kNormal, false, false);
  view.add_log_line("  Чтение: in-t:4 = Таймаут", log_colour::kReadFailed, true, false);
  view.add_log_line("Принудительное перечитывание", log_colour::kNotice, false, true);
  view.set_counters(3, 10, 1);
  clock.advance_ms(65'000);
  view.tick();
  view.close();
  const std::string text = out.text();

  EXPECT_TRUE(contains(text, "\033[1mИдет чтение параметров из прибора\033[0m\n"));
  EXPECT_TRUE(
      contains(text, "kba604:   \033[1m\033[38;2;200;0;0m  Чтение: in-t:4 = Таймаут\033[0m\n"));
  EXPECT_TRUE(contains(text, "\033[3m\033[38;2;0;0;150mПринудительное перечитывание\033[0m"));
  // A black line keeps the terminal's own colour.
  EXPECT_TRUE(contains(text, "kba604:   Чтение: r.St = 5\n") ||
              contains(text, "kba604:     Чтение: r.St = 5\n"));
  // The progress line is replaced in place, with the errors on their light red background and
  // the elapsed time moving on even when nothing else does.
  EXPECT_TRUE(contains(text,
                       "\r\033[Kkba604: Обработано пар-ов: 3 из 10  с ошибками: "
                       "\033[48;2;255;166;166m"));
  EXPECT_TRUE(contains(text, "Продолжительность: 1:05"));
  EXPECT_TRUE(contains(text,
                       "kba604: Обработано пар-ов: 3 из 10  с ошибками: 1  "
                       "Продолжительность: 1:05\n"));
  EXPECT_FALSE(view.is_open());
}

TEST(ConsoleOperationView, WithoutATerminalLinesArePlainAndProgressComesNowAndThen) {
  platform::ManualClock clock;
  Captured out;
  StderrOperationView view(clock, out.stream(), StderrOperationView::Output::Plain);
  view.open(4, 100, nullptr);
  view.add_log_line("first\nsecond", log_colour::kWriteFailed, true, false);
  view.set_counters(1, 100, 0);  // too soon for a progress line
  clock.advance_ms(5'000);
  view.set_counters(2, 100, 0);
  view.set_counters(3, 100, 0);  // again too soon
  clock.advance_ms(3'600'000);
  view.close();
  const std::string text = out.text();
  EXPECT_EQ(text,
            "kba604: Идет запись параметров в прибор\n"
            "kba604:   first\n"
            "kba604:   second\n"
            "kba604: Обработано пар-ов: 2 из 100  с ошибками: 0  Продолжительность: 0:05\n"
            "kba604: Обработано пар-ов: 3 из 100  с ошибками: 0  Продолжительность: 1:00:05\n");
}

// A redraw blocked on its stream (a full pipe, a stopped terminal) outlives its view: the
// view's end leaves it running after a limited wait, and it goes on with what it owns.
TEST(ConsoleOperationView, ARedrawBlockedOnItsStreamOutlivesTheView) {
  // A stream whose writes from any thread but this one wait until the test lets them go.
  struct Gate {
    std::thread::id owner = std::this_thread::get_id();
    platform::Event entered{platform::Event::Reset::Manual};
    platform::Event open{platform::Event::Reset::Manual};
    platform::Event passed{platform::Event::Reset::Manual};
  };
  // Never destroyed: the redraw left running may still use it while the program exits.
  static Gate& gate = *new Gate;
  cookie_io_functions_t io{};
  io.write = [](void* cookie, const char*, std::size_t size) -> ssize_t {
    auto* g = static_cast<Gate*>(cookie);
    if (std::this_thread::get_id() != g->owner && !g->passed.is_set()) {
      g->entered.set();
      g->open.wait(-1);
      g->passed.set();
    }
    return static_cast<ssize_t>(size);
  };
  std::FILE* stream = fopencookie(&gate, "w", io);
  ASSERT_NE(stream, nullptr);
  std::setvbuf(stream, nullptr, _IONBF, 0);
  {
    // The periodic redraw needs the real clock; it comes every millisecond here, and the view
    // waits for nothing when it ends.
    StderrOperationView view(platform::Clock::real(), stream, StderrOperationView::Output::Terminal,
                             1, 0);
    view.open(1, 10, nullptr);
    ASSERT_TRUE(gate.entered.wait(10'000));  // the redraw is inside its write
  }
  // The view is gone; the redraw finishes its line with what it owns.
  gate.open.set();
  ASSERT_TRUE(gate.passed.wait(10'000));
}

}  // namespace
}  // namespace kba604
