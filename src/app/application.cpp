#include "app/application.h"

#include <cstdio>

namespace kba604 {

void CKBA604App::append_error_log(const std::string& line) const {
  std::string path = error_log_path();
  if (path.empty()) return;
  // Opened for one line and closed at once, so other programs may read the file at any time.
  std::lock_guard lock(mutex_);
  if (std::FILE* f = std::fopen(path.c_str(), "a")) {
    std::fputs(line.c_str(), f);
    std::fputc('\n', f);
    std::fclose(f);
  }
}

}  // namespace kba604
