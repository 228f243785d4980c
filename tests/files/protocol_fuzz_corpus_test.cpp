// Replays the checked-in corpora of the day-file and archive fuzz targets, so that every input
// that once found a fault keeps being tried (under the sanitizers in their presets).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/protocol_fuzz.h"
#include "support/build_paths.h"

namespace kba604 {
namespace {

template <class Fn>
int replay(const char* folder, Fn fn) {
  std::filesystem::path corpus = std::filesystem::path(KBA604_SOURCE_DIR) / folder;
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string bytes = s.str();
    SCOPED_TRACE(entry.path().filename().string());
    fn(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++inputs;
  }
  return inputs;
}

TEST(ProtocolFuzzCorpus, EveryDayFileAndArchiveInputIsReadOrRefusedWithoutCrashing) {
  EXPECT_GE(replay("tests/measurement/fuzz/corpus", test::fuzz_day_file_input), 4);
  EXPECT_GE(replay("tests/files/fuzz/corpus", test::fuzz_archive_input), 4);
}

}  // namespace
}  // namespace kba604
