// The table of families. Detection probes the serial families in this
// order: the only probe at 115200 baud first, and VESTRA16C before VESTRA16,
// since a VESTRA16 monitor answers the same request (with its own echo).

#include <bplink/families.h>

#include <bplink/protocol_kv32.h>
#include <bplink/protocol_kx71.h>
#include <bplink/protocol_new.h>
#include <bplink/protocol_vestra16.h>
#include <bplink/protocol_vestra16c.h>
#include <bplink/protocol_vestra18.h>

#include <algorithm>
#include <array>

#include "detect/families.h"
#include "serial/kv32/wire.h"
#include "serial/kx71/wire.h"
#include "serial/vestra16/wire.h"
#include "serial/vestra16c/wire.h"
#include "serial/vestra18/wire.h"

namespace bplink {
namespace {

template <typename Protocol>
std::unique_ptr<CProtocolBase> Make() {
  return std::make_unique<Protocol>();
}

constexpr unsigned kWholePlan = kKeepsPeriod1 | kKeepsPeriod2 | kKeepsExtraWindow | kKeepsPatientTexts;

struct Row {
  Family family;
  const serial::DetectionProbe* probe;  // for a serial family; null for HID
};

constexpr std::array<Row, 6> kRows{{
    {{"hid", "CProtocol_NEW", LinkKind::kUsbHid, kProtocolHidFirst, kProtocolHidLast, kDeviceUnknown, kWholePlan,
      true, false, kResultIoFailed, Make<CProtocol_NEW>},
     nullptr},
    {{"kx71", "CProtocolCOMKX71", LinkKind::kSerial, kProtocolKX71, kProtocolKX71, kDeviceAmbulatory,
      kKeepsPeriod1 | kKeepsPeriod2 | kKeepsPatientTexts, false, false, kResultIoFailed, Make<CProtocolCOMKX71>},
     &serial::kx71::kDetectionProbe},
    {{"kv32", "CProtocolCOMKV32", LinkKind::kSerial, kProtocolKV32, kProtocolKV32, kDeviceWithSpO2, kWholePlan, false,
      true, kResultIoFailed, Make<CProtocolCOMKV32>},
     &serial::kv32::kDetectionProbe},
    {{"vestra16c", "CProtocolCOMVESTRA16C", LinkKind::kSerial, kProtocolVESTRA16C, kProtocolVESTRA16C, kDeviceType6,
      kWholePlan, false, false, kResultUnexpectedReply, Make<CProtocolCOMVESTRA16C>},
     &serial::vestra16c::kDetectionProbe},
    {{"vestra16", "CProtocolCOMVESTRA16", LinkKind::kSerial, kProtocolVESTRA16, kProtocolVESTRA16, kDeviceType4,
      kWholePlan, false, false, kResultUnexpectedReply, Make<CProtocolCOMVESTRA16>},
     &serial::vestra16::kDetectionProbe},
    {{"vestra18", "CProtocolCOMVESTRA18", LinkKind::kSerial, kProtocolVESTRA18, kProtocolVESTRA18, kDeviceThreeStores,
      0, false, false, kResultIoFailed, Make<CProtocolCOMVESTRA18>},
     &serial::vestra18::kDetectionProbe},
}};

constexpr std::array<Family, kRows.size()> kFamilies = [] {
  std::array<Family, kRows.size()> families{};
  std::transform(kRows.begin(), kRows.end(), families.begin(), [](const Row& row) { return row.family; });
  return families;
}();

constexpr std::size_t kSerialFamilies = static_cast<std::size_t>(
    std::count_if(kRows.begin(), kRows.end(), [](const Row& row) { return row.family.link == LinkKind::kSerial; }));

const std::array<detect::SerialProbe, kSerialFamilies> kSerialProbes = [] {
  std::array<detect::SerialProbe, kSerialFamilies> probes{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < kRows.size(); ++i)
    if (kRows[i].family.link == LinkKind::kSerial) probes[n++] = {&kFamilies[i], kRows[i].probe};
  return probes;
}();

}  // namespace

std::span<const Family> Families() { return kFamilies; }

const Family* FindFamily(std::string_view name) {
  const auto it = std::find_if(kFamilies.begin(), kFamilies.end(), [name](const Family& f) { return f.name == name; });
  return it != kFamilies.end() ? &*it : nullptr;
}

const Family* FamilyForProtocol(int protocol) {
  const auto it =
      std::find_if(kFamilies.begin(), kFamilies.end(), [protocol](const Family& f) { return f.Serves(protocol); });
  return it != kFamilies.end() ? &*it : nullptr;
}

std::span<const detect::SerialProbe> detect::SerialProbesInOrder() { return kSerialProbes; }

}  // namespace bplink
