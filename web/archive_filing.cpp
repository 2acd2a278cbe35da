#include <bplink/web/archive_filing.h>

#include <bplink/host/filing.h>

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

  std::string File(const host::DownloadView& view, std::string_view family) override {
    try {
      const archive::StoreResult stored =
          archive::Archive::Open(location_, {archive::OpenMode::kExisting, archive::SchemaVersion(), {}})
              ->Store(host::DownloadOf(view, family, {}), host::ActorHere(station_));
      return host::FiledText(stored, view.complete);
    } catch (const archive::ArchiveError& e) {
      throw std::runtime_error(std::string("the download was not filed: ") + e.what());
    }
  }

 private:
  archive::Location location_;
  std::string station_;
  std::string user_;
};

}  // namespace

std::unique_ptr<Archiving> ArchiveAt(const archive::Location& location, std::string station) {
  return std::make_unique<ArchiveFiling>(location, std::move(station));
}

}  // namespace bplink::web
