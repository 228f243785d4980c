// The device against the virtual instrument on a pseudo-terminal: the operations end to end over
// the real link, with the shipped description on both sides.
#include <gtest/gtest.h>

#include <fstream>

#include "device_on_line.h"
#include "operations/device_commands.h"
#include "support/recording_notification_sink.h"
#include "model/archive.h"
#include "platform/settings_store.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"
#include "support/virtual_instrument.h"

namespace kba604::test {
namespace {

class DeviceOnInstrument : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.set_value("Ports/COM1", sim.path());
    device = Device::create(app, settings);
    device->sio().set_converter_automatic(1);
    cutter.attach(*device);
    device->set_view(&cutter);
    load = load_shipped_description(*device, prompter);
    ASSERT_TRUE(load.main_tree);
    // Loaded at the full access level: the link asks for attributes as the maximum level.
    ASSERT_TRUE(device->max_access());
  }
  void TearDown() override {
    device->forget_description();
    device->shutdown();
  }
  void run(bool started) {
    ASSERT_TRUE(started);
    ASSERT_TRUE(device->wait_idle(-1));
  }
  DeviceCommands& commands() {
    if (!commands_) commands_ = std::make_unique<DeviceCommands>(app, device, sink);
    return *commands_;
  }
  DescBranch& branch(const std::string& name) {
    for (const auto& child : load.main_tree->children()) {
      if (child->name() == name) return *child;
    }
    ADD_FAILURE() << "no branch " << name;
    return *load.main_tree;
  }
  std::vector<std::string> log_texts() const {
    std::vector<std::string> texts;
    for (const LogRecord& r : view.log()) texts.push_back(r.text);
    return texts;
  }
  int instrument_count(const char* name) {
    std::optional<sim::Bytes> bytes = sim.with([&](sim::Instrument& i) { return i.value(name); });
    if (!bytes || bytes->empty()) return -1;
    int value = 0;
    for (std::uint8_t b : *bytes) value = value * 256 + b;
    return value;
  }

  VirtualInstrument sim;
  RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  RecordingOperationView view;
  PauseCutter cutter{view};
  RecordingNotificationSink sink;
  std::shared_ptr<Device> device;
  std::unique_ptr<DeviceCommands> commands_;
  DescriptionLoad load;
};

TEST_F(DeviceOnInstrument, ReadsTheWholeMainTree) {
  run(device->StartRead(*load.main_tree));
  std::vector<std::string> log = log_texts();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "Читаем ветвь 'KBA604'");
  EXPECT_EQ(view.done(), view.total());
  EXPECT_GT(view.total(), 100);
  EXPECT_EQ(view.errors(), 0);
  for (const LogRecord& r : view.log()) EXPECT_FALSE(r.bold) << r.text;
  Parameter* channels = device->table().find_by_name("n.Ch");
  ASSERT_NE(channels, nullptr);
  EXPECT_EQ(channels->value, std::to_string(instrument_count("n.Ch")));
}

TEST_F(DeviceOnInstrument, WritingNChFromTwoToFiveStepsAndRereads) {
  Parameter* channels = device->table().find_by_name("n.Ch");
  ASSERT_NE(channels, nullptr);
  // First the instrument is brought to 2 channels, one step at a time.
  channels->value = "2";
  device->set_single_target(channels);
  run(device->StartWriteAll(*load.main_tree));
  ASSERT_EQ(instrument_count("n.Ch"), 2);

  channels->value = "5";
  channels->changed = true;
  view.set_auto_close(true);
  run(device->StartWriteChanged(*load.main_tree));
  std::vector<std::string> log = log_texts();
  auto at = [&](const std::string& text) {
    return std::find(log.begin(), log.end(), text) - log.begin();
  };
  const auto three = at("  Запись: n.Ch [новое значение] = 3");
  const auto four = at("  Запись: n.Ch [новое значение] = 4");
  const auto five = at("  Запись: n.Ch [новое значение] = 5");
  const auto reread = at("Принудительное перечитывание некоторых параметров:");
  ASSERT_LT(five, static_cast<long>(log.size()));
  EXPECT_LT(three, four);
  EXPECT_LT(four, five);
  EXPECT_LT(five, reread);
  EXPECT_LT(reread, at("  Чтение: S.idx:0 = " + device->table().find_by_name("S.idx")->value));
  EXPECT_EQ(instrument_count("n.Ch"), 5);
  EXPECT_EQ(view.errors(), 0);
  EXPECT_FALSE(view.is_open());
}

