#include <bplink/host/study.h>

#include <bplink/host/plan_json.h>

namespace bplink::host {

UploadStudy OpenUploadStudy(archive::Archive& archive, const report::PatientInfo& patient,
                            const archive::DeviceIdentity& device, const _BP_TRANSPORT_INFO& plan,
                            const archive::Actor& actor) {
  UploadStudy out;
  if (auto open = archive.OpenStudyOf(device); open && open->state == archive::StudyState::kRecording)
    out.still_out = std::move(open);
  out.study = archive.OpenStudy(
      {patient, device, &plan, PlanToJson(plan).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)},
      actor);
  return out;
}

std::string StillOutText(const archive::StudyEntry& out) {
  return "Study " + std::to_string(out.id) + " (patient " + std::to_string(out.patient_id) +
         ") is still out on this device, hooked up " + out.hooked_up_at +
         ": the readings taken until now stay with it.";
}

std::string HookedUpText(const archive::StudyEntry& study, const report::PatientInfo& patient) {
  return "Study " + std::to_string(study.id) + " opened for patient " + patient.id + (patient.id.empty() ? "" : " ") +
         (patient.name.empty() ? "" : "(" + patient.name + ") ") + "on this device, hooked up at " +
         study.hooked_up_at + "; its readings are filed under it when the device is downloaded.";
}

}  // namespace bplink::host
