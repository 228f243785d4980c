// A port whose device goes away (an adapter unplugged) and comes back under the same name: the
// watch reopens it on its own, once it sees the device node again, and says both changes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "link/port_watch.h"
#include "link/sio.h"
#include "platform/settings_store.h"
#include "support/pty_pair.h"
#include "support/test_home.h"

namespace kba604 {
namespace {

namespace fs = std::filesystem;

// Waits pass at once in test time but take a moment of real time, so that the watching thread
// neither spins nor keeps the test waiting for real seconds. Remembers every limited wait.
class QuickClock final : public platform::Clock {
 public:
  std::int64_t now_us() const override { return time_.now_us(); }
  int poll(pollfd* fds, nfds_t count, int timeout_ms) override {
    if (timeout_ms < 0) return platform::Clock::real().poll(fds, count, -1);
    {
      std::lock_guard lock(mutex_);
      waits_.push_back(timeout_ms);
    }
    const int rc = platform::Clock::real().poll(fds, count, std::min(timeout_ms, 2));
    if (rc == 0) time_.advance_ms(timeout_ms);
    return rc;
  }
  void busy_wait_us(std::int64_t us) override { time_.advance_us(us); }
  std::vector<int> waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
  }

 private:
  platform::ManualClock time_;
  mutable std::mutex mutex_;
  std::vector<int> waits_;
};

class PortWatchTest : public ::testing::Test {
 protected:
  PortWatchTest() {
    settings.set_value("Ports/COM9", link.string());
    sio.set_port_name("COM9");
    sio.set_converter_automatic(1);
  }
  void plug(test::PtyPair& pty) {
    fs::remove(link);
    fs::create_symlink(pty.path(), link);
    pty.start_responder([](const std::string&) { return std::string("#A\r"); });
  }
  int send() {
    char reply[32];
    std::size_t n = 0;
    return sio.transfer("#HG\r", 4, reply, &n);
  }
  std::vector<std::pair<bool, std::string>> heard() {
    std::lock_guard lock(heard_mutex);
    return heard_;
  }
  // Real waiting, bounded, for the watching thread.
  bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 2000; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
  }

  test::TestHome home;
  fs::path link = home.root() / "usb-adapter";
  platform::MemorySettingsStore settings;
  std::recursive_mutex lock;
  Sio sio{lock, platform::Clock::real(), settings};
  QuickClock clock;
  std::mutex heard_mutex;
  std::vector<std::pair<bool, std::string>> heard_;
};

TEST_F(PortWatchTest, AVanishedAdapterIsReopenedWhenItsNodeComesBack) {
  auto first = std::make_unique<test::PtyPair>();
  plug(*first);
  ASSERT_EQ(sio.open_port(), 0);
  PortWatch watch(sio, clock, [this](bool lost, const std::string& text) {
    std::lock_guard lock(heard_mutex);
    heard_.emplace_back(lost, text);
  });
  EXPECT_EQ(send(), Sio::kReceived);

  // Unplugged: the terminal hangs up and its name goes.
  first->vanish();
  fs::remove(link);
  EXPECT_EQ(send(), Sio::kLost);
  EXPECT_TRUE(sio.lost());
  ASSERT_EQ(heard().size(), 1u);
  EXPECT_TRUE(heard()[0].first);
  EXPECT_NE(heard()[0].second.find("пропал"), std::string::npos) << heard()[0].second;
  // While it is away requests fail at once, and the watch looks once a second.
  EXPECT_EQ(send(), Sio::kLost);
  ASSERT_TRUE(eventually([&] { return clock.waits().size() >= 3; }));
  for (int w : clock.waits()) EXPECT_EQ(w, PortWatch::kLookEveryMs);
  EXPECT_EQ(heard().size(), 1u);

  // Plugged in again under the same name (another terminal behind it): reopened without any
  // request, and the exchange goes on.
  test::PtyPair second;
  plug(second);
  ASSERT_TRUE(eventually([&] { return heard().size() == 2; }));
  EXPECT_FALSE(heard()[1].first);
  EXPECT_NE(heard()[1].second.find("снова открыт"), std::string::npos) << heard()[1].second;
  EXPECT_TRUE(sio.is_open());
  EXPECT_FALSE(sio.lost());
  EXPECT_TRUE(second.requests().empty());
  EXPECT_EQ(send(), Sio::kReceived);
  EXPECT_EQ(second.requests().size(), 1u);
}

TEST_F(PortWatchTest, ARequestThatReopensFirstIsHeardAndAPortClosedOnPurposeIsLeftAlone) {
  auto first = std::make_unique<test::PtyPair>();
  plug(*first);
  ASSERT_EQ(sio.open_port(), 0);
  PortWatch watch(sio, clock, [this](bool lost, const std::string& text) {
    std::lock_guard lock(heard_mutex);
    heard_.emplace_back(lost, text);
  });
  first->vanish();
  EXPECT_EQ(send(), Sio::kLost);
  // A request finds the device back before the watch does: the reopening is heard all the same.
  test::PtyPair second;
  plug(second);
  EXPECT_EQ(send(), Sio::kReceived);
  ASSERT_EQ(heard().size(), 2u);
  EXPECT_FALSE(heard()[1].first);

  // Lost again, then closed on purpose (new settings chosen): nothing is reopened.
  second.vanish();
  EXPECT_EQ(send(), Sio::kLost);
  sio.close_port();
  EXPECT_FALSE(sio.lost());
  test::PtyPair third;
  plug(third);
  const std::size_t looks = clock.waits().size();
  // The watch has gone back to waiting for a loss: it looks no more.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_LE(clock.waits().size(), looks + 1);
  EXPECT_FALSE(sio.is_open());
  EXPECT_EQ(heard().size(), 3u);
}

}  // namespace
}  // namespace kba604
