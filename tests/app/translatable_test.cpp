#include "app/translatable.h"

#include <gtest/gtest.h>

#include <sstream>

#include "app/exit_flags.h"
#include "runner/tool_modes.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

TEST(Translatable, TheFirstSetLocaleVariableDecidesAndOnlyEnglishAsksForTheCatalogue) {
  // LC_ALL, then LC_MESSAGES, then LANG; a set but empty variable counts as unset.
  EXPECT_TRUE(english_locale(nullptr, nullptr, "en_US.UTF-8"));
  EXPECT_TRUE(english_locale("", "", "en_GB"));
  EXPECT_TRUE(english_locale(nullptr, nullptr, "en"));
  EXPECT_TRUE(english_locale(nullptr, "en_US.UTF-8", "ru_RU.UTF-8"));
  EXPECT_TRUE(english_locale("en_IE@euro", nullptr, nullptr));
  EXPECT_FALSE(english_locale("ru_RU.UTF-8", "en_US.UTF-8", "en_US.UTF-8"));
  EXPECT_FALSE(english_locale("C.UTF-8", nullptr, "en_US.UTF-8"));
  EXPECT_FALSE(english_locale(nullptr, nullptr, nullptr));
  EXPECT_FALSE(english_locale("", "", ""));
  EXPECT_FALSE(english_locale(nullptr, nullptr, "C"));
  EXPECT_FALSE(english_locale(nullptr, nullptr, "POSIX"));
  // Languages that merely begin with "en" are other languages.
  EXPECT_FALSE(english_locale(nullptr, nullptr, "eng"));
  EXPECT_FALSE(english_locale(nullptr, nullptr, "es_ES.UTF-8"));
}

std::string upper_help(std::string_view context, std::string_view text) {
  if (context != "Help") return {};
  // A stand-in catalogue: it knows two texts of the usage and nothing else.
  if (text == "\nФайлы:\n") return "\nFILES:\n";
  if (text == "ФАЙЛ") return "FILE";
  if (text == "ИМЯ") return "NAME";
  return {};
}

struct TranslatorGuard {
  explicit TranslatorGuard(TextTranslator t) { set_text_translator(t); }
  ~TranslatorGuard() { set_text_translator(nullptr); }
};

TEST(Translatable, TheUsageTextGoesThroughTheInstalledTranslatorAndKeepsWhatItLacks) {
  test::TestHome home;
  const std::string own = usage_text();
  EXPECT_NE(own.find("\nФайлы:\n"), std::string::npos);
  EXPECT_NE(own.find("/elog:ФАЙЛ"), std::string::npos);
  {
    TranslatorGuard guard(upper_help);
    EXPECT_EQ(translated("Help", "ФАЙЛ"), "FILE");
    EXPECT_EQ(translated("Messages", "ФАЙЛ"), "ФАЙЛ");
    const std::string shown = usage_text();
    EXPECT_NE(shown.find("\nFILES:\n"), std::string::npos);
    // The switch table's values and the tool modes' values are translated too.
    EXPECT_NE(shown.find("/elog:FILE"), std::string::npos);
    EXPECT_NE(shown.find("--export-parlist[=FILE]"), std::string::npos);
    // What the catalogue lacks stays as written, and the names of the switches never change.
    EXPECT_NE(shown.find("Использование: kba604"), std::string::npos);
    EXPECT_NE(shown.find("/write"), std::string::npos);
  }
  EXPECT_EQ(usage_text(), own);
}

TEST(Translatable, ComplaintsOfToolModesStayInTheProgramsOwnWords) {
  // A run's messages on stderr are never translated, whatever catalogue is in use.
  TranslatorGuard guard(upper_help);
  std::ostringstream out, err;
  EXPECT_EQ(run_tool_mode({"--signal-exitevent"}, out, err), exit_code::kUsage);
  EXPECT_NE(err.str().find("kba604 --signal-exitevent ИМЯ"), std::string::npos);
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
}  // namespace kba604
