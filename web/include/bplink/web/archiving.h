// Where the workstation files what it downloads, and who works there. The
// program opens it (ArchiveAt) where the archive is built; a build without
// the archive serves without one.
#pragma once

#include <bplink/guard/erasure.h>
#include <bplink/host/download_view.h>
#include <bplink/records.h>
#include <bplink/report/readings.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bplink::web {

class Archiving {
 public:
  virtual ~Archiving() = default;
  // Where it is, for the page header: "SQLite archive /home/x/archive.sqlite".
  virtual std::string Where() const = 0;
  // Who works on it: the database role on PostgreSQL, the system user on
  // SQLite; and which of the two it is ("database role", "OS user").
  virtual std::string User() const = 0;
  virtual std::string UserKind() const = 0;
  // Files a download as `bplink download --archive` files it; answers what
  // filing gave, in words. Throws std::runtime_error saying why it was not filed.
  virtual std::string File(const host::DownloadView& view, std::string_view family) = 0;
  // Files every reading the device holds (`held`: each mode the erasure
  // would take) before `what` erases them, by the rule every door keeps;
  // answers what filing gave, in words. Throws std::runtime_error when they
  // were not filed: the erasure must not go on then.
  virtual std::string FileBeforeErasure(guard::Erasure what, const std::vector<host::DownloadView>& held,
                                        std::string_view family) = 0;

  // The study an upload of `plan` opens for `patient` (checked, not empty)
  // on `device` of `family`: prepared before the plan is sent, as `bplink
  // upload --archive` opens it. `note` says what the person should know of
  // it (a study still out on the device), or is empty. Throws
  // std::runtime_error saying why it was not opened: nothing may be sent then.
  struct OpenedStudy {
    std::int64_t id = 0;
    std::string note;
  };
  virtual OpenedStudy OpenStudy(const report::PatientInfo& patient, std::string_view family,
                                const tag_SUPPORT_PROTOCOL& device, const _BP_TRANSPORT_INFO& plan) = 0;
  // Marks study `id` hooked up, now that the device took its plan; answers
  // it in words. Throws std::runtime_error saying why it was not.
  virtual std::string StartRecording(std::int64_t id, const report::PatientInfo& patient) = 0;
};

}  // namespace bplink::web
