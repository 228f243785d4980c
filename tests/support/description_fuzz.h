// One input of the description loader's fuzzing: the fuzz target (libFuzzer) and the replay of
// the checked-in corpus in the test suite run the same function.
//
// Input layout: byte 0 holds flags (bit 0: the table part is a gzip file as it stands, else it
// is compressed first; bit 1: the same for the tree part; bit 2: the tree is the hidden one),
// bytes 1-2 the length of the table part (little-endian), then the table part, then the tree
// part. Most inputs thus reach the record parsers; the flagged ones exercise the gzip checks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kba604::test {

// Loads the input's table and tree; must never crash, hang or read outside a buffer.
void fuzz_description_input(const std::uint8_t* data, std::size_t size);

}  // namespace kba604::test
