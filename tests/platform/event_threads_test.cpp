// Events as the program's threads use them to hand work over: what one thread wrote before
// set() is read by the thread whose wait found the event set, with no other synchronisation.
// Under the thread sanitizer (CI's run of this label) a missing ordering is reported here.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace kba604::platform {
namespace {

TEST(EventOrdering, WhatTheSetterWroteIsSeenByEveryKindOfWait) {
  for (Event::Reset kind : {Event::Reset::Manual, Event::Reset::Auto}) {
    // A plain wait, a wait for any of two, and the bare check of a manual event.
    for (int how = 0; how < 3; ++how) {
      if (how == 2 && kind == Event::Reset::Auto) continue;
      Event done(kind);
      Event other(Event::Reset::Manual);
      std::vector<std::string> result;
      std::thread worker([&] {
        result.assign(3, "read");
        done.set();
      });
      switch (how) {
        case 0:
          ASSERT_TRUE(done.wait(-1));
          break;
        case 1:
          ASSERT_EQ(wait_any({&other, &done}, -1), 1);
          break;
        default:
          while (!done.is_set()) std::this_thread::yield();
          break;
      }
      EXPECT_EQ(result.size(), 3u);
      EXPECT_EQ(result.back(), "read");
      worker.join();
    }
  }
}

}  // namespace
}  // namespace kba604::platform
