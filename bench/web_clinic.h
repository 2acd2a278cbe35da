// The clinic web_bench measures the workstation on: patients, each with one
// ambulatory study of about a day, recorded on a few recorders taking turns
// over the months, filed through the archive library the way an upload
// opens a study and a download files it; some of the studies reviewed and
// signed.
#pragma once

#include <bplink/archive/archive.h>

#include <cstdint>
#include <string>

namespace bplink::bench {

struct ClinicShape {
  int patients = 1000;
  int readings = 100;     // per study
  int devices = 6;        // recorders taking turns
  int signed_every = 10;  // every n-th study reviewed and signed, the one after it reviewed only; 0: none
};

// What an archive holds, as the worklist counts it.
struct ClinicCount {
  std::int64_t studies = 0;
  std::int64_t readings = 0;
  std::int64_t reviewed = 0;  // studies in state reviewed
  std::int64_t signed_studies = 0;
  friend bool operator==(const ClinicCount&, const ClinicCount&) = default;
};

// The identifier of patient `index` (0-based): "P000001" for 0.
std::string PatientIdentifier(int index);

// What filling an empty archive with `shape` leaves in it.
ClinicCount Expected(const ClinicShape& shape);

// Files the clinic into `archive`, which must hold no study (ArchiveError
// otherwise, naming what it holds). Throws ArchiveError.
ClinicCount FillClinic(archive::Archive& archive, const ClinicShape& shape);

ClinicCount CountClinic(archive::Archive& archive);

}  // namespace bplink::bench
