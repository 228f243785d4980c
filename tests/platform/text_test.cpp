#include <gtest/gtest.h>

#include "platform/text.h"

namespace kba604::platform {
namespace {

TEST(Text, Cp1251RoundTrip) {
  struct Case {
    const char* utf8;
    std::string cp1251;
  } cases[] = {
      {"Привет", "\xCF\xF0\xE8\xE2\xE5\xF2"},
      {"Ёё", "\xA8\xB8"},
      {"r.St", "r.St"},
      {"№5",
       "\xB9"
       "5"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(to_cp1251(c.utf8), c.cp1251) << c.utf8;
    EXPECT_EQ(from_cp1251(c.cp1251), c.utf8) << c.utf8;
    EXPECT_EQ(cp1251_length(c.utf8), c.cp1251.size()) << c.utf8;
  }
  // A character the code page lacks becomes one '?'.
  EXPECT_EQ(to_cp1251("a€b✓"),
            "a\x88"
            "b?");
}

TEST(Text, CaseFoldingCoversCyrillic) {
  EXPECT_EQ(fold_case("ПОРТ Ёж Port"), "порт ёж port");
  EXPECT_EQ(upper_case("порт ёж"), "ПОРТ ЁЖ");
  EXPECT_TRUE(iequals("ЮСТИРОВКА", "юстировка"));
  // "Юстировкa" ends with a Latin "a": not the same word.
  EXPECT_FALSE(iequals("Юстировкa", "Юстировка"));
  EXPECT_TRUE(istarts_with("COM12", "com"));
  EXPECT_FALSE(istarts_with("CO", "com"));
  EXPECT_TRUE(icontains("Сетевые Параметры", "параметры"));
  EXPECT_TRUE(iequals_any("N.CH", {"n.Obj", "n.Ch"}));
  EXPECT_FALSE(iequals_any("n.Ch", {"n.Chx", "n.C"}));
  EXPECT_FALSE(iequals_any("n.Ch", {}));
}

}  // namespace
}  // namespace kba604::platform
