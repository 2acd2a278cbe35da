// The C interface: protocol objects, their transfers and their progress.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <string>

#include <bplink/guard/erasure.h>
#include <bplink/plan/plan_check.h>

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
  // The host's stop request as this handle saw it: `running` while one of
  // its operations runs, `stop_asked` once bplink_protocol_stop came during
  // it. That, not what the transfer brought, is how a stopped transfer is
  // told from a whole one.
  std::atomic<bool> running{false};
  std::atomic<bool> stop_asked{false};
  // What the last upload's check, or the last erasure's guard, said
  // (bplink_protocol_message), and the readings it would have erased unread.
  std::string message;
  std::int64_t would_erase = 0;

  int Read(const int& value) const { return std::atomic_ref<int>(const_cast<int&>(value)).load(); }
  int Stage() const {
    return std::atomic_ref<enum_TransportType>(const_cast<enum_TransportType&>(stage)).load();
  }

  // Called after every device call of a transfer, on its thread. A transfer
  // writes "running" at its start, over a stop that came just before: the
  // request is made again until the transfer reads it.
  void Notify() {
    if (stop_asked.load()) {
      std::atomic_ref<int> now(state);
      int running_state = bplink::kStateRunning;
      now.compare_exchange_strong(running_state, bplink::kStateStopRequested);
    }
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

// One operation of a handle, from its first exchange to its last: while it
// lives a stop request counts. A request left from before it is dropped.
class Operation {
 public:
  explicit Operation(bplink_protocol& p) : p_(p) {
    p_.stop_asked.store(false);
    std::atomic_ref<int> state(p_.state);
    int stale = bplink::kStateStopRequested;
    state.compare_exchange_strong(stale, 0);
    p_.running.store(true);
  }
  ~Operation() { p_.running.store(false); }
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  bool Stopped() const { return p_.stop_asked.load(); }

 private:
  bplink_protocol& p_;
};

// What a transfer is, for how it ends.
enum class Kind {
  kQuery,      // what the device offers: no progress of its own, never stopped
  kUpload,     // a plan, once started, goes whole or fails: a stop is not heard
  kStoppable,  // a download or delete, which the host may stop part-way
};

// Runs one transfer with the link's port search, and tells the callback how
// it ended. A whole transfer ends at progress 100, whatever the family's
// count reached; one the host stopped answers kResultStopped, whatever the
// family answered (the records that arrived stay in the protocol object).
template <typename Body>
int Transfer(bplink_protocol& p, const Operation& operation, Kind kind, Body body) {
  bplink::capi::PortScope scope(*p.link);
  p.told[0] = p.told[1] = p.told[2] = -1;
  int r = body();
  bplink::capi::NoteWhyNoDevice(*p.link, r);
  if (kind == Kind::kStoppable && operation.Stopped()) r = bplink::kResultStopped;
  if (kind != Kind::kQuery && r == bplink::kResultOk) std::atomic_ref<int>(p.progress).store(100);
  p.Notify();
  return r;
}

// The mode the host asked for, or the first one the device offers; a
// negative value is the result of asking the device.
int ChosenMode(bplink_protocol& p, int mode) {
  if (mode != DATAMODE_NONE) return mode;
  bplink::capi::PortScope scope(*p.link);
  const int first = p.FirstMode();
  if (first < 0) bplink::capi::NoteWhyNoDevice(*p.link, -first);
  return first;
}

// The mode of an upload: the one asked for, or the first one offered. The
// upload writes to the device the last identification found, so the device
// identifies itself first, whichever mode the host names. Negative: the
// result of asking the device.
int UploadMode(bplink_protocol& p, int mode) {
  const int first = ChosenMode(p, DATAMODE_NONE);
  return first < 0 || mode == DATAMODE_NONE ? first : mode;
}

// What the host's flags say about the plan check's warnings.
bplink::plan::UploadConsent ConsentOf(uint32_t flags) {
  return (flags & BPLINK_ACCEPT_WARNINGS) != 0 ? bplink::plan::UploadConsent::kWarningsAccepted
                                               : bplink::plan::UploadConsent::kWarningsNotAccepted;
}

// Nothing is erased unread: before an upload that starts a new recording,
// or a delete, what it would erase is read and counted (the core's rule),
// and readings the host did not let go (BPLINK_MAY_ERASE) refuse it. Filing
// them first is the host's part: it keeps the downloads, the library keeps
// no archive. 1: the erasure may go on.
int ClearErasure(bplink_protocol& p, const Operation& operation, bplink::guard::Erasure what, int mode,
                 uint32_t flags) {
  namespace guard = bplink::guard;
  if (!guard::Erases(*p.family, what) || (flags & BPLINK_MAY_ERASE) != 0) return bplink::kResultOk;
  tag_SUPPORT_PROTOCOL device;
  p.object->GetCurDeviceInfo(device);
  if (what == guard::Erasure::kDelete && !guard::DeleteReaches(*p.family, device)) return bplink::kResultOk;
  guard::HeldCount count;
  const int r = Transfer(p, operation, what == guard::Erasure::kDelete ? Kind::kStoppable : Kind::kQuery, [&] {
    count = guard::CountHeld(*p.object, what, mode,
                             [&p](int m) { return p.object->PC_Download(static_cast<enum_DataMode>(m)); });
    return count.result;
  });
  const char* erasing = what == guard::Erasure::kUpload ? "the upload" : "the delete";
  if (r != bplink::kResultOk) {
    p.message = std::string("what the device holds could not be read before ") + erasing + "; nothing was erased";
    return r;
  }
  if (count.held == 0) return bplink::kResultOk;
  p.would_erase = count.held;
  p.message = guard::WouldErase(what, count.held) +
              "; file them first (download them), or let them go (BPLINK_MAY_ERASE)";
  return bplink::kResultWouldErase;
}

// Every upload, from a struct or a plan file's text: the plan is held to
// what the device allows (the one check, plan::HoldToDevice) and sent only
// when it passed, its warnings accepted, and nothing would be erased unread.
// The check's words go to the handle's message.
int Upload(bplink_protocol& p, const _BP_TRANSPORT_INFO& plan, int mode, uint32_t flags) {
  namespace plan_check = bplink::plan;
  const Operation operation(p);
  const int chosen = UploadMode(p, mode);
  if (chosen < 0) return -chosen;
  if (chosen == DATAMODE_NONE) return bplink::kResultNotForDevice;
  plan_check::PlanCheck check;
  Transfer(p, operation, Kind::kQuery, [&] {
    check = plan_check::HoldToDevice(*p.object, *p.family, chosen, plan, "plan");
    return check.result;
  });
  if (!check.MaySend(ConsentOf(flags))) {
    p.message = check.Refusal();
    if (check.result != bplink::kResultOk) return check.result;
    return check.errors.empty() ? bplink::kResultPlanWarned : bplink::kResultNotForDevice;
  }
  if (const int r = ClearErasure(p, operation, bplink::guard::Erasure::kUpload, chosen, flags); r != bplink::kResultOk)
    return r;
  // Accepted warnings are still said, with the fields the device does not keep.
  std::string said = check.DroppedNote();
  for (const std::string& warning : check.warnings) said += (said.empty() ? "" : "\n") + warning;
  p.message = said;
  p.object->SetUpLoadData(plan);
  return Transfer(p, operation, Kind::kUpload,
                  [&] { return p.object->PC_Upload(static_cast<enum_DataMode>(chosen)); });
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
    const Operation operation(*protocol);
    const int r =
        Transfer(*protocol, operation, Kind::kQuery, [&] { return protocol->object->GetDownLoadDataMode(flags); });
    std::copy(std::begin(flags), std::end(flags), modes->offered);
    return r;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_intervals(bplink_protocol* protocol, bplink_intervals* out) {
  return Guard([&]() -> int {
    if (protocol == nullptr || !Fits(out)) return bplink::kResultCannotStart;
    _UPLOAD_NEEDED_DATA needed;
    const Operation operation(*protocol);
    const int r = Transfer(*protocol, operation, Kind::kQuery,
                           [&] { return protocol->object->PC_DownloadBPInfoTimeInterval(needed); });
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
    if (!protocol->running.load()) return bplink::kResultOk;  // nothing runs: nothing to stop
    protocol->stop_asked.store(true);
    std::atomic_ref<int>(protocol->state).store(bplink::kStateStopRequested);
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_download_run(bplink_protocol* protocol, int mode, bplink_download** out) {
  return Guard([&]() -> int {
    if (protocol == nullptr || out == nullptr) return bplink::kResultCannotStart;
    const Operation operation(*protocol);
    const int chosen = ChosenMode(*protocol, mode);
    if (chosen < 0) return -chosen;
    if (chosen == DATAMODE_NONE) return bplink::kResultNotForDevice;
    auto download = std::make_unique<bplink_download>();
    download->mode = chosen;
    protocol->object->GetCurDeviceInfo(download->device);
    if (operation.Stopped()) {  // while the device was asked for its modes: nothing downloaded
      download->result = bplink::kResultStopped;
      download->stopped = true;
      *out = download.release();
      return bplink::kResultStopped;
    }
    const int r = Transfer(*protocol, operation, Kind::kStoppable, [&] {
      return protocol->object->PC_Download(static_cast<enum_DataMode>(chosen));
    });
    download->result = r;
    download->stopped = r == bplink::kResultStopped;
    download->downloaded_at = bplink::CurrentEnv()->LocalTime();
    const int copied = protocol->object->GetDownLoadData(&download->data);
    protocol->object->GetCurDeviceInfo(download->device);
    *out = download.release();
    return r == bplink::kResultOk ? copied : r;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_upload(bplink_protocol* protocol, const bplink_plan* plan, int mode) {
  return bplink_upload_with(protocol, plan, mode, 0);
}

BPLINK_C_API int BPLINK_C_CALL bplink_upload_with(bplink_protocol* protocol, const bplink_plan* plan, int mode,
                                                  uint32_t flags) {
  return Guard([&]() -> int {
    if (protocol == nullptr || !Fits(plan)) return bplink::kResultCannotStart;
    protocol->message.clear();
    protocol->would_erase = 0;
    return Upload(*protocol, bplink::capi::FromC(*plan), mode, flags);
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_upload_json(bplink_protocol* protocol, const char* plan_json, int mode,
                                                  char* message, size_t size) {
  return bplink_upload_json_with(protocol, plan_json, mode, 0, message, size);
}

BPLINK_C_API int BPLINK_C_CALL bplink_upload_json_with(bplink_protocol* protocol, const char* plan_json, int mode,
                                                       uint32_t flags, char* message, size_t size) {
  bplink::capi::CopyText("", message, size);
  return Guard([&]() -> int {
    if (protocol == nullptr || plan_json == nullptr) return bplink::kResultCannotStart;
    protocol->message.clear();
    protocol->would_erase = 0;
    int r = bplink::kResultCannotStart;
    try {
      const _BP_TRANSPORT_INFO plan = bplink::plan::ReadPlanText(plan_json, "plan");
      r = Upload(*protocol, plan, mode, flags);
    } catch (const bplink::plan::PlanError& e) {
      protocol->message = e.what();
    }
    bplink::capi::CopyText(protocol->message, message, size);
    return r;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_message(const bplink_protocol* protocol, char* text, size_t size) {
  return Guard([&]() -> int {
    if (protocol == nullptr || text == nullptr || size == 0) return bplink::kResultCannotStart;
    bplink::capi::CopyText(protocol->message, text, size);
    return bplink::kResultOk;
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_delete(bplink_protocol* protocol, int mode) {
  return bplink_delete_with(protocol, mode, 0);
}

BPLINK_C_API int BPLINK_C_CALL bplink_delete_with(bplink_protocol* protocol, int mode, uint32_t flags) {
  return Guard([&]() -> int {
    if (protocol == nullptr) return bplink::kResultCannotStart;
    protocol->message.clear();
    protocol->would_erase = 0;
    const Operation operation(*protocol);
    const int chosen = ChosenMode(*protocol, mode);
    if (chosen < 0) return -chosen;
    if (operation.Stopped()) return bplink::kResultStopped;  // nothing deleted
    if (!protocol->family->deletes) {
      // The class would answer OK and delete nothing: a host must not take
      // that for readings gone.
      protocol->message = std::string("the ") + std::string(protocol->family->name) +
                          " family has no delete: the device keeps its readings";
      return bplink::kResultNotInFamily;
    }
    if (const int r = ClearErasure(*protocol, operation, bplink::guard::Erasure::kDelete, chosen, flags);
        r != bplink::kResultOk)
      return r;
    if (operation.Stopped()) return bplink::kResultStopped;
    return Transfer(*protocol, operation, Kind::kStoppable,
                    [&] { return protocol->object->PC_Delete(static_cast<enum_DataMode>(chosen)); });
  });
}

BPLINK_C_API int BPLINK_C_CALL bplink_protocol_would_erase(const bplink_protocol* protocol, int64_t* readings) {
  return Guard([&]() -> int {
    if (protocol == nullptr || readings == nullptr) return bplink::kResultCannotStart;
    *readings = protocol->would_erase;
    return bplink::kResultOk;
  });
}

}  // extern "C"
