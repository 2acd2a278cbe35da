// The measurement plan as JSON: the "plan" member of a JSON download, and
// the plan file `bplink upload` reads (bplink::plan::ReadPlanFile), which has
// the same shape, so a plan downloaded from one device can be edited and
// uploaded to another.
#pragma once

#include <bplink/plan/plan_file.h>
#include <bplink/records.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace bplink::cli {

// The plan as a download shows it. "start" is the device's recording start.
nlohmann::json PlanToJson(const _BP_TRANSPORT_INFO& plan);

// A commented default plan to start from: every member, or, for a device
// whose kept fields are known, only those (and the intervals it allows,
// when known).
struct TemplateFor {
  plan::FieldNames kept;
  std::string device;           // "the hid family, device type 1", for the heading
  std::vector<int> intervals1;  // allowed intervals; empty when not known
  std::vector<int> intervals2;
};
std::string PlanTemplate(const std::optional<TemplateFor>& device = std::nullopt);

}  // namespace bplink::cli
