#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "platform/instance_lock.h"
#include "platform/named_event.h"
#include "platform/thread.h"
#include "support/test_home.h"

namespace kba604::platform {
namespace {

TEST(Thread, EndedThreadIsJoined) {
  std::atomic<int> runs{0};
  Thread t([&] { runs.fetch_add(1); });
  EXPECT_TRUE(t.join(-1));
  EXPECT_EQ(runs.load(), 1);
  EXPECT_FALSE(t.joinable());
  EXPECT_TRUE(t.join(0));  // nothing left to join
}

TEST(Thread, ThreadThatDoesNotEndInTimeIsDetachedAndKeepsItsData) {
  // What the thread uses is shared: the test drops its own references before the thread ends.
  auto release = std::make_shared<Event>(Event::Reset::Manual);
  auto finished = std::make_shared<Event>(Event::Reset::Manual);
  auto data = std::make_shared<std::vector<int>>(1000, 7);
  std::weak_ptr<std::vector<int>> watch = data;
  Thread t([release, finished, data] {
    release->wait(-1);
    (*data)[999] = 8;
    finished->set();
  });
  data.reset();
  ManualClock clock;
  EXPECT_FALSE(t.join(5000, clock));  // the test clock lets the limit pass at once
  EXPECT_GE(clock.now_ms(), 5000);
  EXPECT_FALSE(t.joinable());
  EXPECT_FALSE(watch.expired());
  release->set();
  EXPECT_TRUE(finished->wait(-1));
}

TEST(Thread, StopEventEndsAWaitingThreadWithinTheLimit) {
  auto stop = std::make_shared<Event>(Event::Reset::Manual);
  std::atomic<bool> saw_stop{false};
  Thread t([stop, &saw_stop] { saw_stop = stop->wait(-1); });
  EXPECT_TRUE(t.running());
  stop->set();
  EXPECT_TRUE(t.join(-1));
  EXPECT_TRUE(saw_stop.load());
  EXPECT_FALSE(t.running());
}

TEST(InstanceLock, OnlyOneHolderAtATime) {
  test::TestHome home;
  const std::string name = home.unique_name("lock");
  auto first = std::make_unique<InstanceLock>(name);
  EXPECT_EQ(first->state(), InstanceLock::State::Held);
  EXPECT_EQ(first->path().parent_path(), home.runtime_dir());
  InstanceLock second(name);
  EXPECT_TRUE(second.already_running());
  first.reset();
  InstanceLock third(name);
  EXPECT_EQ(third.state(), InstanceLock::State::Held);
  InstanceLock other(home.unique_name("other"));
  EXPECT_EQ(other.state(), InstanceLock::State::Held);
}

TEST(InstanceLock, AnUnopenableLockFileDoesNotMeanRunning) {
  test::TestHome home;
  ::setenv("XDG_RUNTIME_DIR", (home.root() / "missing").c_str(), 1);
  InstanceLock lock(home.unique_name("lock"));
  EXPECT_FALSE(lock.already_running());
  EXPECT_EQ(lock.state(), InstanceLock::State::Unavailable);
  EXPECT_FALSE(lock.error().empty());
}

TEST(NamedEvent, NameIsLowerCasedWithFurtherSlashesReplaced) {
  EXPECT_EQ(NamedEvent::semaphore_name("KBA-Exit"), "/kba-exit");
  EXPECT_EQ(NamedEvent::semaphore_name("Stop/Now/X"), "/stop_now_x");
}

TEST(NamedEvent, PostSetsTheBridgedEventWhichStaysSet) {
  test::TestHome home;
  const std::string name = home.unique_name("Exit");
  NamedEvent e(name);
  ASSERT_TRUE(e.ok()) << e.error();
  EXPECT_TRUE(e.created());
  EXPECT_FALSE(e.event().is_set());
  ASSERT_TRUE(NamedEvent::signal(name));
  Event other(Event::Reset::Auto);
  // The bridged event waits beside other events.
  EXPECT_EQ(wait_any({&other, &e.event()}, -1), 1);
  EXPECT_TRUE(e.event().is_set());  // manual reset
}

TEST(NamedEvent, StalePostsAreDrainedAndOnlyTheCreatorUnlinks) {
  test::TestHome home;
  const std::string name = home.unique_name("exit");
  const std::string sem_name = NamedEvent::semaphore_name(name);
  // A post left by an earlier run on a semaphore that was never unlinked.
  sem_t* stale = sem_open(sem_name.c_str(), O_CREAT, 0600, 0);
  ASSERT_NE(stale, SEM_FAILED);
  sem_post(stale);
  sem_post(stale);
  {
    NamedEvent e(name);
    ASSERT_TRUE(e.ok());
    EXPECT_FALSE(e.created());
    ManualClock clock;
    EXPECT_FALSE(e.event().wait(1000, clock));
  }
  // Not ours: still there for its creator.
  EXPECT_TRUE(NamedEvent::signal(name));
  sem_close(stale);
  sem_unlink(sem_name.c_str());
  {
    NamedEvent e(name);
    EXPECT_TRUE(e.created());
  }
  std::string error;
  EXPECT_FALSE(NamedEvent::signal(name, &error));
  EXPECT_NE(error.find(sem_name), std::string::npos);
}

TEST(NamedEvent, UnusableNameIsReportedNotFatal) {
  NamedEvent e(std::string(300, 'x'));
  EXPECT_FALSE(e.ok());
  EXPECT_FALSE(e.error().empty());
}

}  // namespace
}  // namespace kba604::platform
