/* The ambulatory report for hosts of the C interface: one call that writes
 * the report of a download (bplink_download_run) as HTML, JSON or FHIR.
 *
 * A library of its own (libbplink_report_c), built with libbplink in the same
 * tree: the report library is linked into it privately, so a host that never
 * asks for a report does not load it.
 */
#ifndef BPLINK_REPORT_C_H
#define BPLINK_REPORT_C_H

#include <bplink/bplink_c.h>

#if defined(_WIN32)
#  if defined(BPLINK_REPORT_C_BUILDING)
#    define BPLINK_REPORT_C_API __declspec(dllexport)
#  else
#    define BPLINK_REPORT_C_API __declspec(dllimport)
#  endif
#else
#  define BPLINK_REPORT_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What bplink_report_write writes, and where. */
typedef struct bplink_report_options {
  uint32_t struct_size;  /* sizeof the struct (BPLINK_INIT) */
  const char* output;  /* the file to write; required */
  const char* format;  /* "html", "json" or "fhir"; null: "html" */
  const char* profile; /* the thresholds: "esh2023" or "aha2017"; null: "esh2023" */
  const char* night;   /* the night as "HH:MM-HH:MM"; null: from the plan or the fixed default */
} bplink_report_options;

/* Writes the report of `download`. BPLINK_OK; BPLINK_CANNOT_START when an
 * option is wrong or the file cannot be written, with the reason in `why`
 * (cut to `why_size`, zero-terminated; may be null). */
BPLINK_REPORT_C_API int BPLINK_C_CALL bplink_report_write(const bplink_download* download,
                                                          const bplink_report_options* options, char* why,
                                                          size_t why_size);

#ifdef __cplusplus
}
#endif

#endif /* BPLINK_REPORT_C_H */
