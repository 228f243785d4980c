// The instance lock and the named exit event between real processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/instance_lock.h"
#include "platform/named_event.h"
#include "platform/text.h"
#include "support/child_process.h"
#include "support/test_home.h"

namespace kba604::platform {
namespace {

TEST(Processes, SecondProgramIsRefusedWhileTheLockIsHeld) {
  test::TestHome home;
  {
    InstanceLock running;  // "mutexKBA604" in the private runtime folder
    ASSERT_EQ(running.state(), InstanceLock::State::Held);
    test::ChildResult r = test::run_child({test::kba604_program(), "/test"});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_NE(r.err.find("Программа уже запущена!"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());  // stdout belongs to the control channel
  }
  test::ChildResult r = test::run_child({test::kba604_program(), "/test"});
  EXPECT_NE(r.exit_code, 3) << r.err;
}

TEST(Processes, LockHeldByAnotherProcessIsSeenAndFreedWithIt) {
  test::TestHome home;
  const std::string name = home.unique_name("lock");
  int to_child[2], from_child[2];
  ASSERT_EQ(::pipe(to_child), 0);
  ASSERT_EQ(::pipe(from_child), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    InstanceLock held(name);
    char c = held.state() == InstanceLock::State::Held ? 'y' : 'n';
    (void)!::write(from_child[1], &c, 1);
    (void)!::read(to_child[0], &c, 1);  // until the parent says go
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(from_child[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_TRUE(InstanceLock(name).already_running());
  (void)!::write(to_child[1], "x", 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(InstanceLock(name).state(), InstanceLock::State::Held);
  for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) ::close(fd);
}

TEST(Processes, SupervisorSignalsTheExitEventThroughTheProgram) {
  test::TestHome home;
  const std::string name = home.unique_name("Supervised");
  NamedEvent event(name);
  ASSERT_TRUE(event.ok()) << event.error();
  // The name is taken without regard to case, as the switch takes it.
  test::ChildResult r =
      test::run_child({test::kba604_program(), "--signal-exitevent", upper_case(name)});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(event.event().wait(-1));

  test::ChildResult missing =
      test::run_child({test::kba604_program(), "--signal-exitevent", name + "-gone"});
  EXPECT_EQ(missing.exit_code, 7);
  EXPECT_FALSE(missing.err.empty());
}

}  // namespace
}  // namespace kba604::platform
