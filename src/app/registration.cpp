#include "app/registration.h"

#include <filesystem>

#include "app/command_line.h"
#include "platform/text.h"

namespace kba604 {

void register_configurator(platform::SettingsStore& registration, Prompter& prompter,
                           const std::string& running_program, std::string_view version) {
  auto write_once = [&](std::string_view key, std::string_view value) {
    if (!registration.contains(key)) registration.set_value(key, value);
  };
  write_once("name", kModelName);
  write_once("description", kModelName);
  write_once("version", version);

  std::optional<std::string> stored = registration.value("application");
  if (!stored) return;
  std::string registered = strip_quotes(*stored);
  // The values were read into buffers of 1023 bytes.
  if (registered.size() > 1022) registered.resize(1022);
  std::error_code ec;
  if (registered.empty() || !std::filesystem::is_regular_file(registered, ec)) return;
  if (platform::iequals(registered, running_program)) return;
  const std::string question =
      platform::format(kOtherConfiguratorQuestion, running_program.c_str(), registered.c_str());
  if (prompter.confirm(question, "", PromptIcon::Question)) {
    registration.set_value("application", "\"" + running_program + "\"");
  }
}

}  // namespace kba604
