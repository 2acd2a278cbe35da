// The workstation's screens, as markup for Document (html.h). Each takes
// what it shows; none touches a device or the archive itself.
#pragma once

#include <bplink/host/device_info.h>

#include <string>

#include "desk.h"
#include "html.h"
#include "plan_form.h"
#include "upload_form.h"

namespace bplink::web {

// The Devices screen: every device found and what each other link said.
Page DevicesPage(const Desk::Listing& listing, int running_job);
// Its list alone, which the script fetches again from time to time.
std::string DeviceList(const Desk::Listing& listing);

// One device: what it is, its modes, intervals and plan, and the forms for
// download, upload and delete.
struct DeviceView {
  std::string key;
  std::string link;    // "USB HID", "/dev/ttyUSB0"
  std::string family;
  host::DeviceInfo info;
  std::vector<int> download_modes;  // the modes a transfer may ask for
  PlanChoices plan;                 // kept empty: it takes no plan
  std::string no_delete;            // why it cannot delete; empty when it can
};
Page DevicePage(const DeviceView& device, const std::string& csrf);

// A plan the check warns about (it cannot give a valid recording), not
// sent: the warnings, and the form again as it was filled in, with "Upload
// all the same" beside the plain upload.
struct UploadAgain {
  std::string key;
  PlanChoices plan;  // shown: the plan the form gave
  report::PatientInfo patient;
  std::vector<std::string> warnings;
};
Page UploadWarningsPage(const UploadAgain& again, const std::string& csrf);

// A transfer, under way or done: its progress, its Stop, and what came of it.
struct JobView {
  const Job& job;
  Desk::Live live;
};
Page JobPage(const JobView& view, const std::string& csrf);

// A screen that needs what the archive does not keep yet.
Page NotYetPage(Screen screen);

// A refusal or failure: what went wrong, in words, and a way back.
Page ProblemPage(const std::string& title, const std::string& message, const std::string& back = "/devices");

}  // namespace bplink::web
