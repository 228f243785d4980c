// The language of "kba604 --help" follows the locale: English with an English locale, the
// program's own Russian otherwise; what a run prints on stderr stays Russian either way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/exit_flags.h"
#include "support/child_process.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

// Sets the locale variables for the children of one test and restores the suite's afterwards.
class LocaleGuard {
 public:
  LocaleGuard(const char* lc_all, const char* lc_messages, const char* lang) {
    set("LC_ALL", lc_all);
    set("LC_MESSAGES", lc_messages);
    set("LANG", lang);
  }
  ~LocaleGuard() {
    for (auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  void set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

bool has_cyrillic(const std::string& utf8) {
  // Cyrillic letters are U+0400..U+04FF: lead bytes 0xD0..0xD3 in UTF-8.
  for (unsigned char c : utf8) {
    if (c >= 0xD0 && c <= 0xD3) return true;
  }
  return false;
}

std::string help() {
  test::ChildResult r = test::run_child({test::kba604_program(), "--help"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  return r.out;
}

TEST(HelpLanguage, AnEnglishLocaleGivesTheWholeUsageInEnglish) {
  test::TestHome home;
  for (const auto& [lc_all, lang] : {std::pair<const char*, const char*>{nullptr, "en_US.UTF-8"},
                                     {"en_GB.UTF-8", "ru_RU.UTF-8"}}) {
    LocaleGuard locale(lc_all, nullptr, lang);
    const std::string text = help();
    EXPECT_EQ(text.rfind("Usage: kba604 [SWITCHES] [FILE.604]", 0), 0u) << text;
    // Every switch, mode value and exit code has its English line: a new one without a
    // translation would leave Russian in the text.
    EXPECT_FALSE(has_cyrillic(text)) << text;
    for (const SwitchEntry& s : switch_table()) {
      EXPECT_NE(text.find("/" + std::string(s.name)), std::string::npos) << s.name;
    }
    EXPECT_NE(text.find("/elog:FILE"), std::string::npos);
  }
  LocaleGuard messages_only(nullptr, "en_US.UTF-8", "ru_RU.UTF-8");
  EXPECT_EQ(help().rfind("Usage: kba604", 0), 0u);
}

TEST(HelpLanguage, ARussianLocaleOrNoneKeepsTheProgramsOwnText) {
  test::TestHome home;
  for (const auto& [lc_all, lang] : {std::pair<const char*, const char*>{nullptr, "ru_RU.UTF-8"},
                                     {nullptr, nullptr},
                                     {"C.UTF-8", "en_US.UTF-8"},
                                     {"", "POSIX"}}) {
    LocaleGuard locale(lc_all, nullptr, lang);
    const std::string text = help();
    EXPECT_EQ(text.rfind("Использование: kba604 [КЛЮЧИ] [ФАЙЛ.604]", 0), 0u) << text;
    EXPECT_NE(text.find("/elog:ФАЙЛ"), std::string::npos);
  }
}

TEST(HelpLanguage, ARunsMessagesOnStandardErrorStayRussianUnderAnEnglishLocale) {
  test::TestHome home;
  LocaleGuard locale("en_US.UTF-8", nullptr, nullptr);
  test::ChildResult missing = test::run_child({test::kba604_program(), "--signal-exitevent"});
  EXPECT_EQ(missing.exit_code, exit_code::kUsage);
  EXPECT_NE(missing.err.find("нужно значение: kba604 --signal-exitevent ИМЯ"), std::string::npos)
      << missing.err;
  test::ChildResult usage =
      test::run_child({test::kba604_program(), "/headless", "/port:300", "/read", "x.604"});
  EXPECT_EQ(usage.exit_code, exit_code::kUsage);
  EXPECT_TRUE(has_cyrillic(usage.err)) << usage.err;
}

}  // namespace
}  // namespace kba604
