#include <gtest/gtest.h>

#include <fstream>

#include "app/commands.h"
#include "app/exit_flags.h"
#include "app/mode_switches.h"
#include "app/program_settings.h"
#include "app/start_rules.h"
#include "platform/ini_settings_store.h"
#include "platform/paths.h"
#include "support/recording_notification_sink.h"
#include "support/recording_prompter.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

TEST(ExitFlags, LowestSetBitDecidesTheExitCode) {
  struct Case {
    std::uint32_t flags;
    int code;
  } cases[] = {
      {0, 0},      {0x01, 200}, {0x02, 201}, {0x04, 202}, {0x08, 203},
      {0x20, 205}, {0x40, 206}, {0x80, 208}, {0xFF, 200}, {0x06, 201},
      {0xA0, 205}, {0xC0, 206}, {0x10, 0},   {0x100, 0},  {0x48, 203},
  };
  for (const Case& c : cases) {
    ExitFlags f;
    f.set_to(c.flags);
    EXPECT_EQ(f.exit_code(), c.code) << std::hex << c.flags;
  }
}

TEST(ExitFlags, VerbsAreTakenLiterally) {
  ExitFlags f;
  f.set_bits(0x02);
  f.set_bits(0x40);
  f.clear_bits(0x40);
  EXPECT_EQ(f.value(), 0x02u);
  // A time-out sets the word to 4 (the port bit goes) unless it is 8 already.
  f.note_timeout();
  EXPECT_EQ(f.value(), 0x04u);
  f.note_reply_after_loss();
  EXPECT_EQ(f.value(), 0x08u);
  f.note_timeout();
  EXPECT_EQ(f.value(), 0x08u);
  // The external exit event sets the word to 0x20: 205, whatever was set before.
  f.set_bits(0x01);
  f.set_to(ExitFlags::kCancelled);
  EXPECT_EQ(f.exit_code(), 205);
}

TEST(ProgramSettings, DefaultsWhenNothingIsStored) {
  platform::MemorySettingsStore store;
  ProgramSettings s(store);
  EXPECT_EQ(s.data_directory(), platform::default_data_directory().string());
  EXPECT_FALSE(s.hide_minimised());
  EXPECT_EQ(s.rs485_type(), 0);
  const PortSettings p = s.port_settings();
  EXPECT_EQ(p.address, 16u);
  EXPECT_EQ(p.address_length, 8u);
  EXPECT_EQ(p.baud_rate, 9600u);
  EXPECT_EQ(p.byte_size, 8u);
  EXPECT_EQ(p.stop_bits, 1u);
  EXPECT_EQ(p.parity_scheme, 3u);
  EXPECT_EQ(p.port_number, 1u);
}

