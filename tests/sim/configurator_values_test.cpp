// The configurator's own value conversion against the virtual instrument, over the shipped
// description: every reply the instrument gives decodes, and every value the configurator
// encodes for a write (its ordinary writes and the initialisation's reference values) is taken
// and echoed. A fault here lies in the data set, in the conversion or in the instrument.
#include <gtest/gtest.h>

#include "description/description_loader.h"
#include "model/my_converter.h"
#include "model/parameter_table.h"
#include "sim/instrument.h"
#include "sim_test_util.h"
#include "support/virtual_instrument.h"
#include "support/build_paths.h"

namespace kba604::test {
namespace {

constexpr unsigned kBase = 16;

std::string describe(const Parameter& p) {
  return p.short_name + (p.indexed ? ":" + std::to_string(p.linear_index) : "") +
         (p.address_offset ? "@" + std::to_string(p.address_offset) : "");
}

// The request as the link builds it: the index after the data, the offset in the address.
sim::Packet request_for(const Parameter& p, bool read, sim::Bytes data = {}) {
  sim::Packet r =
      request(kBase + static_cast<unsigned>(p.address_offset), read, p.short_name, data);
  if (p.indexed) {
    r.data.push_back(static_cast<std::uint8_t>(p.linear_index >> 8));
    r.data.push_back(static_cast<std::uint8_t>(p.linear_index & 0xFF));
  }
  return r;
}

class ConfiguratorOnTheInstrument : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shipped_description_exists());
    DescriptionRequest request;
    request.data_folder = std::string(KBA604_BUILD_DIR) + "/share/kba604/";
    request.version_text = "1.10";
    request.access_level = 2;
    DescriptionLoad load = load_description(table_, request, nullptr);
    ASSERT_FALSE(load.refused);
    ASSERT_FALSE(load.stopped_by_version);
  }
  std::unique_ptr<sim::Instrument> fresh() {
    return std::make_unique<sim::Instrument>(sim::InstrumentOptions{}, shipped_description(), 0.0,
                                             1);
  }
  ParameterTable table_;
};

TEST_F(ConfiguratorOnTheInstrument, EveryReplyDecodes) {
  auto inst = fresh();
  for (const Parameter& p : table_) {
    sim::Instrument::Outcome out = inst->handle(request_for(p, true), 1.0);
    ASSERT_TRUE(out.reply) << describe(p);
    ASSERT_EQ(out.reply->hash, hash_name(p.short_name)) << describe(p) << " refused";
    std::string text;
    int result = p.ConvertFromData(out.reply->data.data(), out.reply->data.size(), p.indexed, text);
    // A measured value may come as a status code, shown as its text.
    if (p.owns_polling_timer() && result == kDecodedErrorText) continue;
    EXPECT_EQ(result, kDecoded) << describe(p) << " gave \"" << text << "\"";
  }
}

TEST_F(ConfiguratorOnTheInstrument, EveryValueTheConfiguratorWritesIsTakenAndEchoed) {
  EncodeContext context{true, 2};
  int written = 0;
  for (const Parameter& p : table_) {
    if (p.owns_polling_timer()) continue;
    // Ordinary writes send the value (none before the first read: the description's own value
    // then), initialisation the reference value, read-only parameters included.
    bool ordinary = p.writable() && p.value != kNoData;
    bool initialised = !p.reference_value.empty();
    for (const std::string& text :
         {ordinary ? p.value : std::string(), initialised ? p.reference_value : std::string()}) {
      if (text.empty()) continue;
      std::vector<std::uint8_t> data;
      std::string message;
      int result = p.ConvertToData(text, false, context, data, message);
      if (result == kNoWriteMethod && message.empty()) continue;  // "dev", "ver", "exit"
      ASSERT_EQ(result, kEncoded) << describe(p) << " \"" << text << "\": " << message;
      auto inst = fresh();
      sim::Instrument::Outcome out = inst->handle(request_for(p, false, data), 1.0);
      ASSERT_TRUE(out.reply) << describe(p);
      EXPECT_EQ(out.reply->hash, hash_name(p.short_name))
          << describe(p) << " = \"" << text << "\" refused with 0x" << std::hex
          << int(out.reply->data.at(0));
      if (out.reply->hash != hash_name(p.short_name)) continue;
      std::string echoed;
      EXPECT_EQ(
          p.ConvertFromData(out.reply->data.data(), out.reply->data.size(), p.indexed, echoed),
          kDecoded)
          << describe(p);
      ++written;
    }
  }
  EXPECT_GT(written, 250);
}

}  // namespace
}  // namespace kba604::test
