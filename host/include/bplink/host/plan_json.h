// The measurement plan as JSON: the "plan" member of a JSON download, the
// plan a study keeps as uploaded, and the shape of the plan file `bplink
// upload` reads (bplink::plan::ReadPlanFile), so a plan downloaded from one
// device can be edited and uploaded to another.
#pragma once

#include <bplink/records.h>

#include <nlohmann/json.hpp>

namespace bplink::host {

// The plan as a download shows it. "start" is the device's recording start.
nlohmann::json PlanToJson(const _BP_TRANSPORT_INFO& plan);

}  // namespace bplink::host
