#include "app/operation_view.h"

#include <unistd.h>

#include <cstdio>

#include "app/translatable.h"
#include "platform/text.h"

namespace kba604 {

std::string_view operation_title(int code) {
  switch (code) {
    case 1:
      return KBA604_TR_NOOP("Messages", "Идет чтение параметров из прибора");
    case 4:
      return KBA604_TR_NOOP("Messages", "Идет запись параметров в прибор");
    case 5:
      return KBA604_TR_NOOP("Messages", "Идет запись измененных значений параметров в прибор");
    case 6:
      return KBA604_TR_NOOP("Messages", "Идет сравнение параметров в конфигурации и в приборе");
    case 7:
      return KBA604_TR_NOOP("Messages", "Идет инициализация прибора");
    case 8:
      return KBA604_TR_NOOP("Messages", "Идет считывание EEPROM из прибора");
    case 9:
      return KBA604_TR_NOOP("Messages", "Идет запись EEPROM в прибор");
    case 17:
      return KBA604_TR_NOOP("Messages", "Идет чтение группы параметров из прибора");
    case 18:
      return KBA604_TR_NOOP("Messages", "Идет запись группы параметров в прибор");
    case 19:
      return KBA604_TR_NOOP("Messages", "Идет сравнение группы значений параметров");
    default:
      return {};
  }
}

namespace {

constexpr const char* kClearLine = "\r\033[K";
constexpr const char* kReset = "\033[0m";

std::string elapsed_text(std::int64_t ms) {
  const long long seconds = ms / 1000;
  if (seconds >= 3600) {
    return platform::format("%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  }
  return platform::format("%lld:%02lld", seconds / 60, seconds % 60);
}

// The escape sequence of a log line's look; black is the terminal's own colour.
std::string style(LogColour colour, bool bold, bool italic) {
  std::string codes;
  if (bold) codes += "\033[1m";
  if (italic) codes += "\033[3m";
  if (!(colour == log_colour::kNormal)) {
    codes += platform::format("\033[38;2;%d;%d;%dm", colour.red, colour.green, colour.blue);
  }
  return codes;
}

}  // namespace

StderrOperationView::StderrOperationView(platform::Clock& clock, std::FILE* out, Output output,
                                         int tick_ms, int join_ms)
    : screen_(std::make_shared<Screen>(clock, out != nullptr ? out : stderr)),
      tick_ms_(tick_ms),
      join_ms_(join_ms) {
  screen_->terminal = output == Output::Terminal ||
                      (output == Output::Detect && ::isatty(::fileno(screen_->out)) == 1);
}

StderrOperationView::~StderrOperationView() {
  stop_ticker();
}

void StderrOperationView::Screen::write(const std::string& text) {
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

std::string StderrOperationView::Screen::progress_text() const {
  return platform::format("%s %i из %i  %s %i  %s %s", std::string(kProcessedLabel).c_str(), done,
                          total, std::string(kErrorsLabel).c_str(), errors,
                          std::string(kElapsedLabel).c_str(),
                          elapsed_text(clock.now_ms() - start_ms).c_str());
}

void StderrOperationView::Screen::draw_progress() {
  if (!open) return;
  std::string line = kClearLine;
  line += "kba604: " +
          platform::format("%s %i из %i", std::string(kProcessedLabel).c_str(), done, total);
  line += "  " + std::string(kErrorsLabel) + " ";
  if (errors > 0) {
    const LogColour& bg = log_colour::kErrorBackground;
    line += platform::format("\033[48;2;%d;%d;%dm\033[30m %i %s", bg.red, bg.green, bg.blue, errors,
                             kReset);
  } else {
    line += "0";
  }
  line += "  " + std::string(kElapsedLabel) + " " + elapsed_text(clock.now_ms() - start_ms);
  write(line);
  progress_shown = true;
}

void StderrOperationView::open(int operation_code, int total, OperationControl*) {
  {
    Screen& v = *screen_;
    std::lock_guard lock(v.mutex);
    if (v.progress_shown) v.write(kClearLine);
    v.progress_shown = false;
    v.open = true;
    v.code = operation_code;
    v.done = v.errors = 0;
    v.total = total;
    v.start_ms = v.clock.now_ms();
    v.last_plain_progress_ms = v.start_ms;
    if (v.terminal) {
      v.write(std::string("kba604: \033[1m") + std::string(operation_title(operation_code)) +
              kReset + "\n");
      v.draw_progress();
    } else {
      v.write("kba604: " + std::string(operation_title(operation_code)) + "\n");
    }
  }
  if (screen_->terminal && &screen_->clock == &platform::Clock::real()) start_ticker();
}

void StderrOperationView::set_range(int total) {
  Screen& v = *screen_;
  std::lock_guard lock(v.mutex);
  v.total = total;
  v.done = 0;
  if (v.terminal) v.draw_progress();
}

void StderrOperationView::set_counters(int done, int total, int errors) {
  Screen& v = *screen_;
  std::lock_guard lock(v.mutex);
  const bool moved = done != v.done || errors != v.errors || total != v.total;
  v.done = done;
  v.total = total;
  v.errors = errors;
  if (v.terminal) {
    if (moved) v.draw_progress();
    return;
  }
  const std::int64_t now = v.clock.now_ms();
  if (v.open && moved && now - v.last_plain_progress_ms >= 5000) {
    v.last_plain_progress_ms = now;
    v.write("kba604: " + v.progress_text() + "\n");
  }
}

void StderrOperationView::add_log_line(std::string_view text, LogColour colour, bool bold,
                                       bool italic) {
  if (text.empty()) return;
  Screen& v = *screen_;
  std::lock_guard lock(v.mutex);
  const std::string look = v.terminal ? style(colour, bold, italic) : std::string();
  std::string out = v.terminal && v.progress_shown ? kClearLine : "";
  // Log lines may hold several lines; each is printed with the program's prefix.
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    if (end > pos) {
      out += "kba604:   ";
      out += look.empty() ? std::string(text.substr(pos, end - pos))
                          : look + std::string(text.substr(pos, end - pos)) + kReset;
      out += "\n";
    }
    pos = end + 1;
  }
  v.write(out);
  v.progress_shown = false;
  if (v.terminal) v.draw_progress();
}

void StderrOperationView::tick() {
  Screen& v = *screen_;
  std::lock_guard lock(v.mutex);
  if (v.terminal) v.draw_progress();
}

void StderrOperationView::close() {
  {
    Screen& v = *screen_;
    std::lock_guard lock(v.mutex);
    if (!v.open) return;
    v.open = false;
    std::string line = v.terminal && v.progress_shown ? kClearLine : "";
    v.progress_shown = false;
    line += "kba604: " + v.progress_text() + "\n";
    v.write(line);
  }
  stop_ticker();
}

bool StderrOperationView::is_open() const {
  Screen& v = *screen_;
  std::lock_guard lock(v.mutex);
  return v.open;
}

void StderrOperationView::start_ticker() {
  stop_ticker();
  ticker_stop_ = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
  // The thread owns what it draws and its stop event: a redraw blocked on the stream may go on
  // after the view is gone.
  ticker_ = std::make_unique<platform::Thread>(
      [screen = screen_, stop = ticker_stop_, period = tick_ms_] {
        while (!stop->wait(period)) {
          std::lock_guard lock(screen->mutex);
          if (screen->terminal) screen->draw_progress();
        }
      });
}

void StderrOperationView::stop_ticker() {
  if (!ticker_) return;
  ticker_stop_->set();
  ticker_->join(join_ms_);
  ticker_.reset();
}

}  // namespace kba604
