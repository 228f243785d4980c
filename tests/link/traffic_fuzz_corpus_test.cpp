// Replays the checked-in corpus of the traffic monitor's fuzz target, so that every input that
// once found a fault keeps being tried (under the sanitizers in their presets).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/build_paths.h"
#include "support/traffic_fuzz.h"

namespace kba604 {
namespace {

TEST(TrafficFuzzCorpus, EveryInputIsReadWithoutCrashing) {
  const std::filesystem::path corpus =
      std::filesystem::path(KBA604_SOURCE_DIR) / "tests/link/fuzz/corpus";
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    SCOPED_TRACE(entry.path().filename().string());
    test::fuzz_traffic_input(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++inputs;
  }
  EXPECT_GE(inputs, 6);
}

}  // namespace
}  // namespace kba604
