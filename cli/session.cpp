#include "session.h"

#include <array>
#include <optional>

#include "command_error.h"
#include "exit_status.h"

namespace bplink::cli {
namespace {

void Bind(Session& session, Link& link) {
  session.protocol->SetDevice(&link.Device(), false);
  session.protocol->SetProgressInfo(&session.progress->percent, &session.progress->state,
                                    &session.progress->stage);
}

std::string HidTried(const tag_SUPPORT_PROTOCOL& found, const Link& link) {
  if (found.nProtocol != kProtocolNotIdentified)
    return "USB HID: a device answered, but with an identity no protocol serves (device type " +
           std::to_string(found.nDeviceType) + ", protocol " + std::to_string(found.nProtocol) + ")";
  std::string hid = "USB HID: no device answered the device-information request";
  if (link.Machine() != nullptr && !link.Machine()->HidError().text.empty())
    hid += " (" + link.Machine()->HidError().text + ")";
  return hid;
}

// What detection went through, for the message when nothing answered.
std::string WhatWasTried(const tag_SUPPORT_PROTOCOL& found, const Link& link) {
  std::string ports;
  int openable = 0;
  for (const PortCheck& port : link.CheckPorts()) {
    openable += port.opens ? 1 : 0;
    ports += (ports.empty() ? "" : ", ") + port.name;
    if (!port.opens) ports += " (cannot be opened" + (port.reason.empty() ? "" : ": " + port.reason) + ")";
  }
  std::string serial = "serial ports: none found";
  if (!ports.empty())
    serial = "serial ports: " + ports + (openable == 0 ? "" : "; each one that opens was asked by every serial "
                                                               "family's probe and none answered");
  return "no device found. Tried:\n  " + HidTried(found, link) + "\n  " + serial;
}

// Detection over both links; throws when nothing answered.
tag_SUPPORT_PROTOCOL Detect(Link& link) {
  CSelectProtocol select;
  select.SetDevice(&link.Device());
  tag_SUPPORT_PROTOCOL found{};
  const int r = select.OnTestProtocol(found);
  if (r == kResultOk && FamilyForProtocol(found.nProtocol) != nullptr) return found;
  if (r == kResultException)
    throw CommandError(kExitFailed, "detection failed: " + ResultMessage(r) + " (the serial ports could not be listed)");
  throw CommandError(kExitNoDevice, WhatWasTried(found, link));
}

}  // namespace

int Session::ExitFor(int result) const {
  return result != kResultOk && result == family->silenceResult ? kExitLinkFailed : ExitForResult(result);
}

std::string Session::Explain(int result) const {
  const bool silent = result != kResultOk && result == family->silenceResult;
  std::string text = ResultMessage(result);
  if (silent && result != kResultIoFailed) text = "the device stopped answering (" + std::to_string(result) + ")";
  if (link == nullptr) return text;
  std::string why;
  if (result == kResultNoLink) {
    why = link->WhyNoLink(family->link);
  } else if ((result == kResultIoFailed || silent) && link->Machine() != nullptr) {
    const LinkError& last = link->Machine()->LastError();
    if (last.kind == LinkErrorKind::kTimedOut || last.kind == LinkErrorKind::kLinkLost) why = "last on the link: " + last.text;
  }
  return why.empty() ? text : text + "; " + why;
}

int Session::FirstMode() const {
  for (int mode = DATAMODE_BP; mode < kDataModeCount; ++mode)
    if (modes[mode] == 1) return mode;
  return DATAMODE_NONE;
}

Session Connect(const GlobalOptions& options, Link& link) {
  Session session;
  session.progress = std::make_unique<Session::Progress>();
  session.link = &link;
  std::optional<tag_SUPPORT_PROTOCOL> detected;
  if (!options.protocol) detected = Detect(link);
  const int code = options.protocol ? *options.protocol : detected->nProtocol;
  session.family = FamilyForProtocol(code);
  if (session.family == nullptr) throw CommandError(kExitBadInput, "no device family speaks protocol " + std::to_string(code));
  session.protocol = session.family->make();
  Bind(session, link);
  // The HID class identifies the device again here; the serial classes
  // name their fixed modes and find their port at each transfer.
  const int r = session.protocol->GetDownLoadDataMode(session.modes);
  if (r != kResultOk)
    throw CommandError(ExitForResult(r), "the device did not identify itself: " + session.Explain(r));
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

}  // namespace bplink::cli
