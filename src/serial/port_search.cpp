#include "serial/port_search.h"

#include <bplink/codes.h>
#include <bplink/comports.h>
#include <bplink/env.h>

namespace bplink::serial {
namespace {

// One probe on an open link: request out, a pause, the answer in and judged.
bool Ask(CDevice& device, const Probe& probe) {
  if (device.SendData(const_cast<BYTE*>(probe.request), probe.requestLength) == 0) return false;
  CurrentEnv()->Sleep(kProbeAnswerPauseMs);
  if (device.RecvData(probe.answer, probe.answerLength) == 0) return false;
  return probe.matches(probe.answer);
}

}  // namespace

int SearchPort(CDevice* device, bool hostOpenedLink, const DCB& dcb, const Probe& probe,
               const SearchRules& rules, CString& foundPath) {
  if (device == nullptr) return kResultNoLink;
  try {
    if (rules.probeHostOpenedLink && hostOpenedLink)
      return Ask(*device, probe) ? kResultOk : kResultNoLink;

    COMPORT_LIST ports;
    EnumerateComPorts(ports, true);
    for (const COMPORT_ENTRY& port : ports) {
      const CString path = ComPortPath(port.strPortName);
      if (device->Open(path, dcb) != 1) continue;
      if (Ask(*device, probe)) {
        foundPath = path;
        return kResultOk;
      }
      device->Close();
    }
    return kResultNoLink;
  } catch (...) {
    try {
      device->Close();
    } catch (...) {
    }
    return rules.resultOnException;
  }
}

int SearchPortByByte(CDevice* device, bool hostOpenedLink, const DCB& dcb, BYTE request,
                     BYTE expected, const SearchRules& rules, CString& foundPath) {
  BYTE answer = 0;
  const Probe probe{&request, 1, &answer, 1,
                    [expected](const BYTE* got) { return got[0] == expected; }};
  return SearchPort(device, hostOpenedLink, dcb, probe, rules, foundPath);
}

}  // namespace bplink::serial
