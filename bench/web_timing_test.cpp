// The figures web_bench prints are only as right as these: the spread of a
// series, the pairing of progress events with the records before them, and
// the reading of an event stream that arrives in pieces.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web_timing.h"

namespace bplink::bench {
namespace {

using std::chrono::milliseconds;

TEST(Percentile, InterpolatesBetweenRanksWhateverTheOrder) {
  std::vector<double> hundred;
  for (int i = 100; i >= 1; --i) hundred.push_back(i);
  EXPECT_DOUBLE_EQ(Percentile(hundred, 95), 95.05);
  EXPECT_DOUBLE_EQ(Percentile(hundred, 0), 1);
  EXPECT_DOUBLE_EQ(Percentile(hundred, 100), 100);
  EXPECT_DOUBLE_EQ(Percentile({4, 1, 3, 2}, 50), 2.5);
  EXPECT_DOUBLE_EQ(Percentile({7}, 95), 7);
  EXPECT_DOUBLE_EQ(Percentile({}, 50), 0);
}

TEST(Percentile, SpreadOfASeriesWithOneSlowRequest) {
  std::vector<double> ms(19, 10.0);
  ms.push_back(500);
  const Spread s = SpreadOf(ms);
  EXPECT_EQ(s.count, 20u);
  EXPECT_DOUBLE_EQ(s.median_ms, 10);
  // The 95th percentile lies between the 19th and 20th value: the slow one shows.
  EXPECT_NEAR(s.p95_ms, 10 + (500 - 10) * 0.05, 1e-9);
  EXPECT_DOUBLE_EQ(s.max_ms, 500);
  EXPECT_EQ(SpreadOf({}).count, 0u);
}

TEST(DelaysFromLatestRecord, EachEventCountsFromTheLastRecordBeforeIt) {
  const WebClock::time_point t0{};
  const std::vector<WebClock::time_point> records = {t0 + milliseconds(10), t0 + milliseconds(20),
                                                     t0 + milliseconds(30), t0 + milliseconds(100)};
  const std::vector<WebClock::time_point> events = {
      t0 + milliseconds(5),   // before any record: no delay
      t0 + milliseconds(20),  // at the moment of a record: none
      t0 + milliseconds(37),  // after three records: from the third
      t0 + milliseconds(99),  // the record at 100 came after it
      t0 + milliseconds(104)};
  const std::vector<double> delays = DelaysFromLatestRecord(records, events);
  EXPECT_EQ(delays, (std::vector<double>{0, 7, 69, 4}));
  EXPECT_TRUE(DelaysFromLatestRecord({}, events).empty());
}

// What the workstation sends on /jobs/N/events: progress, a keep-alive
// comment, progress again, the end.
const std::string kServerStream =
    "event: progress\ndata: {\"percent\":3,\"label\":\"set 1\"}\n\n"
    ": waiting\n\n"
    "event: progress\ndata: {\"percent\":100,\"label\":\"set 2\"}\n\n"
    "event: done\ndata: {}\n\n";

TEST(EventStreamReader, SameEventsWhereverTheStreamIsCut) {
  for (std::size_t cut = 0; cut <= kServerStream.size(); ++cut) {
    EventStreamReader reader;
    std::vector<StreamEvent> events = reader.Feed(std::string_view(kServerStream).substr(0, cut));
    for (StreamEvent& e : reader.Feed(std::string_view(kServerStream).substr(cut))) events.push_back(std::move(e));
    ASSERT_EQ(events.size(), 3u) << "cut at " << cut;
    EXPECT_EQ(events[0].name, "progress");
    EXPECT_EQ(events[0].data, R"({"percent":3,"label":"set 1"})");
    EXPECT_EQ(events[1].data, R"({"percent":100,"label":"set 2"})");
    EXPECT_EQ(events[2].name, "done");
  }
}

TEST(EventStreamReader, LineEndsDataLinesAndEventsWithoutData) {
  EventStreamReader reader;
  // CR LF and CR end lines too; two data lines are one event's data; an
  // event with a name and no data is none, and its name does not stay.
  const std::vector<StreamEvent> events =
      reader.Feed("event: progress\r\ndata: a\r\ndata:b\r\n\r\nevent: lost\n\ndata: plain\r\r");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].name, "progress");
  EXPECT_EQ(events[0].data, "a\nb");
  EXPECT_EQ(events[1].name, "message");
  EXPECT_EQ(events[1].data, "plain");
  // Nothing is given before its blank line.
  EXPECT_TRUE(reader.Feed("event: progress\ndata: x\n").empty());
  EXPECT_EQ(reader.Feed("\n").size(), 1u);
}

}  // namespace
}  // namespace bplink::bench
