// The single-parameter dialog's work on a scripted line: the protocol lines of reads and writes
// against frames built by hand, the index in the data or in the address, the rounding of a
// "STORED_DOT" value, the quoted-text rule and the names it offers.
#include "operations/single_point.h"

#include <gtest/gtest.h>

#include "link/link_fixture.h"
#include "platform/text.h"

namespace kba604 {
namespace {

using test::LineResponse;
using test::talv_frame;

class SinglePointTest : public test::LinkTest {
 protected:
  SinglePointTest() {
    set(table[0], "SP", "STORED_DOT", "Уставка");
    table[0].decimals = 1;
    table[0].minimum = -100;
    table[0].maximum = 100;
    set(table[1], "Mode", "Выкл_1:Вкл", "Режим");
    for (int i = 0; i < 4; ++i) {
      set(table[2 + i], "n.Ch", "DEC_dot", "Каналы");
      table[2 + i].indexed = true;
      table[2 + i].linear_index = i;
    }
    set(table[6], "Auto", "STORED_DOT", "Автоматическая точность");
    table[6].minimum = 0;
    table[6].maximum = 100;
    set(table[7], "bPS", "2400:4800:9600", "Скорость");
  }
  static void set(Parameter& p, const char* name, const char* format, const char* title) {
    p.short_name = name;
    p.format = format;
    p.title = title;
  }
  SinglePointOutcome run(SinglePointRequest request) { return point.execute(exchange, request); }
  static std::string sent(int i, int byte) {
    const std::string shown = byte < 32 ? "." : std::string(1, static_cast<char>(byte));
    return platform::format(">> Посылка: #%2i : %03i = 0x%02X (%s)", i, byte, byte, shown.c_str());
  }
  static std::string received(int i, int byte) {
    const std::string shown = byte < 32 ? "." : std::string(1, static_cast<char>(byte));
    return platform::format("<< Ответ: #%2i : %03i = 0x%02x (%s)", i, byte, byte, shown.c_str());
  }

  ParameterTable table{8, "test"};
  SinglePoint point{table};
  std::shared_ptr<DeviceIO> shared_io{std::shared_ptr<DeviceIO>(), &io};
  LinkExchange exchange{shared_io};
};

TEST_F(SinglePointTest, ReadAndWriteListTheirFrameBytes) {
  const std::uint16_t sp = hash_name("SP");
  line.push(LineResponse::reply(talv_frame(16, 1, sp, {0x10, 0x7D})));
  SinglePointOutcome read = run({.name = "sp", .what = {}});
  ASSERT_TRUE(read.found);
  EXPECT_EQ(read.lines,
            (std::vector<std::string>{"SP (Уставка)", "Размер инф-ой части посылки 0 байт.",
                                      received(0, 0x10), received(1, 0x7D),
                                      "Инф-ная часть квитанции ответа имеет размер 2 байт.",
                                      "Нет ошибок; строковая нотация ответа:", "12.5"}));
  EXPECT_EQ(line.requests().back(), talv_frame(16, 1, sp, {}));
  EXPECT_EQ(table[0].value, "12.5");  // the tree's own parameter was read

  // A write with the index in the data: the value, then the index, high byte first.
  const std::uint16_t channels = hash_name("n.Ch");
  line.push(LineResponse::reply(talv_frame(16, 1, channels, {0x01, 0x2C, 0x00, 0x03})));
  SinglePointOutcome write =
      run({.name = "n.Ch", .with_index = true, .from = 3, .to = 3, .write = true, .what = "300"});
  EXPECT_EQ(write.lines,
            (std::vector<std::string>{"Индекс передается в посылке запроса", "n.Ch (Каналы)",
                                      "Размер инф-ой части посылки 4 байт.", sent(0, 0x01),
                                      sent(1, 0x2C), sent(2, 0), sent(3, 3), received(0, 0x01),
                                      received(1, 0x2C), received(2, 0), received(3, 3),
                                      "Инф-ная часть квитанции ответа имеет размер 4 байт.",
                                      "Нет ошибок; записано. Обратно вернулось='300'"}));
  EXPECT_EQ(line.requests().back(), talv_frame(16, 0, channels, {0x01, 0x2C, 0x00, 0x03}));
  EXPECT_EQ(table[5].value, "300");
  EXPECT_EQ(table[2].value, "Нет данных");
  EXPECT_EQ(table[5].linear_index, 3);

  // No answer: the note says why, the value stays.
  line.set_responder([](const std::string&) { return LineResponse::silence(); });
  SinglePointOutcome silent = run({.name = "SP", .what = {}});
  ASSERT_GE(silent.lines.size(), 2u);
  EXPECT_EQ(silent.lines[silent.lines.size() - 2], "Имеет место ошибка:");
  EXPECT_EQ(silent.lines.back(), "Таймаут при передаче данных (нет связи)");
  EXPECT_EQ(table[0].value, "12.5");
}

// An index in the address moves the request to the instrument's address plus the index; from
// 8 on the request leaves the instrument's block of eight addresses, and each says so.
TEST_F(SinglePointTest, IndexInTheAddressWarnsFromEight) {
  const std::uint16_t mode = hash_name("Mode");
  line.push(LineResponse::reply(talv_frame(24, 1, mode, {0x01})));
  line.push(LineResponse::reply(talv_frame(25, 1, mode, {0x00})));
  SinglePointOutcome out = run({.name = "Mode",
                                .with_index = true,
                                .from = 8,
                                .to = 9,
                                .index_in_address = true,
                                .what = {}});
  const std::vector<std::string> one = {"Индекс передается в поле адреса запроса",
                                        "Предупреждение: адрес увеличен более чем на 7!",
                                        "Mode (Режим)"};
  int warnings = 0;
  for (const std::string& l : out.lines) warnings += l == one[1];
  EXPECT_EQ(warnings, 2);
  EXPECT_EQ(std::vector<std::string>(out.lines.begin(), out.lines.begin() + 3), one);
  const std::vector<std::string> requests = line.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], talv_frame(24, 1, mode, {}));
  EXPECT_EQ(requests[1], talv_frame(25, 1, mode, {}));
  EXPECT_EQ(out.lines.back(), "Выкл 1");
  // Nothing of the table sits at those addresses: its parameter keeps its value and offset.
  EXPECT_EQ(table[1].value, "Нет данных");
  EXPECT_EQ(table[1].address_offset, 0);

