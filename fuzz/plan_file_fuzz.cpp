// The plan file reader on any text, as a plan sent by e-mail may be: a plan
// or a PlanError, never a crash or a hang; what it accepts holds terminated
// texts and values a device can store, and every family's checks run on it.
#include <bplink/plan/plan_file.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace plan = bplink::plan;
  _BP_TRANSPORT_INFO read;
  try {
    read = plan::ReadPlanText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
  } catch (const plan::PlanError&) {
    return 0;
  }
  Require(read.szPatientInfo1[30] == 0 && read.szPatientInfo2[11] == 0 && read.szPatientInfo3[30] == 0 &&
          read.szPatientInfo4[30] == 0);
  for (int interval : {read.nPeriod1Interval, read.nPeriod2Interval})
    Require(interval >= 0 && interval <= 240);
  Require(read.nPeriod1Hour >= 0 && read.nPeriod1Hour < 24 && read.nPeriod2Hour >= 0 && read.nPeriod2Hour < 24);
  _UPLOAD_NEEDED_DATA allowed;
  allowed.vecInterval1 = allowed.vecInterval2 = {15, 30, 60, 120};
  tag_SUPPORT_PROTOCOL device;
  for (const bplink::Family& family : bplink::Families())
    for (int type : {1, 2, 3, 4, 5, 6})
      for (int version : {0, 2, 5}) {
        device.nDeviceType = type;
        device.nVersion = version;
        const plan::FieldNames kept = plan::KeptFields(family, device, 1);
        plan::FieldsDiffering(read, _BP_TRANSPORT_INFO{}, kept);
        for (const std::string& refused : plan::NotAllowed(read, allowed, kept, "fuzz"))
          Require(refused.starts_with("fuzz: "));
      }
  Require(plan::FieldsDiffering(read, read, plan::FieldsSet(read)).empty());
  return 0;
}
