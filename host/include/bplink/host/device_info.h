// What a device offers and allows, as `bplink info` shows it and the
// workstation's device page does: its data modes, the plan fields it keeps,
// the intervals it allows and the plan it holds; and whether a host may
// delete its measurements.
#pragma once

#include <bplink/host/session.h>
#include <bplink/plan/plan_file.h>

#include <string>
#include <vector>

namespace bplink::host {

struct DeviceInfo {
  tag_SUPPORT_PROTOCOL device;   // as it identified itself
  _SUB_VERSION version;          // the protocol version it reports
  std::vector<int> modes;        // the data modes a transfer may name (Session::Takes)
  plan::FieldNames kept;         // the plan fields it keeps; empty: it takes no plan
  // The interval query: the intervals it allows and the plan it holds. Not
  // reported: the library's usual lists, and no plan.
  bool reported = false;
  _UPLOAD_NEEDED_DATA allowed;
};

// Asks the device (the interval query, where it keeps a plan). Throws
// DeviceError only where the session's device cannot be asked at all.
DeviceInfo Describe(Session& session);

// What the device allows in a plan: the interval query's answer. The
// serial families answer with the library's list and "not for this device",
// which is still the list to hold a plan to. Throws DeviceError when the
// query failed.
_UPLOAD_NEEDED_DATA AllowedInPlan(Session& session);

// Why a host may not delete this device's measurements, in words; empty
// when it may.
std::string WhyNoDelete(const Session& session);

}  // namespace bplink::host
