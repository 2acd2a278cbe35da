// One rule for comparing what people call a device or a patient: the labels
// given on the command line (--device-label, --patient-label), patient
// identifiers, and the texts a device keeps. Filing uses it to decide that
// "Recorder 1" and "recorder 1" are one device; every filter (history,
// export, the worklist) uses it to find them.
#pragma once

#include <string>
#include <string_view>

namespace bplink::archive {

// The label as it is compared: spaces at either end dropped, every run of
// white space inside one space, letters in lower case (ASCII, and the
// accented Latin letters of UTF-8, as "Ä" and "ä"). Other characters are
// kept as they are.
std::string LabelKey(std::string_view label);

// Whether two labels name the same thing by that rule.
inline bool SameLabel(std::string_view a, std::string_view b) { return LabelKey(a) == LabelKey(b); }

}  // namespace bplink::archive
