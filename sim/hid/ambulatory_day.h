// A day and a night of an ambulatory recorder: the simulated monitor the
// `bplink download --sim hid` command talks to.
#pragma once

#include <bplink/env.h>

#include "hid/hid_monitor.h"

namespace bplink::sim {

// An ambulatory recorder (device type 1) that started its plan at `start`
// and has measured for 24 hours since: every 15 minutes by day (07:00 to
// 22:00), every 30 minutes at night, in record format 1. A few readings
// failed, as they do on a real wearer. The values follow a fixed seed, so a
// given start always gives the same recording.
HidMonitorConfig AmbulatoryRecorderDay(const CalendarTime& start);

}  // namespace bplink::sim
