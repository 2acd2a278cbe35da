// The report library behind one C function.

#include <bplink/bplink_report_c.h>

#include <bplink/report/report.h>

#include <cstring>
#include <sstream>
#include <string>

#include "exports/c_handles.h"

namespace {

void Tell(std::string text, char* why, size_t size) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  bplink::capi::CopyText(text, why, size);
}

}  // namespace

extern "C" {

BPLINK_REPORT_C_API int BPLINK_C_CALL bplink_report_write(const bplink_download* download,
                                                          const bplink_report_options* options, char* why,
                                                          size_t why_size) {
  try {
    Tell("", why, why_size);
    if (download == nullptr || options == nullptr || options->struct_size < sizeof *options ||
        options->output == nullptr || *options->output == '\0') {
      Tell("a download and an output file are needed", why, why_size);
      return BPLINK_CANNOT_START;
    }
    namespace report = bplink::report;
    report::ReportOptions settings;
    settings.output = options->output;
    const std::string format = options->format != nullptr ? options->format : "html";
    if (format == "json") {
      settings.format = report::ReportFormat::kJson;
    } else if (format == "fhir") {
      settings.format = report::ReportFormat::kFhir;
    } else if (format != "html") {
      Tell("format \"" + format + "\" is not one of html, json, fhir", why, why_size);
      return BPLINK_CANNOT_START;
    }
    if (options->profile != nullptr) settings.profile = options->profile;
    if (options->night != nullptr) settings.night = options->night;
    report::Recording recording = report::RecordingFromDownload(download->data, download->device);
    // As the program does: a transfer that ended early or was stopped is an
    // incomplete download, and the PC clock dates it.
    if (download->result != BPLINK_OK || download->stopped)
      recording.incomplete = download->stopped ? "stopped by the host" : bplink::ResultText(download->result);
    recording.downloaded_at = download->downloaded_at;
    std::ostringstream out, err;
    const int status = report::WriteReport(std::move(recording), settings, out, err);
    if (status == report::kReportOk) return BPLINK_OK;
    Tell(err.str(), why, why_size);
    return BPLINK_CANNOT_START;
  } catch (const std::exception& e) {
    Tell(e.what(), why, why_size);
    return BPLINK_EXCEPTION;
  } catch (...) {
    return BPLINK_EXCEPTION;
  }
}

}  // extern "C"
