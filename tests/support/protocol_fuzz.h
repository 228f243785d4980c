// Inputs of the measurement protocol's fuzz targets (libFuzzer), shared with the replay of
// their checked-in corpora in the test suite.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kba604::test {

// The bytes as a day file: every whole record is read, the rest is reported as torn, and the
// lines to plot built from them agree; must never crash, hang or read outside the input.
void fuzz_day_file_input(const std::uint8_t* data, std::size_t size);

// The bytes as a monthly archive: opened without creation, listed, and every stream measured
// and unpacked into a private folder; must never crash, hang, allocate what a chunk header
// claims, or write outside that folder.
void fuzz_archive_input(const std::uint8_t* data, std::size_t size);

}  // namespace kba604::test
