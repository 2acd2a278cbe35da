// The worklist and the study page: what the archive's studies hold, with the
// report library's analysis of each recording (the verdict, the charts, the
// tables). Each takes what it shows; none touches the archive itself.
#pragma once

#include <bplink/web/records.h>
#include <bplink/web/studies.h>

#include <string>
#include <vector>

#include "html.h"

namespace bplink::web {

// The worklist: the filter's form (a GET: it changes nothing) and the
// studies that match it, each a link to its page.
Page WorklistPage(const WorklistQuery& query, const std::vector<StudyRow>& rows);

// One study: the patient, device and hook-up; for each recording the
// verdict (recomputed with the physician's inputs kept with it), the means,
// the 24-hour and hourly charts, every reading with whether it counts and
// why not, its downloads, and, until it is signed, the forms that exclude
// and include readings, keep the diary's sleep and the other inputs, and
// sign; the patient's other studies.
// What the study page shows beside the study where the archive's records
// are served: each signed recording's Amend form, and each recording's
// sendings and Send form, and the link to the study's log.
struct StudyExtras {
  bool records = false;
  std::vector<LogRow> sendings;  // the study's "sent" entries of the audit log
  std::string why_no_sending;    // "" where this program can send
};
Page StudyPage(const StudyDetail& study, const std::string& csrf, const StudyExtras& extras = {});

// A labelled text input of a filter form.
std::string TextInput(std::string_view name, std::string_view label, const std::string& value,
                      std::string_view type = "text");
// A row of a table of facts: its label, and its value as markup.
std::string Row(std::string_view label, const std::string& markup);
// `text` as text, or "not recorded" when empty.
std::string OrNone(const std::string& text);
// Studies as the worklist lists them, each a link to its page.
std::string StudyTable(const std::vector<StudyRow>& rows, std::string_view css_class);

// A study's address and a recording's download.
std::string StudyHref(std::int64_t study);
std::string ExportHref(std::int64_t recording, std::string_view format);

}  // namespace bplink::web
