// The shipped description on the virtual instrument: the instrument takes every record, and the
// data set fits what the instrument does (identification, regulation, calibration). Reading and
// writing every parameter with the configurator's own conversion: configurator_values_test.
#include <gtest/gtest.h>

#include "sim/instrument.h"
#include "sim_test_util.h"
#include "support/virtual_instrument.h"

namespace kba604::test {
namespace {

constexpr unsigned kBase = 16;

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

namespace kba604::test {
namespace {

TEST_F(ShippedDescription, TheConfigurationResetRestsAtNotRequested) {
  // "r.co" performs the reset when written with its reference value and reads back as "Нет"
  // (position 0) before and after, so that a value read from the instrument and written back
  // (an EEPROM image) never resets its configuration.
  auto inst = fresh();
  const sim::ParamDef* reset = description_->find("r.co", 0);
  ASSERT_NE(reset, nullptr);
  ASSERT_FALSE(reset->reference.empty());
  auto read = [&](std::string_view name) {
    sim::Instrument::Outcome out = inst->handle(request(kBase, true, name), 0);
    return out.reply->data;
  };
  EXPECT_EQ(read("r.co"), sim::Bytes{0});
  ASSERT_EQ(inst->handle(request(kBase, false, "n.Ch", {7}), 0).reply->hash, hash_name("n.Ch"));
  // Writing back what was read changes nothing.
  inst->handle(request(kBase, false, "r.co", read("r.co")), 0);
  const sim::ParamDef* channels = description_->find("n.Ch", 0);
  ASSERT_NE(channels, nullptr);
  EXPECT_EQ(sim::numeric_value(*channels, read("n.Ch")), 7.0);
  // Writing the reference value resets the channel count to its reference 8.
  sim::Bytes perform;
  ASSERT_TRUE(sim::encode_value(*reset, reset->reference, perform, nullptr));
  ASSERT_NE(perform, sim::Bytes{0});
  inst->handle(request(kBase, false, "r.co", perform), 0);
  EXPECT_EQ(sim::numeric_value(*channels, read("n.Ch")), 8.0);
  EXPECT_EQ(read("r.co"), sim::Bytes{0});
}

}  // namespace
}  // namespace kba604::test
