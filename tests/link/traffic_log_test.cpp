// The traffic monitor's reading of the line: frames decoded field by field, what each transfer
// ended with, repetitions, the lines and CSV rows, the filters, and the bounded tap.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "link/frame_codec.h"
#include "link/sio.h"
#include "link/traffic_log.h"
#include "link/traffic_tap.h"
#include "model/talv_codec.h"

namespace kba604 {
namespace {

const std::uint16_t kState = hash_name("r.St");

std::string platform_hex(std::uint16_t hash) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", hash);
  return text;
}

std::string frame(int address, int request_bit, std::uint16_t hash,
                  std::vector<std::uint8_t> data = {}, int address_length = 8) {
  return build_frame(address, address_length, request_bit, hash, data.data(),
                     static_cast<int>(data.size()), 0);
}

TrafficRecord transfer(std::string request, std::string reply, int result = Sio::kReceived) {
  static std::uint64_t sequence = 0;
  TrafficRecord r;
  r.sequence = sequence++;
  r.wall_ms = 1250;  // 00:00:01.250 UTC
  r.round_trip_us = 41'234;
  r.result = result;
  r.request = std::move(request);
  r.reply = std::move(reply);
  return r;
}

TrafficLog named_log() {
  return TrafficLog([](std::uint16_t hash) { return hash == kState ? "r.St" : ""; });
}

// Local time is UTC for the lines' time stamps.
class TrafficLines : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
};

TEST(TrafficFrames, DecodeEveryFieldAndJudgeTheChecksum) {
  TrafficFrame f = decode_traffic_frame(frame(16, 1, kState), 8);
  ASSERT_TRUE(f.decoded);
  EXPECT_EQ(f.address, 16);
  EXPECT_EQ(f.request_bit, 1);
  EXPECT_EQ(f.hash, kState);
  EXPECT_TRUE(f.data.empty());
  EXPECT_TRUE(f.checksum_ok);

  f = decode_traffic_frame(frame(19, 0, kState, {0x00, 0x01, 0xFF}), 8);
  ASSERT_TRUE(f.decoded);
  EXPECT_EQ(f.address, 19);
  EXPECT_EQ(f.request_bit, 0);
  EXPECT_EQ(f.data, (std::vector<std::uint8_t>{0x00, 0x01, 0xFF}));
  // 11-bit addressing: the top three bits travel in the second byte.
  f = decode_traffic_frame(frame(2047, 1, kState, {}, 11), 11);
  ASSERT_TRUE(f.decoded);
  EXPECT_EQ(f.address, 2047);
  EXPECT_TRUE(f.checksum_ok);

  // One character changed: still a frame, with a checksum that does not hold.
  std::string damaged = frame(16, 1, kState, {0x05});
  damaged[10] = damaged[10] == 'G' ? 'H' : 'G';
  f = decode_traffic_frame(damaged, 8);
  EXPECT_TRUE(f.decoded);
  EXPECT_FALSE(f.checksum_ok);

  // No frame: no start, no end, a character outside the alphabet, an odd count, a packet whose
  // length disagrees with its data count, too short, too long.
  const std::string good = frame(16, 1, kState, {0x05});
  for (const std::string& bad :
       {good.substr(1), good.substr(0, good.size() - 1), std::string("#GGGGGGGGGGGA\r"),
        good.substr(0, good.size() - 2) + "\r", frame(16, 1, kState, {1, 2}).erase(10, 2),
        std::string("#GGGG\r"), "#" + std::string(44, 'G') + "\r", std::string()}) {
    EXPECT_FALSE(decode_traffic_frame(bad, 8).decoded) << bad;
  }
}

