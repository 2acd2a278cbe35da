// A plan in words, line by line, as the program's table and the
// workstation's page both show it.
#pragma once

#include <bplink/records.h>

#include <string>
#include <utility>
#include <vector>

namespace bplink::host {

// ("patient", "ANNA  ID-7"), ("started", "2024-03-04 09:00"), ("day period",
// "from 07:00, every 60 min"), ("night period", ...), ("extra window",
// "none"): the patient and the start only where the plan has them.
std::vector<std::pair<std::string, std::string>> PlanWords(const _BP_TRANSPORT_INFO& plan);

// "2024-03-04 09:00", as every table of the program and the page shows a
// device's time.
std::string DateTimeWords(int year, int month, int day, int hour, int minute);

}  // namespace bplink::host
