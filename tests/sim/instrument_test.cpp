// The instrument's protocol: requests in, replies (or refusals) out, as packets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "sim/instrument.h"
#include "sim_test_util.h"

namespace kba604::test {
namespace {

using sim::Bytes;

constexpr unsigned kBase = 16;

Bytes name_hash_bytes(std::string_view name) {
  std::uint16_t h = hash_name(name);
  return Bytes{static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h & 0xFF)};
}

float as_float(const Bytes& b) {
  std::uint32_t bits = std::uint32_t(b.at(0)) << 24 | std::uint32_t(b.at(1)) << 16 |
                       std::uint32_t(b.at(2)) << 8 | b.at(3);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

class InstrumentTest : public ::testing::Test {
 protected:
  explicit InstrumentTest(sim::InstrumentOptions options = {}) : options_(options) { rebuild(); }
  void rebuild() { inst_ = std::make_unique<sim::Instrument>(options_, description_, 1.0, 1); }
  // The reply packet; a packet with hash 0 when the instrument stays silent.
  sim::Packet ask(const sim::Packet& req, double now = 0) {
    sim::Instrument::Outcome out = inst_->handle(req, now);
    return out.reply ? *out.reply : sim::Packet{};
  }
  Bytes read(std::string_view name, Bytes data = {}, double now = 0, unsigned address = kBase) {
    sim::Packet r = ask(request(address, true, name, data), now);
    EXPECT_EQ(r.hash, hash_name(name))
        << name << " refused with " << (r.data.empty() ? -1 : r.data[0]);
    return r.data;
  }
  // The network error of a refusal, 0 for an ordinary reply, -1 for silence.
  int refusal(const sim::Packet& req, double now = 0) {
    sim::Packet r = ask(req, now);
    if (r.hash == 0) return -1;
    if (r.hash != kHashNErr) return 0;
    return r.data.empty() ? 0x100 : r.data[0];
  }
  Bytes write(std::string_view name, Bytes data, double now = 0) {
    sim::Packet r = ask(request(kBase, false, name, data), now);
    EXPECT_EQ(r.hash, hash_name(name))
        << name << " refused with " << (r.data.empty() ? -1 : r.data[0]);
    return r.data;
  }

  sim::InstrumentOptions options_;
  std::shared_ptr<sim::Description> description_ = small_description();
  std::unique_ptr<sim::Instrument> inst_;
};

TEST_F(InstrumentTest, AnswersAndRefusalsFollowTheInstrumentsRules) {
  struct Case {
    const char* what;
    sim::Packet req;
    int refusal;  // network error, 0 for an ordinary reply
    Bytes data;   // expected reply data (for ordinary replies)
  };
  const Case cases[] = {
      {"model, last character first", request(kBase, true, "dev"), 0, text_reversed("KBA604")},
      {"firmware version", request(kBase, true, "ver"), 0, text_reversed("1.10")},
      {"reset cause: power-on", request(kBase, true, "exit"), 0, {0, 0, 7}},
      {"stored packed decimal", request(kBase, true, "t.A"), 0, {0x10, 0x7D}},
      {"float", request(kBase, true, "fl"), 0, {0x3F, 0xC0, 0, 0}},
      {"indexed value ends with its index", request(kBase, true, "in-t", {0, 3}), 0, {5, 0, 3}},
      {"index in the address field", request(kBase + 3, true, "in-t"), 0, {5}},
      {"nothing written yet: no error", request(kBase, true, "n.Err"), 0, {0}},
      {"identification cannot be written", request(kBase, false, "dev", {'A'}), 0x03, {}},
      {"unknown name", request(kBase, true, "XYZ"), 0x28, {}},
      {"ROM parameter", request(kBase, false, "ro.x", {1}), 0x03, {}},
      {"measured value", request(kBase, false, "rEAd", {0, 0, 0, 0}), 0x03, {}},
      {"locked by its attributes", request(kBase, false, "F.ac", {0x20, 0x7D}), 0x33, {}},
      {"index beyond the table", request(kBase, true, "in-t", {0, 8}), 0x34, {}},
      {"offset beyond a plain parameter", request(kBase + 2, true, "t.A"), 0x34, {}},
      {"index of one byte", request(kBase, true, "in-t", {3}), 0x31, {}},
      {"data with a plain read", request(kBase, true, "t.A", {1}), 0x31, {}},
      {"write without the index", request(kBase, false, "in-t", {3}), 0x31, {}},
      {"point position 4", request(kBase, false, "t.A", {0x40, 0x01}), 0x02, {}},
      {"two decimals where one is fixed", request(kBase, false, "t.A", {0x20, 0x7D}), 0x05, {}},
      {"above the maximum", request(kBase, false, "t.A", {0x13, 0xE9}), 0x06, {}},
      {"five bytes for a number", request(kBase, false, "t.A", {0x10, 0, 0, 0, 1}), 0x31, {}},
      {"an item beyond the list", request(kBase, false, "TYPE", {3}), 0x47, {}},
      {"APLY asked as a read", request(kBase, true, "APLY"), 0x32, {}},
      {"CLB.S sent as a command", request(kBase, false, "CLB.S"), 0x32, {}},
      {"CLB.S before any calibration", request(kBase, true, "CLB.S"), 0x42, {}},
      {"attributes of a parameter without them",
       request(kBase, true, "Attr", name_hash_bytes("t.B")),
       0x08,
       {}},
  };
  for (const Case& c : cases) {
    sim::Packet r = ask(c.req);
    if (c.refusal) {
      EXPECT_EQ(r.hash, kHashNErr) << c.what;
      EXPECT_EQ(r.data, Bytes{static_cast<std::uint8_t>(c.refusal)}) << c.what;
    } else {
      EXPECT_EQ(r.hash, c.req.hash) << c.what;
      EXPECT_EQ(r.data, c.data) << c.what;
      EXPECT_EQ(r.address, c.req.address) << c.what;
    }
  }
  // "n.Err" reads back the last refusal.
  EXPECT_EQ(read("n.Err"), Bytes{0x08});
}

TEST_F(InstrumentTest, WritesAreEchoedAsTheyAreStored) {
  EXPECT_EQ(write("t.A", {0x10, 0xC8}), (Bytes{0x10, 0xC8}));  // 20.0
  EXPECT_EQ(read("t.A"), (Bytes{0x10, 0xC8}));
  EXPECT_EQ(write("in-t", {0x0A, 0, 3}), (Bytes{0x0A, 0, 3}));
  EXPECT_EQ(read("in-t", {0, 3}), (Bytes{0x0A, 0, 3}));
  EXPECT_EQ(read("in-t", {0, 2}), (Bytes{0x05, 0, 2}));  // its neighbour is untouched
  EXPECT_EQ(*inst_->value("in-t", 3), Bytes{0x0A});
  // With the index in the address field the data is the value alone, and so is the echo.
  sim::Packet by_address = ask(request(kBase + 2, false, "in-t", {0x0A}));
  EXPECT_EQ(by_address.hash, hash_name("in-t"));
  EXPECT_EQ(by_address.data, Bytes{0x0A});
  EXPECT_EQ(read("in-t", {0, 2}), (Bytes{0x0A, 0, 2}));
  // The attribute list of a master at full access: 0xAC..0xAF store the position 0..3.
  EXPECT_EQ(write("Ch.At", {0xAD}), Bytes{0x01});
  EXPECT_EQ(write("Ch.At", {0x02}), Bytes{0x02});
  EXPECT_EQ(refusal(request(kBase, false, "Ch.At", {0xB0})), 0x47);
  // A refused write leaves the value alone.
  EXPECT_EQ(refusal(request(kBase, false, "t.A", {0x13, 0xE9})), 0x06);
  EXPECT_EQ(read("t.A"), (Bytes{0x10, 0xC8}));
}

TEST_F(InstrumentTest, AttributeRequestsReadAndChangeTheAttributes) {
  auto hash_bytes = [](std::string_view name) {
    std::uint16_t h = hash_name(name);
    return Bytes{static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h & 0xFF)};
  };
  auto with = [](Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  // Reply sizes: 3 for a plain parameter, 5 with an index. Bit 0 editable, bit 1 user-owned.
  EXPECT_EQ(read("Attr", hash_bytes("t.A")), with({0x03}, hash_bytes("t.A")));
  EXPECT_EQ(read("Attr", with({0, 2}, hash_bytes("in-t"))), with({0x03, 0, 2}, hash_bytes("in-t")));
  EXPECT_EQ(read("M.s.t.r.", hash_bytes("F.ac")), with({0x00}, hash_bytes("F.ac")));

  // A user may not touch a factory parameter's attributes, a master may.
  EXPECT_EQ(refusal(request(kBase, false, "Attr", with({0x01}, hash_bytes("F.ac")))), 0x07);
  EXPECT_EQ(write("M.s.t.r.", with({0x01}, hash_bytes("F.ac"))), with({0x01}, hash_bytes("F.ac")));
  EXPECT_EQ(write("F.ac", {0x20, 0x7D}), (Bytes{0x20, 0x7D}));  // now editable: 1.25
  EXPECT_EQ(write("M.s.t.r.", with({0x00}, hash_bytes("F.ac"))), with({0x00}, hash_bytes("F.ac")));
  EXPECT_EQ(refusal(request(kBase, false, "F.ac", {0x20, 0x64})), 0x33);

  // The owner may lock and unlock a user parameter, but not hand it to the factory.
  EXPECT_EQ(write("Attr", with({0x02}, hash_bytes("t.A"))), with({0x02}, hash_bytes("t.A")));
  EXPECT_EQ(refusal(request(kBase, false, "t.A", {0x10, 0x64})), 0x33);
  EXPECT_EQ(refusal(request(kBase, false, "Attr", with({0x01}, hash_bytes("t.A")))), 0x07);
  EXPECT_EQ(write("Attr", with({0x03}, hash_bytes("t.A"))), with({0x03}, hash_bytes("t.A")));

  // With a multiplicity of 4, indexes 4..7 share the attributes of index 4.
  EXPECT_EQ(write("Attr", with({0x02, 0, 4}, hash_bytes("G.idx"))),
            with({0x02, 0, 4}, hash_bytes("G.idx")));
  EXPECT_EQ(read("Attr", with({0, 6}, hash_bytes("G.idx")))[0], 0x02);
  EXPECT_EQ(read("Attr", with({0, 3}, hash_bytes("G.idx")))[0], 0x03);
  EXPECT_EQ(refusal(request(kBase, false, "G.idx", {7, 0, 5})), 0x33);
  EXPECT_EQ(write("G.idx", {7, 0, 3}), (Bytes{7, 0, 3}));

  EXPECT_EQ(refusal(request(kBase, true, "Attr", {1, 2, 3})), 0x31);
  EXPECT_EQ(refusal(request(kBase, true, "Attr", hash_bytes("XYZ"))), 0x28);
}

TEST_F(InstrumentTest, CountsOfChannelsAndObjectsChangeOneStepAtATime) {
  EXPECT_EQ(refusal(request(kBase, false, "n.Ch", {5})), 0x47);  // 2 -> 5 at once
  for (std::uint8_t n : {3, 4, 5}) EXPECT_EQ(write("n.Ch", {n}), Bytes{n});
  EXPECT_EQ(write("n.Ch", {4}), Bytes{4});                        // back one step
  EXPECT_EQ(write("n.Ch", {4}), Bytes{4});                        // no step at all
  EXPECT_EQ(refusal(request(kBase, false, "n.Obj", {3})), 0x47);  // 1 -> 3
  EXPECT_EQ(write("n.Obj", {2}), Bytes{2});
}

TEST_F(InstrumentTest, ConfigurationResetTakesTheReferenceValues) {
  write("t.A", {0x10, 0x32});  // 5.0
  write("t.B", {0x00, 0x07});  // 7
  write("r.co", {0});          // "Нет": nothing happens
  EXPECT_EQ(read("t.A"), (Bytes{0x10, 0x32}));
  write("r.co", {1});                            // its reference value "Сброс"
  EXPECT_EQ(read("t.A"), (Bytes{0x10, 0xC8}));   // reference 20.0
  EXPECT_EQ(read("t.B"), (Bytes{0x10, 0x0F}));   // no reference: the initial 1.5
  EXPECT_EQ(read("F.ac"), (Bytes{0x20, 0x7D}));  // check-only reference 1.25
  EXPECT_EQ(read("r.co"), Bytes{0});
  EXPECT_EQ(read("bPS"), Bytes{2});  // the network settings stay
}

TEST_F(InstrumentTest, RegulationStartsAndStopsAndTheValuesFollowIt) {
  EXPECT_EQ(read("r.St"), (Bytes{0, 0}));
  EXPECT_EQ(read("Set.P"), (Bytes{250, 0, 0, 0}));  // no set point while stopped
  EXPECT_EQ(read("r.StP"), (Bytes{0, 0}));
  EXPECT_FLOAT_EQ(as_float(read("r.OUt")), 0.0f);

  write("r-s", {1}, 0.0);
  EXPECT_TRUE(inst_->regulating());
  EXPECT_EQ(read("r.St", {}, 1.0), (Bytes{0, 1}));
  EXPECT_EQ(read("r.PrG", {}, 1.0), (Bytes{0, 1}));
  // The program: ramp to 100 in 10 min, hold 20 min, ramp to 200 in 10 min, hold 20 min.
  struct Point {
    double t;
    int step;
    double setpoint;
  };
  for (const Point& p : {Point{300, 1, -1}, Point{900, 1, 100}, Point{2100, 2, 150},
                         Point{2700, 2, 200}, Point{24000, 2, 200}}) {
    EXPECT_EQ(read("r.StP", {}, p.t), (Bytes{0, static_cast<std::uint8_t>(p.step)})) << p.t;
    float sp = as_float(read("Set.P", {}, p.t));
    if (p.t == 300) {
      EXPECT_GT(as_float(read("r.OUt", {}, p.t)), 0.0f) << "the output works while the value lags";
    }
    if (p.setpoint >= 0) {
      EXPECT_NEAR(sp, p.setpoint, 0.01) << p.t;
    }
  }
  // Long after the program the regulated input has reached the set point.
  EXPECT_NEAR(as_float(read("rEAd", {}, 36000)), 200.0, 1.0);

  write("r-s", {0}, 36001);
  EXPECT_EQ(read("r.St", {}, 36002), (Bytes{0, 0}));
  EXPECT_EQ(refusal(request(kBase, false, "r-s", {2})), 0x47);
}

TEST_F(InstrumentTest, TheProgramEndsAtItsStepCountOrAtAnEndStep) {
  struct Case {
    std::string_view name;
    Bytes value;  // written before the start
  };
  for (const Case& c : {Case{"nPC", {1, 0, 0}}, Case{"PCP.i", {3, 0, 1}}}) {
    rebuild();
    write(c.name, c.value);
    write("r-s", {1}, 0);
    EXPECT_EQ(read("r.StP", {}, 7200), (Bytes{0, 1})) << c.name;
    EXPECT_NEAR(as_float(read("Set.P", {}, 7200)), 100.0, 0.01) << c.name;
  }
}

TEST_F(InstrumentTest, NetworkStartCanBeForbidden) {
  write("net.s", {0});  // "Запрещен"
  write("r-s", {1});    // taken, but ignored
  EXPECT_FALSE(inst_->regulating());
  EXPECT_EQ(read("r.St"), (Bytes{0, 0}));
}

TEST_F(InstrumentTest, InputsAreSmoothNoisySignalsOrStatusCodes) {
  std::vector<float> values;
  for (int i = 0; i < 20; ++i)
    values.push_back(as_float(read("rEAd", {}, 10.0 + 0.1 * i, kBase + 2)));
  bool any_difference = false;
  for (std::size_t i = 1; i < values.size(); ++i) {
    EXPECT_LT(std::fabs(values[i] - values[i - 1]), 0.5) << "a jump between two readings";
    any_difference |= values[i] != values[i - 1];
  }
  EXPECT_TRUE(any_difference) << "a living signal never repeats itself exactly";
  EXPECT_NE(as_float(read("rEAd", {}, 10.0, kBase + 2)),
            as_float(read("rEAd", {}, 10.0, kBase + 5)));

  inst_->set_input_status(3, sim::InputStatus{0xFD, 0});
  EXPECT_EQ(read("rEAd", {}, 11.0, kBase + 2), (Bytes{0xFD, 0, 0, 0}));
  inst_->set_input_status(3, sim::InputStatus{0xF5, 2});
  EXPECT_EQ(read("rEAd", {}, 11.0, kBase + 2), (Bytes{0xF5, 0, 0, 2}));
  inst_->set_input_status(3, std::nullopt);
  EXPECT_LT(read("rEAd", {}, 11.0, kBase + 2)[0], 240);
}

TEST_F(InstrumentTest, AlarmAndDiscreteInputsChangeOverTime) {
  // Read once a second for ten minutes of process time (a time scale of 1).
  std::set<int> alarm, inputs;
  int alarm_changes = 0, last_alarm = -1;
  for (int s = 0; s < 600; ++s) {
    const Bytes a = read("r.SiG", {}, s);
    const Bytes c = read("r.Cn", {}, s);
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(c.size(), 2u);
    ASSERT_LE(a[1], 1);
    ASSERT_LE(c[1], 15);
    alarm.insert(a[1]);
    inputs.insert(c[1]);
    if (last_alarm >= 0 && a[1] != last_alarm) ++alarm_changes;
    last_alarm = a[1];
  }
  EXPECT_EQ(alarm, (std::set<int>{0, 1}));
  // About once a minute, never flickering from one second to the next.
  EXPECT_GE(alarm_changes, 10);
  EXPECT_LE(alarm_changes, 30);
  EXPECT_GE(inputs.size(), 8u);

  // Regulation follows its program closely; the object heated to 200 is out of range for a
  // long while after it stops.
  write("r-s", {1}, 600.0);
  EXPECT_EQ(read("r.SiG", {}, 900.0), (Bytes{0, 0}));
  write("r-s", {0}, 40000.0);
  EXPECT_EQ(read("r.SiG", {}, 40030.0), (Bytes{0, 1}));
}

TEST_F(InstrumentTest, ApplyTakesTheNetworkSettingsWrittenBefore) {
  write("bPS", {4});   // 19200
  write("PrtY", {1});  // even
  write("Addr", {24});
  EXPECT_EQ(inst_->line_settings().baud, 9600u);  // not yet
  sim::Instrument::Outcome out = inst_->handle(request(kBase, false, "APLY"), 0);
  EXPECT_FALSE(out.reply) << "APLY is not answered at the old settings";
  EXPECT_TRUE(out.settings_changed);
  EXPECT_EQ(inst_->line_settings().baud, 19200u);
  EXPECT_EQ(inst_->line_settings().parity, sim::Parity::kEven);
  EXPECT_EQ(inst_->base_address(), 24u);
  EXPECT_FALSE(inst_->hears(16));
  EXPECT_TRUE(inst_->hears(31));
}

TEST_F(InstrumentTest, RefusedCharacterFormatsAndAddressRules) {
  struct Case {
    const char* name;
    std::uint8_t value;
    int refusal;
  };
  // Current: 8 bits, no parity, 1 stop bit, 8-bit addressing, address 16, ТАЛВ.
  const Case cases[] = {
      {"LEn", 0, 0x47},                     // 7 bits, 1 stop bit, no parity
      {"Sbit", 1, 0},                       // 8 bits, 2 stop bits, no parity
      {"PrtY", 1, 0x47},                    // 8 bits, 2 stop bits, even parity
      {"PrtY", 2, 0x47},                    // and odd
      {"LEn", 0, 0},                        // 7 bits, 2 stop bits, no parity
      {"Sbit", 0, 0x47},                    // 7 bits, 1 stop bit, no parity
      {"PrtY", 1, 0},                       // 7 bits, 2 stop bits, even
      {"Sbit", 0, 0},                       // 7 bits, 1 stop bit, even
      {"LEn", 1, 0},                        // 8 bits, 1 stop bit, even
      {"Addr", 20, 0x47},                   // not a multiple of 8 under ТАЛВ
      {"Addr", 252, 0x47},                  // above 248 in 8-bit addressing
      {"Addr", 248, 0},    {"Prot", 1, 0},  // Modbus at 248
      {"A.Len", 1, 0x47},                   // 11-bit addressing with Modbus
  };
  for (const Case& c : cases) {
    EXPECT_EQ(refusal(request(kBase, false, c.name, {c.value})), c.refusal)
        << c.name << "=" << int(c.value);
  }
}

TEST_F(InstrumentTest, ProtocolSwitchAndModbusSwitchBack) {
  write("Prot", {1});                     // Modbus RTU
  EXPECT_EQ(write("PRTL", {}), Bytes{});  // echoed in the ТАЛВ protocol, then switched
  EXPECT_EQ(inst_->protocol(), sim::Protocol::kModbusRtu);
  Bytes other{0x10, 0x03, 0x00, 0x00, 0x00, 0x01};
  EXPECT_FALSE(inst_->handle_modbus(other)) << "only the switch-back command is answered";
  Bytes wrong_address{0x18, 0x05, 0xF0, 0xF0, 0xFF, 0x00};
  EXPECT_FALSE(inst_->handle_modbus(wrong_address));
  Bytes back{0x10, 0x05, 0xF0, 0xF0, 0xFF, 0x00};
  EXPECT_EQ(inst_->handle_modbus(back), back);
  EXPECT_EQ(inst_->protocol(), sim::Protocol::kTalv);
  EXPECT_EQ(read("Prot"), Bytes{0});

  write("Prot", {2});
  write("PRTL", {});
  EXPECT_EQ(inst_->protocol(), sim::Protocol::kModbusAscii);
}

TEST_F(InstrumentTest, BroadcastsAreCarriedOutWithoutAnswer) {
  EXPECT_EQ(refusal(request(sim::kBroadcastAddress, false, "t.A", {0x10, 0x64})), -1);
  EXPECT_EQ(read("t.A"), (Bytes{0x10, 0x64}));
  EXPECT_EQ(refusal(request(sim::kBroadcastAddress, true, "dev")), -1);
  // "exit" at the broadcast address tells the instrument's address.
  sim::Packet r = ask(request(sim::kBroadcastAddress, true, "exit"));
  EXPECT_EQ(r.data, (Bytes{24, 0, 16}));
  EXPECT_EQ(r.address, 16u);
}

TEST_F(InstrumentTest, CalibrationRunsAsTheInstrumentMeasures) {
  const double t0 = 100;
  EXPECT_EQ(write("CLB.I", {1}, t0), (Bytes{0x03, 0}));
  EXPECT_EQ(refusal(request(kBase, false, "CLB.I", {1}), t0 + 0.5), 0x43);  // already running
  EXPECT_EQ(read("CLB.S", {}, t0 + 1), (Bytes{0x03, 32}));                  // not ready yet
  EXPECT_EQ(read("CLB.G", {1}, t0 + 1), (Bytes{0x03, 32}));                 // no value yet
  EXPECT_EQ(read("CLB.S", {}, t0 + 3.1), (Bytes{0x80, 0}));                 // finished, status 0
  EXPECT_EQ(read("CLB.T", {}, t0 + 3.2), (Bytes{0, 0x80, 0}));              // no faulty coefficient
  Bytes k1 = read("CLB.G", {1}, t0 + 3.3);
  ASSERT_EQ(k1.size(), 5u);
  EXPECT_EQ(k1[0], 1);
  EXPECT_NEAR(as_float(Bytes(k1.begin() + 1, k1.end())), 1.0, 0.02);
  EXPECT_EQ(read("CLB.G", {2}, t0 + 3.3), (Bytes{0x80, 33}));  // type 1 computes one coefficient
  EXPECT_EQ(write("CLB.P", {}, t0 + 4), (Bytes{0xC0, 0}));
  EXPECT_EQ(inst_->calibration().stored().count("type1"), 1u);
  EXPECT_EQ(write("CLB.A", {}, t0 + 5), (Bytes{0, 0}));
  EXPECT_EQ(refusal(request(kBase, true, "CLB.S"), t0 + 6), 0x42);
}

TEST_F(InstrumentTest, CoefficientRepliesOfTheWrongSizeOnRequest) {
  // 2 data bytes: no value, only flags and status; 3 bytes: a reply cut short.
  for (int bytes : {2, 3}) {
    inst_->calibration().options().coefficient_bytes = bytes;
    const double t0 = 100.0 * bytes;
    EXPECT_EQ(write("CLB.I", {1}, t0), (Bytes{0x03, 0}));
    Bytes k1 = read("CLB.G", {1}, t0 + 3.3);
    ASSERT_EQ(k1.size(), static_cast<std::size_t>(bytes));
    EXPECT_EQ(k1[0], bytes == 2 ? 0x80 : 1);
    EXPECT_EQ(write("CLB.A", {}, t0 + 4), (Bytes{0, 0}));
  }
}

TEST_F(InstrumentTest, CalibrationChecksTypeChannelSensorAndRegulation) {
  struct Case {
    const char* what;
    Bytes start;
    std::uint8_t status;  // at the end of the measurement
  };
  // Input 1 carries sensor code 1 (a resistance thermometer), the others code 5 (a thermocouple).
  const Case cases[] = {
      {"type 1 on a resistance thermometer", {1}, 0},
      {"type 2 wants a thermocouple on input 1", {2}, 10},
      {"type 3 needs no sensor", {3}, 0},
      {"type 4 wants a valve sensor", {0x83, 4}, 10},
  };
  double t = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(write("CLB.I", c.start, t), (Bytes{0x03, 0})) << c.what;
    EXPECT_EQ(read("CLB.S", {}, t + 3.5), (Bytes{0x80, c.status})) << c.what;
    write("CLB.A", {}, t + 4);
    t += 10;
  }
  EXPECT_EQ(write("CLB.I", {7}, t), (Bytes{0, 13}));        // no such type
  EXPECT_EQ(write("CLB.I", {4}, t), (Bytes{0, 13}));        // type 4 needs its channel
  EXPECT_EQ(write("CLB.I", {0x09, 4}, t), (Bytes{0, 12}));  // channel 9
  EXPECT_EQ(refusal(request(kBase, false, "CLB.I", {1, 2, 3}), t), 0x31);
  write("in-t", {26, 0, 2});  // a valve sensor on input 3
  EXPECT_EQ(write("CLB.I", {0x82, 4}, t), (Bytes{0x03, 0}));
  EXPECT_EQ(read("CLB.S", {}, t + 3.5), (Bytes{0x80, 0}));
  write("CLB.P", {}, t + 4);
  EXPECT_EQ(inst_->calibration().stored().count("type4.in3.open"), 1u);
  write("CLB.A", {}, t + 4);
  write("r-s", {1}, t + 5);
  EXPECT_EQ(refusal(request(kBase, false, "CLB.I", {1}), t + 5), 0x61);  // not while regulating
}

TEST_F(InstrumentTest, CalibrationFailuresOnRequest) {
  auto& cal = inst_->calibration().options();
  cal.status = 7;  // a sensor break during the measurement
  write("CLB.I", {1}, 0);
  EXPECT_EQ(read("CLB.S", {}, 3.5), (Bytes{0x80, 7}));
  EXPECT_EQ(read("CLB.G", {1}, 3.5), (Bytes{0x80, 32}));
  EXPECT_EQ(write("CLB.P", {}, 3.6), (Bytes{0x80, 32}));
  write("CLB.A", {}, 4);

  cal.status = 0;
  cal.bad_coefficient = 1;
  write("CLB.I", {1}, 10);
  EXPECT_EQ(read("CLB.T", {}, 13.5), (Bytes{1, 0x80, 4}));
  Bytes bad = read("CLB.G", {1}, 13.5);
  EXPECT_GT(as_float(Bytes(bad.begin() + 1, bad.end())), 5.0f);
  EXPECT_EQ(write("CLB.P", {}, 13.6)[1], 4);
  write("CLB.A", {}, 14);

  cal.bad_coefficient = 0;
  cal.store_fails = true;
  write("CLB.I", {1}, 20);
  EXPECT_EQ(write("CLB.P", {}, 23.6), (Bytes{0x80, 15}));
  write("CLB.A", {}, 24);

  cal.never_finish = true;
  write("CLB.I", {1}, 30);
  EXPECT_EQ(read("CLB.S", {}, 3000), (Bytes{0x03, 32}));
}

TEST_F(InstrumentTest, TheEepromStateRestoresValuesAttributesAndSettings) {
  write("t.A", {0x10, 0x64});
  auto hb = hash_name("t.A");
  write("Attr", {0x02, static_cast<std::uint8_t>(hb >> 8), static_cast<std::uint8_t>(hb & 0xFF)});
  write("bPS", {4});
  inst_->handle(request(kBase, false, "APLY"), 0);
  write("CLB.I", {1}, 0);
  write("CLB.P", {}, 4);
  nlohmann::json saved = inst_->state();

  rebuild();
  EXPECT_EQ(read("t.A"), (Bytes{0x10, 0x7D}));  // the initial value again
  std::string error;
  ASSERT_TRUE(inst_->restore(saved, &error)) << error;
  EXPECT_EQ(read("t.A"), (Bytes{0x10, 0x64}));
  EXPECT_EQ(inst_->attributes("t.A"), std::make_pair(false, false));
  EXPECT_EQ(inst_->line_settings().baud, 19200u);
  EXPECT_EQ(inst_->calibration().stored().count("type1"), 1u);

  // Settings given on the command line win over the saved ones.
  options_.line.baud = 4800;
  options_.explicit_line = true;
  rebuild();
  ASSERT_TRUE(inst_->restore(saved, &error)) << error;
  EXPECT_EQ(inst_->line_settings().baud, 4800u);
  EXPECT_EQ(read("bPS"), Bytes{1});

  // Damage is refused before anything changes.
  nlohmann::json damaged = saved;
  damaged["values"]["t.A"] = "1X";
  rebuild();
  EXPECT_FALSE(inst_->restore(damaged, &error));
  EXPECT_NE(error.find("t.A"), std::string::npos) << error;
  EXPECT_EQ(read("t.A"), (Bytes{0x10, 0x7D}));
  damaged = saved;
  damaged.erase("line");
  EXPECT_FALSE(inst_->restore(damaged, &error));
  // A saved value that the instrument's rules no longer accept is left at its initial value.
  nlohmann::json stale = saved;
  stale["values"]["t.A"] = "13E9";
  ASSERT_TRUE(inst_->restore(stale, &error)) << error;
  EXPECT_EQ(read("t.A"), (Bytes{0x10, 0x7D}));
}

}  // namespace
}  // namespace kba604::test
