// Replays the checked-in corpus of the traffic monitor's fuzz target (see support/fuzz_corpus.h).
#include "support/traffic_fuzz.h"
#include "support/fuzz_corpus.h"

namespace kba604 {
namespace {

TEST(TrafficFuzzCorpus, EveryInputIsReadWithoutCrashing) {
  EXPECT_GE(test::replay_corpus("tests/link/fuzz/corpus", test::fuzz_traffic_input), 6);
}

}  // namespace
}  // namespace kba604
