// A download as the archive files it: `bplink download --archive` and the
// workstation's download both hand the archive this.
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/host/download_view.h>

#include <string>
#include <string_view>

namespace bplink::host {

// The download of `view` from a device of `family`, stamped with the PC's
// clock now; the labels and station are the caller's.
archive::Download ForArchive(const DownloadView& view, std::string_view family);

// What filing gave, for a person: "downloaded 78 readings, 3 new", the
// SpO2 samples likewise, and whether it was filed as incomplete.
std::string FiledText(const archive::StoreResult& stored, bool complete);

// This PC's name, a download station's default name.
std::string StationName();

}  // namespace bplink::host
