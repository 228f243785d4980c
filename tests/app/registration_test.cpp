#include <gtest/gtest.h>

#include <fstream>

#include "app/registration.h"
#include "description/elements.h"
#include "platform/ini_settings_store.h"
#include "platform/paths.h"
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

std::string file_text(const std::filesystem::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The service element and the registration both write into the section [KBA604] of
// Devices.conf; after two starts it holds each value once, at the section's own level, also when
// an earlier version had left copies one level deeper.
TEST_F(Registration, DevicesFileHoldsEachValueOnceInItsSection) {
  std::filesystem::create_directories(platform::devices_file().parent_path());
  std::ofstream(platform::devices_file()) << "[KBA604]\nKBA604\\name=KBA604\nKBA604\\version=0.1\n";
  for (int start = 0; start < 2; ++start) {
    auto devices = platform::open_registration_settings();
    Elements::CommonParams service(devices.get());
    register_configurator(*devices, prompter, running, "1.0");
  }
  const std::string text = file_text(platform::devices_file());
  EXPECT_EQ(occurrences(text, "[KBA604]"), 1u) << text;
  EXPECT_EQ(occurrences(text, "name="), 1u) << text;
  EXPECT_EQ(occurrences(text, "\nname=KBA604\n"), 1u) << text;
  EXPECT_EQ(occurrences(text, "\ndescription=KBA604\n"), 1u) << text;
  EXPECT_EQ(occurrences(text, "version="), 1u) << text;
  EXPECT_EQ(text.find('\\'), std::string::npos) << text;
}

}  // namespace
}  // namespace kba604
