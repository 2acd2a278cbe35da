// A download saved as JSON (`bplink download --format json`; its shape is in
// report/README.md), read back whole so that it can be filed later, as the
// download would have been filed then (`bplink archive import`).
#pragma once

#include <bplink/archive/archive.h>

#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bplink::archive {

struct SavedDownload {
  std::string family;  // from the device's protocol code
  tag_SUPPORT_PROTOCOL device;
  std::optional<_BP_TRANSPORT_INFO> plan;
  std::string plan_json;
  std::vector<std::pair<int, _BP_DATASET>> sets;  // data mode and set
  std::optional<_SPO2_DATASET> spo2;
  bool complete = true;
  std::optional<CalendarTime> downloaded_at;

  // The download as Archive::Store takes it; it points into this object.
  Download AsDownload(const std::string& device_label, const std::string& patient_label) const;
};

// Throws ArchiveError naming the file and the member at fault.
SavedDownload ReadSavedDownload(std::istream& in, const std::string& name);

}  // namespace bplink::archive
