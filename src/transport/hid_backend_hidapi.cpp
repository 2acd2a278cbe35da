// The HID backend on hidapi: hidraw on Linux, the HID class driver on Windows.
//
// hidapi does all the waiting itself (hid_read_timeout), which keeps the
// receive time-out inside the transport where it belongs.

#include "transport/hid_backend.h"

#include <hidapi.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#endif

#include "transport/link_error.h"

#if HID_API_VERSION < HID_API_MAKE_VERSION(0, 14, 0) && defined(__linux__)
#define BPLINK_HID_DESCRIPTOR_FROM_SYSFS 1
#include <filesystem>
#include <fstream>
#endif

namespace bplink {
namespace {

#if defined(BPLINK_HID_DESCRIPTOR_FROM_SYSFS)
// Older hidapi has no call for the report descriptor. The kernel publishes it
// beside every hidraw node, which is where newer hidapi reads it from too.
std::vector<std::uint8_t> SysfsReportDescriptor(const std::string& hidraw_path) {
  const std::filesystem::path node(hidraw_path);
  const auto file = std::filesystem::path("/sys/class/hidraw") / node.filename() / "device" / "report_descriptor";
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(HID_API_MAX_REPORT_DESCRIPTOR_SIZE);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}
#endif

// hidapi's words for its last failure on `device` (null: its last failure
// outside a device), tidied; empty when it has none. hidapi answers
// "Success" when nothing failed.
std::string HidapiErrorText(hid_device* device) {
  const wchar_t* text = hid_error(device);
  if (text == nullptr) return {};
  std::string words = TidyOsWording(Utf8(text));
  return words == "success" ? std::string() : words;
}

#if defined(_WIN32)
int LastOsError() { return static_cast<int>(::GetLastError()); }

LinkErrorKind OpenFailure(int err) {
  switch (err) {
    case ERROR_ACCESS_DENIED: return LinkErrorKind::kPermissionDenied;
    case ERROR_SHARING_VIOLATION: return LinkErrorKind::kInUse;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED: return LinkErrorKind::kNoDevice;
    default: return LinkErrorKind::kOther;
  }
}
#else
int LastOsError() { return errno; }

LinkErrorKind OpenFailure(int err) {
  switch (err) {
    case EACCES:
    case EPERM: return LinkErrorKind::kPermissionDenied;
    case EBUSY: return LinkErrorKind::kInUse;
    case ENOENT:
    case ENODEV:
    case ENXIO: return LinkErrorKind::kNoDevice;  // unplugged since it was listed
    default: return LinkErrorKind::kOther;
  }
}
#endif

class HidapiLink : public HidLink {
 public:
  HidapiLink(hid_device* device, std::string path) : device_(device), path_(std::move(path)) {}
  ~HidapiLink() override { hid_close(device_); }
  HidapiLink(const HidapiLink&) = delete;
  HidapiLink& operator=(const HidapiLink&) = delete;

  int Write(const std::uint8_t* report, std::size_t size) override { return hid_write(device_, report, size); }

  int Read(std::uint8_t* buffer, std::size_t capacity, int timeout_ms) override {
    return hid_read_timeout(device_, buffer, capacity, timeout_ms);
  }

  std::vector<std::uint8_t> ReportDescriptor() override {
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 14, 0)
    std::vector<std::uint8_t> bytes(HID_API_MAX_REPORT_DESCRIPTOR_SIZE);
    const int n = hid_get_report_descriptor(device_, bytes.data(), bytes.size());
    bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return bytes;
#elif defined(BPLINK_HID_DESCRIPTOR_FROM_SYSFS)
    return SysfsReportDescriptor(path_);
#else
    return {};
#endif
  }

  std::string ErrorText() override { return HidapiErrorText(device_); }

 private:
  hid_device* device_;
  [[maybe_unused]] std::string path_;  // only the sysfs route needs it
};

class HidapiBackendImpl : public HidBackend {
 public:
  std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendor_id, std::uint16_t product_id) override {
    const std::unique_ptr<hid_device_info, decltype(&hid_free_enumeration)> list(
        hid_enumerate(vendor_id, product_id), &hid_free_enumeration);
    std::vector<HidDeviceInfo> found;
    for (const hid_device_info* d = list.get(); d != nullptr; d = d->next) {
      if (d->path == nullptr) continue;
      found.push_back({d->path, d->vendor_id, d->product_id, d->usage_page, d->usage});
    }
    return found;
  }

  std::unique_ptr<HidLink> Open(const HidDeviceInfo& device, LinkError& why) override {
    hid_device* opened = hid_open_path(device.path.c_str());
    if (opened != nullptr) return std::make_unique<HidapiLink>(opened, device.path);
    const int err = LastOsError();  // before anything else can change it
    const std::string text = HidapiErrorText(nullptr);
#if !defined(_WIN32)
    if (OpenFailure(err) == LinkErrorKind::kPermissionDenied) {
      SetLinkErrorWorded(why, LinkErrorKind::kPermissionDenied, err,
                         PermissionDeniedText(err, device.path, NodeKind::kHidDevice));
      return nullptr;
    }
#endif
    if (text.empty())
      SetLinkError(why, OpenFailure(err), err);
    else
      SetLinkErrorWorded(why, OpenFailure(err), err, text);
    return nullptr;
  }
};

}  // namespace

HidBackend& HidapiBackend() {
  static HidapiBackendImpl backend;
  return backend;
}

}  // namespace bplink
