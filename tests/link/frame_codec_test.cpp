#include <gtest/gtest.h>

#include <future>

#include "link/frame_codec.h"
#include "link/link_fixture.h"

namespace kba604 {
namespace {

using test::answer;
using test::LineResponse;
using test::refusal;
using test::talv_frame;

constexpr std::uint16_t kHashDev = 0xD681;

// The packet bytes of a frame (between "#" and the carriage return), checksum included.
std::vector<std::uint8_t> packet_of(const std::string& frame) {
  std::vector<std::uint8_t> bytes((frame.size() - 2) / 2);
  decode_buffer(frame.data() + 1, frame.size() - 2, bytes.data());
  return bytes;
}

TEST(FrameBuilding, WorkedDevFramesInBothAddressings) {
  EXPECT_EQ(build_frame(16, 8, 1, kHashDev, nullptr, 0, 0), "#HGHGTMOHPGMO\r");
  EXPECT_EQ(build_frame(16, 11, 1, kHashDev, nullptr, 0, 0), "#GIHGTMOHLKTQ\r");
}

TEST(FrameBuilding, AddressBytes) {
  struct Case {
    int base, length, offset;
    std::uint8_t byte0, top_bits;
  };
  const Case cases[] = {
      {16, 11, 0, 0x02, 0},       {16, 11, 1, 0x02, 1}, {17, 11, 0, 0x02, 1},
      {16, 11, -1, 0x1F, 7},      {16, 8, -1, 0xFF, 0}, {16, 8, 3, 19, 0},
      {300, 8, 0, 300 & 0xFF, 0},  // only the low 8 bits in 8-bit addressing
      {2040, 11, 7, 0xFF, 7},
  };
  for (const auto& c : cases) {
    const std::vector<std::uint8_t> p =
        packet_of(build_frame(c.base, c.length, 0, 0x1234, nullptr, 0, c.offset));
    EXPECT_EQ(p[0], c.byte0) << c.base << "+" << c.offset;
    EXPECT_EQ(p[1] >> 5, c.top_bits) << c.base << "+" << c.offset;
  }
}

TEST(FrameBuilding, RequestBitLengthDataAndChecksum) {
  const std::uint8_t data[] = {0x01, 0x2C, 0xFF};
  const std::string frame = build_frame(16, 8, 0, 0xABCD, data, 3, 0);
  EXPECT_EQ(frame.size(), 2u * 3 + 14);
  EXPECT_EQ(frame, talv_frame({0x10, 0x03, 0xAB, 0xCD, 0x01, 0x2C, 0xFF}));
  EXPECT_EQ(build_frame(16, 8, 1, 0xABCD, data, 3, 0),
            talv_frame({0x10, 0x13, 0xAB, 0xCD, 0x01, 0x2C, 0xFF}));
}

class FrameExchangeTest : public test::LinkTest {
 protected:
  bool exchange(std::uint16_t hash = kHashDev) {
    count = -1;
    error = "unchanged";
    outcome = exchange_frame(io, 1, hash, nullptr, 0, 0, data, &count, &error);
    return outcome.ok();
  }
  ExchangeOutcome outcome;
  std::uint8_t data[kMaxReplyData] = {};
  int count = -1;
  std::string error;
};

TEST_F(FrameExchangeTest, DevRequestAndReply) {
  line.push(answer(kHashDev, {'4', '0', '6', 'A', 'B', 'K'}));
  ASSERT_TRUE(exchange());
  EXPECT_EQ(line.requests(), std::vector<std::string>{"#HGHGTMOHPGMO\r"});
  ASSERT_EQ(count, 6);
  EXPECT_EQ(std::string(data, data + 6), "406ABK");
}

TEST_F(FrameExchangeTest, DevRequestInElevenBitAddressing) {
  io.sio().set_address_length(11);
  line.push(LineResponse::reply(talv_frame({0x02, 0x11, 0xD6, 0x81, 0x07})));
  ASSERT_TRUE(exchange());
  EXPECT_EQ(line.requests(), std::vector<std::string>{"#GIHGTMOHLKTQ\r"});
  EXPECT_EQ(count, 1);
}

TEST_F(FrameExchangeTest, RepetitionLimits) {
  struct Case {
    const char* what;
    std::vector<LineResponse> failures;
    bool answered;  // the failures are followed by an answer
    bool ok;
    std::size_t transfers;
    std::string error;
    ExchangeOutcome::Kind kind = ExchangeOutcome::Kind::Success;
  };
  using Kind = ExchangeOutcome::Kind;
  const std::vector<LineResponse> t3(3, LineResponse::silence());
  const std::vector<LineResponse> t4(4, LineResponse::silence());
  const std::vector<LineResponse> e16(16, LineResponse::line_error());
  const std::vector<LineResponse> e17(17, LineResponse::line_error());
  const std::vector<LineResponse> s15(15, LineResponse::reply("HG\r"));
  const std::vector<LineResponse> s16(16, LineResponse::reply("HG\r"));
  std::vector<LineResponse> mixed;  // every counter up to its limit, interleaved
  for (int i = 0; i < 16; ++i) {
    if (i < 3) mixed.push_back(LineResponse::silence());
    mixed.push_back(LineResponse::line_error());
    if (i < 15) mixed.push_back(LineResponse::reply("x\r"));
  }
  std::vector<LineResponse> mixed_over = mixed;
  mixed_over.push_back(LineResponse::silence());
  const Case cases[] = {
      {"three time-outs", t3, true, true, 4, ""},
      {"four time-outs", t4, true, false, 4, kTimeoutText, Kind::Timeout},
      {"sixteen line errors", e16, true, true, 17, ""},
      {"seventeen line errors", e17, true, false, 17, kPortSettingsText, Kind::LineFault},
      {"fifteen lost starts", s15, true, true, 16, ""},
      {"sixteen lost starts", s16, true, false, 16, kLostStartText, Kind::LostStart},
      {"all counters at their limits", mixed, true, true, 35, ""},
      {"one time-out more", mixed_over, true, false, 35, kTimeoutText, Kind::Timeout},
  };
  for (const auto& c : cases) {
    line.clear_log();
    for (const auto& r : c.failures) line.push(r);
    line.push(answer(kHashDev, {1}));
    EXPECT_EQ(exchange(), c.ok) << c.what;
    EXPECT_EQ(line.requests().size(), c.transfers) << c.what;
    EXPECT_EQ(outcome.kind, c.kind) << c.what;
    if (!c.ok) {
      EXPECT_EQ(error, c.error) << c.what;
    }
    line.clear_script();
    clock.advance_ms(1000);
  }
}

TEST_F(FrameExchangeTest, ReplyTooShortOrWithoutStartIsALostStart) {
  for (const char* reply : {"\r", "GG#\r", "HGHG\r"}) {
    line.clear_log();
    for (int i = 0; i < 16; ++i) line.push(LineResponse::reply(reply));
    EXPECT_FALSE(exchange()) << reply;
    EXPECT_EQ(error, kLostStartText);
    EXPECT_EQ(line.requests().size(), 16u);
  }
}

TEST_F(FrameExchangeTest, ExitFlagsFollowTheLink) {
  struct Case {
    std::uint32_t before;
    std::vector<LineResponse> script;
    std::uint32_t after;
  };
  const std::vector<LineResponse> lost(4, LineResponse::silence());
  std::vector<LineResponse> starts(16, LineResponse::reply("x\r"));
  std::vector<LineResponse> errors(17, LineResponse::line_error());
  std::string bad_sum = talv_frame(16, 1, kHashDev, {1, 2});
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == 'G' ? 'H' : 'G';
  const Case cases[] = {
      {0, lost, ExitFlags::kTimeout},
      {ExitFlags::kPortSettings, lost, ExitFlags::kPortSettings},  // 8 stays
      {0x40 | 0x02, lost, ExitFlags::kTimeout},                    // the word becomes 4
      {0, starts, ExitFlags::kPortSettings},
      {0, errors, ExitFlags::kPortSettings},
      {ExitFlags::kTimeout, {answer(kHashDev, {})}, ExitFlags::kPortSettings},  // answered again
      {ExitFlags::kTimeout | 0x40, {answer(kHashDev, {})}, ExitFlags::kTimeout | 0x40},
      {0, {answer(kHashDev, {})}, 0},
      {ExitFlags::kTimeout, {LineResponse::reply("#GG\r")}, ExitFlags::kPortSettings},
      {0, {LineResponse::reply(bad_sum)}, ExitFlags::kPortSettings},  // a damaged reply
      {0x40, {LineResponse::reply("#GGGG\r")}, ExitFlags::kPortSettings},
  };
  for (const auto& c : cases) {
    app.exit_flags.set_to(c.before);
    for (const auto& r : c.script) line.push(r);
    exchange();
    EXPECT_EQ(app.exit_flags.value(), c.after) << c.before;
    line.clear_script();
    clock.advance_ms(1000);
  }
}

TEST_F(FrameExchangeTest, AtProgramExitARequestEndsWithoutPuttingFramesOnTheLine) {
  io.sio().exit_event().set();
  line.push(answer(kHashDev, {1}));
  const std::int64_t start = clock.now_us();
  EXPECT_FALSE(exchange());
  EXPECT_EQ(error, kLostStartText);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(line.requests().empty());
  EXPECT_EQ(clock.now_us(), start);
}

TEST_F(FrameExchangeTest, AplyIsSentOnceWithoutWaitingForTheAnswer) {
  ASSERT_TRUE(exchange(kHashAply));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(line.requests().size(), 1u);
  EXPECT_EQ(line.requests()[0], talv_frame({0x10, 0x10, 0x84, 0x03}));
}

TEST_F(FrameExchangeTest, RepliesThatFail) {
  std::string bad_sum = talv_frame(16, 1, kHashDev, {1, 2});
  bad_sum[bad_sum.size() - 2] = bad_sum[bad_sum.size() - 2] == 'G' ? 'H' : 'G';
  std::string short_reply = talv_frame(16, 1, kHashDev, {1, 2});
  short_reply.erase(short_reply.size() - 5, 4);  // the length says 2, one byte is missing
  using Kind = ExchangeOutcome::Kind;
  struct Case {
    LineResponse reply;
    std::string error;
    int count;
    ExchangeOutcome outcome;
  };
  const Case cases[] = {
      {LineResponse::reply(bad_sum), kChecksumText, 0, ExchangeOutcome::of(Kind::Checksum)},
      {LineResponse::reply(short_reply), kChecksumText, 0, ExchangeOutcome::of(Kind::Checksum)},
      {LineResponse::reply("#GGGG\r"), kChecksumText, 0, ExchangeOutcome::of(Kind::Checksum)},
      // Starts right, but holds nothing.
      {LineResponse::reply("#\r"), kChecksumText, 0, ExchangeOutcome::of(Kind::Checksum)},
      {refusal(0x28), "Не найден дескриптор", 1, ExchangeOutcome::refused(0x28)},
      // A refusal is never a failure without a text, or it would pass for a success.
      {refusal(0x09), "Прибор отказал в выполнении запроса (код ошибки 0x09)", 1,
       ExchangeOutcome::refused(0x09)},
      {answer(kHashNErr, {}), "Прибор отказал в выполнении запроса, не сообщив код ошибки", 0,
       ExchangeOutcome::refused(-1)},
      {answer(0x1234, {5}), kForeignReplyText, 1, ExchangeOutcome::of(Kind::ForeignReply)},
  };
  for (const auto& c : cases) {
    line.push(c.reply);
    EXPECT_FALSE(exchange());
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(error, frame_outcome_text(outcome));
    EXPECT_EQ(outcome, c.outcome) << outcome_name(outcome.kind);
    EXPECT_EQ(count, c.count);
    clock.advance_ms(1000);
  }
  // The refusal's code stays in the reply for the caller.
  line.push(refusal(0x28));
  exchange();
  EXPECT_EQ(data[0], 0x28);
}

TEST_F(FrameExchangeTest, ReplyWithSevenDataBytesFitsAndEightDoNot) {
  line.push(answer(kHashDev, {1, 2, 3, 4, 5, 6, 7}));
  ASSERT_TRUE(exchange());
  EXPECT_EQ(count, 7);
  line.push(answer(kHashDev, {1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_FALSE(exchange());
  EXPECT_EQ(error, kChecksumText);
}

TEST_F(FrameExchangeTest, LinkLockIsHeldAcrossAllRepetitions) {
  int transfers = 0;
  int lock_free = 0;
  line.set_responder([&](const std::string&) {
    // Another thread must not get the lock while any repetition runs.
    if (std::async(std::launch::async, [&] {
          bool got = io.link_lock().try_lock();
          if (got) io.link_lock().unlock();
          return got;
        }).get()) {
      ++lock_free;
    }
    return ++transfers < 4 ? LineResponse::silence() : answer(kHashDev, {});
  });
  EXPECT_TRUE(exchange());
  EXPECT_EQ(transfers, 4);
  EXPECT_EQ(lock_free, 0);
  EXPECT_TRUE(io.link_lock().try_lock());
  io.link_lock().unlock();
}

}  // namespace
}  // namespace kba604
