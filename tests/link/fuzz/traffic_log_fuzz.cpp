// libFuzzer target of the traffic monitor's reading of the line (built when the compiler is
// clang; see scripts/fuzz-traffic). The suite replays the corpus beside this file.
#include <cstddef>
#include <cstdint>

#include "support/traffic_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kba604::test::fuzz_traffic_input(data, size);
  return 0;
}
