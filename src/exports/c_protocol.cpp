// The C interface: protocol objects, their transfers and their progress.

#include <algorithm>
#include <atomic>
#include <iterator>

#include <bplink/plan/plan_file.h>

#include "exports/c_handles.h"

namespace bplink::capi {
namespace {

// The protocol object's device: the link's, watched so that a change of the
// progress variables reaches the host's callback on the transfer's thread.
// The library writes them between its sends and receives, so looking after
// each is looking as often as they can change.
class ProgressTap : public CDevice {
 public:
  using Notify = void (*)(void*);
  ProgressTap(CDevice& target, Notify notify, void* owner) : target_(target), notify_(notify), owner_(owner) {}

  int Open(CString strPath, DCB dcb) override { return After(target_.Open(std::move(strPath), dcb)); }
  int Open(int nDevice) override { return After(target_.Open(nDevice)); }
  int Close() override { return After(target_.Close()); }
  int RecvData(BYTE* pBuffer, DWORD dwLen) override { return After(target_.RecvData(pBuffer, dwLen)); }
  int SendData(BYTE* pBuffer, DWORD dwLen) override { return After(target_.SendData(pBuffer, dwLen)); }

 private:
  int After(int result) {
    notify_(owner_);
    return result;
  }
  CDevice& target_;
  Notify notify_;
  void* owner_;
};

}  // namespace
}  // namespace bplink::capi

struct bplink_protocol {
  bplink_link* link = nullptr;
  const bplink::Family* family = nullptr;
  std::unique_ptr<CProtocolBase> object;
  std::unique_ptr<CDevice> tap;
  // The host's three progress variables, which the transfers write and
  // another thread may read, or write the stop request into.
  int progress = 0;
  int state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
  bplink_progress_fn callback = nullptr;
  void* user = nullptr;
  int told[3] = {-1, -1, -1};  // what the callback was last given

  int Read(const int& value) const { return std::atomic_ref<int>(const_cast<int&>(value)).load(); }
  int Stage() const {
    return std::atomic_ref<enum_TransportType>(const_cast<enum_TransportType&>(stage)).load();
  }

  void Notify() {
    if (callback == nullptr) return;
    const int now[3] = {Read(progress), Read(state), Stage()};
    if (std::equal(std::begin(now), std::end(now), std::begin(told))) return;
    std::copy(std::begin(now), std::end(now), std::begin(told));
    callback(user, now[0], now[1], now[2]);
  }

  int FirstMode() {
    int modes[kDataModeCount] = {};
    const int r = object->GetDownLoadDataMode(modes);
    if (r != bplink::kResultOk) return -r;
    for (int mode = DATAMODE_BP; mode < kDataModeCount; ++mode)
      if (modes[mode] == 1) return mode;
    return DATAMODE_NONE;
  }
};

namespace {

using bplink::capi::Fits;
using bplink::capi::Guard;

// Runs one transfer with the link's port search, and tells the callback how
// it ended.
template <typename Body>
int Transfer(bplink_protocol& p, Body body) {
  bplink::capi::PortScope scope(*p.link);
  p.told[0] = p.told[1] = p.told[2] = -1;
  const int r = body();
  p.Notify();
  return r;
}

// The mode the host asked for, or the first one the device offers; a
// negative value is the result of asking the device.
int ChosenMode(bplink_protocol& p, int mode) {
  if (mode != DATAMODE_NONE) return mode;
  bplink::capi::PortScope scope(*p.link);
  return p.FirstMode();
}

// The mode of an upload: the one asked for, or the first one offered. The
// upload writes to the device the last identification found, so the device
// identifies itself first, whichever mode the host names. Negative: the
// result of asking the device.
int UploadMode(bplink_protocol& p, int mode) {
  const int first = ChosenMode(p, DATAMODE_NONE);
  return first < 0 || mode == DATAMODE_NONE ? first : mode;
}

}  // namespace

