#include "desk.h"

#include <bplink/host/device_info.h>
#include <bplink/host/transfer.h>
#include <bplink/plan/plan_check.h>
#include <bplink/report/readings.h>
#include <bplink/web/archiving.h>

#include <algorithm>
#include <cctype>

namespace bplink::web {
namespace {

constexpr const char* kUsbKey = "usb";
constexpr const char* kSerialKey = "serial:";
// Finished jobs kept for their pages; the oldest go first.
constexpr std::size_t kJobsKept = 40;
// Longer than detection takes on a machine full of silent serial ports.
constexpr auto kShortHold = std::chrono::seconds(30);

std::string Records(std::size_t n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

// The first and last dated record of the sets, for the words of a count.
std::string Span(const host::DownloadView& view) {
  std::optional<CalendarTime> first, last;
  for (const host::DownloadedSet& s : view.sets)
    for (const _BP_RECORD& r : s.set->vecRecords) {
      const CalendarTime t{r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute, r.wSecond};
      if (!IsValidTime(t)) continue;
      if (!first || report::SecondsOf(t) < report::SecondsOf(*first)) first = t;
      if (!last || report::SecondsOf(t) > report::SecondsOf(*last)) last = t;
    }
  if (!first) return "";
  return "taken from " + report::FormatDateTime(*first) + " to " + report::FormatDateTime(*last);
}

}  // namespace

std::string DeviceKey(const DetectedPort& port) {
  return port.link == LinkKind::kUsbHid ? kUsbKey : kSerialKey + host::PortName(port.port);
}

Desk::Desk(host::Link& link, Archiving* archive) : link_(link), archive_(archive) {}

Desk::~Desk() { Shutdown(); }

void Desk::TakeDevices() {
  std::unique_lock hold(lock_);
  // A detection or a device's page holds the devices for moments: wait for
  // it. A transfer may take minutes: say so instead.
  changed_.wait_for(hold, kShortHold, [this] { return shut_ || !busy_ || running_ != nullptr; });
  if (shut_) throw Busy("the workstation is shutting down");
  if (running_) throw Busy("a transfer is under way; wait for it or stop it");
  if (busy_) throw Busy("the devices are busy; try again in a moment");
  busy_ = true;
}

void Desk::ReleaseDevices() {
  const std::lock_guard hold(lock_);
  busy_ = false;
  changed_.notify_all();
}

Desk::Listing Desk::Detect() {
  Listing listing;
  try {
    TakeDevices();
  } catch (const Busy&) {
    const std::lock_guard hold(lock_);
    listing.ports = last_ports_;
    listing.busy = true;
    return listing;
  }
  try {
    listing.ports = host::DetectDevices(link_);
  } catch (const host::DeviceError& e) {
    listing.error = e.what();
  }
  {
    const std::lock_guard hold(lock_);
    if (listing.error.empty()) last_ports_ = listing.ports;
  }
  ReleaseDevices();
  return listing;
}

host::Session Desk::Reach(const std::string& key) {
  const auto find = [&](const std::vector<DetectedPort>& ports) -> const DetectedPort* {
    for (const DetectedPort& port : ports)
      if (host::Usable(port) && DeviceKey(port) == key) return &port;
    return nullptr;
  };
  std::vector<DetectedPort> ports;
  {
    const std::lock_guard hold(lock_);
    ports = last_ports_;
  }
  // The last detection saves a second round of it while the device is still
  // where it was; when it is not (unplugged, another one plugged in), a new
  // detection learns what is there now.
  if (const DetectedPort* found = find(ports)) {
    try {
      return host::Reach(link_, *found);
    } catch (const host::DeviceError&) {
    }
  }
  ports = host::DetectDevices(link_);
  {
    const std::lock_guard hold(lock_);
    last_ports_ = ports;
  }
  const DetectedPort* found = find(ports);
  if (found == nullptr) {
    const std::string_view serial(kSerialKey);
    const std::string where = key == kUsbKey               ? std::string("the USB HID link")
                              : key.starts_with(serial) ? key.substr(serial.size())
                                                        : key;
    throw NoSuchDevice("no device answers on " + where + " now: unplugged, or switched off?");
  }
  return host::Reach(link_, *found);
}

void Desk::WithDevice(const std::string& key, const std::function<void(host::Session&)>& work) {
  TakeDevices();
  try {
    host::Session session = Reach(key);
    work(session);
  } catch (...) {
    ReleaseDevices();
    throw;
  }
  ReleaseDevices();
}

std::function<bool(const host::ProgressTrack&)> Desk::Watch(Job& job) {
  return [this, &job](const host::ProgressTrack& track) {
    const std::lock_guard hold(lock_);
    if (job.percent != track.Percent() || job.label != track.Label()) {
      job.percent = track.Percent();
      job.label = track.Label();
      ++job.version;
      changed_.notify_all();
    }
    return job.stop_asked || shut_;
  };
}

std::shared_ptr<Job> Desk::Start(Job::Kind kind, const std::string& key, int mode, Work work) {
  TakeDevices();
  // The last job's thread has handed the devices back: it ends at once.
  std::thread last;
  {
    const std::lock_guard hold(lock_);
    last = std::move(worker_);
  }
  if (last.joinable()) last.join();
  auto job = std::make_shared<Job>();
  job->kind = kind;
  job->key = key;
  job->mode = mode;
  const std::lock_guard hold(lock_);
  job->device = "device at " + key;
  for (const DetectedPort& port : last_ports_)
    if (host::Usable(port) && DeviceKey(port) == key)
      job->device = host::DeviceTypeText(port.device.nDeviceType) + " on " + host::LinkName(port);
  job->id = next_id_++;
  jobs_[job->id] = job;
  while (jobs_.size() > kJobsKept) jobs_.erase(jobs_.begin());
  running_ = job;
  worker_ = std::thread([this, job, work = std::move(work)] {
    try {
      host::Session session = Reach(job->key);
      job->family = session.family->name;
      work(*job, session);
    } catch (const std::exception& e) {
      job->ok = false;
      job->outcome = e.what();
    }
    const std::lock_guard done(lock_);
    job->done = true;
    ++job->version;
    running_.reset();
    busy_ = false;
    changed_.notify_all();
  });
  return job;
}

std::shared_ptr<Job> Desk::StartDownload(const std::string& key, int mode) {
  return Start(Job::Kind::kDownload, key, mode, [this](Job& job, host::Session& s) { Download(job, s); });
}

std::shared_ptr<Job> Desk::StartUpload(const std::string& key, const _BP_TRANSPORT_INFO& plan, const UploadAsked& asked) {
  return Start(Job::Kind::kUpload, key, 0,
               [this, plan, asked](Job& job, host::Session& s) { Upload(job, s, plan, asked); });
}

std::shared_ptr<Job> Desk::StartCount(const std::string& key, int mode) {
  return Start(Job::Kind::kCount, key, mode, [this](Job& job, host::Session& s) {
    if (const std::string why = host::WhyNoDelete(s); !why.empty()) throw std::runtime_error(why);
    job.records = Count(job, s);
    job.ok = true;
    job.outcome = job.records == 0
                      ? "The device holds no records (" + host::DataModeName(job.mode) + "): nothing to delete."
                      : "Counted what the device holds.";
  });
}

std::shared_ptr<Job> Desk::StartDelete(const std::string& key, int mode, std::size_t expected) {
  return Start(Job::Kind::kDelete, key, mode,
               [this, expected](Job& job, host::Session& s) { Delete(job, s, expected); });
}

void Desk::Download(Job& job, host::Session& session) {
  CProtocolBase& protocol = *session.protocol;
  const int mode = job.mode;
  const host::TransferOutcome outcome = host::RunTransfer(
      session, [&protocol, mode] { return protocol.PC_Download(static_cast<enum_DataMode>(mode)); },
      host::DownloadParts(session, mode), Watch(job));
  job.data = std::make_unique<_DOWNLOAD_DATAINFO>();
  protocol.GetDownLoadData(job.data.get());
  const tag_SUPPORT_PROTOCOL device = session.DeviceNow();
  host::DownloadView& view = job.view.emplace(host::ViewOf(*job.data, device, mode, host::PlanRead(session, mode)));
  view.complete = outcome.result == kResultOk && !outcome.stop_requested;
  view.result = outcome.stop_requested ? "stopped by the user" : session.Explain(outcome.result);
  view.downloaded_at = CurrentEnv()->LocalTime();
  const std::string arrived = Records(view.RecordCount()) + " arrived";
  if (view.complete) {
    job.ok = true;
    job.outcome = "Downloaded: " + arrived + ".";
  } else if (outcome.stop_requested) {
    job.outcome = "Stopped: " + arrived + "; they are kept.";
  } else {
    job.outcome = "Download failed: " + view.result + "; " + arrived + ".";
  }
  if (view.RecordCount() == 0 && !view.complete) return;  // nothing to file
  if (archive_ == nullptr) {
    job.notes.push_back("Not filed: this build of bplink has no archive.");
    return;
  }
  try {
    job.notes.push_back("Filed in the " + archive_->Where() + ": " + archive_->File(view, job.family) + ".");
  } catch (const std::exception& e) {
    job.ok = false;
    job.notes.push_back(e.what());
  }
}

void Desk::Upload(Job& job, host::Session& session, const _BP_TRANSPORT_INFO& plan, const UploadAsked& asked) {
  CProtocolBase& protocol = *session.protocol;
  const int mode = session.FirstMode();
  // Held to the device once more, by the check every upload makes: it may
  // have been swapped since the form was read.
  const plan::PlanCheck check = plan::HoldToDevice(protocol, *session.family, mode, plan, "the form");
  if (check.result != kResultOk)
    throw std::runtime_error("upload failed: " + session.Explain(check.result) + "; " + check.Refusal());
  if (!check.MaySend(asked.consent)) throw std::runtime_error(check.Refusal());
  for (const std::string& warning : check.warnings) job.notes.push_back("Confirmed: " + warning);
  // The study is opened where it is kept, or the upload does not go on.
  if (!asked.patient.Empty() && archive_ == nullptr)
    throw std::runtime_error("The patient fields open a study, which the archive keeps: this build of bplink has none; "
                             "nothing was uploaded.");
  if (!check.dropped.empty())
    job.notes.push_back("This device does not keep " + plan::Join(check.dropped) +
                        "; the plan's values for them are not stored.");
  // An upload that starts a new recording erases what the device holds:
  // every mode that holds a reading is read and filed first.
  if (guard::Erases(*session.family, guard::Erasure::kUpload)) {
    std::vector<int> offered;
    for (int m = DATAMODE_BP; m < kDataModeCount; ++m)
      if (session.Offers(m)) offered.push_back(m);
    std::vector<std::unique_ptr<_DOWNLOAD_DATAINFO>> data;
    std::vector<host::DownloadView> held;
    for (const int m : guard::ModesHoldingEverything(session.DeviceNow(), offered)) {
      const host::TransferOutcome read = host::RunTransfer(
          session, [&protocol, m] { return protocol.PC_Download(static_cast<enum_DataMode>(m)); },
          host::DownloadParts(session, m), Watch(job));
      if (read.stop_requested) throw std::runtime_error("Stopped while reading what the device holds; nothing uploaded.");
      if (read.result != kResultOk)
        throw std::runtime_error("What the device holds could not be read before the upload: " +
                                 session.Explain(read.result) + "; nothing uploaded.");
      protocol.GetDownLoadData(data.emplace_back(std::make_unique<_DOWNLOAD_DATAINFO>()).get());
      held.push_back(host::ViewOf(*data.back(), session.DeviceNow(), m, host::PlanRead(session, m)));
      held.back().downloaded_at = CurrentEnv()->LocalTime();
    }
    FileBeforeErasure(job, guard::Erasure::kUpload, held);
  }
  // The study is opened (prepared) before the plan goes out, and hooked up
  // once the device took it.
  if (!asked.patient.Empty()) {
    const Archiving::OpenedStudy opened = archive_->OpenStudy(asked.patient, job.family, session.DeviceNow(), plan);
    if (!opened.note.empty()) job.notes.push_back(opened.note);
    job.study = opened.id;
  }
  job.plan = plan;
  protocol.SetUpLoadData(plan);
  const host::TransferOutcome outcome = host::RunTransfer(
      session, [&protocol, mode] { return protocol.PC_Upload(static_cast<enum_DataMode>(mode)); }, {}, Watch(job));
  job.ok = outcome.result == kResultOk;
  if (!job.ok) {
    job.outcome = "Upload failed: " + session.Explain(outcome.result) + "." +
                  (job.study ? " Study " + std::to_string(job.study) + " stays prepared (uploading again takes it up)."
                             : "");
    return;
  }
  job.outcome = "Plan uploaded.";
  if (job.study == 0) return;
  try {
    job.notes.push_back(archive_->StartRecording(job.study, asked.patient));
  } catch (const std::exception& e) {
    job.ok = false;
    job.notes.push_back(e.what());
  }
}

std::size_t Desk::Count(Job& job, host::Session& session) {
  CProtocolBase& protocol = *session.protocol;
  const int mode = job.mode;
  const host::TransferOutcome outcome = host::RunTransfer(
      session, [&protocol, mode] { return protocol.PC_Download(static_cast<enum_DataMode>(mode)); },
      host::DownloadParts(session, mode), Watch(job));
  if (outcome.stop_requested) throw std::runtime_error("Stopped while counting the records; nothing deleted.");
  if (outcome.result != kResultOk)
    throw std::runtime_error("The records could not be counted: " + session.Explain(outcome.result) +
                             "; nothing deleted.");
  job.data = std::make_unique<_DOWNLOAD_DATAINFO>();
  protocol.GetDownLoadData(job.data.get());
  host::DownloadView& view = job.view.emplace(host::ViewOf(*job.data, session.device, mode, false));
  view.downloaded_at = CurrentEnv()->LocalTime();  // filed so before a delete
  const std::size_t n = view.RecordCount();
  const std::string span = Span(view);
  job.held = Records(n) + " (" + host::DataModeName(mode) + ") on the " +
             host::DeviceTypeText(session.device.nDeviceType) + (span.empty() ? "" : ", " + span);
  return n;
}

void Desk::Delete(Job& job, host::Session& session, std::size_t expected) {
  if (const std::string why = host::WhyNoDelete(session); !why.empty()) throw std::runtime_error(why);
  // What was confirmed is what goes: a device that holds more (or other)
  // records now is asked about again.
  const std::size_t held = Count(job, session);
  if (held != expected)
    throw std::runtime_error("The device now holds " + Records(held) + ", not the " + Records(expected) +
                             " you confirmed; nothing deleted. Count them again to delete them.");
  if (held == 0) {
    job.ok = true;
    job.outcome = "Nothing to delete.";
    return;
  }
  FileBeforeErasure(job, guard::Erasure::kDelete, {*job.view});
  CProtocolBase& protocol = *session.protocol;
  const int mode = job.mode;
  const host::TransferOutcome outcome = host::RunTransfer(
      session, [&protocol, mode] { return protocol.PC_Delete(static_cast<enum_DataMode>(mode)); }, {}, Watch(job));
  if (outcome.result != kResultOk) throw std::runtime_error("Delete failed: " + session.Explain(outcome.result) + ".");
  const std::size_t left = Count(job, session);
  if (left != 0)
    throw std::runtime_error("The device acknowledged the delete but still holds " + Records(left) + " of " +
                             std::to_string(held) + ".");
  job.ok = true;
  job.records = held;
  job.outcome = "Deleted " + Records(held) + " (" + host::DataModeName(mode) + ").";
}

void Desk::FileBeforeErasure(Job& job, guard::Erasure what, const std::vector<host::DownloadView>& held) {
  std::int64_t readings = 0;
  for (const host::DownloadView& view : held) readings += static_cast<std::int64_t>(view.RecordCount());
  if (readings == 0) return;
  if (archive_ != nullptr) {
    job.notes.push_back(archive_->FileBeforeErasure(what, held, job.family));
    return;
  }
  // Without an archive a delete goes on once the person confirmed the count
  // it names; an upload has no such question, so it stops.
  if (what == guard::Erasure::kDelete) return;
  std::string why = guard::WouldErase(what, readings);
  why[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
  throw std::runtime_error(why + "; this build of bplink has no archive to file them in, so nothing was uploaded.");
}

std::shared_ptr<Job> Desk::Find(int id) {
  const std::lock_guard hold(lock_);
  const auto it = jobs_.find(id);
  return it == jobs_.end() ? nullptr : it->second;
}

int Desk::Running() {
  const std::lock_guard hold(lock_);
  return running_ ? running_->id : 0;
}

void Desk::Stop(int id) {
  const std::lock_guard hold(lock_);
  const auto it = jobs_.find(id);
  if (it == jobs_.end() || it->second->done) return;
  it->second->stop_asked = true;
}

Desk::Live Desk::Await(const Job& job, int seen, std::chrono::milliseconds most) {
  std::unique_lock hold(lock_);
  changed_.wait_for(hold, most, [&] { return job.version != seen || job.done || shut_; });
  return {job.version, job.percent, job.label, job.done, shut_};
}

void Desk::Shutdown() {
  std::thread last;
  {
    std::unique_lock hold(lock_);
    shut_ = true;
    if (running_) running_->stop_asked = true;
    changed_.notify_all();
    changed_.wait(hold, [this] { return !busy_; });
    last = std::move(worker_);
  }
  if (last.joinable()) last.join();
}

}  // namespace bplink::web
