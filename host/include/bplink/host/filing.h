// A download as the archive files it, and who files it: `bplink download
// --archive`, the guard that files a device's readings before they can be
// erased, and the workstation's download all hand the archive this. Built
// with or without the archive: the guard needs it either way.
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/host/download_view.h>

#include <string>
#include <string_view>

namespace bplink::host {

// What the person says of a download's device and patient.
struct FilingLabels {
  std::string device_label;   // "" when nothing
  std::string patient_label;  // "" when nothing
};

// The download of `view` from a device of `family` as the archive takes
// it, stamped with the view's end (else the PC's clock now).
archive::Download DownloadOf(const DownloadView& view, std::string_view family, const FilingLabels& labels);

// What filing gave, for a person: "downloaded 78 readings, 3 new", the
// SpO2 samples likewise, and whether it was filed as incomplete.
std::string FiledText(const archive::StoreResult& stored, bool complete);

// This PC's name, a download station's default name.
std::string StationName();
// The operating-system account this process runs as (not a variable anyone
// may set); its number where the system names none.
std::string UserName();
// Whom the audit log names: the operating-system user, `station` (else this
// PC's name), now.
archive::Actor ActorHere(const std::string& station);

}  // namespace bplink::host
