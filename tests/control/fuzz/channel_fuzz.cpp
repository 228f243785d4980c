// libFuzzer target of the control channel's decoding and of the supervising words' parser
// (built when the compiler is clang; see scripts/fuzz-channel). The suite replays the corpus
// beside this file.
#include <cstddef>
#include <cstdint>

#include "support/channel_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kba604::test::fuzz_channel_input(data, size);
  return 0;
}
