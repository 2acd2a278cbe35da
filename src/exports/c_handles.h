// What the C interface's opaque handles are, and the helpers its sources
// share: the guard every exported function runs its body in, and the check
// of a struct's size field.
#pragma once

#include <bplink/bplink.h>
#include <bplink/bplink_c.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct bplink_link {
  int kind = 0;                      // BPLINK_LINK_USB_HID, BPLINK_LINK_SERIAL, or 0 for the host's own
  std::optional<std::wstring> port;  // the one serial port a search may use
  std::unique_ptr<CDevice> device;
  bplink_link_ops ops{};             // the host's own link
  void* user = nullptr;
  // Why the last operation on the link found no device, when the device
  // itself cannot tell (a serial search leaves the ports it drops unopened);
  // empty otherwise. bplink_link_reason prefers it to the device's own.
  std::string reason;

  bplink_link() = default;
  bplink_link(const bplink_link&) = delete;
  bplink_link& operator=(const bplink_link&) = delete;
  ~bplink_link();
};

struct bplink_download {
  _DOWNLOAD_DATAINFO data;
  tag_SUPPORT_PROTOCOL device;
  int mode = 0;
  // How the transfer ended, and when by the PC clock: the report calls a
  // download that stopped part-way incomplete, and a reading dated later
  // impossible.
  int result = 0;
  bool stopped = false;
  bplink::CalendarTime downloaded_at;
};

namespace bplink::capi {

// The body of every exported function: its result, or 8 for anything thrown.
template <typename Body>
int Guard(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return kResultException;
  }
}

// A struct the host passed: present and at least as large as this
// version's first layout ended at `needed`.
template <typename T>
bool Fits(const T* s, std::size_t needed = sizeof(T)) {
  return s != nullptr && s->struct_size >= needed;
}

// Copies `text` into the host's buffer, cut to fit and zero-terminated.
// Inline: the companion C libraries (simulated devices, report) use it too.
inline void CopyText(const std::string& text, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return;
  const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

// The device that talks through the link, for a protocol object.
CDevice& LinkDevice(bplink_link& link);

// A port name the host gave, as the library holds it.
std::wstring Wide(const char* text);

// While alive, limits the process's port search to the link's port (a
// serial link opened on one port); otherwise does nothing.
class PortScope {
 public:
  explicit PortScope(const bplink_link& link);
  // Limits it to `ports`, in their order.
  explicit PortScope(std::vector<std::wstring> ports);
  ~PortScope();
  PortScope(const PortScope&) = delete;
  PortScope& operator=(const PortScope&) = delete;

 private:
  void Limit(std::vector<std::wstring> ports);

  std::unique_ptr<Env> env_;
  Env* previous_ = nullptr;
};

// After an operation on the link ended with `result`: when no device or
// port could be had, why, in the words the program uses too (each serial
// port and why it cannot be opened; the USB HID link's own reason). Call it
// while the link's PortScope is alive. Clears the reason of an earlier
// operation otherwise.
void NoteWhyNoDevice(bplink_link& link, int result);

void ToC(const tag_SUPPORT_PROTOCOL& in, bplink_device_info& out);
void ToC(const _BP_TRANSPORT_INFO& in, bplink_plan& out);
_BP_TRANSPORT_INFO FromC(const bplink_plan& in);

}  // namespace bplink::capi
