// Where this build tree keeps its programs and data files, and where the sources are. Only
// build_paths.cpp is compiled with the absolute paths, so that every other test source compiles
// the same in any build tree and the compiler cache serves it to all of them.
#pragma once

namespace kba604::test {
const char* build_dir();
const char* source_dir();
const char* test_data_dir();
}  // namespace kba604::test

#define KBA604_BUILD_DIR (::kba604::test::build_dir())
#define KBA604_SOURCE_DIR (::kba604::test::source_dir())
#define KBA604_TEST_DATA_DIR (::kba604::test::test_data_dir())
