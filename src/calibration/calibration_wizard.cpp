#include "calibration/calibration_wizard.h"
#include "app/translatable.h"

namespace kba604::calibration {

bool run_wizard(WizardDialogs& dialogs, Prompter& prompter) {
  bool continued = false;
  bool select = true;
  StepsStart start;
  for (;;) {
    if (select) {
      StepsStart chosen;
      if (dialogs.run_selection(chosen) != SelectionEnd::Continued) return continued;
      continued = true;
      start = chosen;
    }
    switch (dialogs.run_steps(start)) {
      case FollowUp::None:
        return continued;
      case FollowUp::RestartSelection:
        select = true;
        break;
      case FollowUp::AskExit:
        if (prompter.confirm(
                KBA604_TR_NOOP("Messages",
                               "Выйти из юстировки?\n(нет - повторить с новым каналом)"),
                "Сообщение", PromptIcon::Question, true)) {
          return continued;
        }
        select = true;
        break;
      case FollowUp::OfferRepeat:
        if (!prompter.confirm(
                KBA604_TR_NOOP("Messages",
                               "Попытка юстировки закончилась неудачно; повторить юстировку?"),
                KBA604_TR_NOOP("Messages", "Вопрос о повторе калибкровки"), PromptIcon::Question)) {
          return continued;
        }
        select = false;  // the same type, instruction and input, from the closed position
        break;
    }
  }
}

}  // namespace kba604::calibration