TEST(TrafficOutcomes, EachWayATransferEndsIsNamed) {
  TrafficLog log = named_log();
  const std::string request = frame(16, 1, kState);
  struct Case {
    TrafficRecord record;
    TrafficOutcome outcome;
    const char* words;
  };
  std::string damaged = frame(16, 1, kState, {1});
  damaged[9] = damaged[9] == 'G' ? 'H' : 'G';
  const Case cases[] = {
      {transfer(request, frame(16, 1, kState, {0, 1})), TrafficOutcome::Reply, "ответ"},
      {transfer(request, frame(16, 1, kHashNErr, {0x33})), TrafficOutcome::Refusal,
       "отказ, код 0x33"},
      {transfer(request, frame(16, 1, kHashNErr)), TrafficOutcome::Refusal, "отказ без кода"},
      {transfer(request, frame(16, 1, hash_name("dev"), {1})), TrafficOutcome::Foreign,
       "ответ с чужим хешем"},
      {transfer(request, damaged), TrafficOutcome::Checksum,
       "ошибка в контрольной сумме или длине"},
      {transfer(request, "GGHH\r"), TrafficOutcome::NoStart, "нет начала посылки"},
      {transfer(request, "", Sio::kTimeout), TrafficOutcome::Timeout, "таймаут"},
      {transfer(request, "", Sio::kLineError), TrafficOutcome::LineError, "ошибка линии"},
      {transfer(request, "", Sio::kLost), TrafficOutcome::PortLost, "порт пропал"},
      {transfer(request, "", Sio::kUnavailable), TrafficOutcome::Interrupted, "прервано"},
      // The Modbus switch-back is no ТАЛВ frame: whatever came back is its answer.
      {transfer(std::string("\x10\x05\xF0\xF0\xFF\x00", 6), std::string("\x10\x05", 2)),
       TrafficOutcome::Reply, "ответ"},
  };
  for (const Case& c : cases) {
    const TrafficEntry e = log.add(c.record);
    EXPECT_EQ(e.outcome, c.outcome) << c.words;
    EXPECT_EQ(traffic_outcome_text(e), c.words);
    EXPECT_EQ(e.failed(), c.outcome != TrafficOutcome::Reply) << c.words;
  }
}

TEST(TrafficOutcomes, RepetitionsAfterAFailureAreCountedAndDropsAreSeen) {
  TrafficLog log = named_log();
  const std::string request = frame(16, 1, kState);
  auto at = [&](std::uint64_t sequence, std::string reply, int result) {
    TrafficRecord r = transfer(request, std::move(reply), result);
    r.sequence = sequence;
    return log.add(std::move(r));
  };
  EXPECT_EQ(at(10, "", Sio::kTimeout).repetition, 0);
  EXPECT_EQ(at(11, "", Sio::kTimeout).repetition, 1);
  EXPECT_EQ(at(12, frame(16, 1, kState, {1}), Sio::kReceived).repetition, 2);
  // The same request after a reply is a new request, not a repetition.
  const TrafficEntry again = at(13, frame(16, 1, kState, {1}), Sio::kReceived);
  EXPECT_EQ(again.repetition, 0);
  EXPECT_EQ(again.dropped_before, 0u);
  // Another request after a failure is not its repetition either.
  at(14, "", Sio::kTimeout);
  TrafficRecord other = transfer(frame(16, 1, hash_name("dev")), "", Sio::kTimeout);
  other.sequence = 15;
  EXPECT_EQ(log.add(other).repetition, 0);
  // Three transfers lost between 15 and 19.
  const TrafficEntry later = at(19, frame(16, 1, kState, {1}), Sio::kReceived);
  EXPECT_EQ(later.dropped_before, 3u);
  EXPECT_EQ(log.dropped(), 3u);
}

TEST_F(TrafficLines, RequestAndReplyLinesCarryEveryField) {
  TrafficLog log = named_log();
  const std::string request = frame(16, 1, kState);
  const std::string hash = "0x" + std::string(platform_hex(kState));
  TrafficEntry e = log.add(transfer(request, "", Sio::kTimeout));
  std::vector<std::string> lines = traffic_lines(e);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "00:00:01.250 >> " + request.substr(0, request.size() - 1) +
                          "\\r  адрес 16, чтение, " + hash + " r.St, данные: нет, КС верна");
  EXPECT_EQ(lines[1], "00:00:01.291 << (ничего)  таймаут, 41.2 мс");

  const std::string reply = frame(16, 1, kState, {0x00, 0x01});
  TrafficRecord r = transfer(request, reply);
  r.sequence += 5;  // five transfers lost before it
  e = log.add(r);
  lines = traffic_lines(e);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("не показано передач: "), std::string::npos);
  EXPECT_NE(lines[1].find(", повтор 1"), std::string::npos);
  EXPECT_EQ(lines[2], "00:00:01.291 << " + reply.substr(0, reply.size() - 1) + "\\r  адрес 16, " +
                          hash + " r.St, данные: 00 01, КС верна; ответ, 41.2 мс");

  // Characters of no frame are shown escaped.
  EXPECT_EQ(visible_characters(std::string("#A\\\x01\xFF\r", 6)), "#A\\x5C\\x01\\xFF\\r");
}

