// The regulation dialog's control against the virtual instrument: starts and stops confirmed or
// never confirmed, the permission "net.s" set from the drop-down, and a cancel that waits for
// the worker's exchange.
#include "operations/regulation_control.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "app/application.h"
#include "description/description_loader.h"
#include "link/device_io.h"
#include "platform/settings_store.h"
#include "support/description_files.h"
#include "support/recording_prompter.h"
#include "support/virtual_instrument.h"

namespace kba604 {
namespace {

// The link, counting the writes of each parameter; a request can be told to announce itself.
class CountingExchange final : public DirectExchange {
 public:
  explicit CountingExchange(std::shared_ptr<DirectExchange> link) : link_(std::move(link)) {}
  int transact(std::vector<std::string>* trace, Parameter& p, int request_bit,
               bool as_position) override {
    {
      std::lock_guard lock(mutex_);
      if (request_bit == 0) writes_[p.short_name].push_back(p.value);
    }
    entered.set();
    return link_->transact(trace, p, request_bit, as_position);
  }
  std::vector<std::string> writes(const std::string& name) {
    std::lock_guard lock(mutex_);
    return writes_[name];
  }
  platform::Event entered{platform::Event::Reset::Auto};

 private:
  std::shared_ptr<DirectExchange> link_;
  std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> writes_;
};

// What the worker reports, in order, for the test thread to take one at a time.
struct Reports {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<RegulationPoll> polls;
  int network_choice = -2;
  bool ended = false;

  RegulationControl::Events events() {
    return {[this](int choice) {
              std::lock_guard lock(mutex);
              network_choice = choice;
              changed.notify_all();
            },
            [this](const RegulationPoll& poll) {
              std::lock_guard lock(mutex);
              polls.push_back(poll);
              changed.notify_all();
            },
            [this] {
              std::lock_guard lock(mutex);
              ended = true;
              changed.notify_all();
            }};
  }
  // The next poll; a worker that reports nothing within the bound fails the test.
  RegulationPoll next() {
    std::unique_lock lock(mutex);
    if (!changed.wait_for(lock, std::chrono::seconds(20), [&] { return !polls.empty(); })) {
      ADD_FAILURE() << "no poll reported";
      return {};
    }
    RegulationPoll poll = polls.front();
    polls.pop_front();
    return poll;
  }
  bool wait_ended() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [&] { return ended; });
  }
};

class Regulation : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::shipped_description_exists()) GTEST_SKIP() << "no description in the build tree";
  }
  void connect(std::vector<std::string> sim_args = {}) {
    sim = std::make_unique<test::VirtualInstrument>(std::move(sim_args));
    settings.set_value("Ports/COM1", sim->path());
    io = std::make_shared<DeviceIO>(app, settings);
    io->sio().set_converter_automatic(1);
    DescriptionRequest request;
    request.data_folder = test::shipped_description_folder().string();
    request.version_text = "1.10";
    load = load_description(table, request, &prompter);
    ASSERT_TRUE(load.main_tree);
    link = std::make_shared<CountingExchange>(std::make_shared<LinkExchange>(io));
    std::string error;
    control = RegulationControl::create(link, table, &error);
    ASSERT_TRUE(control) << error;
  }
  void TearDown() override { control.reset(); }
  bool regulating() {
    return sim->with([](sim::Instrument& i) { return i.regulating(); });
  }
  // Polls until the pending action is settled: returns the polls seen, the last one with any
  // message.
  std::vector<RegulationPoll> poll_times(int count) {
    std::vector<RegulationPoll> seen;
    for (int i = 0; i < count; ++i) {
      seen.push_back(reports.next());
      control->next_poll();
    }
    return seen;
  }

  test::RecordingPrompter prompter;
  CKBA604App app{prompter};
  platform::MemorySettingsStore settings;
  std::unique_ptr<test::VirtualInstrument> sim;
  std::shared_ptr<DeviceIO> io;
  ParameterTable table;
  DescriptionLoad load;
  std::shared_ptr<CountingExchange> link;
  std::unique_ptr<RegulationControl> control;
  Reports reports;
};

TEST_F(Regulation, OpeningFillsTheRowAndReadsTheNetworkPermission) {
  connect();
  ASSERT_EQ(control->rows().size(), 1u);
  EXPECT_EQ(control->rows()[0].object, "1");
  EXPECT_EQ(control->rows()[0].name, "r.St");
  EXPECT_EQ(control->rows()[0].title, "Режим работы прибора");
  EXPECT_EQ(control->network_start_choices(), (std::vector<std::string>{"Запрещен", "Разрешен"}));
  control->start(reports.events());
  const RegulationPoll first = reports.next();
  EXPECT_TRUE(first.read_ok);
  EXPECT_EQ(first.value, "Режим СТОП");
  EXPECT_TRUE(first.message.empty());
  // The instrument leaves the factory with start over the network allowed.
  EXPECT_EQ(reports.network_choice, 1);
}

