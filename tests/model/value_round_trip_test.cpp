// Generated round trips: a value text is encoded into request bytes, the bytes are decoded as
// a reply, and the text shown must be what the format's rules predict. The predictions are
// computed here in decimal arithmetic on the text (integers scaled by powers of ten), not with
// the converter's floating-point steps, so that a rounding or precision fault shows up.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "model/my_converter.h"
#include "platform/text.h"

namespace kba604 {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A decimal number as written: sign, digits as an integer, digits after the point.
struct Decimal {
  bool negative = false;
  std::int64_t units = 0;  // the number times 10^scale
  int scale = 0;
};

Decimal parse_decimal(const std::string& text) {
  Decimal d;
  std::size_t i = 0;
  if (text[i] == '-') {
    d.negative = true;
    ++i;
  }
  bool after_point = false;
  for (; i < text.size(); ++i) {
    if (text[i] == '.') {
      after_point = true;
      continue;
    }
    d.units = d.units * 10 + (text[i] - '0');
    if (after_point) ++d.scale;
  }
  return d;
}

std::int64_t pow10(int n) {
  std::int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// units / 10^scale written with exactly scale digits after the point.
std::string write_decimal(bool negative, std::int64_t units, int scale) {
  std::string digits = std::to_string(units);
  if (scale > 0) {
    if (static_cast<int>(digits.size()) <= scale) {
      digits.insert(0, std::string(static_cast<std::size_t>(scale) - digits.size() + 1, '0'));
    }
    digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
  }
  return (negative && units != 0 ? "-" : "") + digits;
}

// What the encoder sends for a decimal text: |x| + 0.0005 truncated to `digits` digits.
std::int64_t sent_units(const Decimal& d, int digits) {
  int s = std::max(d.scale, 4);
  std::int64_t scaled = d.units * pow10(s - d.scale) + 5 * pow10(s - 4);
  return scaled / pow10(s - digits);
}

// Rounds units/10^scale to `places` digits after the point, halves away from zero.
std::int64_t round_half_away(std::int64_t units, int scale, int places) {
  std::int64_t divisor = pow10(scale - places);
  return (units + divisor / 2) / divisor;
}

struct Converted {
  int encoded;
  Bytes data;
  int decoded;
  std::string shown;
};

Converted round_trip(const MyConverter& c, const std::string& text, bool indexed = false,
                     EncodeContext context = {}) {
  Converted r;
  std::string message;
  r.encoded = c.ConvertToData(text, false, context, r.data, message);
  Bytes reply = r.data;
  if (indexed) {
    reply.push_back(0x00);
    reply.push_back(0x05);
  }
  r.decoded = c.ConvertFromData(reply.data(), reply.size(), indexed, r.shown);
  return r;
}

MyConverter converter(const char* name, std::string format, int decimals = 0, double minimum = 0,
                      double maximum = 0) {
  MyConverter c;
  c.short_name = name;
  c.format = std::move(format);
  c.decimals = decimals;
  c.minimum = minimum;
  c.maximum = maximum;
  return c;
}

// Values for "STORED_DOT": edges of the 2-, 3- and 4-byte layouts and random ones below the
// 28-bit limit, both signs.
std::vector<std::int64_t> mantissas() {
  std::vector<std::int64_t> v = {0,     1,       9,        10,      4095,    4096,
                                 99999, 0xFFFFF, 0x100000, 1234567, 9999999, 0xFFFFFFF};
  std::mt19937 rng(604);
  std::uniform_int_distribution<std::int64_t> any(0, 0xFFFFFFF);
  std::uniform_int_distribution<std::int64_t> small(0, 99999);
  for (int i = 0; i < 400; ++i) v.push_back(i % 2 ? any(rng) : small(rng));
  return v;
}

TEST(RoundTrip, StoredDotWithFixedDecimals) {
  for (int decimals = 1; decimals <= 3; ++decimals) {
    MyConverter c = converter("x", "STORED_DOT", decimals, -1e9, 1e9);
    for (std::int64_t m : mantissas()) {
      for (bool negative : {false, true}) {
        // The text as shown, and the same value typed with more digits than are kept.
        std::string text = write_decimal(negative, m, decimals);
        std::string longer = write_decimal(negative, m * 1000 + (m % 997), decimals + 3);
        for (const std::string& typed : {text, longer}) {
          SCOPED_TRACE(testing::Message() << decimals << " '" << typed << "'");
          std::int64_t units = sent_units(parse_decimal(typed), decimals);
          Converted r = round_trip(c, typed);
          if (units >= (1 << 28)) {
            EXPECT_EQ(r.encoded, kNotEncodable);
            continue;
          }
          ASSERT_EQ(r.encoded, kEncoded);
          EXPECT_EQ(r.data.size(), units < 0x1000 ? 2u : units < 0x100000 ? 3u : 4u);
          EXPECT_EQ(r.decoded, kDecoded);
          EXPECT_EQ(r.shown, write_decimal(negative, units, decimals));
          // The same reply with the index bytes after it reads the same.
          EXPECT_EQ(round_trip(c, typed, true).shown, r.shown);
        }
      }
    }
  }
}

// Automatic precision without limits: the digits after the point decide (at most three), and
// the reply shows the value with five digits after the point.
TEST(RoundTrip, StoredDotAutomaticWithoutLimits) {
  MyConverter c = converter("x", "STORED_DOT");
  std::mt19937 rng(1604);
  std::uniform_int_distribution<std::int64_t> any(0, 99999);
  for (int scale = 0; scale <= 5; ++scale) {
    for (int i = 0; i < 200; ++i) {
      bool negative = i % 3 == 0;
      std::string typed = write_decimal(negative, any(rng), scale);
      SCOPED_TRACE(typed);
      int digits = std::min(scale, 3);
      std::int64_t units = sent_units(parse_decimal(typed), digits);
      Converted r = round_trip(c, typed);
      ASSERT_EQ(r.encoded, kEncoded);
      EXPECT_EQ(r.shown, write_decimal(negative, units * pow10(5 - digits), 5));
    }
  }
}

// Automatic precision within the instrument's range -9999..9999: four places for digits,
// sign and point, never fewer than the digits before the point, rounded half away from zero.
TEST(RoundTrip, StoredDotAutomaticWithinTheInstrumentsRange) {
  MyConverter c = converter("x", "STORED_DOT", 0, -9999, 9999);
  std::mt19937 rng(2604);
  std::uniform_int_distribution<std::int64_t> any(0, 9999999);
  for (int scale = 0; scale <= 3; ++scale) {
    for (int i = 0; i < 300; ++i) {
      bool negative = i % 2 == 0;
      std::int64_t typed_units = any(rng) % (9999 * pow10(scale) + 1);
      std::string typed = write_decimal(negative, typed_units, scale);
      SCOPED_TRACE(typed);
      Converted r = round_trip(c, typed);
      ASSERT_EQ(r.encoded, kEncoded);
      // The value travels exactly: it has at most three digits after the point.
      std::int64_t units = sent_units(parse_decimal(typed), scale);
      std::int64_t whole = units / pow10(scale);
      int integer_digits = static_cast<int>(std::to_string(whole).size());
      int sign = negative && units != 0 ? 1 : 0;
      int places = std::max(0, 4 - integer_digits - sign);
      std::int64_t rounded =
          places >= scale ? units * pow10(places - scale) : round_half_away(units, scale, places);
      std::string expected = write_decimal(negative, rounded, places);
      // A carry into a new digit before the point leaves one place fewer after it.
      if (places > 0 && std::to_string(rounded / pow10(places)).size() >
                            static_cast<std::size_t>(integer_digits)) {
        expected.pop_back();
        if (expected.back() == '.') expected.pop_back();
      }
      EXPECT_EQ(r.shown, expected);
    }
  }
}

// Floats whose decimal text is exact in binary: sixteenths up to 10000.
TEST(RoundTrip, Float) {
  MyConverter c = converter("x", "float");
  std::mt19937 rng(3604);
  std::uniform_int_distribution<std::int64_t> any(0, 160000);
  std::vector<std::int64_t> sixteenths = {0, 1, 8, 16, 160000};
  for (int i = 0; i < 300; ++i) sixteenths.push_back(any(rng));
  for (std::int64_t s : sixteenths) {
    for (bool negative : {false, true}) {
      // s/16 has at most four digits after the point: s × 625 / 10^4.
      std::string typed = write_decimal(negative, s * 625, 4);
      SCOPED_TRACE(typed);
      Converted r = round_trip(c, typed);
      ASSERT_EQ(r.data.size(), 4u);
      std::string expected = write_decimal(negative, s * 625 * 100, 6);
      EXPECT_EQ(r.shown, expected);
    }
  }
}

TEST(RoundTrip, DecDotEveryValueOfSixteenBits) {
  MyConverter c = converter("x", "DEC_dot");
  for (long v = -32768; v <= 65535; v += (v > -300 && v < 300) ? 1 : 7) {
    std::string typed = std::to_string(v);
    SCOPED_TRACE(typed);
    long pattern = ((v % 65536) + 65536) % 65536;
    Converted r = round_trip(c, typed);
    ASSERT_EQ(r.encoded, kEncoded);
    EXPECT_EQ(r.data.size(), pattern < 256 ? 1u : 2u);
    EXPECT_EQ(r.shown, std::to_string(pattern));
    // Indexed: the index bytes follow the value.
    EXPECT_EQ(round_trip(c, typed, true).shown, std::to_string(pattern));
  }
}

TEST(RoundTrip, ClockMinutesSecondsAndHours) {
  MyConverter c = converter("x", "CLK_frm");
  auto two = [](long n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  for (long minutes = 0; minutes <= 1092; minutes += minutes < 70 ? 1 : 13) {
    for (long seconds = 0; seconds < 60; ++seconds) {
      long total = minutes * 60 + seconds;
      if (total > 65535) continue;
      std::string typed = std::to_string(minutes) + ":" + two(seconds);
      Converted r = round_trip(c, typed);
      EXPECT_EQ(r.shown, two(total / 60) + ":" + two(total % 60)) << typed;
    }
  }
  for (long hours = 0; hours <= 18; ++hours) {
    std::string typed = std::to_string(hours) + ":07:09";
    long total = (hours * 3600 + 7 * 60 + 9) % 65536;
    EXPECT_EQ(round_trip(c, typed).shown, two(total / 60) + ":" + two(total % 60)) << typed;
  }
}

// Every character of a network name in every position, with and without its point.
TEST(RoundTrip, NetworkNameEveryCharacter) {
  MyConverter c = converter("x", "name");
  const std::string characters =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_ ";
  std::mt19937 rng(4604);
  std::uniform_int_distribution<std::size_t> pick(0, characters.size() - 1);
  for (char ch : characters) {
    for (int position = 0; position < 4; ++position) {
      for (bool point : {false, true}) {
        // Four characters: ch at its position, random ones elsewhere; a point after ch.
        std::string typed;
        std::string expected;
        for (int k = 0; k < 4; ++k) {
          char x = k == position ? ch : characters[pick(rng)];
          typed += x;
          expected += static_cast<char>(x >= 'a' && x <= 'z' ? x - 'a' + 'A' : x);
          if (k == position && point) {
            typed += '.';
            expected += '.';
          }
        }
        SCOPED_TRACE(typed);
        Converted r = round_trip(c, typed);
        ASSERT_EQ(r.encoded, kEncoded);
        EXPECT_EQ(r.shown, expected);
        // Shorter names are filled with blanks.
        std::string first = typed.substr(0, 1);
        EXPECT_EQ(round_trip(c, first).shown, expected.substr(0, 1) + "   ");
      }
    }
  }
}

TEST(RoundTrip, EveryItemOfAList) {
  std::vector<std::string> formats = {
      "Выкл:Вкл:Авто",
      "Нет_связи:Связь_есть:_:Ручной__режим",
      std::string(kAttributeListFormat),
  };
  std::string long_list;
  for (int i = 0; i < 127; ++i) long_list += (i ? ":Пункт_" : "Пункт_") + std::to_string(i);
  formats.push_back(long_list);
  for (const std::string& format : formats) {
    MyConverter c = converter("x", format);
    // The item texts, computed from the descriptor: split at ":", "_" as a blank.
    std::vector<std::string> items;
    std::string item;
    for (char ch : format + ":") {
      if (ch == ':') {
        items.push_back(item);
        item.clear();
      } else {
        item += ch == '_' ? ' ' : ch;
      }
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      for (int variant = 0; variant < 3; ++variant) {
        std::string typed = variant == 0   ? items[i]
                            : variant == 1 ? platform::upper_case(items[i])
                                           : platform::fold_case(items[i]);
        SCOPED_TRACE(typed);
        // Equal texts in other letter case name the first such item.
        std::size_t first = 0;
        while (!platform::iequals(items[first], typed)) ++first;
        Converted r = round_trip(c, typed, variant == 2);
        ASSERT_EQ(r.encoded, kEncoded);
        EXPECT_EQ(r.data, (Bytes{static_cast<std::uint8_t>(first)}));
        EXPECT_EQ(r.shown, items[first]);
      }
    }
  }
}

TEST(RoundTrip, NetworkSettingsEveryItem) {
  const struct {
    const char* name;
    std::vector<std::string> items;
  } lists[] = {
      {"bPS", {"2400", "4800", "9600", "14400", "19200", "28800", "38400", "57600", "115200"}},
      {"LEn", {"7", "8"}},
      {"PrtY", {"Отсутствует", "Четность", "Нечетность"}},
      {"Sbit", {"1", "2"}},
      {"A.Len", {"8", "11"}},
  };
  for (const auto& l : lists) {
    MyConverter c = converter(l.name, "DEC_dot");
    for (std::size_t i = 0; i < l.items.size(); ++i) {
      Converted r = round_trip(c, l.items[i]);
      EXPECT_EQ(r.data, (Bytes{static_cast<std::uint8_t>(i)})) << l.name << " " << l.items[i];
      EXPECT_EQ(r.shown, l.items[i]);
    }
  }
  MyConverter addr = converter("Addr", "Выкл:Вкл");
  for (int a = 0; a <= 2047; a += 8) {
    EXPECT_EQ(round_trip(addr, std::to_string(a)).shown, std::to_string(a));
  }
}

}  // namespace
}  // namespace kba604
