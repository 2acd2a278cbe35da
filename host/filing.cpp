#include <bplink/host/filing.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>

namespace bplink::host {

archive::Download ForArchive(const DownloadView& view, std::string_view family) {
  archive::Download download;
  download.family = family;
  download.device = view.device;
  download.plan = view.plan;
  for (const auto& s : view.sets) download.sets.push_back({s.mode, s.set});
  download.spo2 = view.spo2;
  download.complete = view.complete;
  download.downloaded_at = CurrentEnv()->LocalTime();
  return download;
}

std::string FiledText(const archive::StoreResult& stored, bool complete) {
  std::string line = "downloaded " + std::to_string(stored.readings) + " readings, " +
                     std::to_string(stored.new_readings) + " new";
  if (stored.samples > 0)
    line += "; " + std::to_string(stored.samples) + " SpO2 samples, " + std::to_string(stored.new_samples) + " new";
  if (!complete) line += " (filed as an incomplete recording)";
  return line;
}

std::string StationName() {
#ifdef _WIN32
  const char* name = std::getenv("COMPUTERNAME");
  return name ? name : "";
#else
  char host[256] = {};
  return gethostname(host, sizeof host - 1) == 0 ? host : "";
#endif
}

}  // namespace bplink::host