TEST_F(Regulation, StartConfirmedIsWrittenOnce) {
  connect();
  control->start(reports.events());
  reports.next();
  control->start_regulation({0});
  control->next_poll();
  std::vector<RegulationPoll> polls = poll_times(3);
  EXPECT_EQ(polls.back().value, "Режим РАБОТА");
  for (const RegulationPoll& p : polls) EXPECT_TRUE(p.message.empty());
  EXPECT_EQ(link->writes("r-s"), std::vector<std::string>{"1"});
  EXPECT_TRUE(regulating());

  control->stop_regulation({0});
  control->next_poll();
  polls = poll_times(2);
  EXPECT_EQ(polls.back().value, "Режим СТОП");
  EXPECT_EQ(link->writes("r-s"), (std::vector<std::string>{"1", "0"}));
  EXPECT_FALSE(regulating());
}

// With the network permission taken away from the drop-down the instrument ignores "r-s": the
// click and two repetitions, then the failure, once; later polls write nothing more.
TEST_F(Regulation, StartOrStopNeverConfirmedIsRepeatedTwiceThenReported) {
  struct Case {
    std::vector<std::string> sim_args;
    bool start;
    const char* value;
    std::string_view message;
  };
  const Case cases[] = {{{}, true, "Режим СТОП", kStartFailedText},
                        {{"--regulating"}, false, "Режим РАБОТА", kStopFailedText}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start ? "start" : "stop");
    control.reset();
    reports.polls.clear();
    connect(c.sim_args);
    control->start(reports.events());
    reports.next();
    control->choose_network_start(0);
    if (c.start) {
      control->start_regulation({0});
    } else {
      control->stop_regulation({0});
    }
    control->next_poll();
    const std::vector<RegulationPoll> polls = poll_times(5);
    const std::string written = c.start ? "1" : "0";
    EXPECT_EQ(link->writes("net.s"), std::vector<std::string>{"Запрещен"});
    EXPECT_EQ(link->writes("r-s"), (std::vector<std::string>{written, written, written}));
    for (std::size_t i = 0; i < polls.size(); ++i) {
      EXPECT_EQ(polls[i].value, c.value) << i;
      EXPECT_EQ(polls[i].message, i == 2 ? std::string(c.message) : "") << i;
    }
    EXPECT_EQ(regulating(), !c.start);
    EXPECT_EQ(sim->with([](sim::Instrument& i) { return i.value("net.s"); }), (sim::Bytes{0}));
  }
}

TEST_F(Regulation, CancelWaitsForTheExchangeInProgress) {
  connect();
  control->start(reports.events());
  reports.next();
  // The poll is held at the link lock, as behind another thread's long exchange.
  std::unique_lock hold(io->link_lock());
  link->entered.reset();
  control->next_poll();
  ASSERT_TRUE(link->entered.wait(20000));
  EXPECT_FALSE(control->cancel());
  {
    std::lock_guard lock(reports.mutex);
    EXPECT_FALSE(reports.ended);
  }
  EXPECT_TRUE(control->running());
  hold.unlock();
  EXPECT_TRUE(reports.wait_ended());
  // The poll that was running still reported before the end.
  EXPECT_EQ(reports.polls.size(), 1u);
}

TEST_F(Regulation, WithoutTheStateThereIsNoDialog) {
  ParameterTable other(2, "test");
  other[0].short_name = "net.s";
  other[1].short_name = "r-s";
  std::string error;
  EXPECT_EQ(RegulationControl::create(nullptr, other, &error), nullptr);
  EXPECT_EQ(error, "Не найден параметр \"r.st\"!");
  // The state found in another letter case; a state given as a number counts as the number.
  other.reset(1, "test");
  other[0].short_name = "R.ST";
  other[0].format = "DEC_dot";
  other[0].value = "1";
  EXPECT_EQ(RegulationControl::state_position(other[0]), 1);
  other[0].format = "Стоп:Работа";
  other[0].value = "работа";
  EXPECT_EQ(RegulationControl::state_position(other[0]), 1);
  other[0].value = "Нет данных";
  EXPECT_EQ(RegulationControl::state_position(other[0]), -1);
  EXPECT_NE(RegulationControl::create(nullptr, other, &error), nullptr);
}

}  // namespace
}  // namespace kba604
