// The store of downloaded data: emptied before each download, handed to the
// host in the layout of the device type.

#include <bplink/protocol_base.h>

namespace {

void ClearSet(_BP_DATASET& set) {
  set.Head = _DATA_HEAD{};
  set.vecRecords.clear();
}

void ClearSet(_SPO2_DATASET& set) {
  set.Head = _DATA_HEAD{};
  set.vecRecords.clear();
}

}  // namespace

bool CProtocolBase::ClearAllData() {
  try {
    // The interval lists, the data-mode flags and the identification belong
    // to the device, not to one download, and stay.
    m_UploadNeeded.Info = _BP_TRANSPORT_INFO{};
    ClearSet(m_BPSet1);
    ClearSet(m_BPSet2);
    ClearSet(m_BPSet3);
    ClearSet(m_SpO2Set);
    return true;
  } catch (...) {
    return false;
  }
}

int CProtocolBase::GetDownLoadData(_DOWNLOAD_DATAINFO* pInfo) {
  if (pInfo == nullptr) return bplink::kResultOk;
  try {
    // Each set is assigned whole (header, then records), so an allocation
    // failure leaves the host with the sets copied before it.
    switch (m_SupportInfo.nDeviceType) {
      case bplink::kDeviceAmbulatory:
        pInfo->Info = m_UploadNeeded.Info;
        pInfo->BPSet = m_BPSet1;
        pInfo->BPSet2 = m_BPSet2;
        break;
      case bplink::kDeviceType2:
      case bplink::kDeviceType4:
      case bplink::kDeviceType6:
        pInfo->Info = m_UploadNeeded.Info;
        pInfo->BPSet = m_BPSet1;
        break;
      case bplink::kDeviceWithSpO2:
        pInfo->Info = m_UploadNeeded.Info;
        pInfo->BPSet = m_BPSet1;
        pInfo->SpO2Set = m_SpO2Set;
        // A type-3 download in data mode 3 stored its records as set 2.
        if (m_nABPM_Type == DATAMODE_BP_SET2) pInfo->BPSet = m_BPSet2;
        break;
      case bplink::kDeviceThreeStores:
        // Layout B: ZoneSet1 is BPSet under another name; the plan is not written.
        pInfo->ZoneSet1 = m_BPSet1;
        pInfo->BPSet = m_BPSet1;
        pInfo->ZoneSet2 = m_BPSet2;
        pInfo->ZoneSet3 = m_BPSet3;
        break;
      default:
        break;
    }
    return bplink::kResultOk;
  } catch (...) {
    return bplink::kResultException;
  }
}
