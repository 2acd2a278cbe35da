// The C interface: the library, links and detection.

#include <cstring>
#include <string>
#include <vector>

#include <bplink/transport/machine_links.h>
#include <bplink/transport/port_check.h>

#include "exports/c_handles.h"
#include "transport/link_error.h"

namespace bplink::capi {
namespace {

// A link of the host's own, as a transport device.
class HostLink : public CDevice {
 public:
  HostLink(const bplink_link_ops& ops, void* user) : ops_(ops), user_(user) {}

  int Open(CString strPath, DCB dcb) override {
    if (ops_.open_port == nullptr) return 0;
    return ops_.open_port(user_, Utf8(strPath).c_str(), dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits);
  }
  int Open(int nDevice) override { return ops_.open_hid != nullptr ? ops_.open_hid(user_, nDevice) : 0; }
  int Close() override { return ops_.close != nullptr ? ops_.close(user_) : 1; }
  int RecvData(BYTE* pBuffer, DWORD dwLen) override {
    return ops_.recv != nullptr ? ops_.recv(user_, pBuffer, dwLen) : 0;
  }
  int SendData(BYTE* pBuffer, DWORD dwLen) override {
    return ops_.send != nullptr ? ops_.send(user_, pBuffer, dwLen) : 0;
  }

 private:
  bplink_link_ops ops_;
  void* user_;
};

// The port search limited to the ports a host named.
class ListedPortsEnv : public EnvWrapper {
 public:
  ListedPortsEnv(Env* target, std::vector<std::wstring> names) : EnvWrapper(target), names_(std::move(names)) {}
  std::vector<std::wstring> ComPortNames() override { return names_; }

 private:
  std::vector<std::wstring> names_;
};

// Why the USB HID link gave no device to detection, which asked it with a
// device of its own: the link's open, made again.
std::string WhyNoHidDevice() {
  CDevice_HID hid;
  std::string why = "no device answered the device-information request";
  if (hid.Open(0) != 0) {
    hid.Close();
    return why;
  }
  const std::string& text = hid.GetLastLinkError().text;
  return text.empty() ? why : why + " (" + text + ")";
}

}  // namespace

std::wstring Wide(const char* text) {
  std::wstring out;
  for (const char* p = text; *p != '\0'; ++p) out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return out;
}

CDevice& LinkDevice(bplink_link& link) { return *link.device; }

void NoteWhyNoDevice(bplink_link& link, int result) {
  link.reason.clear();
  if (link.kind == 0) return;  // the host's own link says why itself
  if (result == kResultNoDevice) {
    link.reason = "USB HID: " + WhyNoHidDevice() + "; serial ports: " + WhyNoComPort(CheckComPorts());
  } else if (result == kResultNoLink) {
    // A serial search says more about every port than its last probe did;
    // a HID open that failed says why itself.
    const auto& machine = static_cast<const MachineLinks&>(*link.device);
    if (link.kind == BPLINK_LINK_SERIAL || machine.LastError().text.empty())
      link.reason = WhyNoComPort(CheckComPorts());
  }
}

PortScope::PortScope(const bplink_link& link) {
  if (link.port) Limit({*link.port});
}

PortScope::PortScope(std::vector<std::wstring> ports) { Limit(std::move(ports)); }

void PortScope::Limit(std::vector<std::wstring> ports) {
  previous_ = CurrentEnv();
  env_ = std::make_unique<ListedPortsEnv>(previous_, std::move(ports));
  SetEnv(env_.get());
}

PortScope::~PortScope() {
  if (env_) SetEnv(previous_);
}

void ToC(const tag_SUPPORT_PROTOCOL& in, bplink_device_info& out) {
  out.device_type = in.nDeviceType;
  out.protocol = in.nProtocol;
  out.reserved = in.nReserved;
  out.variant = in.nVariant;
  out.version = in.nVersion;
}

}  // namespace bplink::capi

bplink_link::~bplink_link() {
  device.reset();
  if (kind == 0 && ops.release != nullptr) ops.release(user);
}

using bplink::capi::Fits;
using bplink::capi::Guard;

extern "C" {

BPLINK_C_API int BPLINK_C_CALL bplink_version(const char** text) {
  if (text == nullptr) return bplink::kResultCannotStart;
  *text = bplink::Version();
  return bplink::kResultOk;
}

BPLINK_C_API int BPLINK_C_CALL bplink_result_text(int result, const char** text) {
  if (text == nullptr) return bplink::kResultCannotStart;
  *text = bplink::ResultText(result);
  return bplink::kResultOk;
}

BPLINK_C_API int BPLINK_C_CALL bplink_link_open(int kind, const char* port, bplink_link** out) {
  return Guard([&]() -> int {
    if (out == nullptr) return bplink::kResultCannotStart;
    auto link = std::make_unique<bplink_link>();
    link->kind = kind;
    if (kind == BPLINK_LINK_USB_HID && port == nullptr) {
      link->device = std::make_unique<bplink::MachineLinks>(false);
    } else if (kind == BPLINK_LINK_SERIAL) {
      link->device = std::make_unique<bplink::MachineLinks>(true);
      if (port != nullptr) link->port = bplink::capi::Wide(port);
    } else {
      return bplink::kResultCannotStart;
    }
    *out = link.release();
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_link_custom(const bplink_link_ops* ops, void* user, bplink_link** out) {
  return Guard([&]() -> int {
    if (!Fits(ops) || out == nullptr) return bplink::kResultCannotStart;
    auto link = std::make_unique<bplink_link>();
    link->ops = *ops;
    link->user = user;
    link->device = std::make_unique<bplink::capi::HostLink>(*ops, user);
    *out = link.release();
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_link_reason(const bplink_link* link, char* text, size_t size) {
  return Guard([&]() -> int {
    if (link == nullptr || text == nullptr || size == 0) return bplink::kResultCannotStart;
    if (link->kind == 0) {
      text[0] = '\0';
      if (link->ops.reason != nullptr) link->ops.reason(link->user, text, size);
      text[size - 1] = '\0';
    } else {
      const auto& machine = static_cast<const bplink::MachineLinks&>(*link->device);
      bplink::capi::CopyText(link->reason.empty() ? machine.LastError().text : link->reason, text, size);
    }
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_link_timeout(bplink_link* link, uint32_t milliseconds) {
  return Guard([&]() -> int {
    if (link == nullptr) return bplink::kResultCannotStart;
    if (link->kind == 0) return bplink::kResultNotForDevice;
    static_cast<bplink::MachineLinks&>(*link->device).SetRecvTimeout(milliseconds);
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_link_free(bplink_link* link) {
  return Guard([&]() -> int {
    delete link;
    return bplink::kResultOk;
  });
}

// Detection one link after the other on the caller's thread (CSelectProtocol).
BPLINK_C_API int BPLINK_C_CALL bplink_detect(bplink_link* link, bplink_device_info* info) {
  return Guard([&]() -> int {
    if (!Fits(info)) return bplink::kResultCannotStart;
    std::optional<bplink::capi::PortScope> scope;
    CSelectProtocol select;
    if (link != nullptr) {
      scope.emplace(*link);
      // A machine link reaches both kinds of device, with its time-out.
      select.SetDevice(link->device.get());
    }
    tag_SUPPORT_PROTOCOL found;
    const int r = select.OnTestProtocol(found);
    if (r == bplink::kResultOk) bplink::capi::ToC(found, *info);
    if (link != nullptr) bplink::capi::NoteWhyNoDevice(*link, r);
    return r;
  });
}

}  // extern "C"
