// The configurator registration: the section [KBA604] of Devices.conf tells other TALV programs
// which configurator serves the KBA604 ("name", "description", "version", "application").
#pragma once

#include <string>
#include <string_view>

#include "app/prompter.h"
#include "app/translatable.h"
#include "platform/settings_store.h"

namespace kba604 {

// The question asked when another configurator is registered; the running program's path
// comes first, the registered one second.
inline constexpr const char* kOtherConfiguratorQuestion = KBA604_TR_NOOP(
    "Messages",
    "Вероятно, на вашем компьютере установлено несколько конфигураторов этого прибора,\nчто не "
    "рекомендуется, но допускается.\n\nУстановить запущенный конфигуратор (\"%s\")\nкак основной "
    "или оставить ссылку на конфигуратор прибора KBA604 как она сейчас есть\n(\"%s\")?");

inline constexpr std::string_view kModelName = "KBA604";

// Writes "name", "description" (both the model name) and "version" when they are missing. When
// "application" names another existing program, asks whether the running program should become
// the registered one; on Yes it is stored in double quotes. A missing "application" stays
// missing. Failures to write are not reported: the registration is a courtesy to other programs.
void register_configurator(platform::SettingsStore& registration, Prompter& prompter,
                           const std::string& running_program, std::string_view version);

}  // namespace kba604
