#include "model/my_converter.h"

#include <algorithm>

namespace kba604 {

void MyConverter::store_reply(const std::uint8_t* data, std::size_t count) {
  std::size_t kept = std::min(count, kLastReplyCapacity);
  if (kept > 0) std::copy(data, data + kept, last_reply.begin());
  last_reply_length = static_cast<std::uint8_t>(kept);
}

}  // namespace kba604