TEST_F(DeviceOnInstrument, TwelveDifferencesAreFoundAndTheFirstTenReported) {
  DescBranch& inputs = branch("Входы");
  run(device->StartRead(inputs));
  ASSERT_EQ(view.errors(), 0);
  prompter.clear();
  // Twelve parameters of the configuration get values that the instrument does not hold.
  std::vector<Parameter*> changed;
  std::vector<Parameter*> pending;
  std::vector<const DescBranch*> branches = {&inputs};
  while (!branches.empty() && changed.size() < 12) {
    const DescBranch* b = branches.front();
    branches.erase(branches.begin());
    for (Parameter* p : b->parameters()) {
      if (changed.size() < 12 && p->value != kNoData) {
        p->value = "9" + p->value;
        changed.push_back(p);
      }
    }
    for (const auto& c : b->children()) branches.push_back(c.get());
  }
  ASSERT_EQ(changed.size(), 12u);
  run(device->StartCompare(inputs));
  device->ReportCompare();
  ASSERT_FALSE(prompter.records().empty());
  const std::string report = prompter.records().back().text;
  EXPECT_EQ(
      report.rfind("Обнаружено 12 отличий (показанны только первые 10):\n\n1) Параметер '", 0), 0u)
      << report;
  EXPECT_NE(report.find("\n10) Параметер '"), std::string::npos);
  EXPECT_EQ(report.find("\n11) "), std::string::npos);
  for (Parameter* p : changed) EXPECT_EQ(p->note.rfind("Знач-е в приборе: '", 0), 0u);
}

TEST_F(DeviceOnInstrument, AnImageSavedFromTheInstrumentRestoresItsValues) {
  TestHome home;
  const std::string path = (home.root() / "kba604.eep").string();
  ASSERT_TRUE(commands().SaveEepromImage(path));
  const ParameterTable& table = device->table();
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ArchiveReader r(bytes);
  EXPECT_EQ(r.read_i32(), static_cast<std::int32_t>(table.size()));
  std::size_t records = 0;
  while (!r.at_end()) {
    r.read_u32();
    r.read_string();
    r.read_string();
    ++records;
  }
  EXPECT_EQ(records, table.size() - table.operational_count());

  // The instrument's channel count changes; writing the image back restores it.
  const int saved = instrument_count("n.Ch");
  Parameter* channels = device->table().find_by_name("n.Ch");
  channels->value = std::to_string(saved - 1);
  device->set_single_target(channels);
  run(device->StartWriteAll(*load.main_tree));
  ASSERT_EQ(instrument_count("n.Ch"), saved - 1);

  prompter.answer_next(PromptAnswer::Yes);
  ASSERT_TRUE(commands().LoadEepromImage(path));
  EXPECT_EQ(channels->value, std::to_string(saved));
  EXPECT_EQ(view.opened_codes().back(), 9);
  EXPECT_EQ(instrument_count("n.Ch"), saved);
}

}  // namespace
}  // namespace kba604::test

