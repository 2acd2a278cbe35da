#include <bplink/web/archive_filing.h>

#include <bplink/archive/guard.h>
#include <bplink/host/filing.h>
#include <bplink/host/study.h>

#include <stdexcept>

namespace bplink::web {
namespace {

class ArchiveFiling : public Archiving {
 public:
  ArchiveFiling(archive::Location location, std::string station)
      : location_(std::move(location)), station_(std::move(station)) {
    const auto opened = archive::Archive::Open(location_, {archive::OpenMode::kCreate, archive::SchemaVersion(),
                                                            host::ActorHere(station_)});
    opened->CheckWritable();
    user_ = opened->DatabaseRole();
    if (user_.empty()) user_ = host::UserName();
  }

  std::string Where() const override {
    return location_.engine == archive::Engine::kSqlite ? "SQLite archive " + location_.target
                                                        : "PostgreSQL archive " + location_.target;
  }
  std::string User() const override { return user_; }
  std::string UserKind() const override {
    return location_.engine == archive::Engine::kSqlite ? "OS user" : "database role";
  }

  std::string FileBeforeErasure(guard::Erasure what, const std::vector<host::DownloadView>& held,
                                std::string_view family) override {
    std::int64_t readings = 0, fresh = 0;
    try {
      const auto archive = Existing();
      for (const host::DownloadView& view : held) {
        const archive::ErasureCleared cleared = archive::ClearErasure(what, host::DownloadOf(view, family, {}),
                                                                      archive.get(), false, host::ActorHere(station_));
        if (cleared.filed) readings += cleared.filed->readings, fresh += cleared.filed->new_readings;
      }
    } catch (const archive::ArchiveError& e) {
      throw std::runtime_error(std::string("Nothing erased: the readings the device holds could not be filed: ") +
                               e.what());
    }
    return "Filed the " + std::to_string(readings) + (readings == 1 ? " reading" : " readings") +
           " the device holds (" + std::to_string(fresh) + " new) in the " + Where() + " before the " +
           (what == guard::Erasure::kUpload ? "upload." : "delete.");
  }

  OpenedStudy OpenStudy(const report::PatientInfo& patient, std::string_view family, const tag_SUPPORT_PROTOCOL& device,
                        const _BP_TRANSPORT_INFO& plan) override {
    try {
      const host::UploadStudy opened = host::OpenUploadStudy(*Existing(), patient, {std::string(family), device, ""},
                                                             plan, host::ActorHere(station_));
      return {opened.study.id, opened.still_out ? host::StillOutText(*opened.still_out) : ""};
    } catch (const archive::ArchiveError& e) {
      throw std::runtime_error(std::string("The study could not be opened: ") + e.what() + "; nothing was uploaded.");
    }
  }

  std::string StartRecording(std::int64_t id, const report::PatientInfo& patient) override {
    try {
      return host::HookedUpText(Existing()->StartRecording(id, host::ActorHere(station_)), patient);
    } catch (const archive::ArchiveError& e) {
      throw std::runtime_error("The plan was uploaded, but study " + std::to_string(id) +
                               " could not be marked hooked up: " + e.what());
    }
  }

  std::string File(const host::DownloadView& view, std::string_view family) override {
    try {
      const archive::StoreResult stored =
          Existing()->Store(host::DownloadOf(view, family, {}), host::ActorHere(station_));
      return host::FiledText(stored, view.complete);
    } catch (const archive::ArchiveError& e) {
      throw std::runtime_error(std::string("the download was not filed: ") + e.what());
    }
  }

 private:
  std::unique_ptr<archive::Archive> Existing() const {
    return archive::Archive::Open(location_, {archive::OpenMode::kExisting, archive::SchemaVersion(), {}});
  }

  archive::Location location_;
  std::string station_;
  std::string user_;
};

}  // namespace

std::unique_ptr<Archiving> ArchiveAt(const archive::Location& location, std::string station) {
  return std::make_unique<ArchiveFiling>(location, std::move(station));
}

}  // namespace bplink::web
