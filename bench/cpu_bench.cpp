// CPU time of the library alone: a whole download per family, its device's
// answers played back from a recording so no simulator runs in the timed
// loop, pauses and time-outs on a virtual clock; and the 7-in-8 codec per
// byte. Reported per decoded record and per byte (Google Benchmark's
// items_per_second and bytes_per_second; the time column per iteration).

#include <benchmark/benchmark.h>
#include <bplink/bplink.h>

#include <memory>
#include <vector>

#include "counting.h"
#include "virtual_env.h"
#include "in_process_device.h"
#include "replay.h"
#include "rig.h"

namespace bplink::bench {
namespace {

constexpr wchar_t kPort[] = L"/dev/ttyS0";

void DownloadPerRecord(benchmark::State& state, Family family) {
  const int records = static_cast<int>(state.range(0));
  CountingEnv env(CountingEnv::Clock::kVirtual);
  testing::ScopedEnv scope(&env);
  env.SetPorts({kPort});
  auto rig = MakeRig(family, records);

  // One download from the simulated device, recorded.
  Recording recording;
  sim::InProcessDevice device;
  if (family == Family::kHid)
    device.AttachHid(&rig->Model());
  else
    device.AttachPort(kPort, &rig->Model());
  RecordingDevice recorder(device, recording);
  rig->Bind(recorder);
  if (rig->Download() != 1 || rig->StoredRecords() != static_cast<std::size_t>(records)) {
    state.SkipWithError("the recorded download failed");
    return;
  }

  ReplayDevice replay(recording);
  rig->Bind(replay);
  for (auto _ : state) {
    replay.Rewind();
    benchmark::DoNotOptimize(rig->Download());
  }
  if (rig->StoredRecords() != static_cast<std::size_t>(records)) state.SkipWithError("the replay went astray");
  state.SetItemsProcessed(state.iterations() * records);
  state.counters["ns/record"] = benchmark::Counter(
      static_cast<double>(records) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void RegisterDownloads() {
  constexpr int kRecords = 500;
  for (Family family : kAllFamilies) {
    const std::string name = "Download/" + std::string(FamilyName(family));
    benchmark::RegisterBenchmark(name.c_str(), DownloadPerRecord, family)
        ->Arg(std::min(kRecords, MaxRecords(family)))
        ->Unit(benchmark::kMicrosecond);
  }
}

std::vector<BYTE> PlainBytes(std::size_t n) {
  std::vector<BYTE> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<BYTE>(i * 37 + 11);
  return bytes;
}

void Pack(benchmark::State& state) {
  const auto n = static_cast<DWORD>(state.range(0));
  const std::vector<BYTE> plain = PlainBytes(n);
  std::vector<BYTE> packed(PackedLength(n));
  for (auto _ : state) {
    benchmark::DoNotOptimize(PackData(plain.data(), n, packed.data()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * n);
}
BENCHMARK(Pack)->Arg(70)->Arg(4096);

void UnPack(benchmark::State& state) {
  const auto n = static_cast<DWORD>(state.range(0));
  const std::vector<BYTE> plain = PlainBytes(n);
  std::vector<BYTE> packed(PackedLength(n));
  PackData(plain.data(), n, packed.data());
  std::vector<BYTE> out(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(UnPackData(packed.data(), PackedLength(n), out.data(), n));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * PackedLength(n));
}
BENCHMARK(UnPack)->Arg(70)->Arg(4096);

}  // namespace
}  // namespace bplink::bench

int main(int argc, char** argv) {
  bplink::bench::RegisterDownloads();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
