// The recording as a FHIR R4 transaction Bundle: the Patient (anonymous,
// and tagged so, without patient details), the Device, one blood-pressure
// Observation per counted reading, a heart-rate Observation where the
// reading has a pulse, an SpO2 Observation per oximetry sample, and the
// 24-hour, day and night means; and, where the physician's interpretation is
// signed (and no amendment is under way), a DiagnosticReport: status final,
// or amended for a later version, the signer as performer, the
// interpretation as conclusion, every Observation of the bundle as its
// results. Every Observation names the Patient as its subject and the
// Device, and claims its vital-signs profile.
#pragma once

#include <bplink/report/analysis.h>

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace bplink::report {

// The local code system of the day and night means, and of the tag on an
// anonymous Patient.
inline constexpr const char* kSummarySystem = "urn:bplink:fhir:abpm";

// Devices keep local time without a zone, but FHIR wants one on every time
// of day: every time of the recording gets the offset `offset` gives at its
// first reading (RecordingOffset), since a device does not move its clock at
// a change to or from summer time.
nlohmann::json FhirBundle(const Analysis& analysis, const UtcOffset& offset);

// What makes a bundle safe to send to the same record twice: the Patient is
// created only when the record has none with this identifier (in this
// system) yet, and every other entry gets an identifier under the study's
// and is created only when the record has none with it. A second sending
// of the same study then creates nothing.
struct ConditionalCreates {
  std::string patient_system;  // the system the patient's identifier belongs to
  std::string study_system;    // the system the study's identifier belongs to
  std::string study_id;
};
// The bundle with every entry a conditional create. The patient must have
// an identifier (PatientInfo::id; std::invalid_argument otherwise); the
// entries' own identifiers are "STUDY/KEY", KEY from the resource type, its
// code and its time, so the same reading gets the same identifier however
// the bundle is made again; a DiagnosticReport's KEY ends in "/vN", its
// version, so an amendment is created beside the version it amends.
nlohmann::json FhirBundle(const Analysis& analysis, const UtcOffset& offset, const ConditionalCreates& keys);
void WriteFhirReport(const Analysis& analysis, const UtcOffset& offset, std::ostream& out);

}  // namespace bplink::report
