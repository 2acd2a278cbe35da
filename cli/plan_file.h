// The plan template `bplink plan template` writes; the plan as JSON is the
// host layer's (host::PlanToJson).
#pragma once

#include <bplink/host/plan_json.h>
#include <bplink/plan/plan_file.h>
#include <bplink/records.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace bplink::cli {

using host::PlanToJson;

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
