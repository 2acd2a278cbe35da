// What a transfer of either family does around its exchanges: the host's
// progress and state at the start, the port search, the steps on the port it
// left open, closing, and the final state. Both protocol classes befriend
// Transfer so it can drive their steps.
#pragma once

#include <bplink/codes.h>
#include <bplink/protocol_base.h>

#include "serial/vestra16/blocks.h"
#include "serial/vestra16/byte_link.h"

namespace bplink::serial::vestra16 {

struct Transfer {
  // The identity a protocol object of the family carries from construction.
  template <class Protocol>
  static void Identify(Protocol& p, int deviceType, int protocolCode) {
    p.m_SupportInfo.nDeviceType = deviceType;
    p.m_SupportInfo.nProtocol = protocolCode;
    p.m_SupportInfo.nReserved = kDeviceNotIdentified;
    p.m_SupportInfo.nVariant = kDeviceNotIdentified;
  }

  // `find` searches the port and leaves it open (1) or answers why not;
  // `steps` run on that port, which is closed afterwards whatever happened.
  template <class Protocol, class Find, class Steps>
  static int Run(Protocol& p, enum_DataMode mode, Find find, Steps steps) {
    CProtocolBase::m_nABPM_Type = mode;
    p.SetProgress(0);
    p.SetState(kStateRunning);
    const int found = find();
    if (found != kResultOk) {
      p.SetState(kStateFailed);
      return found;
    }
    const int result = RunOnOpenPort(p.m_pDevice, steps);
    p.FinishState(result);
    return result;
  }

  // A download on the open port: the settings first (they give the record
  // count and the start the records are dated from), then the records.
  template <class Protocol>
  static int Download(Protocol& p) {
    p.ClearAllData();
    const int settings = p.DownloadBPInfo();
    if (settings != kResultOk) return settings;
    const int records = p.DownloadBPData();
    if (records == kResultOk) HeadFromFirstRecord(p.m_BPSet1);
    return records;
  }
};

}  // namespace bplink::serial::vestra16
