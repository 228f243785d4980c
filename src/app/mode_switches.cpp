#include "app/mode_switches.h"

#include "app/commands.h"

namespace kba604 {

bool ModeSwitches::run(int command) {
  switch (command) {
    case command::kShowIndexes:
      modes_.show_indexes.store(!modes_.show_indexes.load());
      sink_.views_changed();
      return true;
    case command::kAutoRead:
      modes_.auto_read.store(!modes_.auto_read.load());
      return true;
    case command::kImmediateWrite:
      if (modes_.immediate_write.load()) {
        modes_.immediate_write.store(false);
      } else {
        // The explanation comes only when the mode goes from off to on.
        modes_.immediate_write.store(true);
        prompter_.show(kImmediateWriteText, "", PromptIcon::Information);
        if (immediate_write_started_) immediate_write_started_();
      }
      return true;
    case command::kNoAttributes:
      if (modes_.no_attributes.load()) {
        modes_.no_attributes.store(false);
      } else {
        modes_.no_attributes.store(true);
        prompter_.show(kNoAttributesText, "", PromptIcon::Information);
      }
      return true;
    case command::kHideMinimised: {
      const bool on = !modes_.hide_minimised.load();
      modes_.hide_minimised.store(on);
      settings_.set_hide_minimised(on);
      return true;
    }
    case command::kConverterSemiAuto:
      modes_.rs485_type.store(0);
      return true;
    case command::kConverterAuto:
      modes_.rs485_type.store(1);
      return true;
    default:
      return false;
  }
}

bool ModeSwitches::checked(int command) const {
  switch (command) {
    case command::kShowIndexes:
      return modes_.show_indexes.load();
    case command::kAutoRead:
      return modes_.auto_read.load();
    case command::kImmediateWrite:
      return modes_.immediate_write.load();
    case command::kNoAttributes:
      return modes_.no_attributes.load();
    case command::kHideMinimised:
      return modes_.hide_minimised.load();
    case command::kConverterSemiAuto:
      return modes_.rs485_type.load() == 0;
    case command::kConverterAuto:
      return modes_.rs485_type.load() == 1;
    default:
      return false;
  }
}

}  // namespace kba604