  // Below 8 there is no warning.
  line.push(LineResponse::reply(talv_frame(23, 1, mode, {0x01})));
  out = run({.name = "Mode",
             .with_index = true,
             .from = 7,
             .to = 7,
             .index_in_address = true,
             .what = {}});
  EXPECT_EQ(out.lines[1], "Mode (Режим)");
}

TEST_F(SinglePointTest, WrittenTextsFollowTheQuotingAndRoundingRules) {
  struct Case {
    const char* name;
    const char* what;
    std::vector<std::uint8_t> data;
    const char* rounding;  // the rounding line, or none
  };
  const Case cases[] = {
      {"Mode", "\"вкл\"", {0x01}, nullptr},  // quoted: an item text
      {"Mode", "1", {0x01}, nullptr},        // a number: the item's position
      {"Mode", "Выкл 1", {0x00}, nullptr},   // an entry of the drop-down as it stands
      {"bPS", "9600", {0x02}, nullptr},      // an entry that is a number is still the entry
      {"bPS", "2", {0x02}, nullptr},         // a number that is no entry: the position
      {"Auto", "12.7", {0x00, 0x0D}, "Значение было округлено до 13"},
      {"Auto", "150", {0x00, 0x96}, nullptr},  // outside the limits: sent as typed
      {"SP", "12.5", {0x10, 0x7D}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.what);
    line.clear_log();
    const std::uint16_t hash = hash_name(c.name);
    line.push(LineResponse::reply(talv_frame(16, 1, hash, c.data)));
    SinglePointOutcome out = run({.name = c.name, .write = true, .what = c.what});
    const std::vector<std::string> requests = line.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], talv_frame(16, 0, hash, c.data));
    const bool rounded = out.lines.size() > 1 && platform::istarts_with(out.lines[1], "Значение");
    EXPECT_EQ(rounded ? out.lines[1] : "", c.rounding ? c.rounding : "");
    EXPECT_TRUE(platform::istarts_with(out.lines.back(), "Нет ошибок; записано."))
        << out.lines.back();
  }
}

TEST_F(SinglePointTest, UnknownNamesAndTheChoicesOffered) {
  SinglePointOutcome out = run({.name = "nosuch", .what = {}});
  EXPECT_FALSE(out.found);
  EXPECT_EQ(out.message,
            "Такой параметр не найден в таблице параметров!\nПроверьте правильность написания.");
  EXPECT_EQ(out.caption, "Параметр не найден");
  EXPECT_TRUE(line.requests().empty());

  EXPECT_EQ(point.names(), (std::vector<std::string>{"Auto", "bPS", "Mode", "n.Ch", "SP"}));
  const SinglePointChoice mode = point.choose("mode");
  EXPECT_EQ(mode.hash, platform::format("0x%X", hash_name("Mode")));
  EXPECT_EQ(mode.description, "Режим (Выкл_1:Вкл)");
  EXPECT_EQ(mode.write_choices, (std::vector<std::string>{"Выкл 1", "Вкл"}));
  EXPECT_TRUE(point.choose("SP").write_choices.empty());
  // The hash without leading zeros: "n.Err" is 0x233 (0x0233 in the protocol's tables).
  EXPECT_EQ(point.choose("n.Err").hash, "0x233");
  EXPECT_EQ(point.choose("n.Err").description, "<неизвестный параметр> (<тип неопределен>)");

  // The tree's row of a name and index: the one with that index, else the first of the name.
  EXPECT_EQ(point.find("n.ch", true, 2, false), &table[4]);
  EXPECT_EQ(point.find("n.ch", true, 9, false), &table[2]);
  EXPECT_EQ(point.find("n.ch", false, 2, false), &table[2]);
  EXPECT_EQ(point.find("nosuch", false, 0, false), nullptr);
}

}  // namespace
}  // namespace kba604
