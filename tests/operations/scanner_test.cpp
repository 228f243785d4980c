// Background polling through the manual clock: periods and their rule, arming and disarming,
// the guard, delivery in poll order, and a thread serving 200 parameters at their periods.
#include "operations/scanner.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "support/recording_prompter.h"

namespace kba604 {
namespace {

// An operational branch with n parameters "p0".."p<n-1>" under two sub-branches, owning them.
struct OperationalTree {
  explicit OperationalTree(int n, int own_list = 1) : root("Опрос оперативных параметров", 0) {
    DescBranch& a = root.add_child(std::make_unique<DescBranch>("a", 0));
    DescBranch& b = root.add_child(std::make_unique<DescBranch>("b", 0));
    for (int i = 0; i < n; ++i) {
      auto p = std::make_unique<Parameter>();
      p->short_name = "p" + std::to_string(i);
      p->create_polling_timer();
      (i < own_list ? root : i % 2 ? b : a).add(*p);
      parameters.push_back(std::move(p));
    }
  }
  Parameter& operator[](int i) { return *parameters[i]; }
  DescBranch root;
  std::vector<std::unique_ptr<Parameter>> parameters;
};

// Reads give each parameter a value counting its reads; "fail" names a parameter whose reads
// time out.
struct FakeReads {
  int operator()(Parameter& p) {
    std::lock_guard lock(mutex);
    const int n = ++reads[p.short_name];
    log.push_back(p.short_name);
    if (p.short_name == fail) {
      p.note = "Таймаут при передаче данных (нет связи)";
      p.last_reply_length = 0;
      return 1;
    }
    p.note.clear();
    p.value = std::to_string(n);
    p.last_reply[0] = static_cast<std::uint8_t>(n);
    p.last_reply_length = 1;
    return 0;
  }
  std::mutex mutex;
  std::map<std::string, int> reads;
  std::vector<std::string> log;
  std::string fail;
};

struct Collected final : PollSink {
  void polled(PollSnapshot s) override {
    std::lock_guard lock(mutex);
    if (!keep_tickets) s.ticket.reset();
    snapshots.push_back(std::move(s));
  }
  std::vector<PollSnapshot> taken() {
    std::lock_guard lock(mutex);
    return snapshots;
  }
  std::mutex mutex;
  std::vector<PollSnapshot> snapshots;
  bool keep_tickets = false;
};

struct ScannerFixture : ::testing::Test {
  ScannerFixture()
      : scanner([this](Parameter& p) { return reads(p); },
                std::make_shared<std::recursive_mutex>(), clock,
                [this] { return 1'800'000'000'000 + clock.now_ms(); }) {
    scanner.set_sink(&sink);
  }
  // The trees outlive the scanner, which disarms their parameters when it stops.
  OperationalTree& make_tree(int n, int own_list = 1) {
    return *trees.emplace_back(std::make_unique<OperationalTree>(n, own_list));
  }
  platform::ManualClock clock{5'000'000};
  FakeReads reads;
  Collected sink;
  std::vector<std::unique_ptr<OperationalTree>> trees;
  Scanner scanner;
};

TEST(PollingPeriod, TypedPeriodsFollowTheRule) {
  EXPECT_EQ(Scanner::parse_period("1000"), 1000);
  EXPECT_EQ(Scanner::parse_period("1500.7"), 1500);
  EXPECT_EQ(Scanner::parse_period(" 2000 "), 2000);
  // Longer than the 32-bit hundred-nanosecond arithmetic of a waitable timer allowed.
  EXPECT_EQ(Scanner::parse_period("300000"), 300000);
  for (const char* bad : {"999", "999.99", "", "abc", "12x", "-5000", "1e30", "inf", "2147483648"}) {
    EXPECT_FALSE(Scanner::parse_period(bad)) << bad;
  }
}

TEST_F(ScannerFixture, RefusedPeriodSaysSoAndKeepsTheOldOne) {
  OperationalTree& tree = make_tree(1);
  test::RecordingPrompter prompter;
  EXPECT_FALSE(scanner.change_period(tree[0], "999", &prompter));
  EXPECT_EQ(tree[0].polling_period(), 1000);
  ASSERT_EQ(prompter.count(), 1u);
  EXPECT_EQ(prompter.records()[0].text, kPollingPeriodText);
  EXPECT_EQ(prompter.records()[0].caption, kPollingPeriodCaption);
  EXPECT_EQ(prompter.records()[0].icon, PromptIcon::Error);
  EXPECT_TRUE(scanner.change_period(tree[0], "1500.7", &prompter));
  EXPECT_EQ(tree[0].polling_period(), 1500);
  EXPECT_EQ(prompter.count(), 1u);
}

TEST_F(ScannerFixture, ArmedParametersArePolledEveryPeriodFromOnePeriodAfterArming) {
  OperationalTree& tree = make_tree(3);
  scanner.serve(&tree.root);
  const std::int64_t t0 = clock.now_ms();
  EXPECT_EQ(scanner.arm(tree[0]), 0);
  EXPECT_EQ(scanner.arm(tree[0]), 1);  // already armed
  ASSERT_TRUE(scanner.change_period(tree[1], "2500", nullptr));
  EXPECT_EQ(scanner.arm(tree[1]), 0);
  // tree[2] stays unticked.
  EXPECT_EQ(scanner.poll_due(), t0 + 1000);
  EXPECT_TRUE(reads.log.empty());

  for (int step = 0; step < 50; ++step) {
    clock.advance_ms(100);
    scanner.poll_due();
  }
  EXPECT_EQ(reads.reads["p0"], 5);  // at 1000, 2000, ... 5000
  EXPECT_EQ(reads.reads["p1"], 2);  // at 2500 and 5000
  EXPECT_EQ(reads.reads.count("p2"), 0u);
  for (const PollSnapshot& s : sink.taken()) {
    EXPECT_EQ(s.clock_ms, s.due_ms) << "polled late";
    EXPECT_EQ((s.due_ms - t0) % (s.short_name == "p0" ? 1000 : 2500), 0) << s.short_name;
  }

  EXPECT_EQ(scanner.disarm(tree[0]), 0);
  EXPECT_EQ(scanner.disarm(tree[0]), 1);
  EXPECT_EQ(scanner.disarm(tree[2]), 1);
  clock.advance_ms(5000);
  scanner.poll_due();
  EXPECT_EQ(reads.reads["p0"], 5);
  EXPECT_EQ(reads.reads["p1"], 3);  // one pass after a long pause polls once: expiries coalesce
  // and the phase of the period is kept.
  EXPECT_EQ(tree[1].next_due_ms(), t0 + 12500);
}

TEST_F(ScannerFixture, PeriodChangeRestartsAnArmedTimerAndClearedBoxSkipsADuePoll) {
  OperationalTree& tree = make_tree(2);
  scanner.serve(&tree.root);
  const std::int64_t t0 = clock.now_ms();
  scanner.arm(tree[0]);
  clock.advance_ms(600);
  ASSERT_TRUE(scanner.change_period(tree[0], "3000", nullptr));
  EXPECT_TRUE(tree[0].timer_armed());
  EXPECT_EQ(scanner.poll_due(), t0 + 3600);
  clock.advance_ms(400);  // the old due time passes without a poll
  scanner.poll_due();
  EXPECT_EQ(reads.reads["p0"], 0);
  clock.advance_ms(2600);
  scanner.poll_due();
  EXPECT_EQ(reads.reads["p0"], 1);

  // An unarmed parameter keeps its new period for when it is ticked.
  ASSERT_TRUE(scanner.change_period(tree[1], "1200", nullptr));
  EXPECT_FALSE(tree[1].timer_armed());

  // Due now, but the box is cleared before the scanner comes to it.
  clock.advance_ms(3000);
  scanner.disarm(tree[0]);
  EXPECT_EQ(scanner.poll_due(), std::nullopt);
  EXPECT_EQ(reads.reads["p0"], 1);
}

TEST_F(ScannerFixture, SnapshotsCarryWhatEachPollLeftInTreeOrder) {
  // p0 is the root's own, p1 and p3 sit in "b", p2 in "a": tree order is p0, p2, p1, p3.
  OperationalTree& tree = make_tree(4);
  tree[3].address_offset = 7;
  reads.fail = "p1";
  scanner.serve(&tree.root);
  const std::vector<Parameter*> order = scanner.polled();
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(order[1], &tree[2]);
  for (int i = 0; i < 4; ++i) scanner.arm(tree[i]);
  clock.advance_ms(1000);
  scanner.poll_due();

  const std::vector<PollSnapshot> got = sink.taken();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(reads.log, (std::vector<std::string>{"p0", "p2", "p1", "p3"}));
  EXPECT_EQ(got[2].parameter, &tree[1]);
  EXPECT_EQ(got[2].result, 1);
  EXPECT_EQ(got[2].note, "Таймаут при передаче данных (нет связи)");
  EXPECT_EQ(got[2].reply_length, 0);
  EXPECT_EQ(got[3].short_name, "p3");
  EXPECT_EQ(got[3].address_offset, 7);
  EXPECT_EQ(got[3].value, "1");
  EXPECT_EQ(got[3].reply_length, 1);
  EXPECT_EQ(got[3].reply[0], 1);
  EXPECT_EQ(got[3].wall_ms, 1'800'000'000'000 + clock.now_ms());
  // A later exchange of the parameter does not reach what was delivered.
  tree[3].value = "changed";
  EXPECT_EQ(sink.taken()[3].value, "1");
}

TEST_F(ScannerFixture, ParameterWhoseValueIsStillHandledIsNotPolledAgain) {
  OperationalTree& tree = make_tree(1);
  sink.keep_tickets = true;
  scanner.serve(&tree.root);
  scanner.arm(tree[0]);
  clock.advance_ms(1000);
  scanner.poll_due();
  clock.advance_ms(1000);
  scanner.poll_due();
  EXPECT_EQ(reads.reads["p0"], 1);
  sink.snapshots.clear();  // the view has handled it
  clock.advance_ms(1000);
  scanner.poll_due();
  EXPECT_EQ(reads.reads["p0"], 2);
}

TEST_F(ScannerFixture, GuardTellsWhetherAnyParameterIsPolledAndStoppingDisarmsAll) {
  OperationalTree& tree = make_tree(3);
  EXPECT_FALSE(AnyPollingOn(tree.root));
  scanner.serve(&tree.root);
  EXPECT_FALSE(scanner.AnyPollingOn());
  scanner.arm(tree[2]);  // in a sub-branch
  EXPECT_TRUE(AnyPollingOn(tree.root));
  EXPECT_TRUE(scanner.AnyPollingOn());
  scanner.disarm(tree[2]);
  EXPECT_FALSE(scanner.AnyPollingOn());

  scanner.arm(tree[0]);
  scanner.arm(tree[1]);
  scanner.StopScanners();
  EXPECT_FALSE(tree[0].timer_armed());
  EXPECT_FALSE(tree[1].timer_armed());
  EXPECT_TRUE(scanner.polled().empty());
}

// The thread, through the manual clock: time passes only while the scanner waits, so every
// poll comes exactly at its due time, and a failure to serve a parameter shows as a count.
TEST_F(ScannerFixture, OneThreadServesTwoHundredParametersAtTheirPeriods) {
  constexpr int kCount = 200;
  OperationalTree& tree = make_tree(kCount, 10);
  const std::int64_t t0 = clock.now_ms();
  for (int i = 0; i < kCount; ++i) {
    const int period = 1000 + (i % 7) * 500;
    ASSERT_TRUE(scanner.change_period(tree[i], std::to_string(period), nullptr));
    scanner.arm(tree[i]);
  }
  constexpr std::int64_t kSpan = 60'000;
  struct UntilSpan final : PollSink {
    void polled(PollSnapshot s) override {
      std::lock_guard lock(mutex);
      if (s.clock_ms > end) {
        past.set();
        return;
      }
      s.ticket.reset();  // handled
      got.push_back(std::move(s));
    }
    std::mutex mutex;
    std::int64_t end = 0;
    std::vector<PollSnapshot> got;
    platform::Event past{platform::Event::Reset::Manual};
  } until;
  until.end = t0 + kSpan;
  scanner.set_sink(&until);
  ASSERT_EQ(scanner.StartScanners(&tree.root, nullptr), 0);
  EXPECT_TRUE(until.past.wait(30'000));
  scanner.StopScanners();

  std::map<Parameter*, int> count;
  for (const PollSnapshot& s : until.got) {
    EXPECT_EQ(s.clock_ms, s.due_ms);
    ++count[s.parameter];
  }
  for (int i = 0; i < kCount; ++i) {
    const int period = 1000 + (i % 7) * 500;
    EXPECT_EQ(count[&tree[i]], kSpan / period) << "p" << i;
  }
}

TEST_F(ScannerFixture, ThreadWakesForAParameterTickedWhileNothingWasPolled) {
  OperationalTree& tree = make_tree(1);
  struct First final : PollSink {
    void polled(PollSnapshot) override { got.set(); }
    platform::Event got{platform::Event::Reset::Manual};
  } first;
  scanner.set_sink(&first);
  ASSERT_EQ(scanner.StartScanners(&tree.root, nullptr), 0);
  EXPECT_EQ(scanner.StartScanners(&tree.root, nullptr), 0);  // already runs
  scanner.arm(tree[0]);
  EXPECT_TRUE(first.got.wait(30'000));
  scanner.StopScanners();
  EXPECT_FALSE(scanner.running());
}

TEST_F(ScannerFixture, StoppingDoesNotWaitForAReadThatHangs) {
  OperationalTree& tree = make_tree(1);
  auto gate = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
  auto entered = std::make_shared<platform::Event>(platform::Event::Reset::Manual);
  auto link = std::make_shared<std::recursive_mutex>();
  // The thread left behind still reads its clock after the test, even after the program.
  static auto& orphan_clock = *new platform::ManualClock{5'000'000};
  Scanner hanging(
      [gate, entered](Parameter&) {
        entered->set();
        gate->wait(-1);
        return 0;
      },
      link, orphan_clock);
  Collected late;
  hanging.set_sink(&late);
  ASSERT_EQ(hanging.StartScanners(&tree.root, nullptr), 0);
  hanging.arm(tree[0]);
  ASSERT_TRUE(entered->wait(30'000));
  hanging.StopScanners(50);
  EXPECT_FALSE(tree[0].timer_armed());
  // The read comes back after the stop: nothing is delivered any more.
  gate->set();
  // The read runs under the link lock: once the lock is free the thread has left the poll.
  { std::lock_guard wait_for_poll(*link); }
  EXPECT_TRUE(late.taken().empty());
}

}  // namespace
}  // namespace kba604
