// CDevice_HID over a fake HID backend: which device it opens, the report
// length it takes from the descriptor, and how frames map onto reports.
// The last tests use the real hidapi backend.

#include <bplink/device.h>
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <deque>
#include <numeric>

#include "transport/hid_backend.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Descriptor(unsigned input_len, unsigned output_len) {
  const auto lo = [](unsigned n) { return static_cast<std::uint8_t>(n & 0xFF); };
  const auto hi = [](unsigned n) { return static_cast<std::uint8_t>(n >> 8); };
  return {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                      // vendor page, application collection
          0x75, 0x08, 0x96, lo(input_len), hi(input_len), 0x81, 0x02,   // input: n bytes
          0x96, lo(output_len), hi(output_len), 0x91, 0x02, 0xC0};      // output: n bytes
}

Bytes Counting(std::size_t n, std::uint8_t first = 1) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), first);
  return b;
}

class FakeHid : public bplink::HidBackend {
 public:
  std::vector<bplink::HidDeviceInfo> attached{{"/dev/hidraw0", 0x1111, 0x0001, 0xFF00, 1}};
  Bytes descriptor = Descriptor(64, 64);
  bool refuse_open = false;
  std::deque<Bytes> inbox;  // input reports, in the order the device sends them
  int when_silent = 0;      // what a read gives once the inbox is empty: 0 time-out, -1 error
  int failing_write = -1;   // index of the write that comes back short
  std::vector<Bytes> written;
  std::vector<int> read_timeouts;
  std::vector<std::string> opened;
  int live_links = 0;

  std::vector<bplink::HidDeviceInfo> Enumerate(std::uint16_t, std::uint16_t) override { return attached; }
  std::unique_ptr<bplink::HidLink> Open(const bplink::HidDeviceInfo& device) override {
    if (refuse_open) return nullptr;
    opened.push_back(device.path);
    return std::make_unique<Link>(*this);
  }

 private:
  struct Link : bplink::HidLink {
    explicit Link(FakeHid& hid) : hid(hid) { ++hid.live_links; }
    ~Link() override { --hid.live_links; }
    int Write(const std::uint8_t* report, std::size_t size) override {
      const bool fail = static_cast<int>(hid.written.size()) == hid.failing_write;
      hid.written.emplace_back(report, report + size);
      return fail ? static_cast<int>(size) - 1 : static_cast<int>(size);
    }
    int Read(std::uint8_t* buffer, std::size_t capacity, int timeout_ms) override {
      hid.read_timeouts.push_back(timeout_ms);
      if (hid.inbox.empty()) return hid.when_silent;
      const Bytes report = hid.inbox.front();
      hid.inbox.pop_front();
      const std::size_t n = std::min(report.size(), capacity);
      std::copy_n(report.begin(), n, buffer);
      return static_cast<int>(n);
    }
    Bytes ReportDescriptor() override { return hid.descriptor; }
    FakeHid& hid;
  };
};

class HidTransport : public ::testing::Test {
 protected:
  void SetUp() override { bplink::SetHidBackendForTesting(&fake); }
  void TearDown() override {
    bplink::SetHidBackendForTesting(nullptr);
    bplink::SetDefaultHidSelector({});
  }
  // The path Open(n) opened, or "" when it failed.
  std::string OpenedBy(CDevice_HID& hid, int n) {
    fake.opened.clear();
    const int ok = hid.Open(n);
    EXPECT_EQ(ok != 0, !fake.opened.empty());
    return ok != 0 ? fake.opened.back() : "";
  }
  FakeHid fake;
};

TEST_F(HidTransport, OpensTheNthDeviceTheSelectorMatches) {
  fake.attached = {{"kbd", 0x1111, 1, 0x0001, 6},
                   {"a", 0x1111, 1, 0xFF00, 1},
                   {"b", 0x2222, 7, 0xFFA0, 1},
                   {"c", 0x1111, 2, 0xFF01, 1}};
  CDevice_HID hid;
  EXPECT_EQ(OpenedBy(hid, 0), "a");  // the keyboard's standard page never matches
  EXPECT_EQ(OpenedBy(hid, 2), "c");
  EXPECT_EQ(OpenedBy(hid, 3), "");
  EXPECT_FALSE(hid.IsOpen());
  EXPECT_EQ(OpenedBy(hid, -1), "");

  hid.SetSelector({.vendor_id = 0x1111, .index = 1});
  EXPECT_EQ(OpenedBy(hid, 0), "c");
  EXPECT_EQ(OpenedBy(hid, 0), "c");
  EXPECT_EQ(fake.live_links, 1);  // opening again closed the first link
  hid.SetSelector({.vendor_id = 0x1111, .product_id = 2});
  EXPECT_EQ(OpenedBy(hid, 1), "");
  hid.SetSelector({.usage_page_min = 0x0001, .usage_page_max = 0x0001});
  EXPECT_EQ(OpenedBy(hid, 0), "kbd");
  EXPECT_EQ(hid.Open(L"/dev/hidraw0", DCB{}), 0);
}

