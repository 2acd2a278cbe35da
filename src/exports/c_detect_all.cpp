// The C interface: detection over every link at once (bplink::DetectAll).

#include <bplink/scan/detect_all.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "exports/c_handles.h"
#include "transport/link_error.h"

struct bplink_detection {
  struct Port {
    bplink::DetectedPort found;
    std::string name;  // UTF-8, for the host
  };
  std::vector<Port> ports;
};

using bplink::capi::Fits;
using bplink::capi::Guard;

extern "C" {

BPLINK_C_API int BPLINK_C_CALL bplink_detect_options_init(bplink_detect_options* options) {
  return Guard([&]() -> int {
    if (options == nullptr) return bplink::kResultCannotStart;
    *options = bplink_detect_options{};
    BPLINK_INIT(*options);
    options->probe_hid = 1;
    options->serial_timeout_ms = CDevice_COM::kDefaultRecvTimeoutMs;
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_detect_all(const bplink_detect_options* options, bplink_detection** out) {
  return Guard([&]() -> int {
    if (out == nullptr || (options != nullptr && !Fits(options))) return bplink::kResultCannotStart;
    *out = nullptr;
    bplink_detect_options given;
    bplink_detect_options_init(&given);
    if (options != nullptr) given = *options;
    if (given.port_count > 0 && given.ports == nullptr) return bplink::kResultCannotStart;

    bplink::DetectAllOptions detect;
    detect.probeHid = given.probe_hid != 0;
    if (given.serial_timeout_ms != 0) detect.serialTimeoutMs = given.serial_timeout_ms;
    // The ports the host named, or every port the machine lists.
    std::optional<bplink::capi::PortScope> scope;
    if (given.ports != nullptr) {
      std::vector<std::wstring> names;
      for (std::size_t i = 0; i < given.port_count; ++i) {
        if (given.ports[i] == nullptr) return bplink::kResultCannotStart;
        names.push_back(bplink::capi::Wide(given.ports[i]));
      }
      scope.emplace(std::move(names));
    }
    std::vector<bplink::DetectedPort> found;
    const int r = bplink::DetectAll(found, detect);
    if (r != bplink::kResultOk && r != bplink::kResultNoDevice) return r;
    auto detection = std::make_unique<bplink_detection>();
    for (bplink::DetectedPort& port : found) {
      std::string name = bplink::Utf8(port.port);
      detection->ports.push_back({std::move(port), std::move(name)});
    }
    *out = detection.release();
    return r;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_detection_count(const bplink_detection* detection, size_t* count) {
  return Guard([&]() -> int {
    if (detection == nullptr || count == nullptr) return bplink::kResultCannotStart;
    *count = detection->ports.size();
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_detection_port(const bplink_detection* detection, size_t index,
                                                     bplink_detected_port* port) {
  return Guard([&]() -> int {
    if (detection == nullptr || !Fits(port)) return bplink::kResultCannotStart;
    if (index >= detection->ports.size()) return bplink::kResultNotForDevice;
    const bplink_detection::Port& p = detection->ports[index];
    port->link = p.found.link == bplink::LinkKind::kUsbHid ? BPLINK_LINK_USB_HID : BPLINK_LINK_SERIAL;
    port->status = static_cast<int32_t>(p.found.status);
    BPLINK_INIT(port->device);
    bplink::capi::ToC(p.found.device, port->device);
    port->port = p.name.c_str();
    port->status_text = bplink::PortStatusText(p.found.status);
    port->reason = p.found.error.text.c_str();
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_detection_free(bplink_detection* detection) {
  return Guard([&]() -> int {
    delete detection;
    return bplink::kResultOk;
  });
}

}  // extern "C"