extern "C" {

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_new(int protocol, bplink_link* link, bplink_protocol** out) {
  return Guard([&]() -> int {
    if (link == nullptr || out == nullptr) return bplink::kResultCannotStart;
    const bplink::Family* family = bplink::FamilyForProtocol(protocol);
    if (family == nullptr) return bplink::kResultNotForDevice;
    auto p = std::make_unique<bplink_protocol>();
    p->link = link;
    p->family = family;
    p->object = family->make();
    p->tap = std::make_unique<bplink::capi::ProgressTap>(
        bplink::capi::LinkDevice(*link), [](void* owner) { static_cast<bplink_protocol*>(owner)->Notify(); },
        p.get());
    p->object->SetDevice(p->tap.get(), false);
    p->object->SetProgressInfo(&p->progress, &p->state, &p->stage);
    *out = p.release();
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_free(bplink_protocol* protocol) {
  return Guard([&]() -> int {
    delete protocol;
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_device(bplink_protocol* protocol, bplink_device_info* info) {
  return Guard([&]() -> int {
    if (protocol == nullptr || !Fits(info)) return bplink::kResultCannotStart;
    tag_SUPPORT_PROTOCOL device;
    const int r = protocol->object->GetCurDeviceInfo(device);
    bplink::capi::ToC(device, *info);
    return r;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_data_modes(bplink_protocol* protocol, bplink_data_modes* modes) {
  return Guard([&]() -> int {
    if (protocol == nullptr || !Fits(modes)) return bplink::kResultCannotStart;
    int flags[kDataModeCount] = {};
    const int r = Transfer(*protocol, [&] { return protocol->object->GetDownLoadDataMode(flags); });
    std::copy(std::begin(flags), std::end(flags), modes->offered);
    return r;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_intervals(bplink_protocol* protocol, bplink_intervals* out) {
  return Guard([&]() -> int {
    if (protocol == nullptr || !Fits(out)) return bplink::kResultCannotStart;
    _UPLOAD_NEEDED_DATA needed;
    const int r = Transfer(*protocol, [&] { return protocol->object->PC_DownloadBPInfoTimeInterval(needed); });
    const auto copy = [](const std::vector<int>& from, int32_t* to, int32_t& count) {
      count = static_cast<int32_t>(std::min<std::size_t>(from.size(), BPLINK_MAX_INTERVALS));
      std::copy_n(from.begin(), count, to);
    };
    copy(needed.vecInterval1, out->interval1, out->count1);
    copy(needed.vecInterval2, out->interval2, out->count2);
    BPLINK_INIT(out->plan);
    bplink::capi::ToC(needed.Info, out->plan);
    return r;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_on_progress(bplink_protocol* protocol, bplink_progress_fn fn,
                                                           void* user) {
  return Guard([&]() -> int {
    if (protocol == nullptr) return bplink::kResultCannotStart;
    protocol->callback = fn;
    protocol->user = user;
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_progress(const bplink_protocol* protocol, int* progress, int* state,
                                                        int* stage) {
  return Guard([&]() -> int {
    if (protocol == nullptr) return bplink::kResultCannotStart;
    if (progress != nullptr) *progress = protocol->Read(protocol->progress);
    if (state != nullptr) *state = protocol->Read(protocol->state);
    if (stage != nullptr) *stage = protocol->Stage();
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_stop(bplink_protocol* protocol) {
  return Guard([&]() -> int {
    if (protocol == nullptr) return bplink::kResultCannotStart;
    std::atomic_ref<int>(protocol->state).store(bplink::kStateStopRequested);
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_run(bplink_protocol* protocol, int mode, bplink_download** out) {
  return Guard([&]() -> int {
    if (protocol == nullptr || out == nullptr) return bplink::kResultCannotStart;
    const int chosen = ChosenMode(*protocol, mode);
    if (chosen < 0) return -chosen;
    if (chosen == DATAMODE_NONE) return bplink::kResultNotForDevice;
    const int r = Transfer(*protocol, [&] { return protocol->object->PC_Download(static_cast<enum_DataMode>(chosen)); });
    auto download = std::make_unique<bplink_download>();
    download->mode = chosen;
    download->result = r;
    download->stopped = std::atomic_ref<int>(protocol->state).load() == bplink::kStateStopRequested;
    download->downloaded_at = bplink::CurrentEnv()->LocalTime();
    const int copied = protocol->object->GetDownLoadData(&download->data);
    protocol->object->GetCurDeviceInfo(download->device);
    *out = download.release();
    return r == bplink::kResultOk ? copied : r;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_upload(bplink_protocol* protocol, const bplink_plan* plan, int mode) {
  return Guard([&]() -> int {
    if (protocol == nullptr || !Fits(plan)) return bplink::kResultCannotStart;
    const int chosen = UploadMode(*protocol, mode);
    if (chosen < 0) return -chosen;
    if (chosen == DATAMODE_NONE) return bplink::kResultNotForDevice;
    protocol->object->SetUpLoadData(bplink::capi::FromC(*plan));
    return Transfer(*protocol, [&] { return protocol->object->PC_Upload(static_cast<enum_DataMode>(chosen)); });
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_upload_json(bplink_protocol* protocol, const char* plan_json, int mode,
                                                  char* message, size_t size) {
  namespace plan = bplink::plan;
  bplink::capi::CopyText("", message, size);
  return Guard([&]() -> int {
    if (protocol == nullptr || plan_json == nullptr) return bplink::kResultCannotStart;
    const auto refuse = [&](const std::string& why, int result) {
      bplink::capi::CopyText(why, message, size);
      return result;
    };
    _BP_TRANSPORT_INFO sent;
    try {
      sent = plan::ReadPlanText(plan_json, "plan");
    } catch (const plan::PlanError& e) {
      return refuse(e.what(), bplink::kResultCannotStart);
    }
    const int chosen = UploadMode(*protocol, mode);
    if (chosen < 0) return -chosen;
    if (chosen == DATAMODE_NONE) return bplink::kResultNotForDevice;
    // What the device allows; the serial families answer with the library's
    // list and "not for this device". The query may leave the device's own
    // plan in the object, so the plan is handed over after it.
    _UPLOAD_NEEDED_DATA allowed;
    const int asked = Transfer(*protocol, [&] { return protocol->object->PC_DownloadBPInfoTimeInterval(allowed); });
    if (asked != bplink::kResultOk && asked != bplink::kResultNotForDevice) return asked;
    tag_SUPPORT_PROTOCOL device;
    protocol->object->GetCurDeviceInfo(device);
    const plan::FieldNames kept = plan::KeptFields(*protocol->family, device, chosen);
    if (kept.empty()) return refuse("this device keeps no plan", bplink::kResultNotInFamily);
    try {
      plan::CheckAllowed(sent, allowed, kept, "plan");
    } catch (const plan::PlanError& e) {
      return refuse(e.what(), bplink::kResultNotForDevice);
    }
    const plan::FieldNames dropped = plan::Without(plan::FieldsSet(sent), kept);
    if (!dropped.empty()) bplink::capi::CopyText("the device does not keep " + plan::Join(dropped), message, size);
    protocol->object->SetUpLoadData(sent);
    return Transfer(*protocol, [&] { return protocol->object->PC_Upload(static_cast<enum_DataMode>(chosen)); });
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_delete(bplink_protocol* protocol, int mode) {
  return Guard([&]() -> int {
    if (protocol == nullptr) return bplink::kResultCannotStart;
    const int chosen = ChosenMode(*protocol, mode);
    if (chosen < 0) return -chosen;
    return Transfer(*protocol, [&] { return protocol->object->PC_Delete(static_cast<enum_DataMode>(chosen)); });
  });
}

}  // extern "C"
