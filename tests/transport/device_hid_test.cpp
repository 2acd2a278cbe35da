// CDevice_HID over a fake HID backend: which device it opens, the report
// length it takes from the descriptor, and how frames map onto reports.
// The last tests use the real hidapi backend.

#include <bplink/device.h>
#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <numeric>

#include "real_time.h"
#include "transport/hid_backend.h"
#include "transport/link_error.h"

namespace {

using bplink::LinkErrorKind;
using Bytes = std::vector<std::uint8_t>;

// A vendor-defined collection with one input and one output report of these lengths (< 256).
Bytes Descriptor(std::uint8_t input_len, std::uint8_t output_len) {
  return {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08,
          0x95, input_len, 0x81, 0x02, 0x95, output_len, 0x91, 0x02, 0xC0};
}

Bytes Counting(std::size_t n, std::uint8_t first = 1) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), first);
  return b;
}

struct FakeHid : bplink::HidBackend {
  std::vector<bplink::HidDeviceInfo> attached{{"hidraw0", 0x1111, 1, 0xFF00, 1}};
  Bytes descriptor = Descriptor(64, 64);
  std::deque<Bytes> inbox;    // input reports, in the order the device sends them
  int when_silent = 0;        // what a read gives once the inbox is empty: 0 time-out, -1 error
  bplink::LinkError refusal;  // why Open fails, when it does
  int short_write = -1;       // index of the write the device takes only in part
  std::vector<Bytes> written;
  std::vector<int> read_timeouts;
  std::string opened;
  int live_links = 0;

  struct Link : bplink::HidLink {
    explicit Link(FakeHid& hid) : hid(hid) { ++hid.live_links; }
    ~Link() override { --hid.live_links; }
    int Write(const std::uint8_t* report, std::size_t size) override {
      hid.written.emplace_back(report, report + size);
      return static_cast<int>(size) - (static_cast<int>(hid.written.size()) == hid.short_write + 1 ? 1 : 0);
    }
    int Read(std::uint8_t* buffer, std::size_t capacity, int timeout_ms) override {
      hid.read_timeouts.push_back(timeout_ms);
      if (hid.inbox.empty()) return hid.when_silent;
      const std::size_t n = std::min(hid.inbox.front().size(), capacity);
      std::copy_n(hid.inbox.front().begin(), n, buffer);
      hid.inbox.pop_front();
      return static_cast<int>(n);
    }
    Bytes ReportDescriptor() override { return hid.descriptor; }
    std::string ErrorText() override { return "device gone"; }
    FakeHid& hid;
  };
  std::vector<bplink::HidDeviceInfo> Enumerate(std::uint16_t, std::uint16_t) override { return attached; }
  std::unique_ptr<bplink::HidLink> Open(const bplink::HidDeviceInfo& device, bplink::LinkError& why) override {
    opened = device.path;
    why = refusal;
    return refusal.kind == LinkErrorKind::kNone ? std::make_unique<Link>(*this) : nullptr;
  }
};

class HidTransport : public ::testing::Test {
 protected:
  void SetUp() override { bplink::SetHidBackendForTesting(&fake); }
  void TearDown() override {
    bplink::SetHidBackendForTesting(nullptr);
    bplink::SetDefaultHidSelector({});
  }
  // The device opened, or why none was.
  std::string OpenedBy(CDevice_HID& hid, int n) {
    return hid.Open(n) != 0 ? fake.opened : "(none: " + hid.GetLastLinkError().text + ")";
  }
  FakeHid fake;
};

