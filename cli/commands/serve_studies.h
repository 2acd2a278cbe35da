// The studies the workstation shows, on the archive the program opened:
// the worklist and a study as `bplink archive studies` and `bplink history`
// read them, and a recording's downloads as `bplink export` and `bplink
// report --recording` write them.
#pragma once

#include <bplink/archive/archive.h>
#include <bplink/web/records.h>
#include <bplink/web/studies.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace bplink::cli {

std::unique_ptr<web::Studies> StudiesAt(const archive::Location& location);

// The archive opened for one request of the workstation (each has a
// connection of its own): an existing one only. Throws std::runtime_error.
std::unique_ptr<archive::Archive> OpenedForRequest(const archive::Location& location);

// Runs `work` on the archive opened for this request, its failures told as
// the workstation's (web/studies.h): no such number NotFiled, a grant
// lacking NotAllowed, a review refused Refused; any other ArchiveError a
// Refused where `refusal` (a change the archive's rules refuse), else a
// failure of the archive.
template <typename Work>
auto OnArchive(const archive::Location& location, Work work, bool refusal = false) {
  const auto archive = OpenedForRequest(location);
  try {
    return work(*archive);
  } catch (const archive::NotFound& e) {
    throw web::NotFiled(e.what());
  } catch (const archive::NotPermitted& e) {
    throw web::NotAllowed(e.what());
  } catch (const archive::ReviewRefused& e) {
    throw web::Refused(e.what());
  } catch (const archive::ArchiveError& e) {
    if (refusal) throw web::Refused(e.what());
    throw std::runtime_error(e.what());
  }
}

// The studies with their patients and devices in words, as the worklist
// lists them.
std::vector<web::StudyRow> StudyRows(archive::Archive& archive, const std::vector<archive::StudyEntry>& studies);

// Every study of patient `patient`, newest first.
std::vector<archive::StudyEntry> StudiesOfPatient(archive::Archive& archive, std::int64_t patient);

// The patients, the audit log, amendments and sending, on the same archive.
std::unique_ptr<web::Records> RecordsAt(const archive::Location& location);

}  // namespace bplink::cli
