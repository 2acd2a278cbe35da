// CDevice_HID: which device Open means, and how frames ride in reports.
//
// The platform's HID calls sit behind HidBackend (hid_backend.h). Everything
// above them is here: the device search, the report length read from the
// report descriptor, and the framing rules set out in device.h.

#include <bplink/device.h>

#include "transport/hid_backend.h"
#include "transport/link_error.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <mutex>
#include <string>

namespace bplink {
namespace {

std::mutex g_selector_mutex;
HidSelector g_default_selector;
std::atomic<HidBackend*> g_test_backend{nullptr};

}  // namespace

HidSelector DefaultHidSelector() {
  try {
    const std::lock_guard<std::mutex> lock(g_selector_mutex);
    return g_default_selector;
  } catch (...) {
    return HidSelector{};
  }
}

void SetDefaultHidSelector(const HidSelector& selector) {
  try {
    const std::lock_guard<std::mutex> lock(g_selector_mutex);
    g_default_selector = selector;
  } catch (...) {
  }
}

HidBackend& CurrentHidBackend() {
  HidBackend* backend = g_test_backend.load(std::memory_order_acquire);
  return backend != nullptr ? *backend : HidapiBackend();
}

void SetHidBackendForTesting(HidBackend* backend) { g_test_backend.store(backend, std::memory_order_release); }

namespace {

// hidapi puts the report id in front of every output report; these devices
// number no reports, so it is always 0.
constexpr std::size_t kReportIdLen = 1;
constexpr BYTE kUnnumberedReportId = 0;

// Report descriptor items read here, as prefix bytes with the size bits cleared.
constexpr std::uint8_t kItemSizeMask = 0x03;
constexpr std::uint8_t kItemSizeCodeFourBytes = 0x03;  // size code 3 means 4 data bytes
constexpr std::size_t kFourBytes = 4;
constexpr std::uint8_t kItemInput = 0x80;
constexpr std::uint8_t kItemOutput = 0x90;
constexpr std::uint8_t kItemReportSize = 0x74;
constexpr std::uint8_t kItemReportId = 0x84;
constexpr std::uint8_t kItemReportCount = 0x94;
constexpr std::uint8_t kItemPush = 0xA4;
constexpr std::uint8_t kItemPop = 0xB4;
constexpr std::uint8_t kLongItem = 0xFE;     // followed by a data size byte and a tag byte
constexpr std::size_t kLongItemHeaderLen = 3;
// No report of these devices comes near this; a descriptor claiming more is damaged.
constexpr std::uint64_t kMaxReportBits = 8 * 4096;
constexpr std::uint64_t kBitsPerByte = 8;

struct ReportLengths {
  std::size_t input = 0;
  std::size_t output = 0;
};

// The input and output report lengths of a device with unnumbered reports.
// Zeros when the descriptor numbers its reports or cannot be trusted, so the
// caller falls back to the default length.
ReportLengths MeasureReports(const std::vector<std::uint8_t>& d) {
  struct Globals {
    std::uint64_t report_size = 0;
    std::uint64_t report_count = 0;
  };
  Globals globals;
  std::vector<Globals> pushed;
  std::uint64_t input_bits = 0;
  std::uint64_t output_bits = 0;
  for (std::size_t i = 0; i < d.size();) {
    const std::uint8_t prefix = d[i];
    if (prefix == kLongItem) {  // vendor long items carry nothing about report sizes
      if (i + 1 >= d.size()) return {};
      i += kLongItemHeaderLen + d[i + 1];
      continue;
    }
    const std::uint8_t size_code = prefix & kItemSizeMask;
    const std::size_t data_len = size_code == kItemSizeCodeFourBytes ? kFourBytes : size_code;
    if (d.size() - i - 1 < data_len) return {};
    std::uint64_t value = 0;  // item data is little-endian; sizes and counts are unsigned
    for (std::size_t k = 0; k < data_len; ++k) value |= std::uint64_t{d[i + 1 + k]} << (kBitsPerByte * k);
    i += 1 + data_len;

    switch (static_cast<std::uint8_t>(prefix & ~kItemSizeMask)) {
      case kItemReportSize: globals.report_size = value; break;
      case kItemReportCount: globals.report_count = value; break;
      case kItemReportId: return {};
      case kItemPush: pushed.push_back(globals); break;
      case kItemPop:
        if (pushed.empty()) return {};
        globals = pushed.back();
        pushed.pop_back();
        break;
      case kItemInput: input_bits += globals.report_size * globals.report_count; break;
      case kItemOutput: output_bits += globals.report_size * globals.report_count; break;
      default: break;
    }
    if (input_bits > kMaxReportBits || output_bits > kMaxReportBits) return {};
  }
  return {(input_bits + kBitsPerByte - 1) / kBitsPerByte, (output_bits + kBitsPerByte - 1) / kBitsPerByte};
}

// Frames are cut into output reports; a device that declares none (it only
// talks back) gets reports of its input length.
std::size_t BlockLength(const ReportLengths& lengths) {
  if (lengths.output > 0) return lengths.output;
  if (lengths.input > 0) return lengths.input;
  return CDevice_HID::kDefaultBlockLen;
}

std::string NotAttached(std::size_t matching, std::size_t wanted) {
  if (matching == 0) return "no matching HID device is attached";
  return std::to_string(matching) + " matching HID device" + (matching == 1 ? " is" : "s are") +
         " attached; match " + std::to_string(wanted) + " (counting from 0) was asked for";
}

bool Matches(const HidSelector& s, const HidDeviceInfo& d) {
  return (s.vendor_id == HidSelector::kAny || d.vendor_id == s.vendor_id) &&
         (s.product_id == HidSelector::kAny || d.product_id == s.product_id) &&
         d.usage_page >= s.usage_page_min && d.usage_page <= s.usage_page_max;
}

}  // namespace

// What CHID::m_hDevice points at while a device is open.
struct HidConnection {
  std::unique_ptr<HidLink> link;
  std::size_t block_len = 0;
  std::vector<BYTE> report;  // one report with its id byte; room for the longer of input and output
};

}  // namespace bplink

