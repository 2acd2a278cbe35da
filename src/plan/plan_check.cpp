#include <bplink/plan/plan_check.h>

#include <bplink/codes.h>

namespace bplink::plan {
namespace {

tag_SUPPORT_PROTOCOL DeviceNow(CProtocolBase& protocol) {
  tag_SUPPORT_PROTOCOL device;
  protocol.GetCurDeviceInfo(device);
  return device;
}

std::string Lines(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& text : texts) out += (out.empty() ? "" : "\n") + text;
  return out;
}

}  // namespace

bool PlanCheck::MaySend(UploadConsent consent) const {
  return result == kResultOk && errors.empty() &&
         (warnings.empty() || consent == UploadConsent::kWarningsAccepted);
}

std::string PlanCheck::Refusal() const {
  if (result != kResultOk) return why_not_judged;
  return errors.empty() ? Lines(warnings) : Lines(errors);
}

std::string PlanCheck::DroppedNote() const {
  return dropped.empty() ? "" : "the device does not keep " + Join(dropped);
}

PlanCheck HoldToDevice(CProtocolBase& protocol, const Family& family, int mode, const _BP_TRANSPORT_INFO& plan,
                       const std::string& name) {
  PlanCheck check;
  // Values no device stores are refused before any device is asked (a plan
  // file's reader has refused them already).
  check.errors = OutOfRange(plan, name);
  if (!check.errors.empty()) return check;
  // A device that keeps no plan is told apart without a word to it.
  if (KeptFields(family, DeviceNow(protocol), mode).empty()) {
    check.result = kResultNotInFamily;
    check.why_not_judged = "this device keeps no plan";
    return check;
  }
  // The serial families answer with the library's list and "not for this
  // device", which is still the list to hold a plan to.
  _UPLOAD_NEEDED_DATA allowed;
  const int asked = protocol.PC_DownloadBPInfoTimeInterval(allowed);
  if (asked != kResultOk && asked != kResultNotForDevice) {
    check.result = asked;
    check.why_not_judged = std::string("asking the device what a plan may hold failed: ") + ResultText(asked);
    return check;
  }
  // The query identified the device again (a HID device's version byte
  // decides some of what it keeps).
  check.kept = KeptFields(family, DeviceNow(protocol), mode);
  check.errors = NotAllowed(plan, allowed, check.kept, name);
  check.dropped = Without(FieldsSet(plan), check.kept);
  return check;
}

}  // namespace bplink::plan
