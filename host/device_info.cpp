#include <bplink/host/device_info.h>
#include <bplink/plan/plan_check.h>

namespace bplink::host {

DeviceInfo Describe(Session& session) {
  DeviceInfo info;
  info.device = session.device;
  session.protocol->GetProtocolVersion(info.version);
  for (int mode = DATAMODE_BP; mode < kDataModeCount; ++mode)
    if (session.Takes(mode)) info.modes.push_back(mode);
  info.kept = plan::KeptFields(*session.family, session.DeviceNow(), session.FirstMode());
  if (info.kept.empty()) return info;
  // Devices that keep no table of intervals get the library's list (the
  // serial families say so with 10) and the default plan, not their own.
  const int r = session.protocol->PC_DownloadBPInfoTimeInterval(info.allowed);
  info.reported = r == kResultOk && plan::IntervalQueryReadsPlan(*session.family, session.DeviceNow());
  return info;
}

_UPLOAD_NEEDED_DATA AllowedInPlan(Session& session) {
  _UPLOAD_NEEDED_DATA allowed;
  const int r = session.protocol->PC_DownloadBPInfoTimeInterval(allowed);
  if (r != kResultOk && r != kResultNotForDevice)
    throw DeviceError(r, "asking the device what a plan may hold failed: " + session.Explain(r));
  return allowed;
}

std::string WhyNoDelete(const Session& session) {
  // A serial class would answer success without sending a byte.
  if (!session.family->deletes)
    return "this device does not let a host delete its measurements (the " + std::string(session.family->name) +
           " family has no delete command)";
  // Of the USB HID devices only these take a delete.
  if (session.device.nDeviceType != kDeviceThreeStores)
    return "this device does not let a host delete its measurements (only the " + DeviceTypeText(kDeviceThreeStores) +
           " does)";
  return {};
}

}  // namespace bplink::host
