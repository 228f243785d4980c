#include <gtest/gtest.h>

#include <fstream>

#include "app/registration.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

struct Registration : ::testing::Test {
  test::TestHome home;
  platform::MemorySettingsStore store;
  test::RecordingPrompter prompter;
  std::string running = (home.root() / "bin" / "kba604").string();
  std::string other = (home.root() / "other" / "kba604").string();
  void SetUp() override {
    for (const std::string& p : {running, other}) {
      std::filesystem::create_directories(std::filesystem::path(p).parent_path());
      std::ofstream(p) << "program";
    }
  }
};

TEST_F(Registration, WritesNameDescriptionAndVersionOnlyWhenMissing) {
  store.set_value("version", "0.9");
  register_configurator(store, prompter, running, "1.2.3");
  EXPECT_EQ(store.value("name"), "KBA604");
  EXPECT_EQ(store.value("description"), "KBA604");
  EXPECT_EQ(store.value("version"), "0.9");
  EXPECT_FALSE(store.contains("application"));  // a missing one stays missing
  EXPECT_EQ(prompter.count(), 0u);
}

TEST_F(Registration, AnotherConfiguratorIsReplacedOnlyOnYes) {
  store.set_value("application", "\"" + other + "\"");
  register_configurator(store, prompter, running, "1.0");
  ASSERT_EQ(prompter.count(), 1u);
  const test::PromptRecord rec = prompter.records()[0];
  EXPECT_EQ(rec.buttons, PromptButtons::YesNo);
  // The running program first, the registered one second.
  const std::size_t first = rec.text.find("(\"" + running + "\")");
  const std::size_t second = rec.text.find("(\"" + other + "\")?");
  EXPECT_NE(first, std::string::npos) << rec.text;
  EXPECT_NE(second, std::string::npos) << rec.text;
  EXPECT_LT(first, second);
  EXPECT_EQ(rec.text.rfind("Вероятно, на вашем компьютере установлено несколько", 0), 0u);
  EXPECT_EQ(store.value("application"), "\"" + other + "\"");  // the safe answer is No

  prompter.answer_next(PromptAnswer::Yes);
  register_configurator(store, prompter, running, "1.0");
  EXPECT_EQ(store.value("application"), "\"" + running + "\"");
}

TEST_F(Registration, NoQuestionForTheSameOrAMissingProgram) {
  struct Case {
    std::string application;
  } cases[] = {{"\"" + running + "\""}, {running}, {"/no/such/program"}, {""}, {"\"\""}};
  for (const Case& c : cases) {
    store.set_value("application", c.application);
    register_configurator(store, prompter, running, "1.0");
    EXPECT_EQ(store.value("application"), c.application);
  }
  EXPECT_EQ(prompter.count(), 0u);
}

}  // namespace
}  // namespace kba604
