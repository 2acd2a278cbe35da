#include <bplink/host/filing.h>
#include <bplink/host/plan_json.h>

#ifdef _WIN32
#include <cstdlib>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace bplink::host {

archive::Download DownloadOf(const DownloadView& view, std::string_view family, const FilingLabels& labels) {
  archive::Download download;
  download.family = family;
  download.device = view.device;
  download.device_label = labels.device_label;
  download.plan = view.plan;
  if (view.plan)
    download.plan_json = PlanToJson(*view.plan).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  for (const auto& s : view.sets)
    if (s.downloaded) download.sets.push_back({s.mode, s.set});
  download.spo2 = view.spo2;
  download.complete = view.complete;
  download.patient_label = labels.patient_label;
  download.downloaded_at = view.downloaded_at.value_or(CurrentEnv()->LocalTime());
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

std::string UserName() {
#ifdef _WIN32
  const char* name = std::getenv("USERNAME");
  return name ? name : "";
#else
  const passwd* user = getpwuid(geteuid());
  return user && user->pw_name ? user->pw_name : std::to_string(geteuid());
#endif
}

archive::Actor ActorHere(const std::string& station) {
  return {UserName(), station.empty() ? StationName() : station, CurrentEnv()->LocalTime()};
}

}  // namespace bplink::host
