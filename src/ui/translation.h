// The language of the window and of "--help". The program's own texts are Russian; with an
// English locale (see english_locale) the English catalogue built into the program replaces
// them: the window's menus, dialogs and message boxes, and the usage text. What a run prints on
// stderr, the notes, the logs, the control channel and every file the program writes stay as
// they are.
#pragma once

#include <QString>
#include <string_view>

namespace kba604 {

// Chooses the language: English (true) or the program's own texts (false). Callable before the
// QApplication exists (the usage text of "--help" is then translated already) and again after
// it is made, which hands the catalogue to the application for the window's texts. Widgets
// made before a change keep their texts. Returns false when English was asked for and the
// catalogue could not be loaded (the program's own texts stay). Qt's own texts (standard buttons,
// file dialogs) follow: Russian from the system's Qt translations unless English is chosen.
bool use_english(bool english);
// Whether the English catalogue is in use.
bool english_in_use();

// The text of a message box from the core in the chosen language: its translation when the
// catalogue has the text itself, or a template it was made from ("Файл \"%s\" не существует.")
// with the values carried over in their order; otherwise the text as it is.
QString translate_message(std::string_view text);

// A text of the program (UTF-8) as it is, not translated: names, values, notes, paths.
inline QString utf8_text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace kba604
