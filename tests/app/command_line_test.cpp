#include <gtest/gtest.h>

#include "app/command_line.h"

#include <map>

namespace kba604 {
namespace {

// A plain copy of the options, for comparing two parses.
struct Snapshot {
  std::uint16_t mode_flags, line_settings;
  std::uint32_t switch_flags;
  std::uint8_t geometry_mask, port;
  std::uint32_t bps;
  std::int32_t x, y, w, h;
  std::string uni, addr, sbit;
  bool operator==(const Snapshot&) const = default;
};

struct Parsed {
  StartOptions options;
  std::string file_name, error_log, exit_event, pipe_name;
  std::vector<std::string> messages, usage_errors;
  std::map<std::string, std::string> values;
  Snapshot snap() const {
    const StartOptions& o = options;
    return {o.mode_flags,
            o.line_settings,
            o.switch_flags,
            o.geometry_mask,
            o.port,
            o.bps,
            o.x,
            o.y,
            o.w,
            o.h,
            o.uni(),
            o.addr(),
            o.sbit()};
  }
};

std::unique_ptr<Parsed> parse(std::vector<std::string> params,
                              std::span<const SwitchEntry> table = switch_table()) {
  auto p = std::make_unique<Parsed>();
  CmyCommandLineInfo info(p->options, table);
  info.parse(params);
  for (const SwitchEntry& s : table) {
    if (auto v = info.value(s.name)) p->values[std::string(s.name)] = *v;
  }
  p->usage_errors = info.usage_errors();
  p->file_name = info.file_name();
  p->error_log = info.error_log();
  p->exit_event = info.exit_event();
  p->pipe_name = info.pipe_name();
  p->messages = info.messages();
  return p;
}

TEST(CommandLine, GluedAndSeparateSwitchesGiveTheSameOptions) {
  const std::vector<std::vector<std::string>> same[] = {
      {{"/port:3/bps:9600"}, {"/port:3", "/bps:9600"}, {"-port:3", "-bps:9600"}},
      {{"/port:3/bps:9600/addr:16"}, {"/port:3", "-bps:9600", "/addr:16"}},
      {{"/PORT:3"}, {"/port:3"}, {"-Port:0x3"}, {"/port:03"}},
      {{"//close//write/"}, {"/close", "/write"}},
  };
  for (const auto& group : same) {
    const Snapshot first = parse(group[0])->snap();
    for (const auto& params : group) EXPECT_EQ(parse(params)->snap(), first) << params[0];
  }
}

TEST(CommandLine, EachSwitchSetsWhatItNames) {
  struct Case {
    std::vector<std::string> params;
    std::uint16_t mode_flags;
    std::uint16_t line_settings;
    std::uint32_t switch_flags;
    int port;
    std::uint32_t bps;
  } cases[] = {
      {{"/write"}, 0, 0, 0x21, 0, 0},
      {{"/read"}, 0, 0, 0x60, 0, 0},
      {{"/port:3/bps:9600"}, 0, 0, 0x22, 3, 9600},
      {{"/port:255"}, 0, 0, 0x22, 255, 0},
      {{"/port:0"}, 0, 0, 0x22, 0, 0},  // no port
      {{"/bps:0x10"}, 0, 0, 0x22, 0, 16},
      {{"/bps:010"}, 0, 0, 0x22, 0, 8},
      {{"/bps:fast"}, 0, 0, 0x20, 0, 0},  // not a number: no effect
      {{"/prty:even"}, 0, 1 << 2, 0x22, 0, 0},
      {{"/prty:odd"}, 0, 2 << 2, 0x22, 0, 0},
      {{"/prty:no"}, 0, 3 << 2, 0x22, 0, 0},
      {{"/prty:even", "/prty:xyz"}, 0, 1 << 2, 0x20, 0, 0},
      {{"/bps:9600/prty:xyz"}, 0, 0, 0x20, 0, 9600},
      {{"/len:8"}, 0, 8 << 4, 0x22, 0, 0},
      {{"/len:0x1f"}, 0, 0xF << 4, 0x22, 0, 0},  // low 4 bits kept
      {{"/alen:11"}, 0, 11 << 8, 0x22, 0, 0},
      {{"/rs485:auto"}, 0, 1 << 12, 0x20, 0, 0},
      {{"/rs485:off"}, 0, 2 << 12, 0x20, 0, 0},
      {{"/rs485:ON"}, 0, 3 << 12, 0x20, 0, 0},
      {{"/rs485:maybe"}, 0, 0, 0x20, 0, 0},
      {{"/aply"}, 0, 0, 0x28, 0, 0},
      {{"/close"}, 0, 0, 0x24, 0, 0},
      {{"/calibrate"}, 0, 0, 0x30, 0, 0},
      {{"/autoread:on"}, 0x0001, 0, 0x20, 0, 0},
      {{"/autoread:off"}, 0x0002, 0, 0x20, 0, 0},
      {{"/autowrite:on"}, 0x0004, 0, 0x20, 0, 0},
      {{"/autowrite:off"}, 0x0008, 0, 0x20, 0, 0},
      {{"/autoread:maybe"}, 0, 0, 0x20, 0, 0},
      {{"/silent"}, 0x002A, 0, 0x20, 0, 0},
      {{"/test"}, 0x0010, 0, 0x20, 0, 0},
      {{"/uni:dev1"}, 0x0080, 0, 0x20, 0, 0},
      {{"/newnetparam", "/port:5"}, 0x0100, 0, 0x20, 0, 0},
      {{"/port:5", "/newnetparam"}, 0x0100, 0, 0x20, 0, 0},
      {{"/newnetparam/bps:19200"}, 0x0100, 0, 0x22, 0, 19200},
      {{"/bps:19200/newnetparam"}, 0x0100, 0, 0x20, 0, 19200},
      {{"/io:stdio"}, 0, 1, 0x20, 0, 0},
      {{"/io:socket"}, 0, 3, 0x20, 0, 0},
      {{"/bps:9600/io:stdio"}, 0, 1, 0x20, 0, 9600},
      {{"/unknown"}, 0, 0, 0x20, 0, 0},
      {{"-frobnicate:7/port:2"}, 0, 0, 0x22, 2, 0},
      {{"/"}, 0, 0, 0, 0, 0},
      {{"file.604"}, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    auto p = parse(c.params);
    const std::string what = c.params[0] + (c.params.size() > 1 ? " " + c.params[1] : "");
    EXPECT_EQ(p->options.mode_flags.load(), c.mode_flags) << what;
    EXPECT_EQ(p->options.line_settings.load(), c.line_settings) << what;
    EXPECT_EQ(p->options.switch_flags.load(), c.switch_flags) << what;
    EXPECT_EQ(p->options.port.load(), c.port) << what;
    EXPECT_EQ(p->options.bps.load(), c.bps) << what;
  }
}

// A mistyped switch or a number that is none changes nothing, and the program says so.
TEST(CommandLine, UnknownSwitchesAndNumbersThatAreNoneAreIgnoredWithAMessage) {
  auto p = parse({"/port:3", "/wirte", "/bps:fast/port:x1", "/Close"});
  EXPECT_EQ(p->snap(), parse({"/port:3", "/close"})->snap());
  ASSERT_EQ(p->messages.size(), 3u);
  EXPECT_EQ(p->messages[0], "неизвестный ключ «wirte» пропущен");
  EXPECT_EQ(p->messages[1], "значение ключа «bps» не число; ключ пропущен");
  EXPECT_EQ(p->messages[2], "значение ключа «port» не число; ключ пропущен");
  EXPECT_TRUE(parse({"/port:3/bps:9600/x:10/alen:11/len:7"})->messages.empty());
}

TEST(CommandLine, PipeNameIsLowerCased) {
  auto p = parse({"/io:pipe:MyPipe"});
  EXPECT_EQ(p->pipe_name, "mypipe");
  EXPECT_EQ(p->options.control_channel(), 2);
  auto none = parse({"/io:pipe"});
  EXPECT_EQ(none->options.control_channel(), 0);
  EXPECT_EQ(none->messages.size(), 1u);
}

TEST(CommandLine, TextsAreStoredLowerCasedAndRefusedWhenTooLong) {
  auto p = parse({"/addr:AB12/sbit:Two/uni:Dev-ONE"});
  EXPECT_EQ(p->options.addr(), "ab12");
  EXPECT_EQ(p->options.sbit(), "two");
  EXPECT_EQ(p->options.uni(), "dev-one");
  EXPECT_EQ(p->options.switch_flags.load(), 0x22u);
  EXPECT_TRUE(p->messages.empty());

  auto empty_addr = parse({"/addr:"});
  EXPECT_EQ(empty_addr->options.switch_flags.load(), 0x20u);  // empty text: no line settings

  // 5, 5 and 11 characters fit; one more is refused with a message naming the switch.
  auto fits = parse({"/addr:12345/sbit:abcde/uni:12345678901"});
  EXPECT_TRUE(fits->messages.empty());
  EXPECT_EQ(fits->options.uni(), "12345678901");
  auto refused = parse({"/addr:123456", "/sbit:abcdef", "/uni:123456789012", "/port:1"});
  ASSERT_EQ(refused->messages.size(), 3u);
  EXPECT_NE(refused->messages[0].find("«addr»"), std::string::npos);
  EXPECT_NE(refused->messages[1].find("«sbit»"), std::string::npos);
  EXPECT_NE(refused->messages[2].find("«uni»"), std::string::npos);
  EXPECT_EQ(refused->options.addr(), "");
  EXPECT_EQ(refused->options.mode_flags.load() & 0x0080, 0);
  EXPECT_EQ(refused->options.port.load(), 1);
  // Cyrillic counts by characters: five letters fit the field.
  EXPECT_TRUE(parse({"/addr:АБВГД"})->messages.empty());
  EXPECT_EQ(parse({"/addr:АБВГД"})->options.addr(), "абвгд");
}

TEST(CommandLine, GeometrySwitchesSetTheirMaskBits) {
  auto p = parse({"/x:10/y:-20/w:800/h:0x258"});
  EXPECT_EQ(p->options.geometry_mask.load(), 0xF);
  EXPECT_EQ(p->options.x.load(), 10);
  EXPECT_EQ(p->options.y.load(), -20);
  EXPECT_EQ(p->options.w.load(), 800);
  EXPECT_EQ(p->options.h.load(), 600);
  auto bad = parse({"/w:wide/h:0"});
  EXPECT_EQ(bad->options.geometry_mask.load(), 0x8);
}

TEST(CommandLine, FileNamesAreKeptAsTyped) {
  struct Case {
    std::vector<std::string> params;
    const char* file;
    std::uint32_t switch_flags;
  } cases[] = {
      {{"/read", "Config.604"}, "Config.604", 0x60},
      {{"/read", "/home/Ann/Out.604"}, "/home/Ann/Out.604", 0x60},
      {{"/home/Ann/Out.604", "/write"}, "/home/Ann/Out.604", 0x21},
      {{"a.604", "b.604"}, "b.604", 0},
      {{"/tmp/x.604", "/close"}, "/tmp/x.604", 0x24},
      // A switch name first: switches, even with several "/".
      {{"/port:3/bps:9600/close"}, "", 0x26},
      {{"../rel/Path.604"}, "../rel/Path.604", 0},
      // No switch name first: a path, however it looks.
      {{"/frobnicate:7/port:2"}, "/frobnicate:7/port:2", 0},
  };
  for (const Case& c : cases) {
    auto p = parse(c.params);
    EXPECT_EQ(p->file_name, c.file) << c.params[0];
    EXPECT_EQ(p->options.switch_flags.load(), c.switch_flags) << c.params[0];
  }
}

TEST(CommandLine, ErrorLogAndExitEventRunToTheEndOfTheirParameter) {
  struct Case {
    std::vector<std::string> params;
    const char* error_log;
    const char* exit_event;
    std::uint32_t switch_flags;
  } cases[] = {
      {{"-elog:/tmp/Errors.log"}, "/tmp/Errors.log", "", 0x20},
      {{"/elog:\"/tmp/My Errors.log\""}, "/tmp/My Errors.log", "", 0x20},
      {{"/close/elog:/var/Log/x.log"}, "/var/Log/x.log", "", 0x24},
      {{"/elog:rel/E.log", "/write"}, "rel/E.log", "", 0x21},
      {{"/elog/close"}, "", "", 0x24},  // no value: nothing is named
      {{"/exitevent:Stop/Now"}, "", "stop/now", 0x20},
      {{"-exitevent:\"KBA-Exit\"", "/close"}, "", "kba-exit", 0x24},
  };
  for (const Case& c : cases) {
    auto p = parse(c.params);
    EXPECT_EQ(p->error_log, c.error_log) << c.params[0];
    EXPECT_EQ(p->exit_event, c.exit_event) << c.params[0];
    EXPECT_EQ(p->options.switch_flags.load(), c.switch_flags) << c.params[0];
  }
}

// "--name", "--name:value" and "--name=value" are "/name[:value]" with the rest of the parameter
// as the value; "--" ends the switches.
TEST(CommandLine, LongFormsMeanWhatTheShortFormsMean) {
  const std::vector<std::vector<std::string>> same[] = {
      {{"/read/close", "x.604"}, {"--read", "x.604", "--close"}, {"--READ", "--close", "x.604"}},
      {{"/port:3/bps:9600"}, {"--port=3", "--bps:9600"}, {"--Port:0x3", "--bps=9600"}},
      {{"/prty:even/rs485:off"}, {"--prty=EVEN", "--rs485=off"}},
      {{"/io:pipe:Ctl"}, {"--io=pipe:CTL"}, {"--io:pipe:ctl"}},
  };
  for (const auto& group : same) {
    auto first = parse(group[0]);
    for (const auto& params : group) {
      auto p = parse(params);
      EXPECT_EQ(p->snap(), first->snap()) << params[0];
      EXPECT_EQ(p->file_name, first->file_name) << params[0];
      EXPECT_EQ(p->pipe_name, first->pipe_name) << params[0];
      EXPECT_TRUE(p->messages.empty()) << params[0];
    }
  }
  // One switch per long parameter: no gluing, the rest is the value.
  auto glued = parse({"--exitevent=Stop/bps:9600"});
  EXPECT_EQ(glued->exit_event, "stop/bps:9600");
  EXPECT_EQ(glued->options.bps.load(), 0u);
  EXPECT_EQ(parse({"--bps=9600/port:3"})->options.port.load(), 0);

  auto files = parse({"--elog=/tmp/Dir/E.log", "--exitevent:Stop/Now", "--", "-odd.604"});
  EXPECT_EQ(files->error_log, "/tmp/Dir/E.log");
  EXPECT_EQ(files->exit_event, "stop/now");
  EXPECT_EQ(files->file_name, "-odd.604");
  auto after_end = parse({"--", "/close", "--read"});
  EXPECT_EQ(after_end->options.switch_flags.load(), 0u);
  EXPECT_EQ(after_end->file_name, "--read");
  auto unknown = parse({"--frobnicate=1"});
  EXPECT_EQ(unknown->options.switch_flags.load(), 0x20u);
  EXPECT_EQ(unknown->messages, std::vector<std::string>{"неизвестный ключ «frobnicate» пропущен"});
}

// "headless" only chooses how the program shows its work: alone it is no switch of the command
// line, so it brings neither the no-port mode nor the quiet mode nor an automation.
TEST(CommandLine, PresentationSwitchesAreNoCommandLineSwitches) {
  for (auto params :
       {std::vector<std::string>{"--headless"}, {"-HEADLESS", "a.604"}, {"/headless/"}}) {
    auto p = parse(params);
    EXPECT_EQ(p->options.switch_flags.load(), 0u) << params[0];
    EXPECT_FALSE(p->options.quiet()) << params[0];
    EXPECT_TRUE(p->options.headless()) << params[0];
  }
  auto with_close = parse({"/headless/close"});
  EXPECT_EQ(with_close->options.switch_flags.load(), 0x24u);
  EXPECT_TRUE(with_close->options.headless());
  EXPECT_FALSE(parse({"/close"})->options.headless());
  // The automation's end clears the command's switches, not how the program shows itself.
  with_close->options.clear_after_automation();
  EXPECT_TRUE(with_close->options.headless());
}

// A switch added to the table with one entry: a file value that is required, a presentation
// file switch whose value is only kept, a required number.
TEST(CommandLine, SwitchesOfATableEntryTakeTheirValuesByKind) {
  using namespace switch_trait;
  static int levels_applied = 0;
  const SwitchEntry table[] = {
      {"csv", SwitchValue::File, kValueRequired, nullptr, "ФАЙЛ", ""},
      {"trace", SwitchValue::File, kPresentation | kValueRequired, nullptr, "ФАЙЛ", ""},
      {"level", SwitchValue::Number, kValueRequired,
       [](CommandLineState&, const SwitchArg& a) { levels_applied += a.number; }, "N", ""},
      {"close", SwitchValue::None, 0, nullptr, "", ""},
  };
  auto ok =
      parse({"--csv=/tmp/Out/A.csv", "/trace:/var/T/Trace.log", "--level=0x10", "b.604"}, table);
  EXPECT_TRUE(ok->usage_errors.empty());
  EXPECT_EQ(ok->values["csv"], "/tmp/Out/A.csv");
  EXPECT_EQ(ok->values["trace"], "/var/T/Trace.log");
  EXPECT_EQ(ok->values["level"], "0x10");
  EXPECT_EQ(levels_applied, 16);
  EXPECT_EQ(ok->file_name, "b.604");
  // Only the presentation switch: no switch of the command line.
  EXPECT_EQ(parse({"--trace=t.log"}, table)->options.switch_flags.load(), 0u);
  EXPECT_EQ(parse({"-csv:C.csv/close"}, table)->values["csv"], "C.csv/close");

  // A required value that is missing is a usage error naming the switch; the loose word after
  // it stays the file name and is never taken for the value.
  struct Missing {
    std::vector<std::string> params;
    const char* named;
  } missing[] = {
      {{"--csv", "out.csv"}, "«csv»"},
      {{"/csv", "/close"}, "«csv»"},
      {{"--csv="}, "«csv»"},
      {{"/csv:"
        ""},
       "«csv»"},
      {{"--trace", "x.604"}, "«trace»"},
      {{"/level"}, "«level»"},
      {{"/close/level/close"}, "«level»"},
  };
  for (const Missing& m : missing) {
    auto p = parse(m.params, table);
    ASSERT_EQ(p->usage_errors.size(), 1u) << m.params[0];
    EXPECT_NE(p->usage_errors[0].find(m.named), std::string::npos) << p->usage_errors[0];
    EXPECT_EQ(p->values.count("csv") + p->values.count("trace") + p->values.count("level"), 0u)
        << m.params[0];
  }
  EXPECT_EQ(parse({"--csv", "out.csv"}, table)->file_name, "out.csv");
  // A number that is none stays a message, as for the other number switches.
  auto not_number = parse({"--level=many"}, table);
  EXPECT_TRUE(not_number->usage_errors.empty());
  EXPECT_EQ(not_number->messages.size(), 1u);
}

// The low 8 bits of 257 would name COM1: a port number above 255 ends the program as a usage
// error instead of opening another port.
TEST(CommandLine, PortNumbersOutsideTheComRangeAreUsageErrors) {
  for (const char* param : {"/port:256", "/port:257", "--port=-1", "/port:0x100"}) {
    auto p = parse({param});
    ASSERT_EQ(p->usage_errors.size(), 1u) << param;
    EXPECT_NE(p->usage_errors[0].find("0-255"), std::string::npos) << p->usage_errors[0];
    EXPECT_EQ(p->options.port.load(), 0) << param;
    EXPECT_EQ(p->options.switch_flags.load() & StartOptions::kLineSettingsGiven, 0u) << param;
  }
  EXPECT_TRUE(parse({"/port:255"})->usage_errors.empty());
  // "newnetparam" ignores the port that follows it, however large.
  EXPECT_TRUE(parse({"/newnetparam", "/port:999"})->usage_errors.empty());
}

TEST(CommandLine, QuotesAreStrippedAtBothEnds) {
  EXPECT_EQ(strip_quotes("\"a b\""), "a b");
  EXPECT_EQ(strip_quotes("\"a"), "a");
  EXPECT_EQ(strip_quotes("a\"b"), "a\"b");
  EXPECT_EQ(strip_quotes("\"\""), "");
}

}  // namespace
}  // namespace kba604