TEST_F(TrafficLines, CsvRowsQuoteWhatNeedsItAndKeepTheFields) {
  TrafficLog log = named_log();
  const std::string request = frame(16, 0, kState, {0x01});
  const TrafficEntry e = log.add(transfer(request, "a,\"b\"\r"));
  EXPECT_EQ(traffic_csv_header(),
            "время,направление,символы,адрес,запрос,хеш,имя,данные,КС,повтор,итог,время обмена мс");
  const std::vector<std::string> rows = traffic_csv_rows(e);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "00:00:01.250,>>," + request.substr(0, request.size() - 1) +
                         "\\r,16,запись,0x" + platform_hex(kState) + ",r.St,01,верна,0,,");
  EXPECT_EQ(rows[1], "00:00:01.291,<<,\"a,\"\"b\"\"\\r\",,,,,,,,нет начала посылки,41.2");
}

TEST(TrafficFilters, ByNameOrHashWithoutCaseAndByFailure) {
  TrafficLog log = named_log();
  const TrafficEntry ok = log.add(transfer(frame(16, 1, kState), frame(16, 1, kState, {1})));
  const TrafficEntry lost = log.add(transfer(frame(16, 1, kState), "", Sio::kTimeout));
  const TrafficEntry dev = log.add(transfer(frame(16, 1, hash_name("dev")), "", Sio::kTimeout));
  TrafficFilter f;
  EXPECT_TRUE(f.matches(ok) && f.matches(lost) && f.matches(dev));
  f.name = "R.s";
  EXPECT_TRUE(f.matches(ok));
  EXPECT_FALSE(f.matches(dev));
  f.name = platform_hex(hash_name("dev"));
  EXPECT_FALSE(f.matches(ok));
  EXPECT_TRUE(f.matches(dev));
  f.name.clear();
  f.failures_only = true;
  EXPECT_FALSE(f.matches(ok));
  EXPECT_TRUE(f.matches(lost));
}

TEST(TrafficTapQueue, BoundedQueueDropsAndCountsWhatTheReaderLeft) {
  TrafficTap tap(2);
  for (int i = 0; i < 5; ++i) tap.record(transfer("x", "y"));
  EXPECT_TRUE(tap.ready().is_set());
  std::vector<TrafficRecord> taken = tap.take();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].sequence, 0u);
  EXPECT_EQ(taken[1].sequence, 1u);
  EXPECT_EQ(tap.dropped(), 3u);
  EXPECT_FALSE(tap.ready().is_set());
  tap.record(transfer("x", "y"));
  taken = tap.take();
  ASSERT_EQ(taken.size(), 1u);
  // The numbering tells the reader how many it lost.
  EXPECT_EQ(taken[0].sequence, 5u);
  EXPECT_EQ(tap.seen(), 6u);
}

TEST(TrafficNamesTable, ParametersAndTheProtocolsCommands) {
  ParameterTable table(2, "test");
  table[0].short_name = "r.St";
  table[1].short_name = "in-t";
  const TrafficNames names = traffic_names(table);
  EXPECT_EQ(names.at(kState), "r.St");
  EXPECT_EQ(names.at(hash_name("in-t")), "in-t");
  EXPECT_EQ(names.at(hash_name("dev")), "dev");
  EXPECT_EQ(names.at(kHashNErr), "n.Err");
  EXPECT_EQ(names.at(kHashAply), "APLY");
}

}  // namespace
}  // namespace kba604