TEST(ProgramSettings, RoundTripThroughTheSettingsFile) {
  test::TestHome home;
  {
    auto store = platform::open_program_settings();
    ProgramSettings s(*store);
    EXPECT_TRUE(s.set_data_directory("/opt/kba604/data"));
    EXPECT_TRUE(s.set_hide_minimised(true));
    EXPECT_TRUE(s.save_port_settings({248, 11, 115200, 7, 2, 4, 12}));
  }
  std::ifstream in(home.config_dir() / "TALV" / "KBA604.conf");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* line :
       {"datadirectory=/opt/kba604/data/", "hidemin=1", "address=248", "address_length=11",
        "baud_rate=115200", "byte_size=7", "stop_bits=2", "parity_scheme=4", "port_number=12"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
  auto store = platform::open_program_settings();
  ProgramSettings again(*store);
  EXPECT_EQ(again.data_directory(), "/opt/kba604/data/");
  EXPECT_TRUE(again.hide_minimised());
  EXPECT_EQ(again.port_settings(), (PortSettings{248, 11, 115200, 7, 2, 4, 12}));
}

TEST(ProgramSettings, ConverterTypeCountsAnyNonZeroAsAutomatic) {
  platform::MemorySettingsStore store;
  ProgramSettings s(store);
  for (auto [text, type] : {std::pair{"0", 0}, {"1", 1}, {"7", 1}, {"0x10", 1}, {"junk", 0}}) {
    store.set_value("rs485type", text);
    EXPECT_EQ(s.rs485_type(), type) << text;
  }
  for (auto [text, on] : {std::pair{"1", true}, {"0", false}, {"yes", false}}) {
    store.set_value("HIDEMIN", text);
    EXPECT_EQ(s.hide_minimised(), on) << text;
  }
}

struct ModeFixture : ::testing::Test {
  platform::MemorySettingsStore store;
  ProgramSettings settings{store};
  ProgramModes modes;
  test::RecordingPrompter prompter;
  test::RecordingNotificationSink sink;
  ModeSwitches switches{modes, settings, prompter, sink};
};

TEST_F(ModeFixture, DefaultsOfTheModes) {
  EXPECT_TRUE(switches.checked(command::kAutoRead));
  EXPECT_FALSE(switches.checked(command::kImmediateWrite));
  EXPECT_FALSE(switches.checked(command::kShowIndexes));
  EXPECT_FALSE(switches.checked(command::kNoAttributes));
  EXPECT_FALSE(switches.checked(command::kHideMinimised));
  EXPECT_TRUE(switches.checked(command::kConverterSemiAuto));
  EXPECT_FALSE(switches.checked(command::kConverterAuto));
  EXPECT_EQ(modes.access_level.load(), 2);
  EXPECT_EQ(modes.modification.load(), 0);
}

TEST_F(ModeFixture, ImmediateWriteExplainsItselfOnlyWhenSwitchedOn) {
  int started = 0;
  switches.set_immediate_write_started([&] { ++started; });
  ASSERT_TRUE(switches.run(command::kImmediateWrite));
  EXPECT_TRUE(modes.immediate_write.load());
  ASSERT_EQ(prompter.count(), 1u);
  const auto rec = prompter.records()[0];
  EXPECT_EQ(rec.icon, PromptIcon::Information);
  EXPECT_EQ(rec.text.rfind("В режиме 'Моментальная запись' введеные значения\n", 0), 0u);
  EXPECT_EQ(started, 1);
  switches.run(command::kImmediateWrite);  // off: no text
  EXPECT_FALSE(modes.immediate_write.load());
  EXPECT_EQ(prompter.count(), 1u);
  switches.run(command::kImmediateWrite);  // on again: the text again
  EXPECT_EQ(prompter.count(), 2u);
  EXPECT_EQ(started, 2);
}

TEST_F(ModeFixture, NoAttributesExplainsItselfOnlyWhenSwitchedOn) {
  switches.run(command::kNoAttributes);
  switches.run(command::kNoAttributes);
  EXPECT_FALSE(modes.no_attributes.load());
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_NE(prompter.records()[0].text.find("'Не передавать атрибуты' также не производится."),
            std::string::npos);
}

TEST_F(ModeFixture, HideMinimisedIsWrittenAtEverySwitch) {
  EXPECT_FALSE(store.contains("hidemin"));
  switches.run(command::kHideMinimised);
  EXPECT_EQ(store.value("hidemin"), "1");
  switches.run(command::kHideMinimised);
  EXPECT_EQ(store.value("hidemin"), "0");
}

TEST_F(ModeFixture, OtherSwitchesToggleAndRedraw) {
  switches.run(command::kShowIndexes);
  EXPECT_TRUE(modes.show_indexes.load());
  EXPECT_EQ(sink.views_changed_count(), 1);
  switches.run(command::kAutoRead);
  EXPECT_FALSE(modes.auto_read.load());
  switches.run(command::kConverterAuto);
  EXPECT_TRUE(switches.checked(command::kConverterAuto));
  EXPECT_FALSE(switches.checked(command::kConverterSemiAuto));
  EXPECT_FALSE(store.contains("RS485type"));  // the choice is not written back
  EXPECT_FALSE(switches.run(command::kReadAll));
}

TEST(StartRules, NoPortRuleNeedsASwitchAndNoPort) {
  struct Case {
    std::uint32_t switch_flags;
    std::uint8_t port;
    bool no_port;
  } cases[] = {{0, 0, false}, {0x20, 0, true}, {0x22, 3, false}, {0x60, 0, true}};
  for (const Case& c : cases) {
    StartOptions o;
    o.switch_flags = c.switch_flags;
    o.port = c.port;
    EXPECT_EQ(apply_no_port_rule(o), c.no_port);
    EXPECT_EQ(o.no_port(), c.no_port);
  }
}

TEST(StartRules, ModesFromSwitchesAndAtWindowCreation) {
  platform::MemorySettingsStore store;
  ProgramSettings settings(store);
  {
    // "silent" alone: no port, automatic reading and immediate writing off.
    StartOptions o;
    o.switch_flags = 0x20;
    o.mode_flags = 0x002A;
    ProgramModes m;
    m.immediate_write = true;
    apply_no_port_rule(o);
    apply_start_modes(o, m);
    apply_window_modes(o, settings, m);
    EXPECT_FALSE(m.auto_read.load());
    EXPECT_FALSE(m.immediate_write.load());
  }
  {
    StartOptions o;
    o.switch_flags = 0x22;
    o.port = 2;
    o.mode_flags = StartOptions::kAutoWriteOn;
    store.set_value("hidemin", "1");
    ProgramModes m;
    apply_no_port_rule(o);
    apply_start_modes(o, m);
    apply_window_modes(o, settings, m);
    EXPECT_TRUE(m.auto_read.load());
    EXPECT_TRUE(m.immediate_write.load());
    EXPECT_TRUE(m.hide_minimised.load());
  }
  {
    // Any switch and no port forces automatic reading off even when asked for.
    StartOptions o;
    o.switch_flags = 0x20;
    o.mode_flags = StartOptions::kAutoReadOn;
    ProgramModes m;
    apply_no_port_rule(o);
    apply_start_modes(o, m);
    apply_window_modes(o, settings, m);
    EXPECT_FALSE(m.auto_read.load());
  }
}

TEST(StartRules, ConverterTypeFromSwitchOrSetting) {
  platform::MemorySettingsStore store;
  ProgramSettings settings(store);
  store.set_value("RS485type", "1");
  struct Case {
    int rs485_field;
    int type;
  } cases[] = {{0, 1}, {1, 0}, {2, 1}, {3, 0}};
  for (const Case& c : cases) {
    StartOptions o;
    o.line_settings = static_cast<std::uint16_t>(c.rs485_field << 12);
    EXPECT_EQ(initial_rs485_type(o, settings), c.type) << c.rs485_field;
  }
}

TEST(StartRules, AutomationCommandPrefersWriteThenCalibrateThenRead) {
  struct Case {
    std::uint32_t flags;
    int command;
  } cases[] = {{0x20, 0}, {0x60, 139}, {0x30, 32800}, {0x70, 32800}, {0x71, 140}, {0x21, 140}};
  for (const Case& c : cases) {
    StartOptions o;
    o.switch_flags = c.flags;
    EXPECT_EQ(automation_command(o), c.command) << std::hex << c.flags;
  }
}

TEST(StartRules, WindowPlacementFollowsTheGeometrySwitches) {
  using K = WindowPlacement::Kind;
  struct Case {
    std::uint8_t mask;
    int x, y, w, h;
    K kind;
  } cases[] = {
      {0x0, 0, 0, 0, 0, K::Maximised}, {0x4, 0, 0, 800, 0, K::Maximised},
      {0xC, 0, 0, 0, 0, K::Hidden},    {0xC, 0, 0, 800, 600, K::Maximised},
      {0xF, 0, 0, 800, 600, K::Fixed}, {0xD, 5, 0, 800, 600, K::Maximised},
      {0xF, 10, 20, 0, 0, K::Hidden},
  };
  for (const Case& c : cases) {
    StartOptions o;
    o.geometry_mask = c.mask;
    o.x = c.x;
    o.y = c.y;
    o.w = c.w;
    o.h = c.h;
    const WindowPlacement p = window_placement(o);
    EXPECT_EQ(p.kind, c.kind) << int(c.mask) << " " << c.w << "x" << c.h;
    if (p.kind == K::Fixed) {
      EXPECT_EQ(p.x + p.w, c.x + c.w);
      EXPECT_EQ(p.y + p.h, c.y + c.h);
    }
  }
}

TEST(CommandRules, EnablingTable) {
  using S = SelectedKind;
  struct Case {
    int command;
    bool no_port;
    int level;
    int modification;
    S selected;
    const char* name;
    bool enabled;
  } cases[] = {
      // First row: only without the no-port rule.
      {134, false, 2, 0, S::None, "", true},
      {134, true, 2, 0, S::None, "", false},
      {268, true, 2, 0, S::None, "", false},
      {32885, true, 2, 0, S::None, "", false},
      {139, true, 0, 0, S::None, "", false},
      // The parameter-list export stays at the full level even without a port.
      {154, true, 2, 0, S::None, "", true},
      {154, false, 1, 0, S::None, "", false},
      {302, false, 0, 0, S::None, "", false},
      {263, false, 1, 0, S::None, "", true},
      {263, false, 0, 0, S::None, "", false},
      {263, true, 2, 0, S::None, "", false},
      {266, false, 1, 0, S::None, "", false},
      {266, false, 2, 0, S::None, "", true},
      {141, false, 2, 0, S::None, "", true},
      {141, false, 1, 2, S::None, "", true},
      {141, false, 1, 3, S::None, "", false},
      {141, true, 2, 0, S::None, "", false},
      {32800, false, 2, 0, S::None, "", true},
      {32800, false, 1, 3, S::None, "", true},
      {32800, false, 1, 4, S::None, "", true},
      {32800, false, 1, 6, S::None, "", true},
      {32800, false, 1, 5, S::None, "", false},
      {32800, false, 0, 3, S::None, "", false},
      {32800, true, 2, 0, S::None, "", false},
      {281, false, 2, 0, S::Branch, "Входы", true},
      {281, false, 2, 0, S::Branch, "Вход-1", false},
      {285, false, 2, 0, S::Parameter, "r-St", true},
      {285, true, 2, 0, S::Parameter, "r.St", false},
      // Commands without a rule.
      {145, true, 0, 0, S::None, "", true},
      {32880, true, 0, 0, S::None, "", true},
  };
  for (const Case& c : cases) {
    CommandContext ctx{c.no_port, c.level, c.modification, c.selected, c.name};
    EXPECT_EQ(command_enabled(c.command, ctx), c.enabled)
        << c.command << " no_port=" << c.no_port << " level=" << c.level
        << " mod=" << c.modification << " " << c.name;
  }
}

TEST(CommandRules, ModificationTableAndItemMarks) {
  ASSERT_EQ(kModifications.size(), 7u);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(modification_row(i).name, "Модификация №" + std::to_string(i));
    EXPECT_EQ(modification_row(i).code, i);
    EXPECT_EQ(modification_row(i).command_class, i);
    EXPECT_EQ(modification_row(i).tooltip, "tooltip.dat");
  }
  const int marks[] = {0, 3};
  EXPECT_TRUE(item_hidden_by_mark(1, 3, marks, 2));
  EXPECT_FALSE(item_hidden_by_mark(2, 3, marks, 2));
  EXPECT_FALSE(item_hidden_by_mark(1, 2, marks, 2));
}

}  // namespace
}  // namespace kba604
