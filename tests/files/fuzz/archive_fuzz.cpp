// libFuzzer target of the monthly archive reader (built when the compiler is clang; see
// scripts/fuzz-protocol). The suite replays the corpus beside this file.
#include <cstddef>
#include <cstdint>

#include "support/protocol_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kba604::test::fuzz_archive_input(data, size);
  return 0;
}