TEST_F(HidTransport, OpensTheNthMatchOrSaysWhyNot) {
  fake.attached = {{"kbd", 0x1111, 1, 0x0001, 6}, {"a", 0x1111, 1, 0xFF00, 1},
                   {"b", 0x2222, 7, 0xFFA0, 1}, {"c", 0x1111, 2, 0xFF01, 1}};
  CDevice_HID hid;
  EXPECT_EQ(OpenedBy(hid, 0), "a");  // a keyboard's standard usage page never matches
  EXPECT_EQ(OpenedBy(hid, 2), "c");
  EXPECT_EQ(OpenedBy(hid, 3), "(none: 3 matching HID devices are attached; match 3 (counting from 0) was asked for)");
  EXPECT_EQ(hid.GetLastLinkError().kind, LinkErrorKind::kNoDevice);
  hid.SetSelector({.vendor_id = 0x1111, .index = 1});
  EXPECT_EQ(OpenedBy(hid, 0), "c");
  hid.SetSelector({.product_id = 2});
  EXPECT_EQ(OpenedBy(hid, 0), "c");
  fake.refusal = {LinkErrorKind::kPermissionDenied, 13, "failed to open: permission denied"};
  EXPECT_EQ(OpenedBy(hid, 0), "(none: failed to open: permission denied)");
  EXPECT_EQ(hid.GetLastLinkError().kind, LinkErrorKind::kPermissionDenied);
  fake.refusal = {};
  bplink::SetDefaultHidSelector({.usage_page_min = 0x0001, .usage_page_max = 0x0001});
  CDevice_HID later;
  EXPECT_EQ(OpenedBy(later, 0), "kbd");

  fake.attached.clear();
  BYTE buf[4] = {};
  EXPECT_EQ(OpenedBy(later, 0), "(none: no matching HID device is attached)");
  EXPECT_EQ(later.RecvData(buf, 4), 0);
  EXPECT_EQ(later.GetLastLinkError().kind, LinkErrorKind::kNotOpen);
  EXPECT_TRUE(fake.read_timeouts.empty());  // nothing waited for a device that is not there
}

TEST_F(HidTransport, ClosesOnceAndCopiesOnlySettings) {
  auto hid = std::make_unique<CDevice_HID>();
  hid->SetRecvTimeout(250);
  ASSERT_EQ(hid->Open(0), 1);
  ASSERT_EQ(hid->Open(0), 1);  // reopening lets go of the first link
  CDevice_HID copy(*hid);
  EXPECT_FALSE(copy.IsOpen());
  EXPECT_EQ(copy.GetRecvTimeout(), 250u);
  EXPECT_EQ(fake.live_links, 1);
  EXPECT_EQ(copy.Open(0), 1);
  copy = CDevice_HID();  // assignment closes the assigned-to link
  EXPECT_EQ(fake.live_links, 1);
  hid.reset();
  EXPECT_EQ(fake.live_links, 0);
  EXPECT_EQ(copy.Close() + copy.Close(), 2);
}

TEST_F(HidTransport, TheReportLengthComesFromTheDescriptor) {
  const int fallback = CDevice_HID::kDefaultBlockLen;
  const std::pair<Bytes, int> cases[] = {
      {Descriptor(64, 32), 32},  // frames are cut to the output length
      {Descriptor(40, 0), 40},   // a device that only talks back
      {{}, fallback},
      {{0x85, 0x02, 0x75, 0x08, 0x95, 0x10, 0x91, 0x02}, fallback},              // numbered reports
      {{0x75, 0x08, 0x96, 0x20}, fallback},                                      // cut off inside an item
      {{0x75, 0x08, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x91, 0x02}, fallback},        // absurd count
      {{0x75, 0x08, 0x95, 0x20, 0xA4, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0xB4, 0x91, 0x02}, 32},  // push, pop
      {{0x75, 0x08, 0x95, 0x10, 0xFE, 0x02, 0x10, 0x91, 0x02, 0x91, 0x02}, 16},  // long item skipped whole
  };
  for (const auto& [descriptor, block_len] : cases) {
    fake.descriptor = descriptor;
    CDevice_HID hid;
    ASSERT_EQ(hid.Open(0), 1);
    EXPECT_EQ(hid.GetBlockLen(), block_len) << ::testing::PrintToString(descriptor);
  }
}

TEST_F(HidTransport, SendCutsAFrameIntoZeroPaddedReports) {
  CDevice_HID hid;
  ASSERT_EQ(hid.Open(0), 1);
  Bytes plan = Counting(82);
  ASSERT_EQ(hid.SendData(plan.data(), 82), 1);
  Bytes first{0x00}, second{0x00};  // report id 0, then the report
  first.insert(first.end(), plan.begin(), plan.begin() + 64);
  second.insert(second.end(), plan.begin() + 64, plan.end());
  second.resize(65, 0x00);
  EXPECT_EQ(fake.written, (std::vector<Bytes>{first, second}));
  ASSERT_EQ(hid.SendData(plan.data(), 64), 1);  // no empty report after a full one
  EXPECT_EQ(fake.written.size(), 3u);
  fake.short_write = 3;
  EXPECT_EQ(hid.SendData(plan.data(), 82), 0);
  EXPECT_EQ(hid.GetLastLinkError().text, "the device took 64 of a report's 65 bytes");
}

