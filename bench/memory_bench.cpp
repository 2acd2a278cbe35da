// Memory the library keeps per downloaded record, per family, and the peak
// heap and resident size of the longest HID download (65,535 records, the
// most a record count on that wire can announce) from the simulated monitor.
// Heap is counted by this binary's own operator new and delete, which the
// library's allocations go through as well; pauses and time-outs run on a
// virtual clock.
//
//   memory_bench [--quick]

#include <bplink/bplink.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "counting.h"
#include "virtual_env.h"
#include "in_process_device.h"
#include "rig.h"

namespace {

// Every block carries its size in front of it, so delete knows what leaves.
constexpr std::size_t kHeader = alignof(std::max_align_t);
std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};

void* Allocate(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, &size, sizeof size);
  const std::size_t live = g_live.fetch_add(size) + size;
  std::size_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return block + kHeader;
}

void Release(void* p) {
  if (p == nullptr) return;
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  std::size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  g_live.fetch_sub(size);
  std::free(block);
}

}  // namespace

// Visible to the shared library, which takes its operator new from here.
#define BPLINK_BENCH_EXPORT __attribute__((visibility("default")))
BPLINK_BENCH_EXPORT void* operator new(std::size_t size) { return Allocate(size); }
BPLINK_BENCH_EXPORT void* operator new[](std::size_t size) { return Allocate(size); }
BPLINK_BENCH_EXPORT void operator delete(void* p) noexcept { Release(p); }
BPLINK_BENCH_EXPORT void operator delete[](void* p) noexcept { Release(p); }
BPLINK_BENCH_EXPORT void operator delete(void* p, std::size_t) noexcept { Release(p); }
BPLINK_BENCH_EXPORT void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace bplink::bench {
namespace {

constexpr wchar_t kPort[] = L"/dev/ttyS0";

struct Measured {
  bool ok = false;
  std::size_t records = 0;
  std::size_t kept = 0;  // heap the download left in the protocol object, in bytes
  std::size_t peak = 0;  // highest heap during the download, above where it started (device included)
  std::size_t before = 0;
};

Measured Download(Family family, int records) {
  CountingEnv env(CountingEnv::Clock::kVirtual);
  testing::ScopedEnv scope(&env);
  env.SetPorts({kPort});
  auto rig = MakeRig(family, records);
  sim::InProcessDevice device;
  if (family == Family::kHid)
    device.AttachHid(&rig->Model());
  else
    device.AttachPort(kPort, &rig->Model());
  rig->Bind(device);

  Measured m;
  m.before = g_live.load();
  g_peak.store(m.before);
  m.ok = rig->Download() == 1;
  m.peak = g_peak.load() - m.before;
  m.records = rig->StoredRecords();
  m.ok = m.ok && m.records == static_cast<std::size_t>(records);
  // What the protocol object holds beyond a new one is what the download
  // left in the library; whatever the simulated device grew stays on both
  // sides of the difference.
  const std::size_t after = g_live.load();
  rig->RenewProtocol();
  m.kept = after - g_live.load();
  return m;
}

long MaxRssKb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int Main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const int per_family = quick ? 100 : 1000;
  const int longest = quick ? 1000 : 0xFFFF;
  bool ok = true;

  std::printf("sizeof(_BP_RECORD) = %zu bytes\n\n", sizeof(_BP_RECORD));
  std::printf("| family | records | heap kept by the download | per record | peak heap during it |\n");
  std::printf("|---|--:|--:|--:|--:|\n");
  for (Family family : kAllFamilies) {
    const int n = std::min(per_family, MaxRecords(family));
    const Measured m = Download(family, n);
    ok = ok && m.ok;
    std::printf("| %.*s%s | %zu | %zu B | %.1f B | %zu B |\n", static_cast<int>(FamilyName(family).size()),
                FamilyName(family).data(), m.ok ? "" : " FAILED", m.records, m.kept,
                m.records ? static_cast<double>(m.kept) / static_cast<double>(m.records) : 0.0, m.peak);
  }

  const long rss_before = MaxRssKb();
  const Measured hid = Download(Family::kHid, longest);
  ok = ok && hid.ok;
  // The store takes its room once: the peak stays near what is kept, with
  // the device's own frames and the transfer's buffers on top.
  constexpr double kPeakOverKept = 1.25;
  const bool one_allocation = static_cast<double>(hid.peak) <= kPeakOverKept * static_cast<double>(hid.kept);
  ok = ok && one_allocation;
  std::printf("\nHID download of %zu records%s: heap before %.1f MiB (the simulated monitor's store),"
              " peak above it %.2f MiB, kept %.2f MiB (%.1f B per record); max RSS %.1f MiB (%.1f MiB before)\n",
              hid.records, hid.ok ? "" : " FAILED", static_cast<double>(hid.before) / 1048576.0,
              static_cast<double>(hid.peak) / 1048576.0, static_cast<double>(hid.kept) / 1048576.0,
              hid.records ? static_cast<double>(hid.kept) / static_cast<double>(hid.records) : 0.0,
              static_cast<double>(MaxRssKb()) / 1024.0, static_cast<double>(rss_before) / 1024.0);
  if (!one_allocation) std::printf("the peak is more than %.2f times what the download kept\n", kPeakOverKept);
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace bplink::bench

int main(int argc, char** argv) { return bplink::bench::Main(argc, argv); }