using bplink::HidConnection;

namespace {

using bplink::LinkError;
using bplink::LinkErrorKind;

HidConnection* Connection(const CHID& hid) { return static_cast<HidConnection*>(hid.m_hDevice); }

int NotOpen(LinkError& why) {
  bplink::SetLinkError(why, LinkErrorKind::kNotOpen, 0, "the HID device is not open");
  return 0;
}

int NoBuffer(LinkError& why) {
  bplink::SetLinkError(why, LinkErrorKind::kOther, 0, "no buffer for the bytes");
  return 0;
}

// A Write or Read that hidapi failed: in its words where it has some.
int LinkFailed(HidConnection& c, LinkError& why) {
  std::string text = c.link->ErrorText();
  bplink::SetLinkError(why, LinkErrorKind::kLinkLost, 0, text.empty() ? "the HID device failed" : text);
  return 0;
}

}  // namespace

CHID::CHID(const CHID&) = default;
CHID& CHID::operator=(const CHID&) = default;
CHID::~CHID() = default;

CDevice_HID::CDevice_HID() : m_Selector(bplink::DefaultHidSelector()) {}

// A copy takes the settings of the device it copies, not its open link:
// two objects closing one link would leave one of them dangling.
CDevice_HID::CDevice_HID(const CDevice_HID& other)
    : CDevice(other), m_Selector(other.m_Selector), m_nRecvTimeoutMs(other.m_nRecvTimeoutMs) {
  m_HID.m_nBlockLen = other.m_HID.m_nBlockLen;
}

CDevice_HID& CDevice_HID::operator=(const CDevice_HID& other) {
  if (this != &other) {
    Close();
    CDevice::operator=(other);
    m_HID.m_nBlockLen = other.m_HID.m_nBlockLen;
    m_Selector = other.m_Selector;
    m_nRecvTimeoutMs = other.m_nRecvTimeoutMs;
  }
  return *this;
}

CDevice_HID::~CDevice_HID() { Close(); }

int CDevice_HID::Open(CString, DCB) {
  bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "a HID device is opened by number, not by path");
  return 0;
}

