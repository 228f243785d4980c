#include "app/operation_view.h"

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
void print_line(std::string_view prefix, std::string_view text) {
  std::string line = "kba604: " + std::string(prefix) + std::string(text) + "\n";
  std::fputs(line.c_str(), stderr);
}
}  // namespace

void StderrOperationView::open(int operation_code, int total, OperationControl*) {
  std::lock_guard lock(mutex_);
  open_ = true;
  code_ = operation_code;
  done_ = errors_ = 0;
  total_ = total;
  start_ms_ = clock_.now_ms();
  print_line("", operation_title(operation_code));
}

void StderrOperationView::set_range(int total) {
  std::lock_guard lock(mutex_);
  total_ = total;
  done_ = 0;
}

void StderrOperationView::set_counters(int done, int total, int errors) {
  std::lock_guard lock(mutex_);
  done_ = done;
  total_ = total;
  errors_ = errors;
}

void StderrOperationView::add_log_line(std::string_view text, LogColour, bool, bool) {
  if (text.empty()) return;
  // Log lines may hold several lines; each is printed with the program's prefix.
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    if (end > pos) print_line("  ", text.substr(pos, end - pos));
    pos = end + 1;
  }
}

void StderrOperationView::close() {
  std::lock_guard lock(mutex_);
  if (!open_) return;
  open_ = false;
  const std::int64_t seconds = (clock_.now_ms() - start_ms_) / 1000;
  print_line("",
             platform::format("%s %i из %i, %s %i, %s %lld с", std::string(kProcessedLabel).c_str(),
                              done_, total_, std::string(kErrorsLabel).c_str(), errors_,
                              std::string(kElapsedLabel).c_str(), static_cast<long long>(seconds)));
}

bool StderrOperationView::is_open() const {
  std::lock_guard lock(mutex_);
  return open_;
}

}  // namespace kba604
