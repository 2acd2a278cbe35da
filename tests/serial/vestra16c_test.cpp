// The VESTRA16C monitor: the shared VESTRA16 suite with this family's bytes,
// speeds and result codes, and its own way with failed exchanges: each is
// asked for again, a record up to ten times, the settings up to five.


#include "vestra16_suite.h"
#include "vestra16c/model.h"

namespace bplink::testing {
namespace {

std::unique_ptr<sim::vestra16::Monitor> Vestra16CMonitor() { return std::make_unique<sim::vestra16c::Monitor>(); }

// The handshake and the upload at 4800 baud, both answered with 0x6C; the
// settings (0x54) and the records on the same port at 115200, with no pause.
INSTANTIATE_TEST_SUITE_P(Vestra16C, Vestra16Suite, ::testing::Values(Vestra16Family{
    "vestra16c", Vestra16CMonitor, {6, 9, 255, 255, 0},
    {{{0x88}, 4800}, {{0x88}, 4800}, {{0x54}, 115200}, {{0xEE}, 115200}, {{0xEE}, 115200}, {{0xEE}, 115200}},
    3 * 100 + kTimeoutMs, 2 * 100 + kTimeoutMs, 0x00, {0xFF, 0x00, 0xFF}, true, 7, false}), Vestra16Name);

TEST(Vestra16C, ARecordIsAskedForTenTimesAndTheSettingsFive) {
  FamilyBench<sim::vestra16c::Monitor, CProtocolCOMVESTRA16C> b;
  sim::vestra16c::Monitor& monitor = b.model;
  monitor.measurements().resize(4);
  monitor.faults().unanswered_record_requests = {{2, 9}};
  monitor.faults().unanswered_settings_reads = {0, 1, 2, 3};
  ASSERT_EQ(b.Download(DATAMODE_BP), 1);
  EXPECT_EQ(std::tuple(Fetch(b.protocol).BPSet.vecRecords.size(), monitor.record_requests(), b.progress),
            std::tuple(4u, 4 + 9, 75)) << "nothing skipped";

  monitor.faults().unanswered_record_requests = {{2, 10}};
  EXPECT_EQ(b.Download(DATAMODE_BP), 7);
  EXPECT_EQ(std::tuple(Fetch(b.protocol).BPSet.vecRecords.size(), monitor.record_requests()), std::tuple(2u, 13 + 2 + 10));

  monitor.faults().unanswered_settings_reads = {6, 7, 8, 9, 10};
  EXPECT_EQ(b.Download(DATAMODE_BP), 7);
  EXPECT_EQ(monitor.settings_reads(), 11);

  // A record cut short after its echo is kept as the zeros its buffer was
  // cleared to; the silence shows on the next request.
  monitor.faults() = {};
  monitor.faults().silent_after_records = 3;
  monitor.measurements().resize(5);
  EXPECT_EQ(b.Download(DATAMODE_BP), 7);
  const auto records = Fetch(b.protocol).BPSet.vecRecords;
  EXPECT_EQ(std::tuple(records.size(), records.back().nSys), std::tuple(4u, 0));
}

}  // namespace
}  // namespace bplink::testing
