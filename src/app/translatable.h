// Texts that a person reads in the window's language. The program's own texts are Russian; the
// front end may install a translator (English when the locale asks for it) that the core then
// uses for the few texts it prints for a person to read in that language: the usage text of
// "--help". Everything else the core writes (stderr of a run, notes, logs, files, the control
// channel) stays as it is and never goes through here.
//
// KBA604_TR_NOOP(context, text) marks a text for the translation catalogue and stands for the
// text itself; KBA604_TR(context, text) marks it and returns it translated. Both are known to
// the catalogue's extraction (scripts/update-translations), which is why they take literals.
#pragma once

#include <string>
#include <string_view>

#define KBA604_TR_NOOP(context, text) text
#define KBA604_TR(context, text) ::kba604::translated(context, text)

namespace kba604 {

// Returns the translation of text in context, or an empty text when there is none.
using TextTranslator = std::string (*)(std::string_view context, std::string_view text);

// Installs the translator (null: none, every text stays as written). Called by the front end
// before anything runs; safe to call from any thread.
void set_text_translator(TextTranslator translator);

// text in the chosen language: its translation when the translator has one, else text.
std::string translated(std::string_view context, std::string_view text);

// Whether the locale variables ask for English messages: the first of LC_ALL, LC_MESSAGES and
// LANG that is set and not empty decides, and it asks for English when its language is "en"
// ("en_US.UTF-8", "en_GB", "en"). Null or empty variables are skipped; "C", "POSIX" and any other
// language keep the program's own texts.
bool english_locale(const char* lc_all, const char* lc_messages, const char* lang);
// The same for this process's environment.
bool english_locale_from_environment();

}  // namespace kba604
