#include "app/exit_flags.h"

namespace kba604 {

int ExitFlags::exit_code() const {
  static constexpr struct {
    std::uint32_t bit;
    int code;
  } kCodes[] = {{kWriteFileMissing, 200}, {kPortOpenFailed, 201}, {kTimeout, 202},
                {kPortSettings, 203},     {kCancelled, 205},      {kOtherModel, 206},
                {kChannelFailed, 208}};
  const std::uint32_t v = value();
  for (const auto& c : kCodes) {
    if (v & c.bit) return c.code;
  }
  return 0;
}

}  // namespace kba604