TEST_F(HidTransport, EachReceiveStartsAtAReportAndDropsThePadding) {
  fake.descriptor = Descriptor(128, 64);
  Bytes ack = {0x4A, 0x43, 0x01, 0x00};
  ack.resize(64, 0xEE);  // whatever follows a frame in its report is padding
  fake.inbox = {ack, Counting(5, 1), Counting(5, 6), Counting(5, 11), Counting(128), Counting(64)};
  CDevice_HID hid;
  ASSERT_EQ(hid.Open(0), 1);
  Bytes got(4);
  ASSERT_EQ(hid.RecvData(got.data(), 4), 1);
  EXPECT_EQ(got, (Bytes{0x4A, 0x43, 0x01, 0x00}));
  got.assign(12, 0);
  ASSERT_EQ(hid.RecvData(got.data(), 12), 1);  // gathered over short reports
  EXPECT_EQ(got, Counting(12));
  got.assign(100, 0);
  ASSERT_EQ(hid.RecvData(got.data(), 100), 1);  // an input report longer than the output length
  EXPECT_EQ(got, Counting(100));

  got.resize(82);
  EXPECT_EQ(hid.RecvData(got.data(), 82), 0);  // the second half of the frame never came
  EXPECT_EQ(hid.GetLastLinkError().text, "timed out: 64 of 82 bytes within 2000 ms");
  fake.when_silent = -1;
  hid.SetRecvTimeout(UINT_MAX);
  EXPECT_EQ(hid.RecvData(got.data(), 4), 0);
  EXPECT_EQ(hid.GetLastLinkError().kind, LinkErrorKind::kLinkLost);
  EXPECT_EQ(hid.GetLastLinkError().text, "device gone");
  EXPECT_EQ(fake.read_timeouts, (std::vector<int>{2000, 2000, 2000, 2000, 2000, 2000, 2000, INT_MAX}));
}

// The words the transports build their reasons from.
TEST(LinkErrorWording, SystemTextsReadAsPartOfASentence) {
  EXPECT_EQ(bplink::TidyOsWording(" The system cannot find the file specified.\r\n"),
            "the system cannot find the file specified");
  EXPECT_EQ(bplink::TidyOsWording("I/O error"), "I/O error");
  EXPECT_EQ(bplink::Utf8(L"M\u00FCller \u20AC\U0001D11E"), "M\xC3\xBCller \xE2\x82\xAC\xF0\x9D\x84\x9E");
  // A lone surrogate, or (where a wchar_t holds one) a value beyond the last
  // code point: the replacement character.
  EXPECT_EQ(bplink::Utf8(std::wstring{wchar_t(0xD800)}), "\xEF\xBF\xBD");
  const std::uint32_t beyond = 0x110000;
  if (sizeof(wchar_t) == 4) {
    EXPECT_EQ(bplink::Utf8(std::wstring{static_cast<wchar_t>(beyond)}), "\xEF\xBF\xBD");
  }
}

// The real hidapi backend: a selector nothing on this machine matches fails
// at once and says so.
TEST(HidapiBackend, FailsAtOnceOnNoMatch) {
  CDevice_HID none;
  none.SetSelector({.vendor_id = 0xFFFF, .product_id = 0xFFFF, .usage_page_min = 0xFFFF, .usage_page_max = 0xFFFF});
  const bplink::testing::Stopwatch clock;
  EXPECT_EQ(none.Open(0), 0);
  EXPECT_LT(clock.ElapsedMs(), static_cast<long long>(CDevice_HID::kDefaultRecvTimeoutMs));
  EXPECT_EQ(none.GetLastLinkError().kind, LinkErrorKind::kNoDevice);
}

}  // namespace
