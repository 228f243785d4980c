#include "app/translatable.h"

#include <atomic>
#include <cstdlib>

namespace kba604 {

namespace {
std::atomic<TextTranslator> installed{nullptr};
}  // namespace

void set_text_translator(TextTranslator translator) {
  installed.store(translator);
}

std::string translated(std::string_view context, std::string_view text) {
  if (TextTranslator t = installed.load()) {
    std::string result = t(context, text);
    if (!result.empty()) return result;
  }
  return std::string(text);
}

bool english_locale(const char* lc_all, const char* lc_messages, const char* lang) {
  for (const char* value : {lc_all, lc_messages, lang}) {
    if (value == nullptr || *value == '\0') continue;
    const std::string_view v(value);
    // The language is what comes before the territory, the codeset or the modifier.
    const std::string_view language = v.substr(0, v.find_first_of("_.@"));
    return language == "en";
  }
  return false;
}

bool english_locale_from_environment() {
  return english_locale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace kba604
