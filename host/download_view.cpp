#include <bplink/host/download_view.h>

#include <bplink/report/readings.h>
#include <bplink/report/stats.h>

namespace bplink::host {

std::string InvalidReason(const DownloadView& view, int mode, const _BP_RECORD& record) {
  const bool bounded = view.plan && report::PlanStartBounds(mode);
  return report::ExclusionReason(report::ReadingOf(record),
                                 {view.downloaded_at, bounded ? report::PlanStart(*view.plan) : std::nullopt});
}

std::size_t DownloadView::RecordCount() const {
  std::size_t n = spo2 ? spo2->vecRecords.size() : 0;
  for (const auto& s : sets) n += s.set->vecRecords.size();
  return n;
}

DownloadView ViewOf(const _DOWNLOAD_DATAINFO& data, const tag_SUPPORT_PROTOCOL& device, int mode,
                    bool plan_read) {
  DownloadView view;
  view.device = device;
  switch (device.nDeviceType) {
    case kDeviceThreeStores:
      view.sets = {{DATAMODE_ZONE1, "Store 1", &data.ZoneSet1},
                   {DATAMODE_ZONE2, "Store 2", &data.ZoneSet2},
                   {DATAMODE_ZONE3, "Store 3", &data.ZoneSet3}};
      break;
    case kDeviceAmbulatory:
      view.sets = {{DATAMODE_BP, "Set 1", &data.BPSet}, {DATAMODE_BP_SET2, "Set 2", &data.BPSet2}};
      break;
    default:
      view.sets = {{mode, "Set 1", &data.BPSet}};
      break;
  }
  // Some families fetch every set in one transfer: a set that holds
  // records arrived, whichever mode was asked for.
  const bool all_stores = mode == DATAMODE_ZONE_ALL && device.nDeviceType == kDeviceThreeStores;
  for (auto& s : view.sets) s.downloaded = s.mode == mode || all_stores || !s.set->vecRecords.empty();
  if (device.nDeviceType == kDeviceWithSpO2) {
    view.spo2 = &data.SpO2Set;
    view.spo2_downloaded = mode == view.spo2_mode || !data.SpO2Set.vecRecords.empty();
  }
  if (plan_read && device.nDeviceType != kDeviceThreeStores) view.plan = &data.Info;
  return view;
}

bool PlanRead(const Session& session, int mode) {
  const tag_SUPPORT_PROTOCOL& d = session.device;
  if (d.nDeviceType == kDeviceThreeStores) return false;
  if (d.nDeviceType == kDeviceAmbulatory && d.nVariant == 1) return false;
  return session.family->link != LinkKind::kUsbHid || mode == DATAMODE_BP || mode == DATAMODE_BP_SPO2;
}

}  // namespace bplink::host
