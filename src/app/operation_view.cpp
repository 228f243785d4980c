#include "app/operation_view.h"

#include <unistd.h>

#include <cstdio>

#include "platform/text.h"

namespace kba604 {

std::string_view operation_title(int code) {
  switch (code) {
    case 1:
      return "Идет чтение параметров из прибора";
    case 4:
      return "Идет запись параметров в прибор";
    case 5:
      return "Идет запись измененных значений параметров в прибор";
    case 6:
      return "Идет сравнение параметров в конфигурации и в приборе";
    case 7:
      return "Идет инициализация прибора";
    case 8:
      return "Идет считывание EEPROM из прибора";
    case 9:
      return "Идет запись EEPROM в прибор";
    case 17:
      return "Идет чтение группы параметров из прибора";
    case 18:
      return "Идет запись группы параметров в прибор";
    case 19:
      return "Идет сравнение группы значений параметров";
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

StderrOperationView::StderrOperationView(platform::Clock& clock, std::FILE* out, Output output)
    : clock_(clock), out_(out != nullptr ? out : stderr) {
  terminal_ =
      output == Output::Terminal || (output == Output::Detect && ::isatty(::fileno(out_)) == 1);
}

StderrOperationView::~StderrOperationView() {
  stop_ticker();
}

void StderrOperationView::write(const std::string& text) {
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
}

std::string StderrOperationView::progress_text() const {
  return platform::format("%s %i из %i  %s %i  %s %s", std::string(kProcessedLabel).c_str(), done_,
                          total_, std::string(kErrorsLabel).c_str(), errors_,
                          std::string(kElapsedLabel).c_str(),
                          elapsed_text(clock_.now_ms() - start_ms_).c_str());
}

void StderrOperationView::draw_progress() {
  if (!open_) return;
  std::string line = kClearLine;
  line += "kba604: " +
          platform::format("%s %i из %i", std::string(kProcessedLabel).c_str(), done_, total_);
  line += "  " + std::string(kErrorsLabel) + " ";
  if (errors_ > 0) {
    const LogColour& bg = log_colour::kErrorBackground;
    line += platform::format("\033[48;2;%d;%d;%dm\033[30m %i %s", bg.red, bg.green, bg.blue,
                             errors_, kReset);
  } else {
    line += "0";
  }
  line += "  " + std::string(kElapsedLabel) + " " + elapsed_text(clock_.now_ms() - start_ms_);
  write(line);
  progress_shown_ = true;
}

void StderrOperationView::open(int operation_code, int total, OperationControl*) {
  {
    std::lock_guard lock(mutex_);
    if (progress_shown_) write(kClearLine);
    progress_shown_ = false;
    open_ = true;
    code_ = operation_code;
    done_ = errors_ = 0;
    total_ = total;
    start_ms_ = clock_.now_ms();
    last_plain_progress_ms_ = start_ms_;
    if (terminal_) {
      write(std::string("kba604: \033[1m") + std::string(operation_title(operation_code)) + kReset +
            "\n");
      draw_progress();
    } else {
      write("kba604: " + std::string(operation_title(operation_code)) + "\n");
    }
  }
  if (terminal_ && &clock_ == &platform::Clock::real()) start_ticker();
}

void StderrOperationView::set_range(int total) {
  std::lock_guard lock(mutex_);
  total_ = total;
  done_ = 0;
  if (terminal_) draw_progress();
}

void StderrOperationView::set_counters(int done, int total, int errors) {
  std::lock_guard lock(mutex_);
  const bool moved = done != done_ || errors != errors_ || total != total_;
  done_ = done;
  total_ = total;
  errors_ = errors;
  if (terminal_) {
    if (moved) draw_progress();
    return;
  }
  const std::int64_t now = clock_.now_ms();
  if (open_ && moved && now - last_plain_progress_ms_ >= 5000) {
    last_plain_progress_ms_ = now;
    write("kba604: " + progress_text() + "\n");
  }
}

void StderrOperationView::add_log_line(std::string_view text, LogColour colour, bool bold,
                                       bool italic) {
  if (text.empty()) return;
  std::lock_guard lock(mutex_);
  const std::string look = terminal_ ? style(colour, bold, italic) : std::string();
  std::string out = terminal_ && progress_shown_ ? kClearLine : "";
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
  write(out);
  progress_shown_ = false;
  if (terminal_) draw_progress();
}

void StderrOperationView::tick() {
  std::lock_guard lock(mutex_);
  if (terminal_) draw_progress();
}

void StderrOperationView::close() {
  {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    open_ = false;
    std::string line = terminal_ && progress_shown_ ? kClearLine : "";
    progress_shown_ = false;
    line += "kba604: " + progress_text() + "\n";
    write(line);
  }
  stop_ticker();
}

bool StderrOperationView::is_open() const {
  std::lock_guard lock(mutex_);
  return open_;
}

void StderrOperationView::start_ticker() {
  stop_ticker();
  ticker_stop_ = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
  ticker_ = std::make_unique<platform::Thread>([this, stop = ticker_stop_] {
    while (!stop->wait(1000)) tick();
  });
}

void StderrOperationView::stop_ticker() {
  if (!ticker_) return;
  ticker_stop_->set();
  ticker_->join(platform::Thread::kDefaultJoinMs);
  ticker_.reset();
}

}  // namespace kba604
