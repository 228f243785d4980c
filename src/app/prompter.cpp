#include "app/prompter.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace kba604 {

PromptAnswer StderrPrompter::ask(std::string_view text, std::string_view caption, PromptIcon icon,
                                 PromptButtons buttons, PromptAnswer safe_answer) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  const char* kind = icon == PromptIcon::Error     ? "ошибка"
                     : icon == PromptIcon::Warning ? "предупреждение"
                                                   : "сообщение";
  std::string line = "kba604: " + std::string(kind);
  if (!caption.empty()) line += " [" + std::string(caption) + "]";
  line += ": " + std::string(text);
  if (buttons != PromptButtons::Ok) {
    line += safe_answer == PromptAnswer::Yes      ? " -> да"
            : safe_answer == PromptAnswer::Cancel ? " -> отмена"
                                                  : " -> нет";
  }
  line += "\n";
  std::fputs(line.c_str(), stderr);
  return buttons == PromptButtons::Ok ? PromptAnswer::Ok : safe_answer;
}

}  // namespace kba604
