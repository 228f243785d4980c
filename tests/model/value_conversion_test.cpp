#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/device_codes.h"
#include "model/my_converter.h"
#include "model/parameter.h"
#include "support/recording_prompter.h"

namespace kba604 {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<Parameter> make(const char* name, const char* format, int decimals = 0,
                                double minimum = 0, double maximum = 0) {
  auto p = std::make_unique<Parameter>();
  p->short_name = name;
  p->format = format;
  p->decimals = decimals;
  p->minimum = minimum;
  p->maximum = maximum;
  return p;
}

struct Encoded {
  int result;
  Bytes data;
  std::string message;
};
Encoded encode(const MyConverter& c, std::string_view text, bool position = false,
               EncodeContext context = {}) {
  Encoded e;
  e.result = c.ConvertToData(text, position, context, e.data, e.message);
  return e;
}

struct Decoded {
  int result;
  std::string text;
};
Decoded decode(const MyConverter& c, Bytes data, bool indexed = false) {
  Decoded d;
  d.result = c.ConvertFromData(data.data(), data.size(), indexed, d.text);
  return d;
}

// The worked values of the formats, text to bytes.
TEST(ValueEncoding, WorkedValues) {
  struct Case {
    const char* format;
    int decimals;
    const char* text;
    Bytes bytes;
  };
  const Case cases[] = {
      {"STORED_DOT", 1, "12.5", {0x10, 0x7D}},
      {"STORED_DOT", 2, "-3.25", {0xA1, 0x45}},
      {"STORED_DOT", 1, "1234.5", {0x10, 0x30, 0x39}},
      {"STORED_DOT", 1, "100000", {0x1F, 0x42, 0x40}},
      {"STORED_DOT", 0, "0", {0x00, 0x00}},
      {"STORED_DOT", 0, "1.23456", {0x34, 0xD3}},   // three digits after the point: 1235
      {"STORED_DOT", 0, "12.5  \t", {0x10, 0x7D}},  // trailing blanks and controls are dropped
      {"STORED_DOT", 3, "1000", {0x3F, 0x42, 0x40}},
      {"STORED_DOT", 3, "268435.455", {0x3F, 0xFF, 0xFF, 0xFF}},  // largest 28-bit mantissa
      {"float", 0, "1.0", {0x3F, 0x80, 0x00, 0x00}},
      {"DEC_dot", 0, "300", {0x01, 0x2C}},
      {"DEC_dot", 0, "-1", {0xFF, 0xFF}},
      {"DEC_dot", 0, "255", {0xFF}},
      {"DEC_dot", 0, "65536", {0x00}},  // the low 16 bits
      {"CLK_frm", 0, "0:30", {0x1E}},
      {"CLK_frm", 0, "12:34", {0x02, 0xF2}},
      {"name", 0, "AB.1", {0x4E, 0x02, 0x17, 0x14}},
      {"name", 0, "A..B", {0x4E, 0x4E, 0x16, 0x16}},   // each point adds one: B and B
      {"name", 0, "ABCDE", {0x1A, 0x18, 0x16, 0x14}},  // the fifth is examined, not sent
      {"name", 0, "ab_-", {0x48, 0x4A, 0x16, 0x14}},
      {"Выкл:Вкл", 0, "ВКЛ", {0x01}},
      {"Выкл:Вкл", 0, "выкл", {0x00}},
      {"Нет_связи:Связь", 0, "Нет связи", {0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << "/" << c.decimals << " '" << c.text << "'");
    auto p = make("x", c.format, c.decimals);
    Encoded e = encode(*p, c.text);
    EXPECT_EQ(e.result, kEncoded);
    EXPECT_EQ(e.data, c.bytes);
  }
}

// The worked values of the formats, bytes to text.
TEST(ValueDecoding, WorkedValues) {
  struct Case {
    const char* format;
    int decimals;
    Bytes bytes;
    int result;
    const char* text;
  };
  const Case cases[] = {
      {"STORED_DOT", 1, {0x10, 0x7D}, kDecoded, "12.5"},
      {"STORED_DOT", 2, {0xA1, 0x45}, kDecoded, "-3.25"},
      {"STORED_DOT", 1, {0x1F, 0x42, 0x40}, kDecoded, "100000.0"},
      {"STORED_DOT", 1, {0x10, 0x27, 0x11}, kDecoded, "1000.1"},                  // not 1000.0
      {"STORED_DOT", 2, {0x00, 0x00, 0, 0, 0, 0, 0, 0, 0x01}, kDecoded, "0.00"},  // > 8 bytes: 0
      {"STORED_DOT", 2, {0x80, 0x00}, kDecoded, "0.00"},  // no negative zero
      {"float", 0, {0xC0, 0x20, 0x00, 0x00}, kDecoded, "-2.500000"},
      {"float", 0, {0xC0, 0x20, 0x00}, kDecodedErrorText, "Ошибка; (Непонятная длина ответа:3)"},
      {"DEC_dot", 0, {0xFF, 0xFF}, kDecoded, "65535"},
      {"DEC_dot", 0, {0x2A}, kDecoded, "42"},
      {"DEC_dot", 0, {1, 2, 3, 4, 5}, kDecodedErrorText, "Ошибка; (Непонятная длина ответа:5)"},
      {"CLK_frm", 0, {0x02, 0xF2}, kDecoded, "12:34"},
      {"CLK_frm", 0, {0x1E}, kDecoded, "00:30"},
      {"CLK_frm", 0, {1, 2, 3, 4, 5}, kDecodedErrorText, "Ошибка; (Непонятная длина ответа:5)"},
      {"name", 0, {0x4E, 0x02, 0x17, 0x14}, kDecoded, "AB.1 "},
      {"name", 0, {0x4C, 0x4A, 0x48, 0x4F}, kDecoded, " .-_/"},
      {"name",
       0,
       {0x4E, 0x02, 0x50, 0x14},
       kDecodedErrorText,
       "Недопустимый код символа в сетевом имени"},
      {"name", 0, {0x4E, 0x02, 0x17}, kDecodedErrorText, "Ошибка; (Непонятная длина ответа:3)"},
      {"ASCI", 0, {'4', '0', '6', 'A', 'B', 'K'}, kDecoded, "KBA604"},
      {"string", 0, {0, 0, 'c', 'b', 'a'}, kDecoded, "abc"},
      {"ASCI", 0, {0xE0, 0xEA}, kDecoded, "ка"},  // Windows-1251 from the instrument
      {"Выкл:Вкл", 0, {0x01}, kDecoded, "Вкл"},
      {"Выкл:Вкл", 0, {0x05}, kNotDecodable, ""},
      {"Выкл:Вкл", 0, {0x80}, kNotDecodable, ""},
      {"Выкл:Вкл", 0, {0x00, 0x01}, kDecoded, "Вкл"},
      {"Выкл:Вкл", 0, {}, kNotDecodable, ""},  // no data decodes only for "APLY"
      {"STORED_DOT", 1, {}, kNotDecodable, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << "/" << c.decimals << " -> " << c.text);
    auto p = make("x", c.format, c.decimals);
    Decoded d = decode(*p, c.bytes);
    EXPECT_EQ(d.result, c.result);
    EXPECT_EQ(d.text, c.text);
  }
}

// An indexed reply ends with the two index bytes.
TEST(ValueDecoding, IndexedRepliesLeaveOutTheIndexBytes) {
  struct Case {
    const char* format;
    int decimals;
    Bytes bytes;
    int result;
    const char* text;
  };
  const Case cases[] = {
      {"STORED_DOT", 1, {0x10, 0x7D, 0x00, 0x03}, kDecoded, "12.5"},
      {"STORED_DOT", 1, {0x00, 0x03}, kNotDecodable, ""},
      {"Выкл:Вкл", 0, {0x01, 0x00, 0x07}, kDecoded, "Вкл"},
      {"DEC_dot", 0, {0x2A, 0x00, 0x03}, kDecoded, "42"},
      {"DEC_dot", 0, {0x01, 0x2C, 0x00, 0x03}, kDecoded, "300"},
      {"CLK_frm", 0, {0x02, 0xF2, 0x00, 0x01}, kDecoded, "12:34"},
      {"float", 0, {0x3F, 0x80, 0x00, 0x00, 0x00, 0x02}, kDecoded, "1.000000"},
      {"name", 0, {0x4E, 0x02, 0x17, 0x14, 0x00, 0x02}, kDecoded, "AB.1 "},
      {"ASCI", 0, {'b', 'a', 0x00, 0x03}, kDecoded, "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << " -> " << c.text);
    auto p = make("x", c.format, c.decimals);
    Decoded d = decode(*p, c.bytes, true);
    EXPECT_EQ(d.result, c.result);
    EXPECT_EQ(d.text, c.text);
  }
}

TEST(ValueEncoding, RefusalsNeverLeaveData) {
  struct Case {
    const char* name;
    const char* format;
    const char* text;
    int result;
    const char* message;
  };
  const Case cases[] = {
      {"x", "name", "", kNoWriteMethod, "Сетевое имя пусто"},
      {"x", "name", "ABCDEFGHI", kNoWriteMethod, "Сетевое имя слишком длинное"},
      {"x", "name", "A.B.C.D.", kEncoded, ""},
      {"x", "name", ".AB", kNoWriteMethod, "Недопустимый символ в сетевом имени"},
      {"x", "name", "A+B", kNoWriteMethod, "Недопустимый символ в сетевом имени"},
      {"x", "name", "ABCD+", kNoWriteMethod, "Недопустимый символ в сетевом имени"},
      {"x", "name", "AB/", kNoWriteMethod, "Недопустимый символ в сетевом имени"},
      {"x", "name", "ЖЖ", kNoWriteMethod, "Недопустимый символ в сетевом имени"},
      {"x", "CLK_frm", "12:3x", kNoWriteMethod, ""},
      {"x", "CLK_frm", "12:34 ", kNoWriteMethod, ""},
      {"x", "Выкл:Вкл", "Авто", kNotEncodable, ""},
      {"x", "string", "abc", kNotEncodable, ""},
      {"x", "STORED_DOT", "268435.456", kNotEncodable, ""},  // mantissa of 2^28 and more
      {"x", "STORED_DOT", "1e12", kNotEncodable, ""},
      {"dev", "ASCI", "KBA604", kNoWriteMethod, ""},
      {"VER", "ASCI", "1.10", kNoWriteMethod, ""},
      {"exit", "DEC_dot", "1", kNoWriteMethod, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << c.format << " '" << c.text << "'");
    auto p = make(c.name, c.format);
    Encoded e = encode(*p, c.text);
    EXPECT_EQ(e.result, c.result);
    EXPECT_EQ(e.message, c.message);
    if (c.result != kEncoded) {
      EXPECT_TRUE(e.data.empty());
    }
  }
}

TEST(ValueEncoding, AcceptsTextsWithoutNumbersAsTheRulesSay) {
  // "STORED_DOT" and "DEC_dot" read what number they find (none: 0); "float" sends nothing.
  EXPECT_EQ(encode(*make("x", "STORED_DOT"), "abc").data, (Bytes{0x00, 0x00}));
  EXPECT_EQ(encode(*make("x", "STORED_DOT"), "").data, (Bytes{0x00, 0x00}));
  EXPECT_EQ(encode(*make("x", "DEC_dot"), "12abc").data, (Bytes{0x0C}));
  Encoded f = encode(*make("x", "float"), "abc");
  EXPECT_EQ(f.result, kEncoded);
  EXPECT_TRUE(f.data.empty());
  EXPECT_TRUE(encode(*make("x", "float"), "0x10").data == (Bytes{0x00, 0x00, 0x00, 0x00}));
}

TEST(ValueEncoding, ItemPositionGivenAsNumber) {
  auto p = make("x", "Выкл:Вкл:Авто");
  EXPECT_EQ(encode(*p, "2", true).data, (Bytes{0x02}));
  EXPECT_EQ(encode(*p, "Вкл", true).data, (Bytes{0x00}));  // read as a number: 0
  EXPECT_EQ(encode(*p, "-1", true).result, kNotEncodable);
  EXPECT_EQ(encode(*p, "-2", true).data, (Bytes{0xFE}));
  EXPECT_EQ(encode(*p, "256", true).result, kNotEncodable);  // never cut to a byte
  EXPECT_EQ(encode(*make("x", "string"), "0", true).data, (Bytes{0x00}));
  EXPECT_EQ(encode(*make("x", "ASCI"), "asci").data, (Bytes{0x00}));
}

TEST(ValueEncoding, OnlyTheFirst127ItemsAreSearched) {
  std::string list;
  for (int i = 0; i < 130; ++i) list += (i ? ":i" : "i") + std::to_string(i);
  auto p = make("x", list.c_str());
  EXPECT_EQ(encode(*p, "i126").data, (Bytes{126}));
  EXPECT_EQ(encode(*p, "i127").result, kNotEncodable);
}

// The attribute list goes as 0xAC..0xAF only with a document open at the maximum level.
TEST(ValueEncoding, AttributeListByteRule) {
  struct Case {
    bool document;
    int level;
    const char* text;
    std::uint8_t byte;
  };
  const Case cases[] = {
      {true, 2, "Не редактируемый, Заводской", 0xAC},
      {true, 2, "Редактируемый, Заводской", 0xAD},
      {true, 2, "Не редактируемый, Пользовательский", 0xAE},
      {true, 2, "редактируемый, пользовательский", 0xAF},
      {false, 2, "Редактируемый, Пользовательский", 0x03},
      {true, 1, "Редактируемый, Пользовательский", 0x03},
      {true, 0, "Не редактируемый, Заводской", 0x00},
  };
  auto p = make("Attr", std::string(kAttributeListFormat).c_str());
  for (const Case& c : cases) {
    Encoded e = encode(*p, c.text, false, {c.document, c.level});
    EXPECT_EQ(e.data, (Bytes{c.byte})) << c.text << " " << c.document << c.level;
  }
  // Another list that only looks alike is no attribute list.
  auto other = make("x", "Не_редактируемый,_Заводской:Редактируемый,_Заводской");
  EXPECT_EQ(encode(*other, "Редактируемый, Заводской", false, {true, 2}).data, (Bytes{0x01}));
}

TEST(ServiceCommands, RepliesAndWrites) {
  struct Case {
    const char* name;
    Bytes bytes;
    int result;
    const char* text;
  };
  const Case cases[] = {
      {"dev", {'4', '0', '6', 'A', 'B', 'K'}, kDecoded, "KBA604"},
      {"ver", {'0', '1', '.', '1'}, kDecoded, "1.10"},
      {"dev", {}, kNotDecodable, ""},
      {"exit", {0x18, 0x00, 0x10}, kDecoded, "Адрес прибора: 16"},
      {"exit", {0x18, 0x01, 0x00}, kDecoded, "Адрес прибора: 256"},
      {"exit", {0x00, 0x00, 0x07}, kDecoded, "сброс по питанию"},
      {"exit",
       {0x00, 0x00, 0x20},
       kDecoded,
       "Ошибки регистров ввода/вывода. Номеру сбившегося регистра :  32"},
      {"exit", {0x00, 0x00}, kNotDecodable, ""},
      {"exit", {0x00, 0x00, 0x01, 0x00}, kNotDecodable, ""},
      {"APLY", {}, kDecoded, ""},
      // The instrument acknowledges "PRTL" with an empty reply before it changes protocol.
      {"PRTL", {}, kDecoded, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto p = make(c.name, "DEC_dot");
    Decoded d = decode(*p, c.bytes);
    EXPECT_EQ(d.result, c.result);
    EXPECT_EQ(d.text, c.text);
  }
  Encoded aply = encode(*make("APLY", "DEC_dot"), "");
  EXPECT_EQ(aply.result, kEncoded);
  EXPECT_TRUE(aply.data.empty());
  Encoded prtl = encode(*make("PRTL", "DEC_dot"), "");
  EXPECT_EQ(prtl.result, kEncoded);
  EXPECT_TRUE(prtl.data.empty());
}

TEST(DeviceCodes, Tables) {
  EXPECT_EQ(network_error_text(0x33), "Редактирование параметра запрещено атрибутами доступа");
  EXPECT_EQ(network_error_text(0x28), "Не найден дескриптор");
  EXPECT_EQ(network_error_text(0x36), "Индекс параметра превышает ограничитель индекса");
  EXPECT_EQ(network_error_text(0x09), "");
  EXPECT_NE(network_error_text(0x29).find("!!!\t\t\t\t\t\t\t  В нормальном"), std::string::npos);
  EXPECT_EQ(reset_cause_text(14), "Нештатный вход в программу контроля");
  EXPECT_EQ(reset_cause_text(94),
            "Ошибки регистров ввода/вывода. Номеру сбившегося регистра :  94");
  EXPECT_EQ(reset_cause_text(95), "Сбой регистра SREG");
  EXPECT_EQ(reset_cause_text(16), "Не найдено значение ошибки ");
  EXPECT_EQ(measured_status_text(239, 0, false), "");
  EXPECT_EQ(state_status_text(239), "");
}

// Measured values: status codes in the first byte take the place of the value.
TEST(ServiceCommands, MeasuredValueStatusCodes) {
  struct Case {
    const char* name;
    Bytes bytes;
    int result;
    const char* text;
  };
  const Case cases[] = {
      {"rEAd", {0x41, 0x20, 0x00, 0x00, 0x01, 0x02}, kDecoded, "10.000"},
      {"r.OUt", {0x3F, 0x00, 0x00, 0x00}, kDecoded, "0.500"},
      {"rEAd", {0x7F, 0x00, 0x00, 0x00}, kDecodedErrorText, "Переполнение"},
      {"rEAd", {0x41, 0x20}, kDecodedErrorText, "Ошибка; (Непонятная длина ответа:2)"},
      {"rEAd", {0xF0}, kDecodedErrorText, "Вычисленное значение заведомо неверно."},
      {"rd.rg", {0xF4}, kDecodedErrorText, "Не могу преобразовать коэффициенты."},
      {"r.CAL",
       {0xF3, 0, 0, 1},
       kDecodedErrorText,
       "у регулятора отсутствует уставка или регулятор не работает в данный момент"},
      {"r.CAL", {0xF3, 0, 0, 9}, kDecodedErrorText, "Неизвестный подкод ошибки 9"},
      {"rEAd",
       {0xF5, 0, 0, 11},
       kDecodedErrorText,
       "На входе вычислителя корня отрицательное число"},
      {"rEAd", {0xF5, 0, 0, 12}, kDecodedErrorText, "Неизвестный подкод ошибки 12"},
      {"rEAd", {0xF5}, kDecodedErrorText, "Ошибка; (Непонятная длина ответа:1)"},
      {"rEAd", {0xFA}, kDecodedErrorText, "Вычисленное значение слишком велико."},
      {"SET.P",
       {0xFA},
       kDecodedErrorText,
       "У регулятора отсутствует уставка или регулятор не работает."},
      {"Set.P", {0xFB}, kDecodedErrorText, "У регулятора уставка типа “Мощность”."},
      {"rEAd", {0xFF}, kDecodedErrorText, "Некорректный юстировочный коэффициент."},
      {"r.St", {0xF8}, kDecodedErrorText, "Велика температура холодного спая."},
      {"r.kEY", {0xF3}, kDecodedErrorText, "Не могу преобразовать коэффициенты ."},
      {"r.StP", {0xFD}, kDecodedErrorText, "Обрыв датчика."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto p = make(c.name, "STORED_DOT");
    Decoded d = decode(*p, c.bytes);
    EXPECT_EQ(d.result, c.result);
    EXPECT_EQ(d.text, c.text);
  }
}

TEST(ServiceCommands, StateValuesOfTwoBytesUseTheSecond) {
  auto st = make("r.St", "СТОП:РАБОТА:АВАРИЯ");
  EXPECT_EQ(decode(*st, {0x00, 0x01}).text, "РАБОТА");
  EXPECT_EQ(decode(*st, {0x02}).text, "АВАРИЯ");
  auto prg = make("r.PrG", "DEC_dot");
  EXPECT_EQ(decode(*prg, {0x07, 0x02}).text, "2");
}

TEST(NetworkSettings, CodesSelectTheirOwnValueLists) {
  struct Case {
    const char* name;
    std::uint8_t code;
    const char* text;
  };
  const Case cases[] = {
      {"bPS", 0, "2400"},         {"bPS", 8, "115200"},      {"LEn", 1, "8"},
      {"PrtY", 0, "Отсутствует"}, {"PrtY", 2, "Нечетность"}, {"Sbit", 1, "2"},
      {"A.Len", 1, "11"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    // The description may give these parameters any format: their own lists win.
    auto p = make(c.name, "DEC_dot");
    Decoded d = decode(*p, {c.code});
    EXPECT_EQ(d.result, kDecoded);
    EXPECT_EQ(d.text, c.text);
    Encoded e = encode(*p, c.text);
    EXPECT_EQ(e.data, (Bytes{c.code}));
  }
  EXPECT_EQ(decode(*make("bPS", "DEC_dot"), {9}).result, kNotDecodable);
  EXPECT_EQ(decode(*make("PrtY", "DEC_dot"), {0xFF}).result, kNotDecodable);
  // The address is a number of one or two bytes whatever the format.
  auto addr = make("Addr", "Выкл:Вкл");
  EXPECT_EQ(decode(*addr, {0x01, 0x00}).text, "256");
  EXPECT_EQ(encode(*addr, "248").data, (Bytes{0xF8}));
  EXPECT_EQ(encode(*addr, "2040").data, (Bytes{0x07, 0xF8}));
}

TEST(NetworkSettings, OnlyTheFiveLineSettingsKeepTheirOwnLists) {
  // The protocol and the start of network settings follow their description's format like any
  // other parameter: a list of their own would turn "2" into "Modbus_ASCII".
  EXPECT_EQ(decode(*make("Prot", "DEC_dot"), {2}).text, "2");
  EXPECT_EQ(decode(*make("prot", "ТАЛВ:Modbus RTU:Modbus ASCII"), {1}).text, "Modbus RTU");
  EXPECT_EQ(decode(*make("net.s", "DEC_dot"), {1}).text, "1");
  EXPECT_EQ(encode(*make("Prot", "DEC_dot"), "7").data, (Bytes{7}));
  // A name that only begins like a line setting is none.
  EXPECT_EQ(decode(*make("bPS1", "DEC_dot"), {9}).text, "9");
  // Without regard to case, as the instrument's names are matched everywhere.
  EXPECT_EQ(decode(*make("bps", "DEC_dot"), {2}).text, "9600");
  EXPECT_EQ(decode(*make("a.len", "DEC_dot"), {0}).text, "8");
}

TEST(TypeNames, ByFormat) {
  struct Case {
    const char* format;
    int decimals;
    const char* name;
  };
  const Case cases[] = {
      {"STORED_DOT", 0, "Число с плавающей точкой"},
      {"stored_dot", 2, "Знаковое число с односторонней десятичной точкой"},
      {"float", 0, "32-разрядное вещественное число"},
      {"DEC_DOT", 0, "Знаковое целое число"},
      {"CLK_frm", 0, "Составной тип данных с информацией о времени"},
      {"ASCI", 0, "Строковый тип"},
      {"String", 0, "String"},
      {"name", 0, "Нетипизированный набор битов"},
      {"Выкл:Вкл", 0, "Выкл:Вкл"},
      {"DEC_dot:x", 0, "Знаковое целое число"},  // the first token names the format
  };
  for (const Case& c : cases) {
    EXPECT_EQ(make("x", c.format, c.decimals)->type_name(), c.name) << c.format;
  }
}

// The display rule of "STORED_DOT".
TEST(DisplayRule, FixedAndAutomaticPrecision) {
  struct Case {
    int decimals;
    double minimum;
    double maximum;
    const char* text;
    const char* shown;
    bool dropped;
  };
  const Case cases[] = {
      {2, 0, 0, "3.14159", "3.14", false},
      {1, 0, 0, "-0.05000", "-0.0", false},
      {3, 0, 0, "12", "12", false},
      {1, -999, 9999, "1.99999", "1.9", false},  // cut, no rounding
      {0, -999, 9999, "12.50000", "12.50", true},
      {0, -999, 9999, "1234.50000", "1235", true},
      {0, -999, 9999, "-3.25000", "-3.25", true},
      {0, -999, 9999, "0.12345", "0.123", true},
      {0, -999, 9999, "9.99960", "10.00", true},
      {0, -9999, 9999, "12.34500", "12.35", true},  // half rounds away from zero
      {0, -9999, 9999, "-12.34500", "-12.3", true},
      {0, 0, 100, "12.50000", "13", true},
      {0, 0, 1000, "12.5", "12.5", false},
      {0, 0, 200000, "100000.00000", "100000", true},  // never 19000
      {0, 0, 100, "100000", "100000", false},          // nor 1000
      {0, 0, 0, "3.14159", "3.14159", false},          // no limits: no digits dropped
      {0, 0, 0, "123456.78900", "123456.78900", false},
      {0, 0, 9999, "abc", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.decimals << " [" << c.minimum << "," << c.maximum << "] " << c.text);
    auto p = make("x", "STORED_DOT", c.decimals, c.minimum, c.maximum);
    DisplayText d = p->apply_display_rule(c.text);
    EXPECT_EQ(d.text, c.shown);
    EXPECT_EQ(d.dropped, c.dropped);
  }
}

TEST(AssignFromText, LimitsToleranceAndFormats) {
  struct Case {
    const char* format;
    int decimals;
    double minimum;
    double maximum;
    const char* text;
    int result;
    const char* value;
  };
  const Case cases[] = {
      {"STORED_DOT", 1, 0, 5, "5.0004", kAssigned, "5.0"},
      {"STORED_DOT", 1, 0, 5, "5.001", kNotAcceptable, nullptr},
      {"STORED_DOT", 0, 0, 5, "5.0004", kAssigned, "5"},  // automatic: fitted to the limits
      {"STORED_DOT", 0, 0, 5, "5.001", kNotAcceptable, nullptr},
      {"STORED_DOT", 1, 0, 5, "-0.0009", kAssigned, "-0.0"},
      {"STORED_DOT", 1, 0, 5, "-0.001", kNotAcceptable, nullptr},
      {"STORED_DOT", 1, 0, 5, ".5", kBadFormat, nullptr},
      {"STORED_DOT", 2, 0, 0, "1000000", kAssigned, "1000000"},
      {"STORED_DOT", 2, 0, 0, "abc", kAssigned, "abc"},     // accepted as the rules say
      {"STORED_DOT", 0, -999, 9999, "abc", kAssigned, ""},  // no digits: an empty value
      {"DEC_dot", 0, 0, 0, "12.5", kNotAcceptable, nullptr},
      {"DEC_dot", 0, 0, 0, "12", kAssigned, "12"},
      {"DEC_dot", 0, 0, 0, "12.000001", kAssigned, "12.000001"},
      {"DEC_dot", 0, 0, 0, "12x", kNotAcceptable, nullptr},
      {"DEC_dot", 0, 0, 0, "", kNotAcceptable, nullptr},
      {"DEC_dot", 0, 0, 0, "0x10", kNotAcceptable, nullptr},
      {"DEC_dot", 0, 0, 0, "inf", kNotAcceptable, nullptr},
      {"DEC_dot", 0, 1, 10, "10.000005", kAssigned, "10.000005"},
      {"DEC_dot", 0, 1, 10, "10.0005", kNotAcceptable, nullptr},
      {"DEC_dot", 0, 1, 10, "11", kNotAcceptable, nullptr},
      {"CLK_frm", 0, 0, 0, "1:234", kBadFormat, nullptr},
      {"CLK_frm", 0, 0, 0, "1:23", kAssigned, "1:23"},
      {"CLK_frm", 0, 0, 0, "1:2:3:4", kBadFormat, nullptr},
      {"CLK_frm", 0, 0, 3600, "60:00", kAssigned, "60:00"},
      {"CLK_frm", 0, 0, 3600, "60:01", kNotAcceptable, nullptr},
      {"CLK_frm", 0, 0, 3600, "1:00:00", kAssigned, "1:00:00"},
      {"CLK_frm", 0, 0, 3600, "1:00:01", kNotAcceptable, nullptr},
      {"CLK_frm", 0, 60, 120, "59", kNotAcceptable, nullptr},  // no tolerance
      {"CLK_frm", 0, 60, 120, "90", kAssigned, "90"},
      {"Выкл:Вкл", 0, 0, 0, "что угодно", kAssigned, "что угодно"},
      {"name", 0, 0, 0, "AB", kAssigned, "AB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.format << " [" << c.minimum << "," << c.maximum << "] '" << c.text << "'");
    auto p = make("x", c.format, c.decimals, c.minimum, c.maximum);
    p->value = "old";
    EXPECT_EQ(p->AssignFromText(c.text, nullptr), c.result);
    EXPECT_EQ(p->value, c.value != nullptr ? c.value : "old");
    EXPECT_EQ(p->changed, c.result == kAssigned);
  }
}

TEST(AssignFromText, WarnsWhenAutomaticPrecisionDropsDigits) {
  test::RecordingPrompter prompter;
  auto p = make("x", "STORED_DOT", 0, -999, 9999);
  EXPECT_EQ(p->AssignFromText("12.555", &prompter), kAssigned);
  EXPECT_EQ(p->value, "12.56");
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, "Параметру присвоено значение 12.56");
  EXPECT_EQ(prompter.records()[0].caption, "Предупреждение");
  EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Warning);

  prompter.clear();
  EXPECT_EQ(p->AssignFromText("12.5", &prompter), kAssigned);
  EXPECT_EQ(prompter.count(), 0u);
  auto fixed = make("x", "STORED_DOT", 1, -999, 9999);
  EXPECT_EQ(fixed->AssignFromText("12.555", &prompter), kAssigned);
  EXPECT_EQ(fixed->value, "12.5");
  EXPECT_EQ(prompter.count(), 0u);
}

TEST(AssignFromText, FailureMessages) {
  struct Case {
    const char* format;
    int decimals;
    double minimum;
    double maximum;
    const char* text;
  };
  const Case cases[] = {
      {"DEC_dot", 0, 1, 10,
       "Параметру 'n.Ch' (Число каналов) не может быть присвоено значение '12.5'.\n(Тип: "
       "Знаковое целое число. Диапазон значений: от 1 до 10)"},
      {"STORED_DOT", 1, -50, 5,
       "Параметру 'n.Ch' (Число каналов) не может быть присвоено значение '12.5'.\n(Тип: "
       "Знаковое число с односторонней десятичной точкой. Диапазон значений: от -50.000 до "
       "5.000)"},
      {"CLK_frm", 0, 30, 3600,
       "Параметру 'n.Ch' (Число каналов) не может быть присвоено значение '12.5'.\n(Тип: "
       "Составной тип данных с информацией о времени. Диапазон значений: от 00:30 до 60:00)"},
      {"DEC_dot", 0, 0, 0,
       "Параметру 'n.Ch' (Число каналов) не может быть присвоено значение '12.5'.\n(Тип: "
       "Знаковое целое число. Диапазон значений: "},
  };
  for (const Case& c : cases) {
    auto p = make("n.Ch", c.format, c.decimals, c.minimum, c.maximum);
    p->title = "Число каналов";
    BoxMessage m = p->assignment_failure(kNotAcceptable, "12.5");
    EXPECT_EQ(m.text, c.text);
    EXPECT_EQ(m.caption, "Неудалось изменить параметр");
    EXPECT_EQ(m.icon, PromptIcon::Error);
  }
  auto p = make("x", "CLK_frm");
  BoxMessage m = p->assignment_failure(kBadFormat, "1:234");
  EXPECT_EQ(m.text, "Заданное значение параметра (\"1:234\") не соответствует формату данных!");
  EXPECT_EQ(m.caption, "Неверное значение");
  EXPECT_EQ(m.icon, PromptIcon::Information);
}

TEST(RangeDescription, ByFormatLimitsAndPolling) {
  struct Case {
    const char* name;
    const char* format;
    double minimum;
    double maximum;
    const char* text;
  };
  const Case cases[] = {
      {"x", "STORED_DOT", -50, 150.5,
       "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть вещественного типа, от -50.000 до 150.500."},
      {"x", "CLK_frm", 30, 5999, "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть от 00:30 до 99:59."},
      {"x", "DEC_dot", 1, 8, "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть целого типа, от 1 до 8."},
      {"x", "DEC_dot", 5, 5, ""},
      {"x", "Выкл:Вкл", 0, 1, ""},
      {"x", "float", 0, 1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(make(c.name, c.format, 0, c.minimum, c.maximum)->range_description(), c.text);
  }
  auto polled = make("x", "DEC_dot", 1, 8);
  polled->create_polling_timer();
  EXPECT_EQ(polled->range_description(), "");

  // The address takes its maximum from the length of the address.
  auto addr = make("Addr", "DEC_dot");
  EXPECT_EQ(addr->range_description(8),
            "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть целого типа, от 0 до 255.");
  EXPECT_EQ(addr->range_description(11),
            "ДИАПАЗОН ЗНАЧЕНИЙ: Значение должно быть целого типа, от 0 до 2047.");
  EXPECT_EQ(addr->range_description(), "");
}

}  // namespace
}  // namespace kba604
