// Whole transfers through the real serial port: each family's simulated
// device served on a pseudo-terminal that carries bytes at the line speed the
// host set, the protocol's pauses on the real clock. Every transfer is set
// against its floor, the time the protocol cannot do without: the pauses it
// makes and the wire time of every byte it exchanged, overlapping where the
// line allows (a device streaming while the host sleeps; see Floor in
// counting.h), and, beside it, the receive time-outs it runs into by design,
// whose length is this library's choice. All of it is counted while the
// transfer runs (the pauses through the Env, the bytes and the failed
// receives through a wrapper around the port), and set against the CPU time
// its own thread spent. Prints a Markdown table; medians of
// --repeat runs.
//
// With --realtime, where it may, the benchmark runs its threads (the host's
// and the bridges') under real-time FIFO scheduling, so that other work on
// the machine does not sit between a byte's arrival and the thread that
// waits for it; the threads sleep nearly all the time, so nothing else is
// starved. Without the privilege it says so and runs as it is.
//
//   transfer_bench [--repeat N] [--quick] [--family NAME] [--realtime]

#include <bplink/bplink.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "counting.h"
#include "virtual_env.h"
#include "echo_model.h"
#include "pty_bridge.h"
#include "real_time.h"
#include "rig.h"

namespace bplink::bench {
namespace {

enum class Transfer { kDownload, kUpload, kDetect };

struct Scenario {
  Family family;
  Transfer transfer;
  int records = 0;       // stored on the device (downloads)
  int silent_ports = 0;  // listed before the device, open but never answering
};

struct Run {
  double wall_ms = 0;
  double cpu_ms = 0;   // the host's thread: library, transport and kernel
  double user_ms = 0;  // of which in user code (tick-sampled)
  std::uint64_t pauses_ms = 0;
  WireCount wire;
  double floor_ms = 0;           // pauses and wire time, overlapping
  double floor_timeouts_ms = 0;  // and the time-outs waited
  int result = 0;
  std::size_t records = 0;
  std::string speeds;  // every line speed the transfer used
};

// Hears everything, answers nothing: a port with no device on it.
class Mute : public sim::DeviceModel {
 public:
  void Receive(const std::uint8_t*, std::size_t, unsigned) override {}
};

// CPU time of the calling thread so far: all of it, exactly, and the part
// spent in its own code as the scheduler's tick samples it (the rest is the
// kernel's: system calls, and putting the thread to sleep and waking it).
struct CpuMs {
  double total = 0;
  double user = 0;
};

CpuMs ThreadCpu() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  return {static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6,
          static_cast<double>(usage.ru_utime.tv_sec) * 1e3 + static_cast<double>(usage.ru_utime.tv_usec) / 1e3};
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// What one turn of the line costs beyond the wire time of its two bytes on
// this machine: a byte sent, echoed by the bridge and received, at 115200
// baud; the median of many. This is the simulated line's and the kernel's
// share, the same for any host: the bridge thread and the host's thread each
// have to be woken for every turn.
double TurnaroundUs() {
  constexpr int kTurns = 400;
  constexpr unsigned kBaud = 115200;
  sim::EchoModel echo(kBaud);
  sim::PtyBridge bridge(echo);
  bridge.PaceAtLineSpeed(true);
  CDevice_COM port;
  if (!bridge.Start() || port.Open(Wide(bridge.Path()), SerialLine(kBaud)) != 1) return 0;
  std::vector<double> over;
  for (int i = 0; i < kTurns; ++i) {
    BYTE b = static_cast<BYTE>(i);
    const auto start = std::chrono::steady_clock::now();
    if (port.SendData(&b, 1) == 0 || port.RecvData(&b, 1) == 0) return 0;
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    over.push_back(us - 2 * 10 * 1e6 / kBaud);
  }
  return Median(over);
}

// One transfer, timed and counted. The device sits on the last listed port.
Run RunOnce(const Scenario& sc) {
  Floor floor;
  CountingEnv env(CountingEnv::Clock::kReal, &floor);
  testing::ScopedEnv scope(&env);
  auto rig = MakeRig(sc.family, sc.records);
  sim::DeviceModel* device = &rig->Model();  // answers its family's detection probe too

  std::vector<Mute> mutes(static_cast<std::size_t>(sc.silent_ports));
  std::vector<std::unique_ptr<sim::PtyBridge>> bridges;
  std::vector<std::wstring> ports;
  for (sim::DeviceModel* model : [&] {
         std::vector<sim::DeviceModel*> models;
         for (Mute& m : mutes) models.push_back(&m);
         models.push_back(device);
         return models;
       }()) {
    bridges.push_back(std::make_unique<sim::PtyBridge>(*model));
    bridges.back()->PaceAtLineSpeed(true);
    if (!bridges.back()->Start()) {
      std::fprintf(stderr, "no pseudo-terminal to be had\n");
      std::exit(2);
    }
    ports.push_back(Wide(bridges.back()->Path()));
  }
  env.SetPorts(ports);

  CDevice_COM port;
  CountingDevice counting(port, &floor);
  rig->Bind(counting);
  CSelectProtocol select;
  select.SetDevice(&counting);

  Run run;
  const auto start = std::chrono::steady_clock::now();
  const CpuMs cpu_start = ThreadCpu();
  switch (sc.transfer) {
    case Transfer::kDownload: run.result = rig->Download(); break;
    case Transfer::kUpload: run.result = rig->Upload(); break;
    case Transfer::kDetect: {
      tag_SUPPORT_PROTOCOL found{};
      run.result = select.OnTestProtocol(found);
      break;
    }
  }
  const CpuMs cpu_end = ThreadCpu();
  run.cpu_ms = cpu_end.total - cpu_start.total;
  run.user_ms = cpu_end.user - cpu_start.user;
  run.wall_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  for (unsigned baud : counting.Speeds())
    run.speeds += (run.speeds.empty() ? "" : "/") + std::to_string(baud);
  run.pauses_ms = env.PausedMs();
  run.wire = counting.Count();
  run.floor_ms = floor.ProtocolMs();
  run.floor_timeouts_ms = floor.WithTimeOutsMs();
  if (sc.transfer == Transfer::kDownload) run.records = rig->StoredRecords();
  return run;
}

const char* TransferName(Transfer t) {
  switch (t) {
    case Transfer::kDownload: return "download";
    case Transfer::kUpload: return "plan upload";
    case Transfer::kDetect: return "detection";
  }
  return "?";
}

std::vector<Scenario> Scenarios(bool quick) {
  if (quick)
    return {{Family::kVestra16C, Transfer::kDownload, 5, 0},
            {Family::kKV32, Transfer::kUpload, 0, 0},
            {Family::kVestra18, Transfer::kDownload, 3, 0}};
  return {
      {Family::kKX71, Transfer::kDownload, 50, 0},      {Family::kKX71, Transfer::kUpload, 0, 0},
      {Family::kKV32, Transfer::kDownload, 200, 0},     {Family::kKV32, Transfer::kUpload, 0, 0},
      {Family::kVestra16, Transfer::kDownload, 50, 0},  {Family::kVestra16, Transfer::kUpload, 0, 0},
      {Family::kVestra16C, Transfer::kDownload, 200, 0}, {Family::kVestra16C, Transfer::kUpload, 0, 0},
      {Family::kVestra18, Transfer::kDownload, 60, 0},  {Family::kKX71, Transfer::kDetect, 0, 1},
      {Family::kVestra18, Transfer::kDetect, 0, 1},
  };
}

// Threads started later (the bridges') inherit the policy.
bool RunInRealTime() {
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  return ::sched_setscheduler(0, SCHED_FIFO, &param) == 0;
}

int Main(int argc, char** argv) {
  int repeat = 3;
  bool quick = false;
  std::string only;
  bool realtime = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
      repeat = 1;
    } else if (std::strcmp(argv[i], "--realtime") == 0) {
      realtime = true;
    } else if (std::strcmp(argv[i], "--family") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--repeat N] [--quick] [--family NAME] [--realtime]\n", argv[0]);
      return 2;
    }
  }

  const char* scheduling = "ordinary: timings include other load";
  if (realtime) scheduling = RunInRealTime() ? "real-time FIFO" : "ordinary (no privilege): timings include other load";
  std::printf("Scheduling: %s.\n", scheduling);
  const double turnaround_us = TurnaroundUs();
  std::printf("Turnaround of the simulated line on this machine: %.0f us per exchange beyond wire time.\n\n",
              turnaround_us);
  std::printf("| family | transfer | records | bytes | baud | pauses ms | wire ms | floor ms | time-outs | time-outs ms |"
              " floor + time-outs ms | measured ms | measured / (floor + time-outs) | time-outs / measured | turns |"
              " measured / (floor + time-outs + turns x turnaround) | thread CPU ms | CPU / wall | of it user ms (sampled) |\n");
  std::printf("|---|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
  bool all_ok = true;
  for (const Scenario& sc : Scenarios(quick)) {
    if (!only.empty() && only != FamilyName(sc.family)) continue;
    std::vector<Run> runs;
    std::vector<double> walls, cpus, users;
    for (int r = 0; r < repeat; ++r) {
      runs.push_back(RunOnce(sc));
      walls.push_back(runs.back().wall_ms);
      cpus.push_back(runs.back().cpu_ms);
      users.push_back(runs.back().user_ms);
    }
    // The counts are the same in every run of a healthy transfer.
    const Run& run = runs.front();
    const bool ok = std::all_of(runs.begin(), runs.end(), [](const Run& x) { return x.result == 1; }) &&
                    (sc.transfer != Transfer::kDownload || run.records == static_cast<std::size_t>(sc.records));
    all_ok = all_ok && ok;
    const double floor_ms = run.floor_timeouts_ms;
    const double wall = Median(walls);
    const double cpu = Median(cpus);
    const double user = Median(users);
    std::string family(FamilyName(sc.family));
    std::string transfer = TransferName(sc.transfer);
    if (sc.silent_ports > 0) transfer += " (" + std::to_string(sc.silent_ports) + " silent port)";
    if (!ok) transfer += " FAILED";
    std::printf("| %s | %s | %zu | %llu | %s | %llu | %.1f | %.1f | %llu | %.0f | %.1f | %.1f | %.3f | %.1f %% | %llu | %.3f | %.2f | %.2f %% | %.0f |\n",
                family.c_str(), transfer.c_str(), run.records, static_cast<unsigned long long>(run.wire.bytes),
                run.speeds.c_str(), static_cast<unsigned long long>(run.pauses_ms), run.wire.wire_ms, run.floor_ms,
                static_cast<unsigned long long>(run.wire.timeouts), run.wire.timeout_ms, floor_ms, wall,
                wall / floor_ms, 100.0 * run.wire.timeout_ms / wall, static_cast<unsigned long long>(run.wire.turns),
                wall / (floor_ms + static_cast<double>(run.wire.turns) * turnaround_us / 1e3), cpu, 100.0 * cpu / wall, user);
    std::fflush(stdout);
  }
  return all_ok ? 0 : 1;
}

}  // namespace
}  // namespace bplink::bench

int main(int argc, char** argv) { return bplink::bench::Main(argc, argv); }
