// The measurement plan as JSON: the "plan" member of a JSON download, and
// the plan file `bplink upload` reads, which has the same shape, so a plan
// downloaded from one device can be edited and uploaded to another.
#pragma once

#include <bplink/records.h>

#include <istream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace bplink::cli {

// A plan file that cannot be used; the message names the file and the field.
class PlanError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The plan as a download shows it. "start" is the device's recording start.
nlohmann::json PlanToJson(const _BP_TRANSPORT_INFO& plan);

// Reads and checks a plan file: JSON (// comments allowed) with the members
// of PlanToJson, each optional (an absent member keeps its default), no
// others. "start" is accepted and ignored: an upload stamps the PC clock.
_BP_TRANSPORT_INFO ReadPlanFile(std::istream& in, const std::string& name);

// A commented default plan to start from.
std::string PlanTemplate();

}  // namespace bplink::cli
