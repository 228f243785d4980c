// Replays the checked-in corpus of the control channel's fuzz target (see support/fuzz_corpus.h).
#include "support/channel_fuzz.h"
#include "support/fuzz_corpus.h"

namespace kba604 {
namespace {

TEST(ChannelFuzzCorpus, EveryInputIsDecodedAndParsedWithoutFault) {
  EXPECT_GE(test::replay_corpus("tests/control/fuzz/corpus", test::fuzz_channel_input), 8);
}

}  // namespace
}  // namespace kba604
