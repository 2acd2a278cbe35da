// What a plan may contain: allowed intervals, offered data modes, and for
// the devices that keep them, the plan and alarm switch the device holds now.
// Ambulatory recorders from version byte 3 on and type 2 devices keep a table
// of the intervals they accept; the others accept a fixed list.

#include <bplink/protocol_new.h>

#include <algorithm>
#include <array>
#include <vector>

#include "hid/device_rules.h"
#include "hid/frames.h"

using namespace bplink::hid;
using bplink::kResultOk;

namespace {

// Interval table: count, then up to 19 intervals in minutes, one byte each.
constexpr DWORD kTableLength = 20;
constexpr DWORD kTableFrameLength = DataFrameLength(kTableLength);  // 25
constexpr DWORD kTableCountAt = 0;
constexpr DWORD kTableFirstAt = 1;
constexpr int kTableMaxCount = static_cast<int>(kTableLength - kTableFirstAt);

// Fixed lists, in minutes.
constexpr std::array<int, 9> kAnyDeviceIntervals{5, 10, 15, 20, 30, 45, 60, 90, 120};
// Recorders without a table: the night period may also measure every 4 hours.
constexpr std::array<int, 4> kRecorderDayIntervals{15, 30, 60, 120};
constexpr std::array<int, 5> kRecorderNightIntervals{15, 30, 60, 120, 240};
// A device that keeps a plan but answers no table.
constexpr std::array<int, 9> kNoTableIntervals{15, 20, 30, 40, 60, 90, 120, 180, 240};

template <std::size_t N>
std::vector<int> List(const std::array<int, N>& list) {
  return {list.begin(), list.end()};
}

}  // namespace

// The data-mode flags come from the identification just made. When the
// identification fails, `data` is left as it was.
int CProtocol_NEW::PC_DownloadBPInfoTimeInterval(_UPLOAD_NEEDED_DATA& data) {
  try {
    int r = OpenHIDDev();
    if (r != kResultOk) return r;
    r = GetDeviceInfo();
    if (r == kResultOk) r = DoHandShake();
    if (r != kResultOk) {
      CloseHIDDev();
      return r;
    }

    std::copy_n(DataModeFlags(), kDataModeCount, data.nDataMode);
    data.Info = _BP_TRANSPORT_INFO{};
    data.vecInterval1.clear();
    const int type = m_SupportInfo.nDeviceType;
    if (KeepsIntervalTable(type, m_byVersion)) {
      // The device's plan and list are handed over even when reading them
      // failed part-way: they are then what the object held.
      r = DownloadDeviceInfo();
      data.Info = m_UploadNeeded.Info;
      data.vecInterval1 = m_UploadNeeded.vecInterval1;
      data.vecInterval2 = m_UploadNeeded.vecInterval1;
    } else if (type == bplink::kDeviceAmbulatory) {
      data.vecInterval1 = List(kRecorderDayIntervals);
      data.vecInterval2 = List(kRecorderNightIntervals);
    } else {
      data.vecInterval1 = List(kAnyDeviceIntervals);
      data.vecInterval2 = List(kAnyDeviceIntervals);
    }
    if (HoldsWarnSwitch(type, m_SupportInfo.nVersion)) {
      r = DownloadWarnSwitchInfo();
      data.Info.nWarnSwitchInfo = m_UploadNeeded.Info.nWarnSwitchInfo;
    }
    CloseHIDDev();
    return r;
  } catch (...) {
    CloseHIDDev();
    return bplink::kResultException;
  }
}

// Reads the plan the way a data-mode-1 download does, then the interval
// table; a device that answers no table gets the fixed list.
int CProtocol_NEW::DownloadDeviceInfo() {
  try {
    m_nABPM_Type = DATAMODE_BP;
    const int r = DownloadBPInfo();
    if (r != kResultOk) return r;
    if (DownloadTimeInterval(m_UploadNeeded.vecInterval1) != kResultOk)
      m_UploadNeeded.vecInterval1 = List(kNoTableIntervals);
    return kResultOk;
  } catch (...) {
    return bplink::kResultException;
  }
}

int CProtocol_NEW::DownloadTimeInterval(std::vector<int>& vecInterval) {
  try {
    const int r = RequestParameter(kOpRead, kObjIntervals, 0);
    if (r != kResultOk) return r;

    BYTE* frame = NewBuffer(kTableFrameLength);
    std::array<BYTE, kTableLength> table{};
    const bool read = ReceiveFrame(frame, kTableFrameLength) && frame[0] == kFrameIntervals &&
                      UnpackPayload(frame + kDataFrameCodeBytes, kTableLength, table.data());
    FreeBuffer();
    if (!read) return bplink::kResultIoFailed;

    const int count = std::min<int>(table[kTableCountAt], kTableMaxCount);
    vecInterval.assign(table.begin() + kTableFirstAt, table.begin() + kTableFirstAt + count);
    return kResultOk;
  } catch (...) {
    FreeBuffer();
    return bplink::kResultException;
  }
}
