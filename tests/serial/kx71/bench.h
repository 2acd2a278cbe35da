// What the KX71 tests share: a recorder behind the in-process adapter on the
// virtual clock, among ports that stay silent, and the protocol object bound
// to it with its three progress variables.
#pragma once

#include <bplink/bplink.h>

#include <vector>

#include "in_process_device.h"
#include "kx71/model.h"
#include "virtual_env.h"

namespace kx71test {

using Kx71Group = bplink::sim::kx71::Group;
using Kx71Reading = bplink::sim::kx71::Reading;
using Kx71Recorder = bplink::sim::kx71::Recorder;

// Readings whose bytes have the top bit both set and clear, so both ways of
// masking are on the line; status 3 is usable, 2 is not.
std::vector<Kx71Reading> Readings(int count, const bplink::CalendarTime& start, int sysBase);
// What the host should make of a reading.
_BP_RECORD Expected(const Kx71Reading& reading);
std::vector<_BP_RECORD> Expected(const std::vector<Kx71Reading>& readings);

// The recorder's two groups: the secondary one first, so routing by header
// and not by order is what puts the records in place.
std::vector<Kx71Group> TwoGroups(int primaryCount, int secondaryCount);

class Bench {
 public:
  // The recorder sits on the third listed port; the first is openable and
  // silent, the second is not openable.
  static constexpr const wchar_t* kRecorderPort = L"/dev/ttyS2";

  Bench();

  bplink::testing::VirtualEnv env;
  bplink::testing::ScopedEnv scope{&env};
  Kx71Recorder recorder;
  bplink::sim::InProcessDevice device;
  CProtocolCOMKX71 protocol;
  int progress = -1;
  int state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;

  _DOWNLOAD_DATAINFO Fetch();
};

}  // namespace kx71test
