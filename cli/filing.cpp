#include "filing.h"

#include <bplink/host/filing.h>

namespace bplink::cli {

archive::Download DownloadOf(const DownloadView& view, std::string_view family, const FilingOptions& options) {
  return host::DownloadOf(view, family, {options.device_label, options.patient_label});
}

archive::Actor ProgramActor(const std::string& station) { return host::ActorHere(station); }

}  // namespace bplink::cli
