#include "families.h"

#include <utility>

namespace bplink::cli {

const std::vector<std::string>& FamilyNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const Family& family : Families()) all.emplace_back(family.name);
    return all;
  }();
  return names;
}

std::vector<std::string> PlanMembers(const Family& family) {
  static const std::pair<PlanFields, const char*> kMembers[] = {
      {kKeepsPeriod1, "period1"}, {kKeepsPeriod2, "period2"}, {kKeepsExtraWindow, "extra"},
      {kKeepsPatientTexts, "patient"}};
  std::vector<std::string> members;
  for (const auto& [field, member] : kMembers)
    if ((family.planFields & field) != 0) members.emplace_back(member);
  return members;
}

}  // namespace bplink::cli
