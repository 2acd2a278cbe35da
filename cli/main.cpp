// bplink: the command-line host.
//
// The device commands arrive with the protocol families; until then the
// program shows what the library already does: the default measurement plan
// and the 7-in-8 framing of a payload.

#include <bplink/bplink.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void PrintPlan(const _BP_TRANSPORT_INFO& plan) {
  std::printf("Default measurement plan\n");
  std::printf("  day period    from %02d:%02d every %d min\n", plan.nPeriod1Hour,
              plan.nPeriod1Minute, plan.nPeriod1Interval);
  std::printf("  night period  from %02d:%02d every %d min\n", plan.nPeriod2Hour,
              plan.nPeriod2Minute, plan.nPeriod2Interval);
  if (plan.nExtraStartHour < 0)
    std::printf("  extra window  none\n");
  std::printf("  day alarm     %d/%d %d/%d mmHg (%s)\n", plan.DayWarn.nLimit1,
              plan.DayWarn.nLimit2, plan.DayWarn.nLimit3, plan.DayWarn.nLimit4,
              plan.DayWarn.nWarnSwitch ? "on" : "off");
}

void PrintHex(const char* label, const BYTE* bytes, DWORD n) {
  std::printf("  %-8s", label);
  for (DWORD i = 0; i < n; ++i) std::printf(" %02X", bytes[i]);
  std::printf("\n");
}

int ShowFraming(const char* text) {
  const auto* plain = reinterpret_cast<const BYTE*>(text);
  const DWORD n = static_cast<DWORD>(std::strlen(text));
  std::vector<BYTE> packed(PackedLength(n));
  std::vector<BYTE> back(n);
  if (PackData(plain, n, packed.data()) != kPackOk) return 1;
  if (UnPackData(packed.data(), static_cast<DWORD>(packed.size()), back.data(), n) != kPackOk)
    return 1;
  std::printf("7-in-8 framing of \"%s\"\n", text);
  PrintHex("plain", plain, n);
  PrintHex("packed", packed.data(), static_cast<DWORD>(packed.size()));
  return std::memcmp(plain, back.data(), n) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const char* text = argc > 1 ? argv[1] : "bplink";
  PrintPlan(_BP_TRANSPORT_INFO{});
  return ShowFraming(text);
}
