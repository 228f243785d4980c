// One input of the traffic monitor's fuzz target, also replayed by the suite: the first byte
// chooses the transfer's result and address length, the rest is the request's characters, a
// zero byte, and the reply's characters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kba604::test {

void fuzz_traffic_input(const std::uint8_t* data, std::size_t size);

}  // namespace kba604::test