namespace kba604::test {
namespace {

TEST_F(DeviceOnInstrument, InitialisationBringsTheInstrumentToItsFactoryValues) {
  // The engineer has changed the channel count; initialisation writes the reference values.
  Parameter* channels = device->table().find_by_name("n.Ch");
  ASSERT_NE(channels, nullptr);
  channels->value = "7";
  device->set_single_target(channels);
  run(device->StartWriteAll(*load.main_tree));
  ASSERT_EQ(instrument_count("n.Ch"), 7);

  prompter.answer_next(PromptAnswer::Yes);
  ASSERT_TRUE(commands().InitialiseDevice(*load.main_tree, nullptr));
  ASSERT_EQ(view.opened_codes(), (std::vector<int>{4, 7}));
  std::vector<std::string> log = log_texts();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0].rfind("  Запись: r.co [новое значение] = ", 0), 0u) << log[0];
  EXPECT_EQ(std::to_string(instrument_count("n.Ch")), channels->reference_value);
  for (const LogRecord& r : view.log()) {
    EXPECT_NE(r.colour, log_colour::kWriteFailed) << r.text;
  }
  EXPECT_EQ(view.errors(), 0);

  // A description loaded below the maximum access level refuses initialisation.
  device->forget_description();
  DescriptionRequest request;
  request.data_folder = shipped_description_folder();
  request.version_text = "1.10";
  request.access_level = 1;
  load = load_description(device->table(), request, &prompter);
  ASSERT_TRUE(load.main_tree);
  device->set_tree_root(load.main_tree.get());
  EXPECT_FALSE(device->max_access());
  prompter.answer_next(PromptAnswer::Yes);
  EXPECT_FALSE(commands().InitialiseDevice(*load.main_tree, nullptr));
  EXPECT_EQ(prompter.records().back().text,
            "Эта операция доступна только на максимальном уровне доступа");
}

}  // namespace
}  // namespace kba604::test

namespace kba604::test {
namespace {

TEST_F(DeviceOnInstrument, AConfigurationJustReadAndWrittenBackMatchesTheInstrument) {
  // What was read from the instrument is what it holds: a comparison finds nothing, and
  // writing the whole tree back changes nothing and is refused nowhere.
  run(device->StartRead(*load.main_tree));
  ASSERT_EQ(view.errors(), 0);
  prompter.clear();
  run(device->StartCompare(*load.main_tree));
  EXPECT_EQ(view.errors(), 0);
  device->ReportCompare();
  ASSERT_FALSE(prompter.records().empty());
  EXPECT_EQ(prompter.records().back().text, "Отличий не обнаружено");
  EXPECT_EQ(device->skipped_count(), 0);

  run(device->StartWriteAll(*load.main_tree));
  EXPECT_EQ(view.errors(), 0);
  for (const LogRecord& r : view.log()) EXPECT_NE(r.colour, log_colour::kWriteFailed) << r.text;
  prompter.clear();
  run(device->StartCompare(*load.main_tree));
  device->ReportCompare();
  ASSERT_FALSE(prompter.records().empty());
  EXPECT_EQ(prompter.records().back().text, "Отличий не обнаружено");
}

TEST_F(DeviceOnInstrument, AnImageReadAndWrittenBackLeavesTheInstrumentAsItWas) {
  // The instrument's configuration is made different from the factory's first, so that a
  // reset in the middle of the write-back would show.
  Parameter* channels = device->table().find_by_name("n.Ch");
  ASSERT_NE(channels, nullptr);
  channels->value = "6";
  device->set_single_target(channels);
  run(device->StartWriteAll(*load.main_tree));
  ASSERT_EQ(instrument_count("n.Ch"), 6);

  TestHome home;
  const std::string path = (home.root() / "kba604.eep").string();
  ASSERT_TRUE(commands().SaveEepromImage(path));
  prompter.answer_next(PromptAnswer::Yes);
  ASSERT_TRUE(commands().LoadEepromImage(path));
  ASSERT_EQ(view.opened_codes().back(), 9);
  EXPECT_EQ(instrument_count("n.Ch"), 6);
  prompter.clear();
  run(device->StartCompare(*load.main_tree));
  device->ReportCompare();
  ASSERT_FALSE(prompter.records().empty());
  EXPECT_EQ(prompter.records().back().text, "Отличий не обнаружено");
}

}  // namespace
}  // namespace kba604::test
