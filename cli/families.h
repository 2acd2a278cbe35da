// What the program adds to the library's table of families
// (<bplink/families.h>): the names it accepts on its command line, and the
// plan members, as plan files name them, that a family's devices keep.
#pragma once

#include <bplink/families.h>

#include <string>
#include <vector>

#include "settings.h"

namespace bplink::cli {

// What a simulated device stores and which fault it shows.
using SimSettings = sim::SimSettings;

// Every family name the program accepts, in the table's order.
const std::vector<std::string>& FamilyNames();

// The plan members its devices keep and a download reads back ("period1",
// "period2", "extra", "patient"); empty for a family that takes no plan.
std::vector<std::string> PlanMembers(const Family& family);

}  // namespace bplink::cli
