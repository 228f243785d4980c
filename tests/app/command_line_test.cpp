#include <gtest/gtest.h>

#include "app/command_line.h"

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
  std::vector<std::string> messages;
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

std::unique_ptr<Parsed> parse(std::vector<std::string> params) {
  auto p = std::make_unique<Parsed>();
  CmyCommandLineInfo info(p->options);
  info.parse(params);
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
      {{"/port:259"}, 0, 0, 0x22, 3, 0},  // low 8 bits kept
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
  EXPECT_EQ(p->messages[0], "unknown switch \"wirte\" is ignored");
  EXPECT_EQ(p->messages[1], "the value of switch \"bps\" is not a number; the switch is ignored");
  EXPECT_EQ(p->messages[2], "the value of switch \"port\" is not a number; the switch is ignored");
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
  EXPECT_NE(refused->messages[0].find("\"addr\""), std::string::npos);
  EXPECT_NE(refused->messages[1].find("\"sbit\""), std::string::npos);
  EXPECT_NE(refused->messages[2].find("\"uni\""), std::string::npos);
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

TEST(CommandLine, QuotesAreStrippedAtBothEnds) {
  EXPECT_EQ(strip_quotes("\"a b\""), "a b");
  EXPECT_EQ(strip_quotes("\"a"), "a");
  EXPECT_EQ(strip_quotes("a\"b"), "a\"b");
  EXPECT_EQ(strip_quotes("\"\""), "");
}

}  // namespace
}  // namespace kba604
