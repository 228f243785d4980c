// The shipped description on the virtual instrument: every parameter can be read, and every one
// the configurator writes can be written with its reference or initial value, without a
// refusal. This checks the data set as much as the instrument.
#include <gtest/gtest.h>

#include "sim/instrument.h"
#include "sim_test_util.h"
#include "support/virtual_instrument.h"

namespace kba604::test {
namespace {

constexpr unsigned kBase = 16;

std::string describe(const sim::ParamDef& p) {
  return p.name + (p.indexed          ? ":" + std::to_string(p.index)
                   : p.address_offset ? "@" + std::to_string(p.address_offset)
                                      : "");
}

// The request for a parameter as the configurator addresses it: the index in the data, the
// address offset in the address; operational parameters travel without their index.
sim::Packet request_for(const sim::ParamDef& p, bool read, sim::Bytes value = {}) {
  sim::Packet r = request(kBase + static_cast<unsigned>(p.address_offset), read, p.name, value);
  if (p.indexed && !p.operational) {
    r.data.push_back(static_cast<std::uint8_t>(p.index >> 8));
    r.data.push_back(static_cast<std::uint8_t>(p.index & 0xFF));
  }
  return r;
}

class ShippedDescription : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shipped_description_exists()) << "the build did not compile the description";
    description_ = shipped_description();
  }
  std::unique_ptr<sim::Instrument> fresh() {
    return std::make_unique<sim::Instrument>(sim::InstrumentOptions{}, description_, 0.0, 1);
  }
  std::shared_ptr<const sim::Description> description_;
};

TEST_F(ShippedDescription, TheInstrumentTakesEveryRecord) {
  EXPECT_TRUE(description_->warnings.empty()) << description_->warnings.front();
  auto inst = fresh();
  for (const std::string& w : inst->warnings()) ADD_FAILURE() << w;
  EXPECT_GT(description_->params.size(), 300u);
}

TEST_F(ShippedDescription, EveryParameterCanBeRead) {
  auto inst = fresh();
  for (const sim::ParamDef& p : description_->params) {
    sim::Instrument::Outcome out = inst->handle(request_for(p, true), 1.0);
    ASSERT_TRUE(out.reply) << describe(p);
    EXPECT_EQ(out.reply->hash, hash_name(p.name))
        << describe(p) << " refused with 0x" << std::hex << int(out.reply->data.at(0));
    EXPECT_LE(out.reply->data.size(), 7u) << describe(p) << ": the configurator takes 7 data bytes";
  }
}

TEST_F(ShippedDescription, EveryParameterTheConfiguratorWritesTakesItsValue) {
  int written = 0;
  for (const sim::ParamDef& p : description_->params) {
    // Writable in the configurator: its ordinary writes use the value (the reference value
    // when it has no value yet); initialisation writes every reference value, read-only ones too.
    bool writable = !p.read_only && !p.tree_read_only && !p.operational;
    bool has_value = !p.initial.empty() && p.initial != "Нет данных";
    std::string text = !p.reference.empty() ? p.reference : has_value ? p.initial : "";
    if ((!writable && p.reference.empty()) || text.empty()) continue;
    sim::Bytes value;
    std::string why;
    ASSERT_TRUE(sim::encode_value(p, text, value, &why))
        << describe(p) << " \"" << text << "\": " << why;
    auto inst = fresh();
    sim::Instrument::Outcome out = inst->handle(request_for(p, false, value), 1.0);
    ASSERT_TRUE(out.reply) << describe(p);
    if (out.reply->hash == kHashNErr && out.reply->data.at(0) == 0x33) {
      // Locked by its attributes: the configurator opens them first.
      std::uint16_t h = hash_name(p.name);
      sim::Bytes open{0x03};
      if (p.indexed) open.insert(open.end(), {0, static_cast<std::uint8_t>(p.index & 0xFF)});
      open.insert(open.end(), {static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h)});
      inst->handle(request(kBase, false, "M.s.t.r.", open), 1.0);
      out = inst->handle(request_for(p, false, value), 1.0);
    }
    EXPECT_EQ(out.reply->hash, hash_name(p.name))
        << describe(p) << " = \"" << text << "\" refused with 0x" << std::hex
        << int(out.reply->data.at(0));
    ++written;
  }
  EXPECT_GT(written, 250);
}

TEST_F(ShippedDescription, TheInstrumentIdentifiesItselfAsTheDescriptionExpects) {
  auto inst = fresh();
  sim::Instrument::Outcome out = inst->handle(request(kBase, true, "ver"), 0);
  EXPECT_EQ(out.reply->data, text_reversed("1.10"));
  out = inst->handle(request(kBase, true, "dev"), 0);
  EXPECT_EQ(out.reply->data, text_reversed("KBA604"));
}

TEST_F(ShippedDescription, RegulationStartsOverTheNetworkOutOfTheBox) {
  auto inst = fresh();
  sim::Instrument::Outcome out = inst->handle(request(kBase, false, "r-s", {1}), 0);
  EXPECT_EQ(out.reply->hash, hash_name("r-s"));
  out = inst->handle(request(kBase, true, "r.St"), 1);
  EXPECT_EQ(out.reply->data, (sim::Bytes{0, 1}));
}

TEST_F(ShippedDescription, EverySensorCodeTheCalibrationWritesIsASensorType) {
  // The calibration writes the sensor code into "in-t" of the input: the resistance
  // thermometers, thermocouples and unified signals have the codes 1..25, the valve position
  // sensors 26, 27, 28 and 41; the position in the value list is the code.
  std::vector<int> codes;
  for (int c = 1; c <= 28; ++c) codes.push_back(c);
  codes.push_back(41);
  for (int input = 0; input < 8; ++input) {
    const sim::ParamDef* in_t = description_->find("in-t", input);
    ASSERT_NE(in_t, nullptr) << input;
    for (int code : codes) {
      EXPECT_EQ(sim::check_value(*in_t, {static_cast<std::uint8_t>(code)}), 0)
          << "in-t:" << input << " has no sensor type " << code;
    }
  }
}

}  // namespace
}  // namespace kba604::test
