// What every serial host operation does around its exchanges. The families
// differ in how they find their device and in the steps they run on its
// port; each entry point hands those to RunTransfer as callables.
#pragma once

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/records.h>

#include <functional>

#include "frame/host_variables.h"

namespace bplink::serial {

// What a serial protocol object reports from its construction: its family's
// device type and protocol code; the devices report no variant of their own.
inline void Identify(tag_SUPPORT_PROTOCOL& info, int deviceType, int protocol) {
  info.nDeviceType = deviceType;
  info.nProtocol = protocol;
  info.nReserved = kNotReported;
  info.nVariant = kNotReported;
}

// Runs one host operation: stores the data mode, sets progress 0 and state
// running; `find` looks for the device and leaves its port open (1) or
// answers why not (state failed, nothing else done); `steps` then run on
// that port, which is closed afterwards whatever happened. An exception in
// either gives 8. The state ends as the result says.
int RunTransfer(const HostVariables& host, CDevice* device, enum_DataMode mode,
                const std::function<int()>& find, const std::function<int()>& steps);

// A download whose plan comes first (it gives the record count and the start
// the records are dated from), then the records. When both came, the set's
// header is taken from its first record.
int DownloadPlanThenRecords(const std::function<int()>& plan, const std::function<int()>& records,
                            _BP_DATASET& set);

}  // namespace bplink::serial
