// What the program adds to the library's table of families
// (<bplink/families.h>): the names it accepts on its command line, and the
// plan members, as plan files name them, that a family's devices keep.
#pragma once

#include <bplink/families.h>

#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

namespace bplink::cli {

// What a simulated device stores and which fault it shows.
using SimSettings = sim::SimSettings;

struct GlobalOptions;

// Refuses (CommandError, exit 2) simulation options that would be ignored
// by `command`: any of them with a command that reaches no device, the
// --sim-* settings without --sim on a command that reaches one, and with
// `sim` the options only an in-process device takes. What a family's
// simulated device cannot take, its own factory refuses.
void CheckSimOptions(const GlobalOptions& options, std::string_view command);
// Whether `command` reads the global option `option` (its --long name): what
// its help lists under the global options. Those CheckSimOptions refuses for
// the command are not listed.
bool TakesGlobalOption(std::string_view command, std::string_view option);

// Every family name the program accepts, in the table's order.
const std::vector<std::string>& FamilyNames();

}  // namespace bplink::cli