int CDevice_HID::Open(int nDevice) {
  try {
    Close();
    bplink::ClearLinkError(m_LastError);
    if (nDevice < 0 || m_Selector.index < 0) {
      bplink::SetLinkError(m_LastError, LinkErrorKind::kNoDevice, 0, "no HID device has a negative number");
      return 0;
    }
    const std::size_t wanted = static_cast<std::size_t>(m_Selector.index) + static_cast<std::size_t>(nDevice);
    bplink::HidBackend& backend = bplink::CurrentHidBackend();

    std::vector<bplink::HidDeviceInfo> found = backend.Enumerate(m_Selector.vendor_id, m_Selector.product_id);
    std::erase_if(found, [this](const bplink::HidDeviceInfo& d) { return !bplink::Matches(m_Selector, d); });
    if (wanted >= found.size()) {
      bplink::SetLinkError(m_LastError, LinkErrorKind::kNoDevice, 0, bplink::NotAttached(found.size(), wanted));
      return 0;
    }

    auto connection = std::make_unique<HidConnection>();
    connection->link = backend.Open(found[wanted], m_LastError);
    if (connection->link == nullptr) {
      if (m_LastError.kind == LinkErrorKind::kNone)
        bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "the HID device cannot be opened");
      return 0;
    }
    const bplink::ReportLengths lengths = bplink::MeasureReports(connection->link->ReportDescriptor());
    connection->block_len = bplink::BlockLength(lengths);
    connection->report.resize(bplink::kReportIdLen + std::max(connection->block_len, lengths.input));

    m_HID.m_nBlockLen = static_cast<int>(connection->block_len);
    m_HID.m_hDevice = connection.release();
    return 1;
  } catch (...) {
    bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "the HID device cannot be opened");
    return 0;
  }
}

int CDevice_HID::Close() {
  delete Connection(m_HID);
  m_HID.m_hDevice = nullptr;
  return 1;
}

int CDevice_HID::SendData(BYTE* pBuffer, DWORD dwLen) {
  try {
    bplink::ClearLinkError(m_LastError);
    HidConnection* c = Connection(m_HID);
    if (c == nullptr) return NotOpen(m_LastError);
    if (pBuffer == nullptr && dwLen > 0) return NoBuffer(m_LastError);
    const std::size_t report_len = bplink::kReportIdLen + c->block_len;
    for (std::size_t sent = 0; sent < dwLen;) {
      const std::size_t chunk = std::min<std::size_t>(c->block_len, dwLen - sent);
      std::fill_n(c->report.begin(), report_len, BYTE{0});  // the last report goes out zero-padded
      c->report[0] = bplink::kUnnumberedReportId;
      std::copy_n(pBuffer + sent, chunk, c->report.begin() + bplink::kReportIdLen);
      const int written = c->link->Write(c->report.data(), report_len);
      if (written < 0) return LinkFailed(*c, m_LastError);
      if (written < static_cast<int>(report_len)) {
        bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0,
                             "the device took " + std::to_string(written) + " of a report's " +
                                 std::to_string(report_len) + " bytes");
        return 0;
      }
      sent += chunk;
    }
    return 1;
  } catch (...) {
    bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "the send failed");
    return 0;
  }
}

int CDevice_HID::RecvData(BYTE* pBuffer, DWORD dwLen) {
  try {
    bplink::ClearLinkError(m_LastError);
    HidConnection* c = Connection(m_HID);
    if (c == nullptr) return NotOpen(m_LastError);
    if (pBuffer == nullptr && dwLen > 0) return NoBuffer(m_LastError);
    const int timeout_ms = static_cast<int>(std::min<unsigned>(m_nRecvTimeoutMs, INT_MAX));
    for (std::size_t got = 0; got < dwLen;) {
      const int n = c->link->Read(c->report.data(), c->report.size(), timeout_ms);
      if (n < 0) return LinkFailed(*c, m_LastError);  // the device is gone, typically
      if (n == 0) {
        bplink::SetTimedOut(m_LastError, got, dwLen, m_nRecvTimeoutMs);
        return 0;
      }
      const std::size_t take = std::min({static_cast<std::size_t>(n), c->report.size(), dwLen - got});
      std::copy_n(c->report.begin(), take, pBuffer + got);
      got += take;  // whatever the report holds beyond this frame is its padding
    }
    return 1;
  } catch (...) {
    bplink::SetLinkError(m_LastError, LinkErrorKind::kOther, 0, "the receive failed");
    return 0;
  }
}
