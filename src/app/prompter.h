// How the core speaks to a person: message boxes and yes/no questions. The Qt front end shows
// real boxes, the headless runner prints to stderr and answers with the safe answer, tests
// record what was asked and answer from a script.
#pragma once

#include <string>
#include <string_view>

namespace kba604 {

enum class PromptIcon { None, Information, Warning, Error, Question };
enum class PromptButtons { Ok, YesNo, OkCancel, YesNoCancel };
enum class PromptAnswer { Ok, Yes, No, Cancel };

class Prompter {
 public:
  virtual ~Prompter() = default;

  // Shows text under caption and returns the answer. safe_answer is the answer that keeps the
  // user's data and the instrument's configuration as they are; a front end that cannot ask
  // (quiet mode, no display) returns it. For an Ok box the answer is Ok.
  virtual PromptAnswer ask(std::string_view text, std::string_view caption, PromptIcon icon,
                           PromptButtons buttons, PromptAnswer safe_answer) = 0;

  // A box with only an OK button.
  void show(std::string_view text, std::string_view caption, PromptIcon icon) {
    ask(text, caption, icon, PromptButtons::Ok, PromptAnswer::Ok);
  }
  // A Yes/No question; true on Yes.
  bool confirm(std::string_view text, std::string_view caption, PromptIcon icon,
               bool safe_is_yes = false) {
    return ask(text, caption, icon, PromptButtons::YesNo,
               safe_is_yes ? PromptAnswer::Yes : PromptAnswer::No) == PromptAnswer::Yes;
  }
};

// Prints every box to stderr as "caption: text" and answers with the safe answer. Used by the
// headless runner and whenever the program runs in quiet mode.
class StderrPrompter final : public Prompter {
 public:
  PromptAnswer ask(std::string_view text, std::string_view caption, PromptIcon icon,
                   PromptButtons buttons, PromptAnswer safe_answer) override;
};

}  // namespace kba604
