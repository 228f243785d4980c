// Replays a checked-in fuzz corpus: every input that once found a fault keeps being tried by
// the suite (under the sanitizers in their presets), with any compiler.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/build_paths.h"

namespace kba604::test {

// Hands every file of the corpus folder (relative to the source tree) to fn(data, size);
// returns how many there were.
template <class Fn>
int replay_corpus(const char* folder, Fn fn) {
  const std::filesystem::path corpus = std::filesystem::path(KBA604_SOURCE_DIR) / folder;
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string bytes = s.str();
    SCOPED_TRACE(entry.path().filename().string());
    fn(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++inputs;
  }
  return inputs;
}

}  // namespace kba604::test
