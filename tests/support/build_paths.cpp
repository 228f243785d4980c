#include "support/build_paths.h"

namespace kba604::test {

const char* build_dir() {
  return KBA604_BUILD_PATH;
}

const char* source_dir() {
  return KBA604_SOURCE_PATH;
}

const char* test_data_dir() {
  return KBA604_TEST_DATA_PATH;
}

}  // namespace kba604::test