TEST_F(HidTransport, TheProcessDefaultSelectsForNewObjects) {
  fake.attached.push_back({"b", 0x2222, 7, 0xFFA0, 1});
  CDevice_HID before;
  bplink::SetDefaultHidSelector({.vendor_id = 0x2222});
  CDevice_HID after;
  EXPECT_EQ(OpenedBy(after, 0), "b");
  EXPECT_EQ(OpenedBy(before, 0), "/dev/hidraw0");
}

TEST_F(HidTransport, WithoutADeviceNothingWaits) {
  CDevice_HID hid;
  BYTE buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(hid.SendData(buf, 4), 0);  // never opened
  fake.attached.clear();
  EXPECT_EQ(OpenedBy(hid, 0), "");
  fake.attached = {{"busy", 0x1111, 1, 0xFF00, 1}};
  fake.refuse_open = true;
  EXPECT_EQ(hid.Open(0), 0);
  EXPECT_EQ(hid.RecvData(buf, 4), 0);
  EXPECT_TRUE(fake.read_timeouts.empty());
  EXPECT_TRUE(fake.written.empty());
}

TEST_F(HidTransport, CloseIsSafeTwiceAndTheDestructorCloses) {
  {
    CDevice_HID hid;
    ASSERT_EQ(hid.Open(0), 1);
    EXPECT_EQ(hid.Close(), 1);
    EXPECT_EQ(hid.Close(), 1);
    EXPECT_EQ(fake.live_links, 0);
    ASSERT_EQ(hid.Open(0), 1);
  }
  EXPECT_EQ(fake.live_links, 0);
}

TEST_F(HidTransport, ACopyTakesTheSettingsButNotTheLink) {
  CDevice_HID hid;
  hid.SetRecvTimeout(250);
  hid.SetSelector({.vendor_id = 0x1111, .index = 0});
  ASSERT_EQ(hid.Open(0), 1);
  CDevice_HID copy(hid);
  EXPECT_FALSE(copy.IsOpen());
  EXPECT_EQ(copy.GetRecvTimeout(), 250u);
  EXPECT_EQ(copy.GetSelector().vendor_id, 0x1111);
  EXPECT_EQ(copy.GetBlockLen(), 64);
  copy.Close();
  BYTE frame[6] = {0x40};
  EXPECT_EQ(hid.SendData(frame, 6), 1);  // the original's link survived the copy's close

  CDevice_HID other;
  ASSERT_EQ(other.Open(0), 1);
  other = copy;
  EXPECT_FALSE(other.IsOpen());
  EXPECT_EQ(fake.live_links, 1);
}

