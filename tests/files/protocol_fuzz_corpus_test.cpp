// Replays the checked-in corpora of the day-file and archive fuzz targets, so that every input
// that once found a fault keeps being tried (under the sanitizers in their presets).
#include "support/protocol_fuzz.h"
#include "support/fuzz_corpus.h"

namespace kba604 {
namespace {

TEST(ProtocolFuzzCorpus, EveryDayFileAndArchiveInputIsReadOrRefusedWithoutCrashing) {
  EXPECT_GE(test::replay_corpus("tests/measurement/fuzz/corpus", test::fuzz_day_file_input), 4);
  EXPECT_GE(test::replay_corpus("tests/files/fuzz/corpus", test::fuzz_archive_input), 4);
}

}  // namespace
}  // namespace kba604
