// bplink-hid-id: tells udev whether a hidraw node is a HID monitor bplink
// talks to, from the node's report descriptor, as systemd's fido_id does for
// security tokens.
//
// The library picks a HID monitor by the usage page of its top-level
// collection: a vendor-defined page (bplink::HidSelector's default range),
// which no keyboard, mouse or other standard device uses. USB ids cannot say
// it, and udev's rules cannot read a descriptor, so 60-bplink.rules runs this
// program on every hidraw node (IMPORT{program}) and gives the seat user the
// node it marks. It marks a node whose top-level collections are all
// vendor-defined: one that also carries a keyboard, mouse or any other
// standard collection is left alone, since its raw reports would show the
// seat user every key typed on it.
//
//   bplink-hid-id [DEVPATH]           the node's sysfs path as udev gives it
//                                     ($DEVPATH when not given)
//   bplink-hid-id --descriptor FILE   a report descriptor read from a file
//
// Prints ID_BPLINK_HID=1 and ID_BPLINK_HID_USAGE_PAGE=xxxx for a node it
// marks, nothing for one it does not; exit status 0 either way, 1 when the
// descriptor cannot be read or parsed (the reason goes to stderr, which udev
// logs), 2 for a bad command line.

#include <bplink/device.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

// HID report descriptor items (Device Class Definition for HID 1.11, 6.2.2).
constexpr std::uint8_t kItemSizeMask = 0x03;
constexpr std::uint8_t kItemSizeCodeFourBytes = 0x03;
constexpr std::uint8_t kItemTagMask = 0xFC;    // tag and type, without the size
constexpr std::uint8_t kLongItem = 0xFE;       // followed by a data size byte and a tag byte
constexpr std::size_t kLongItemHeaderLen = 3;
constexpr std::uint8_t kItemCollection = 0xA0;
constexpr std::uint8_t kItemEndCollection = 0xC0;
constexpr std::uint8_t kItemUsagePage = 0x04;
constexpr std::uint8_t kItemUsage = 0x08;
constexpr std::uint8_t kItemPush = 0xA4;
constexpr std::uint8_t kItemPop = 0xB4;
constexpr std::uint8_t kItemTypeMask = 0x0C;
constexpr std::uint8_t kItemTypeMain = 0x00;
constexpr std::uint64_t kCollectionApplication = 0x01;
constexpr int kBitsPerByte = 8;
// A Usage item of four bytes names its page in the upper half.
constexpr unsigned kExtendedUsagePageShift = 16;
// The kernel's limit (HID_MAX_DESCRIPTOR_SIZE).
constexpr std::size_t kMaxDescriptor = 4096;

enum ExitStatus { kExitOk = 0, kExitCannotRead = 1, kExitUsage = 2 };

struct Descriptor {
  std::vector<std::uint16_t> topLevelPages;  // the usage page of each top-level collection, in order
  std::string error;                         // why it could not be parsed; empty when it could
};

// The usage pages of the top-level (application) collections.
Descriptor TopLevelPages(const std::vector<std::uint8_t>& d) {
  Descriptor out;
  std::uint16_t usagePage = 0;
  std::vector<std::uint16_t> pushed;
  // The first local usage since the last main item (a bool beside it, not an
  // optional: GCC 12 takes an optional's value for uninitialised here).
  bool haveUsage = false;
  std::uint32_t usage = 0;
  int depth = 0;
  for (std::size_t i = 0; i < d.size();) {
    const std::uint8_t prefix = d[i];
    if (prefix == kLongItem) {
      if (i + 1 >= d.size()) return {{}, "a long item is cut off at byte " + std::to_string(i)};
      i += kLongItemHeaderLen + d[i + 1];
      continue;
    }
    const std::uint8_t sizeCode = prefix & kItemSizeMask;
    const std::size_t length = sizeCode == kItemSizeCodeFourBytes ? 4 : sizeCode;
    if (d.size() - i - 1 < length) return {{}, "an item is cut off at byte " + std::to_string(i)};
    std::uint32_t value = 0;  // little-endian
    for (std::size_t k = 0; k < length; ++k) value |= std::uint32_t{d[i + 1 + k]} << (kBitsPerByte * k);
    i += 1 + length;

    switch (static_cast<std::uint8_t>(prefix & kItemTagMask)) {
      case kItemUsagePage: usagePage = static_cast<std::uint16_t>(value); break;
      case kItemUsage:
        if (!haveUsage) usage = length == 4 ? value : (std::uint32_t{usagePage} << kExtendedUsagePageShift) | value;
        haveUsage = true;
        break;
      case kItemPush: pushed.push_back(usagePage); break;
      case kItemPop:
        if (pushed.empty()) return {{}, "a Pop without a Push"};
        usagePage = pushed.back();
        pushed.pop_back();
        break;
      case kItemCollection:
        if (depth == 0 && value == kCollectionApplication) {
          const std::uint32_t named = haveUsage ? usage : std::uint32_t{usagePage} << kExtendedUsagePageShift;
          out.topLevelPages.push_back(static_cast<std::uint16_t>(named >> kExtendedUsagePageShift));
        }
        ++depth;
        break;
      case kItemEndCollection:
        if (depth == 0) return {{}, "an End Collection without a Collection"};
        --depth;
        break;
      default: break;
    }
    if ((prefix & kItemTypeMask) == kItemTypeMain) haveUsage = false;  // local items end with each main item
  }
  return out;
}

bool VendorDefined(std::uint16_t page) {
  return page >= bplink::HidSelector::kVendorUsagePageFirst && page <= bplink::HidSelector::kVendorUsagePageLast;
}

std::optional<std::vector<std::uint8_t>> ReadFile(const std::string& path, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() > kMaxDescriptor) {
    why = "longer than a report descriptor can be (" + std::to_string(bytes.size()) + " bytes)";
    return std::nullopt;
  }
  return bytes;
}

int Usage() {
  std::fputs("usage: bplink-hid-id [DEVPATH]\n"
             "       bplink-hid-id --descriptor FILE\n"
             "Prints ID_BPLINK_HID=1 for a hidraw node whose top-level collections are all\n"
             "vendor-defined (the HID monitors bplink talks to); run by 60-bplink.rules.\n",
             stderr);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  if (argc == 3 && std::strcmp(argv[1], "--descriptor") == 0) {
    path = argv[2];
  } else if (argc == 2 && argv[1][0] != '-') {
    path = std::string("/sys") + argv[1] + "/device/report_descriptor";
  } else if (argc == 1 && std::getenv("DEVPATH") != nullptr) {
    path = std::string("/sys") + std::getenv("DEVPATH") + "/device/report_descriptor";
  } else {
    return Usage();
  }

  std::string why;
  const auto bytes = ReadFile(path, why);
  if (!bytes) {
    std::fprintf(stderr, "bplink-hid-id: cannot read %s: %s\n", path.c_str(), why.c_str());
    return kExitCannotRead;
  }
  const Descriptor descriptor = TopLevelPages(*bytes);
  if (!descriptor.error.empty()) {
    std::fprintf(stderr, "bplink-hid-id: %s: not a report descriptor: %s\n", path.c_str(), descriptor.error.c_str());
    return kExitCannotRead;
  }
  const auto& pages = descriptor.topLevelPages;
  bool allVendor = !pages.empty();
  for (std::uint16_t page : pages) allVendor = allVendor && VendorDefined(page);
  if (allVendor) std::printf("ID_BPLINK_HID=1\nID_BPLINK_HID_USAGE_PAGE=%04x\n", pages.front());
  return kExitOk;
}
