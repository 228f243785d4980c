// The language of the supervising words: what a line asks, and what is refused.
#include <gtest/gtest.h>

#include "control/channel_words.h"

namespace kba604 {
namespace {

TEST(ChannelWords, ParameterNamesCarryIndexAndOffset) {
  using N = ChannelParameterName;
  EXPECT_EQ(parse_parameter_name("Addr"), (N{"Addr", std::nullopt, std::nullopt}));
  EXPECT_EQ(parse_parameter_name("SP:3"), (N{"SP", 3, std::nullopt}));
  EXPECT_EQ(parse_parameter_name("rEAd@12"), (N{"rEAd", std::nullopt, 12}));
  EXPECT_EQ(parse_parameter_name("x:1@2"), (N{"x", 1, 2}));
  EXPECT_EQ(parse_parameter_name("r.St:0")->text(), "r.St:0");
  for (const char* bad :
       {"", ":3", "@1", "a:", "a@", "a:-1", "a:65535", "a@65536", "a:1x", "a:0x10"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(parse_parameter_name(bad));
  }
}

TEST(ChannelWords, RequestsAreParsedOrRefusedWithAReason) {
  std::string error;
  auto set = parse_channel_request("!set  Name.1:2   some value  ", &error);
  ASSERT_TRUE(set) << error;
  EXPECT_EQ(set->parameter.text(), "Name.1:2");
  EXPECT_EQ(set->text, "some value");

  auto open = parse_channel_request("\t!open \"my file.604\" force", &error);
  ASSERT_TRUE(open) << error;
  EXPECT_EQ(open->text, "my file.604");
  EXPECT_TRUE(open->force);
  auto save = parse_channel_request("!save out.604", &error);
  ASSERT_TRUE(save);
  EXPECT_FALSE(save->force);
  EXPECT_TRUE(parse_channel_request("!read", &error));
  EXPECT_TRUE(parse_channel_request("!status ", &error));

  struct Bad {
    const char* line;
    const char* why;
  };
  const Bad bad[] = {
      {"!get", "no parameter named"},
      {"!get a b", "too many words"},
      {"!get :1", "bad parameter name"},
      {"!set Addr", "no value given"},
      {"!open", "no file named"},
      {"!open \"a b", "unclosed quote"},
      {"!open a.604 now", "unknown option"},
      {"!save a b", "too many words"},
      {"!read all", "too many words"},
      {"!netparam Prty even", "unknown word"},
      {"!GET Addr", "unknown word"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.line);
    error.clear();
    EXPECT_FALSE(parse_channel_request(b.line, &error));
    EXPECT_TRUE(error.starts_with(b.why)) << error;
  }
}

TEST(ChannelWords, AnswersStayOneLine) {
  EXPECT_EQ(escape_for_line("Ошибка\nстрока 2\r\\x"), "Ошибка\\nстрока 2\\r\\\\x");
  EXPECT_EQ(escape_for_line("plain"), "plain");
}

}  // namespace
}  // namespace kba604
