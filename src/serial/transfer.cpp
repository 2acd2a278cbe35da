#include "serial/transfer.h"

#include <bplink/codes.h>
#include <bplink/protocol_base.h>

#include "frame/record_fields.h"
#include "serial/line.h"

namespace bplink::serial {

int RunTransfer(const HostVariables& host, CDevice* device, enum_DataMode mode,
                const std::function<int()>& find, const std::function<int()>& steps) {
  CProtocolBase::m_nABPM_Type = mode;
  host.SetProgress(0);
  host.SetState(kStateRunning);
  int result = kResultException;
  try {
    result = find();
    if (result != kResultOk) {
      host.SetState(kStateFailed);
      return result;
    }
    result = steps();
  } catch (...) {
    result = kResultException;
  }
  CloseQuietly(device);
  host.Finish(result);
  return result;
}

int DownloadPlanThenRecords(const std::function<int()>& plan, const std::function<int()>& records,
                            _BP_DATASET& set) {
  const int planned = plan();
  if (planned != kResultOk) return planned;
  const int result = records();
  if (result == kResultOk) HeadFromFirstRecord(set);
  return result;
}

}  // namespace bplink::serial
