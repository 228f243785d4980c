// Replays the checked-in corpus of the description loader's fuzz target (see support/fuzz_corpus.h).
#include "support/description_fuzz.h"
#include "support/fuzz_corpus.h"

namespace kba604 {
namespace {

TEST(DescriptionFuzzCorpus, EveryInputLoadsOrIsRefusedWithoutCrashing) {
  EXPECT_GE(test::replay_corpus("tests/description/fuzz/corpus", test::fuzz_description_input), 8);
}

}  // namespace
}  // namespace kba604
