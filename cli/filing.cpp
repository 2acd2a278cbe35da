#include "filing.h"

#ifdef _WIN32
#include <cstdlib>
#else
#include <pwd.h>
#include <unistd.h>
#endif

#include "plan_file.h"

namespace bplink::cli {
namespace {

std::string HostName() {
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
  // The account the program runs as, not a variable anyone may set.
  const passwd* user = getpwuid(geteuid());
  return user && user->pw_name ? user->pw_name : std::to_string(geteuid());
#endif
}

}  // namespace

archive::Download DownloadOf(const DownloadView& view, std::string_view family, const FilingOptions& options) {
  archive::Download download;
  download.family = family;
  download.device = view.device;
  download.device_label = options.device_label;
  download.plan = view.plan;
  if (view.plan)
    download.plan_json = PlanToJson(*view.plan).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  for (const auto& s : view.sets)
    if (s.downloaded) download.sets.push_back({s.mode, s.set});
  download.spo2 = view.spo2;
  download.complete = view.complete;
  download.patient_label = options.patient_label;
  download.downloaded_at = view.downloaded_at.value_or(CurrentEnv()->LocalTime());
  return download;
}

archive::Actor ProgramActor(const std::string& station) {
  return {UserName(), station.empty() ? HostName() : station, CurrentEnv()->LocalTime()};
}

}  // namespace bplink::cli