TEST_F(HidTransport, TheReportLengthComesFromTheDescriptor) {
  const struct {
    const char* what;
    Bytes descriptor;
    int block_len;
  } cases[] = {
      {"64-byte reports", Descriptor(64, 64), 64},
      {"output shorter than input", Descriptor(64, 32), 32},
      {"no output reports", Descriptor(40, 0), 40},
      {"no descriptor", {}, CDevice_HID::kDefaultBlockLen},
      {"numbered reports", {0x85, 0x02, 0x75, 0x08, 0x95, 0x10, 0x91, 0x02}, CDevice_HID::kDefaultBlockLen},
      {"cut off inside an item", {0x75, 0x08, 0x96, 0x20}, CDevice_HID::kDefaultBlockLen},
      {"pop without push", {0xB4, 0x75, 0x08, 0x95, 0x10, 0x91, 0x02}, CDevice_HID::kDefaultBlockLen},
      {"absurd count", {0x75, 0x08, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x91, 0x02}, CDevice_HID::kDefaultBlockLen},
      {"pop restores size and count",
       {0x75, 0x08, 0x95, 0x20, 0xA4, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0xB4, 0x91, 0x02}, 32},
      {"long item skipped", {0x75, 0x08, 0x95, 0x10, 0xFE, 0x02, 0x10, 0x91, 0x02, 0x91, 0x02}, 16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fake.descriptor = c.descriptor;
    CDevice_HID hid;
    ASSERT_EQ(hid.Open(0), 1);
    EXPECT_EQ(hid.GetBlockLen(), c.block_len);
  }
}

TEST_F(HidTransport, SendCutsAFrameIntoZeroPaddedReports) {
  CDevice_HID hid;
  ASSERT_EQ(hid.Open(0), 1);
  Bytes plan = Counting(82);
  ASSERT_EQ(hid.SendData(plan.data(), 82), 1);
  ASSERT_EQ(fake.written.size(), 2u);
  Bytes first{0x00}, second{0x00};
  first.insert(first.end(), plan.begin(), plan.begin() + 64);
  second.insert(second.end(), plan.begin() + 64, plan.end());
  second.resize(65, 0x00);
  EXPECT_EQ(fake.written[0], first);
  EXPECT_EQ(fake.written[1], second);

  fake.written.clear();
  ASSERT_EQ(hid.SendData(plan.data(), 64), 1);  // exactly one report: no empty one after it
  EXPECT_EQ(fake.written.size(), 1u);
}

TEST_F(HidTransport, SendFailsWhenAReportIsNotTakenWhole) {
  CDevice_HID hid;
  ASSERT_EQ(hid.Open(0), 1);
  fake.failing_write = 0;
  Bytes frame = Counting(130);
  EXPECT_EQ(hid.SendData(frame.data(), 130), 0);
  EXPECT_EQ(fake.written.size(), 1u);  // nothing more after the failed report
  EXPECT_EQ(hid.SendData(nullptr, 6), 0);
}

TEST_F(HidTransport, EachReceiveStartsAtAReportAndDropsThePadding) {
  Bytes ack = {0x4A, 0x43, 0x01, 0x00};
  ack.resize(64, 0xEE);  // anything after the frame is padding, whatever its value
  const Bytes plan = Counting(82);
  Bytes second_part(plan.begin() + 64, plan.end());
  second_part.resize(64, 0xEE);
  fake.inbox = {ack, Bytes(plan.begin(), plan.begin() + 64), second_part};
  CDevice_HID hid;
  ASSERT_EQ(hid.Open(0), 1);
  Bytes got(4);
  ASSERT_EQ(hid.RecvData(got.data(), 4), 1);
  EXPECT_EQ(got, (Bytes{0x4A, 0x43, 0x01, 0x00}));
  got.assign(82, 0);
  ASSERT_EQ(hid.RecvData(got.data(), 82), 1);
  EXPECT_EQ(got, plan);
  EXPECT_TRUE(fake.inbox.empty());
}

TEST_F(HidTransport, ReceiveGathersShortAndLongReports) {
  fake.descriptor = Descriptor(128, 64);
  fake.inbox = {Counting(5, 1), Counting(5, 6), Counting(5, 11), Counting(128)};
  CDevice_HID hid;
  ASSERT_EQ(hid.Open(0), 1);
  Bytes got(12);
  ASSERT_EQ(hid.RecvData(got.data(), 12), 1);
  EXPECT_EQ(got, Counting(12));
  got.assign(100, 0);
  ASSERT_EQ(hid.RecvData(got.data(), 100), 1);  // an input report longer than the output length
  EXPECT_EQ(got, Counting(100));
  EXPECT_EQ(fake.read_timeouts.size(), 4u);
}

TEST_F(HidTransport, ReceiveFailsOnTimeOutOrErrorWithinTheTimeOut) {
  CDevice_HID hid;
  ASSERT_EQ(hid.Open(0), 1);
  BYTE buf[82];
  EXPECT_EQ(hid.RecvData(buf, 7), 0);
  fake.inbox = {Counting(64)};
  EXPECT_EQ(hid.RecvData(buf, 82), 0);  // the second half of the frame never came
  fake.when_silent = -1;
  EXPECT_EQ(hid.RecvData(buf, 4), 0);
  hid.SetRecvTimeout(UINT_MAX);
  EXPECT_EQ(hid.RecvData(buf, 4), 0);
  EXPECT_EQ(fake.read_timeouts, (std::vector<int>{2000, 2000, 2000, 2000, INT_MAX}));
  EXPECT_EQ(hid.RecvData(nullptr, 4), 0);
}

// The real hidapi backend, on whatever this machine has attached.

TEST(HidapiBackend, ASelectorNothingMatchesFailsAtOnce) {
  CDevice_HID hid;
  hid.SetSelector({.vendor_id = 0xFFFF, .product_id = 0xFFFF, .usage_page_min = 0xFFFF, .usage_page_max = 0xFFFF});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(hid.Open(0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(CDevice_HID::kDefaultRecvTimeoutMs));
}

TEST(HidapiBackend, AnAttachedMonitorAnswersTheDeviceInformationCommand) {
  CDevice_HID hid;
  if (hid.Open(0) == 0) GTEST_SKIP() << "no HID device with a vendor-defined usage page is attached";
  EXPECT_GT(hid.GetBlockLen(), 0);
  if (std::getenv("BPLINK_TEST_HID_MONITOR") == nullptr) {
    GTEST_SKIP() << "a vendor-defined HID device is attached; set BPLINK_TEST_HID_MONITOR=1 if it is a monitor";
  }
  BYTE info_request[] = {0x40, 0x8F, 0xFF, 0xFE, 0xFD, 0xFC};
  constexpr BYTE kInfoReply = 0x41;
  BYTE reply[7] = {};
  ASSERT_EQ(hid.SendData(info_request, sizeof info_request), 1);
  ASSERT_EQ(hid.RecvData(reply, sizeof reply), 1);
  EXPECT_EQ(reply[0], kInfoReply);
  EXPECT_EQ(hid.Close(), 1);
  EXPECT_EQ(hid.Close(), 1);
}

}  // namespace
