// The seam between CDevice_HID and the platform's HID library.
//
// CDevice_HID chooses the device and does the report framing; below this
// header sits only a thin layer over hidapi (hid_backend_hidapi.cpp), the way
// hidapi itself keeps one backend per platform under one header. Tests put a
// backend of their own here to hand the framing reports as they please.
//
// Not part of the public headers: a host never needs it.
#pragma once

#include <bplink/device.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bplink {

// One attached HID device (one top-level collection of it), as listed.
struct HidDeviceInfo {
  std::string path;
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  std::uint16_t usage_page = 0;
  std::uint16_t usage = 0;
};

// An open device. Destroying it closes the device.
class HidLink {
 public:
  virtual ~HidLink() = default;
  // Sends one output report: the report id byte, then the report's bytes.
  // Returns the number of bytes written, -1 on error.
  virtual int Write(const std::uint8_t* report, std::size_t size) = 0;
  // Takes one input report (without an id byte on unnumbered reports),
  // waiting at most timeout_ms for it. Returns its length, 0 when none came
  // in time, -1 on error.
  virtual int Read(std::uint8_t* buffer, std::size_t capacity, int timeout_ms) = 0;
  // The device's report descriptor; empty when the platform does not give it.
  virtual std::vector<std::uint8_t> ReportDescriptor() = 0;
  // The platform's words for the last Write or Read that failed (-1), in
  // UTF-8; empty when it has none.
  virtual std::string ErrorText() { return {}; }
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;
  // The attached devices with these ids (0 = any), in the platform's order.
  virtual std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendor_id, std::uint16_t product_id) = 0;
  // Null when the device cannot be opened; `why` then says why (kind, the
  // system's error number where it gives one, the platform's text).
  virtual std::unique_ptr<HidLink> Open(const HidDeviceInfo& device, LinkError& why) = 0;
};

HidBackend& HidapiBackend();      // the real one, on hidapi
HidBackend& CurrentHidBackend();  // what CDevice_HID uses now

// Test hook: the test suites, which link the static core, install a fake
// here; nullptr restores hidapi. Not exported: no host reaches it.
void SetHidBackendForTesting(HidBackend* backend);

}  // namespace bplink
