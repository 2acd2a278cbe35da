// The Patients and Log screens, the confirmations of a move and a merge,
// and the study page's Send section: what the archive's records hold, in
// words. Each takes what it shows; none touches the archive itself.
#pragma once

#include <bplink/web/records.h>

#include <string>
#include <vector>

#include "html.h"

namespace bplink::web {

// The patients matching the filter's text, each a link to its page.
Page PatientsPage(const std::string& text, const std::vector<PatientRow>& rows);
// One patient: who, their studies, the forms that move one of its
// recordings to another patient and merge another patient into this one
// (each a GET to its confirmation), and the patient's log.
Page PatientPage(const PatientDetail& patient);
// What a move or merge will re-file, and the POST form that does it.
Page MoveConfirmPage(const MovePreview& move, const std::string& csrf);
Page MergeConfirmPage(const MergePreview& merge, const std::string& csrf);

// The audit log, filtered by study or patient.
Page LogPage(const LogQuery& query, const std::vector<LogRow>& rows);

// A recording's Send section on the study page: the sendings kept with it
// (the log's "sent" entries) and the form that sends it; `why_not` says why
// this program cannot send (the form is then absent).
std::string SendSection(std::int64_t study, std::int64_t recording, const std::vector<LogRow>& sendings,
                        const std::string& why_not, const std::string& csrf);
// What a sending answered.
Page SentPage(std::int64_t study, const SendOutcome& outcome);

std::string PatientHref(std::int64_t patient);
std::string LogHref(const LogQuery& query);

}  // namespace bplink::web
