// How the VESTRA16C monitor talks: the VESTRA16 monitor's commands at its own
// two speeds, with its own settings command and answers.
#include "vestra16c/model.h"

namespace bplink::sim::vestra16c {
namespace {

constexpr vestra16::Dialect kDialect{kControlBaud, kDataBaud, kReadSettings, kAnswer, kAnswer, kAnswer};

}  // namespace

Monitor::Monitor() : vestra16::Monitor(kDialect) { settings().option2 = kSwitchOn; }

}  // namespace bplink::sim::vestra16c
