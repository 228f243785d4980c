// A prompter for tests: records every box and answers questions from a script (or with the
// safe answer when the script is empty).
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/prompter.h"

namespace kba604::test {

struct PromptRecord {
  std::string text;
  std::string caption;
  PromptIcon icon;
  PromptButtons buttons;
};

class RecordingPrompter final : public Prompter {
 public:
  PromptAnswer ask(std::string_view text, std::string_view caption, PromptIcon icon,
                   PromptButtons buttons, PromptAnswer safe_answer) override {
    std::lock_guard lock(mutex_);
    records_.push_back({std::string(text), std::string(caption), icon, buttons});
    if (buttons == PromptButtons::Ok) return PromptAnswer::Ok;
    if (answers_.empty()) return safe_answer;
    PromptAnswer a = answers_.front();
    answers_.pop_front();
    return a;
  }

  void answer_next(PromptAnswer a) {
    std::lock_guard lock(mutex_);
    answers_.push_back(a);
  }
  std::vector<PromptRecord> records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  std::size_t count() const {
    std::lock_guard lock(mutex_);
    return records_.size();
  }
  void clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<PromptRecord> records_;
  std::deque<PromptAnswer> answers_;
};

}  // namespace kba604::test
