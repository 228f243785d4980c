// libFuzzer target of the description loader (built when the compiler is clang; see
// scripts/fuzz-description). The suite replays the corpus beside this file.
#include <cstddef>
#include <cstdint>

#include "support/description_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kba604::test::fuzz_description_input(data, size);
  return 0;
}
