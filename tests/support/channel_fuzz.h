// One input of the control channel's fuzzing: the fuzz target (libFuzzer) and the replay of the
// checked-in corpus in the test suite run the same function.
//
// The input is what a peer might write on the channel: Windows-1251 bytes, split into lines as
// standard input splits them (at NUL, line feed and carriage return, cut at the line buffer).
// Every line goes through the presence and port-answer decoding and the parser of the
// supervising words, and the answers' escaping; their invariants are checked as they go.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kba604::test {

// Decodes and parses every line of the input; aborts when an invariant does not hold.
void fuzz_channel_input(const std::uint8_t* data, std::size_t size);

}  // namespace kba604::test
