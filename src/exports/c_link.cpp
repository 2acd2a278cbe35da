// The C interface: the library, links and detection.

#include <cstring>
#include <string>
#include <vector>

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

// The port search of a link opened on one serial port.
class OnePortEnv : public EnvWrapper {
 public:
  OnePortEnv(Env* target, std::wstring name) : EnvWrapper(target), name_(std::move(name)) {}
  std::vector<std::wstring> ComPortNames() override { return {name_}; }

 private:
  std::wstring name_;
};

std::wstring Wide(const char* text) {
  std::wstring out;
  for (const char* p = text; *p != '\0'; ++p) out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return out;
}

}  // namespace

CDevice& LinkDevice(bplink_link& link) { return *link.device; }

PortScope::PortScope(const bplink_link& link) {
  if (!link.port) return;
  previous_ = CurrentEnv();
  env_ = std::make_unique<OnePortEnv>(previous_, *link.port);
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
      link->device = std::make_unique<CDevice_HID>();
    } else if (kind == BPLINK_LINK_SERIAL) {
      link->device = std::make_unique<CDevice_COM>();
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
      bplink::capi::CopyText(bplink::LastLinkError(*link->device).text, text, size);
    }
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_link_free(bplink_link* link) {
  return Guard([&]() -> int {
    delete link;
    return bplink::kResultOk;
  });
}

// Detection one link after the other on the caller's thread (CSelectProtocol):
// the library starts no threads, so the concurrent detection over every link
// stays with the companion library that owns its workers.
BPLINK_C_API int BPLINK_C_CALL bplink_detect(bplink_link* link, bplink_device_info* info) {
  return Guard([&]() -> int {
    if (!Fits(info)) return bplink::kResultCannotStart;
    std::optional<bplink::capi::PortScope> scope;
    CSelectProtocol select;
    if (link != nullptr) {
      scope.emplace(*link);
      // A machine link is one kind of device; detection asks both kinds,
      // so it brings its own devices unless the link is the host's.
      if (link->kind == 0) select.SetDevice(link->device.get());
    }
    tag_SUPPORT_PROTOCOL found;
    const int r = select.OnTestProtocol(found);
    if (r == bplink::kResultOk) bplink::capi::ToC(found, *info);
    return r;
  });
}

}  // extern "C"
