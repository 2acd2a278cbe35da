#include <bplink/host/session.h>

#include <array>

namespace bplink::host {
namespace {

void Bind(Session& session, Link& link) {
  session.protocol->SetDevice(&link.Device(), false);
  session.protocol->SetProgressInfo(&session.progress->percent, &session.progress->state,
                                    &session.progress->stage);
}

}  // namespace

bool Usable(const DetectedPort& port) {
  return port.status == PortStatus::kFound && FamilyForProtocol(port.device.nProtocol) != nullptr;
}

std::string PortName(const std::wstring& name) { return std::string(name.begin(), name.end()); }

std::string LinkName(const DetectedPort& port) { return port.link == LinkKind::kUsbHid ? "USB HID" : PortName(port.port); }

std::string WhyNothing(const DetectedPort& port) {
  if (port.link == LinkKind::kUsbHid) {
    if (port.status == PortStatus::kFound)
      return "a device answered, but with an identity no protocol serves (device type " +
             std::to_string(port.device.nDeviceType) + ", protocol " + std::to_string(port.device.nProtocol) + ")";
    std::string why = "no device answered the device-information request";
    return port.error.text.empty() ? why : why + " (" + port.error.text + ")";
  }
  // The transport's words follow: for a port this user may not open, the
  // node, its owner and mode, and what would let the user open it.
  const std::string reason = port.error.text.empty() ? "" : ": " + port.error.text;
  switch (port.status) {
    case PortStatus::kSilent: return "opens, but no serial family's probe was answered";
    case PortStatus::kCannotOpen: return "cannot be opened" + reason;
    default: return PortStatusText(port.status) + reason;
  }
}

std::vector<DetectedPort> DetectDevices(Link& link) {
  std::vector<DetectedPort> ports;
  const int r = DetectAll(ports, link.DetectionOptions());
  if (r == kResultException)
    throw DeviceError(r, "detection failed: " + std::string(ResultText(r)) + " (the serial ports could not be listed)");
  return ports;
}

std::string NoDeviceMessage(const std::vector<DetectedPort>& ports) {
  std::string hid, serial;
  for (const DetectedPort& port : ports) {
    if (port.link == LinkKind::kUsbHid)
      hid = "\n  USB HID: " + WhyNothing(port);
    else
      serial += (serial.empty() ? "" : ", ") + LinkName(port) + " (" + WhyNothing(port) + ")";
  }
  return "no device found. Tried:" + hid + "\n  serial ports: " + (serial.empty() ? "none found" : serial);
}

bool Session::Silent(int result) const { return result != kResultOk && result == family->silenceResult; }

std::string Session::Explain(int result) const {
  const bool silent = Silent(result);
  std::string text = ResultText(result);
  if (silent && result != kResultIoFailed) text = "the device stopped answering";
  if (link == nullptr) return text;
  std::string why;
  if (result == kResultNoLink) {
    why = link->WhyNoLink(family->link);
  } else if ((result == kResultIoFailed || silent) && link->LastError() != nullptr) {
    const LinkError& last = *link->LastError();
    if (last.kind == LinkErrorKind::kTimedOut || last.kind == LinkErrorKind::kLinkLost) why = "last on the link: " + last.text;
  }
  return why.empty() ? text : text + "; " + why;
}

int Session::FirstMode() const {
  for (int mode = DATAMODE_BP; mode < kDataModeCount; ++mode)
    if (modes[mode] == 1) return mode;
  return DATAMODE_NONE;
}

tag_SUPPORT_PROTOCOL Session::DeviceNow() const {
  tag_SUPPORT_PROTOCOL now = device;
  protocol->GetCurDeviceInfo(now);
  return now;
}

Session Reach(Link& link, const DetectedPort& found) {
  if (found.link == LinkKind::kSerial) link.UsePort(found.port);
  return Reach(link, found.device.nProtocol, found.device);
}

Session Reach(Link& link, int code, const std::optional<tag_SUPPORT_PROTOCOL>& detected) {
  Session session;
  session.progress = std::make_unique<Session::Progress>();
  session.link = &link;
  session.family = FamilyForProtocol(code);
  if (session.family == nullptr)
    throw DeviceError(kResultNotInFamily, "no device family speaks protocol " + std::to_string(code));
  session.protocol = session.family->make();
  Bind(session, link);
  // The HID class identifies the device again here; the serial classes
  // name their fixed modes and find their port at each transfer.
  const int r = session.protocol->GetDownLoadDataMode(session.modes);
  if (r != kResultOk) throw DeviceError(r, "the device did not identify itself: " + session.Explain(r));
  session.protocol->GetCurDeviceInfo(session.device);
  // Only detection tells the serial devices' variants apart.
  if (detected && session.family->link == LinkKind::kSerial) session.device = *detected;
  return session;
}

std::string DataModeName(int mode) {
  static constexpr std::array<const char*, kDataModeCount> kNames = {
      "none",          "blood pressure", "blood pressure with SpO2", "second set", "store 1", "store 2",
      "store 3",       "all three stores", "reserved"};
  return mode >= 0 && mode < kDataModeCount ? kNames[mode] : "unknown";
}

std::string DeviceTypeText(int deviceType) {
  switch (deviceType) {
    case kDeviceAmbulatory: return "ambulatory recorder";
    case kDeviceWithSpO2: return "monitor with SpO2";
    case kDeviceThreeStores: return "monitor with three stores";
    case kDeviceType2:
    case kDeviceType4:
    case kDeviceType6: return "monitor";
    default: return "unknown device";
  }
}

std::string DeviceFieldText(int value) {
  constexpr int kNotReported = 255;  // what detection leaves in a field the device does not tell
  return value == kNotReported ? "not reported" : std::to_string(value);
}

}  // namespace bplink::host
