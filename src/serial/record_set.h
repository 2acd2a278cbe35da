// What the serial families do to a data set once its records have arrived.
#pragma once

#include <bplink/records.h>

namespace bplink::serial {

// The serial devices announce no recording start of their own: after a
// download the set's header counts the records it holds and starts at its
// first record. Nothing changes for an empty set.
void HeadFromFirstRecord(_BP_DATASET& set);

}  // namespace bplink::serial
