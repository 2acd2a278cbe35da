// The COM port names the Windows Env offers, apart from the registry read so
// that the order can be checked without a machine's ports.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bplink {

// COM1, COM2, COM4, ..., COM255 and COM3 last, keeping only those
// `registered` names (then its names beyond that list, in its order); all
// of them when the registry gave no answer.
std::vector<std::wstring> OrderComPortNames(const std::optional<std::vector<std::wstring>>& registered);

}  // namespace bplink
