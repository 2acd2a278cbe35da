// The archive's cost on each engine: filing 100,000 new readings (in
// downloads of 1,000, one transaction each, as a clinic's day of recorders
// would come), and the de-duplicating re-download of 10,000 readings the
// archive holds already. The PostgreSQL figures come from a throw-away local
// server this program starts (Debian's postgresql-15), or the one --postgres
// names.
//
//   archive_bench [--engine sqlite|postgresql|both] [--readings N] [--redownload N]
//                 [--postgres LOCATION] [--quick]

#include <bplink/archive/archive.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "postgres_cluster.h"

namespace {

using bplink::archive::Archive;
using bplink::archive::Engine;
using Clock = std::chrono::steady_clock;

constexpr int kPerDownload = 1000;

struct Settings {
  std::string engine = "both";
  int readings = 100000;
  int redownload = 10000;
  std::string postgres;
};

// Readings `first` .. `first + count - 1` of one long series, 15 minutes apart.
_BP_DATASET Series(int first, int count) {
  _BP_DATASET set;
  const bplink::CalendarTime origin{2024, 1, 1, 0, 0, 0};
  for (int i = first; i < first + count; ++i) {
    const bplink::CalendarTime t = bplink::AddMinutes(origin, static_cast<std::int64_t>(i) * 15);
    _BP_RECORD r;
    r.nYear = t.year, r.wMonth = static_cast<short>(t.month), r.wDay = static_cast<short>(t.day);
    r.wHour = static_cast<short>(t.hour), r.wMinute = static_cast<short>(t.minute);
    r.nSys = 110 + i % 50, r.wPress2 = static_cast<short>(70 + i % 20), r.wPress3 = static_cast<short>(90 + i % 15);
    r.wPulseRate = static_cast<short>(60 + i % 30);
    set.vecRecords.push_back(r);
  }
  set.Head.nCount = count;
  return set;
}

bplink::archive::Download Of(const _BP_DATASET& set) {
  bplink::archive::Download d;
  d.family = "hid";
  d.device = {bplink::kDeviceAmbulatory, 1, 255, 0, 5};
  d.sets = {{DATAMODE_BP, &set}};
  d.downloaded_at = {2024, 6, 1, 8, 0, 0};
  return d;
}

const bplink::archive::Actor kStation{"bench", "bench", {2024, 6, 1, 8, 0, 0}};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

bool Measure(const char* name, const bplink::archive::Location& location, const Settings& s) {
  auto archive = Archive::Open(location);
  auto start = Clock::now();
  std::int64_t filed = 0;
  for (int first = 0; first < s.readings; first += kPerDownload) {
    const _BP_DATASET set = Series(first, std::min(kPerDownload, s.readings - first));
    filed += archive->Store(Of(set), kStation).new_readings;
  }
  const double insert = Seconds(start);

  const _BP_DATASET again = Series(s.readings - s.redownload, s.redownload);
  start = Clock::now();
  const auto result = archive->Store(Of(again), kStation);
  const double dedup = Seconds(start);

  const bool ok = filed == s.readings && result.new_readings == 0 && result.readings == s.redownload;
  std::printf("%-11s  insert %7d readings: %7.2f s (%8.0f readings/s)   re-download %6d: %6.3f s (%8.0f readings/s)%s\n",
              name, s.readings, insert, s.readings / insert, s.redownload, dedup, s.redownload / dedup,
              ok ? "" : "   FAILED: wrong counts");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--quick") {
      s.readings = 2000, s.redownload = 500;
    } else if (arg == "--engine" && has_value) {
      s.engine = argv[++i];
    } else if (arg == "--readings" && has_value) {
      s.readings = std::stoi(argv[++i]);
    } else if (arg == "--redownload" && has_value) {
      s.redownload = std::stoi(argv[++i]);
    } else if (arg == "--postgres" && has_value) {
      s.postgres = argv[++i];
    } else {
      std::fprintf(stderr, "usage: archive_bench [--engine sqlite|postgresql|both] [--readings N] "
                           "[--redownload N] [--postgres LOCATION] [--quick]\n");
      return 2;
    }
  }
  s.redownload = std::min(s.redownload, s.readings);
  bool ok = true;
  try {
    if (s.engine != "postgresql") {
      const auto dir = std::filesystem::temp_directory_path() / ("bplink_archive_bench_" + std::to_string(getpid()));
      ok &= Measure("SQLite", {Engine::kSqlite, (dir / "archive.sqlite").string()}, s);
      std::filesystem::remove_all(dir);
    }
    if (s.engine != "sqlite") {
      std::unique_ptr<PostgresCluster> cluster;
      std::string location = s.postgres;
      if (location.empty()) {
        std::string why;
        cluster = PostgresCluster::Start(why);
        if (!cluster) {
          std::printf("PostgreSQL  skipped: %s\n", why.c_str());
          return ok ? 0 : 1;
        }
        location = cluster->Location();
      }
      ok &= Measure("PostgreSQL", bplink::archive::ParseLocation(location), s);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "archive_bench: FAILED: %s\n", e.what());
    return 1;
  }
  return ok ? 0 : 1;
}
