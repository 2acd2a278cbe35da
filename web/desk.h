// The devices and the work on them: detection over every link, a device's
// page, and the transfers (download, upload, the count before a delete, the
// delete) that run on a worker thread while the pages follow their
// progress. One piece of work holds the devices at a time, as one person
// at one PC would: a page that needs a device while a transfer runs says
// so rather than wait.
#pragma once

#include <bplink/guard/erasure.h>
#include <bplink/host/download_view.h>
#include <bplink/host/link.h>
#include <bplink/host/session.h>
#include <bplink/host/transfer.h>
#include <bplink/plan/plan_check.h>
#include <bplink/report/readings.h>
#include <bplink/scan/detect_all.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace bplink::web {

class Archiving;

// The devices are held by a transfer under way.
class Busy : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// No device at the address any more (unplugged, switched off).
class NoSuchDevice : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A device as addresses name it: "usb" for the USB HID link, "serial:"
// and the port's name for a serial one.
std::string DeviceKey(const DetectedPort& port);

struct Job {
  enum class Kind { kDownload, kUpload, kCount, kDelete };
  int id = 0;
  Kind kind = Kind::kDownload;
  std::string key;     // the device's address
  std::string device;  // "ambulatory recorder on USB HID"
  int mode = 0;        // the data mode it works in

  // While it runs: written by the worker, read by the pages, under the
  // desk's lock; `version` counts the changes.
  int percent = 0;
  std::string label = "starting";
  bool done = false;
  bool stop_asked = false;
  int version = 0;

  // Once done (no lock needed: nothing writes them after).
  bool ok = false;
  std::string outcome;             // what happened, in words
  std::vector<std::string> notes;  // the filing, warnings
  std::unique_ptr<_DOWNLOAD_DATAINFO> data;  // a download's or count's records
  std::optional<host::DownloadView> view;   // into `data`
  std::string family;
  std::size_t records = 0;  // a count: what the device holds
  std::string held;         // a count: the same in words, with the dates
  _BP_TRANSPORT_INFO plan;  // an upload: what was sent
  std::int64_t study = 0;   // an upload: the study it opened, 0 for none
};

// What the person asked of an upload beside the plan.
struct UploadAsked {
  report::PatientInfo patient;  // checked; empty: no study is opened
  plan::UploadConsent consent = plan::UploadConsent::kWarningsNotAccepted;
};

class Desk {
 public:
  // `archive` may be null (a build without the archive): downloads are then
  // shown, not filed. Neither is owned.
  Desk(host::Link& link, Archiving* archive);
  ~Desk();
  Desk(const Desk&) = delete;
  Desk& operator=(const Desk&) = delete;

  struct Listing {
    std::vector<DetectedPort> ports;
    std::string error;  // detection itself failed
    bool busy = false;  // a transfer holds the devices: the last list is shown
  };
  // Every link probed at once (DetectAll), unless a transfer holds the devices.
  Listing Detect();

  // Runs `work` on the device at `key`, reached. Throws Busy, NoSuchDevice,
  // host::DeviceError.
  void WithDevice(const std::string& key, const std::function<void(host::Session&)>& work);

  // Starts the work on a worker thread. Throws Busy when other work holds
  // the devices.
  std::shared_ptr<Job> StartDownload(const std::string& key, int mode);
  std::shared_ptr<Job> StartUpload(const std::string& key, const _BP_TRANSPORT_INFO& plan, const UploadAsked& asked);
  std::shared_ptr<Job> StartCount(const std::string& key, int mode);
  // Deletes only when the device still holds `expected` records.
  std::shared_ptr<Job> StartDelete(const std::string& key, int mode, std::size_t expected);

  std::shared_ptr<Job> Find(int id);
  // The job under way, or 0.
  int Running();
  // The library's stop request for job `id`, when it runs.
  void Stop(int id);

  struct Live {
    int version = 0;
    int percent = 0;
    std::string label;
    bool done = false;
    bool shut = false;  // the desk is shutting down: stop waiting
  };
  // Waits until the job has changed since `seen`, it ended, the desk shuts
  // down, or `most` has passed; answers what it shows now.
  Live Await(const Job& job, int seen, std::chrono::milliseconds most);

  // Stops the running transfer (what arrived is kept and filed), waits for
  // it and wakes every waiter. Afterwards nothing starts.
  void Shutdown();

 private:
  using Work = std::function<void(Job&, host::Session&)>;
  std::shared_ptr<Job> Start(Job::Kind kind, const std::string& key, int mode, Work work);
  host::Session Reach(const std::string& key);
  void TakeDevices();     // throws Busy
  void ReleaseDevices();
  std::function<bool(const host::ProgressTrack&)> Watch(Job& job);

  void Download(Job& job, host::Session& session);
  void Upload(Job& job, host::Session& session, const _BP_TRANSPORT_INFO& plan, const UploadAsked& asked);
  std::size_t Count(Job& job, host::Session& session);
  // Files `held` (every reading the device holds that `what` would take)
  // before it is erased, or throws: nothing is erased unread.
  void FileBeforeErasure(Job& job, guard::Erasure what, const std::vector<host::DownloadView>& held);
  void Delete(Job& job, host::Session& session, std::size_t expected);

  host::Link& link_;
  Archiving* archive_;

  std::mutex lock_;
  std::condition_variable changed_;
  bool busy_ = false;
  bool shut_ = false;
  std::vector<DetectedPort> last_ports_;
  std::map<int, std::shared_ptr<Job>> jobs_;
  int next_id_ = 1;
  std::shared_ptr<Job> running_;
  std::thread worker_;
};

}  // namespace bplink::web
