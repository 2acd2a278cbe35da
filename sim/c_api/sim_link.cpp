// A simulated device behind the C interface's host-link callbacks.

#include <bplink/bplink_sim_c.h>

#include <bplink/bplink.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "exports/c_handles.h"
#include "in_process_device.h"
#include "models.h"

namespace {

constexpr const wchar_t* kPortName = L"bplink-sim0";

// The machine as the simulated device's host sees it: its one port, and a
// clock that does not wait unless asked to.
class SimEnv : public bplink::EnvWrapper {
 public:
  SimEnv(bplink::Env* target, bool serial, bool real_time)
      : EnvWrapper(target), serial_(serial), real_time_(real_time) {}
  void Sleep(unsigned milliseconds) override {
    if (real_time_) EnvWrapper::Sleep(milliseconds);
  }
  std::vector<std::wstring> ComPortNames() override {
    if (!serial_) return {};
    return {kPortName};
  }
  bool CanOpenComPort(const std::wstring& path) override { return serial_ && path == bplink::ComPortPath(kPortName); }

 private:
  bool serial_;
  bool real_time_;
};

struct SimLink {
  std::unique_ptr<bplink::sim::DeviceModel> model;
  bplink::sim::InProcessDevice device;
  std::unique_ptr<SimEnv> env;
  bplink::Env* previous = nullptr;
  unsigned pace_ms = 0;
};

SimLink* Of(void* user) { return static_cast<SimLink*>(user); }

int BPLINK_C_CALL OpenPort(void* user, const char* path, uint32_t baud, int byte_size, int parity, int stop_bits) {
  DCB dcb{};
  dcb.BaudRate = baud;
  dcb.ByteSize = static_cast<BYTE>(byte_size);
  dcb.Parity = static_cast<BYTE>(parity);
  dcb.StopBits = static_cast<BYTE>(stop_bits);
  return Of(user)->device.Open(CString(path, path + std::strlen(path)), dcb);
}
int BPLINK_C_CALL OpenHid(void* user, int n) { return Of(user)->device.Open(n); }
int BPLINK_C_CALL Close(void* user) { return Of(user)->device.Close(); }
int BPLINK_C_CALL Send(void* user, const uint8_t* data, uint32_t size) {
  return Of(user)->device.SendData(const_cast<BYTE*>(data), size);
}
int BPLINK_C_CALL Recv(void* user, uint8_t* data, uint32_t size) {
  SimLink* link = Of(user);
  if (link->pace_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(link->pace_ms));
  return link->device.RecvData(data, size);
}
void BPLINK_C_CALL Release(void* user) {
  SimLink* link = Of(user);
  bplink::SetEnv(link->previous);
  delete link;
}

void Tell(const std::string& text, char* why, size_t size) { bplink::capi::CopyText(text, why, size); }

}  // namespace

extern "C" {

BPLINK_SIM_C_API int BPLINK_C_CALL bplink_sim_options_init(bplink_sim_options* options, const char* family) {
  if (options == nullptr) return BPLINK_CANNOT_START;
  *options = bplink_sim_options{};
  options->struct_size = sizeof *options;
  options->family = family;
  options->records = -1;
  options->silent_after = -1;
  return BPLINK_OK;
}

BPLINK_SIM_C_API int BPLINK_C_CALL bplink_sim_link(const bplink_sim_options* options, bplink_link** out, char* why,
                                                   size_t why_size) {
  try {
    Tell("", why, why_size);
    if (options == nullptr || options->struct_size < sizeof *options || options->family == nullptr || out == nullptr)
      return BPLINK_CANNOT_START;
    bplink::sim::SimSettings settings;
    if (options->device_type != 0) settings.device_type = options->device_type;
    if (options->records >= 0) settings.records = options->records;
    if (options->silent_after >= 0) settings.silent_after = options->silent_after;
    auto link = std::make_unique<SimLink>();
    try {
      link->model = bplink::sim::MakeModel(options->family, settings);
    } catch (const std::invalid_argument& e) {
      Tell(e.what(), why, why_size);
      return BPLINK_NOT_FOR_DEVICE;
    }
    const bool serial = std::strcmp(options->family, "hid") != 0;
    if (serial) {
      link->device.AttachPort(bplink::ComPortPath(kPortName), link->model.get());
    } else {
      link->device.AttachHid(link->model.get());
    }
    link->pace_ms = options->pace_ms;
    link->previous = bplink::CurrentEnv();
    link->env = std::make_unique<SimEnv>(link->previous, serial, options->real_time != 0);

    bplink_link_ops ops{};
    BPLINK_INIT(ops);
    ops.open_port = OpenPort;
    ops.open_hid = OpenHid;
    ops.close = Close;
    ops.send = Send;
    ops.recv = Recv;
    ops.release = Release;
    const int r = bplink_link_custom(&ops, link.get(), out);
    if (r != BPLINK_OK) return r;
    bplink::SetEnv(link->env.get());
    link.release();
    return BPLINK_OK;
  } catch (const std::exception& e) {
    Tell(e.what(), why, why_size);
    return BPLINK_EXCEPTION;
  } catch (...) {
    return BPLINK_EXCEPTION;
  }
}

}  // extern "C"
