#include "review_options.h"

#include <bplink/report/readings.h>

#include "command_error.h"
#include "exit_status.h"

namespace bplink::cli {

bool ReviewOptions::Given() const {
  return !sleep.empty() || !office.empty() || !clock_offset.empty() || !exclude.empty() || !reason.empty() ||
         !(texts == report::ReviewInputs{});
}

void AddReviewOptions(CLI::App& command, ReviewOptions& o) {
  command.add_option("--sleep", o.sleep, std::string("the patient's sleep from the diary, ") + report::kSleepForm +
                                             "; decides day and night over everything else");
  command.add_option("--exclude", o.exclude, "leave out the reading at TIME (YYYY-MM-DDTHH:MM, or HH:MM when one "
                                             "reading has it); give --reason TEXT with each")
      ->allow_extra_args(false);
  command.add_option("--reason", o.reason, "why the --exclude before it is left out")->allow_extra_args(false);
  command.add_option("--office", o.office, std::string("the office blood pressure, ") + report::kOfficeForm);
  command.add_option("--clock-offset", o.clock_offset,
                     std::string("correct the device's clock: ") + report::kClockOffsetForm);
  command.add_option("--indication", o.texts.indication, "why the recording was made");
  command.add_option("--medication", o.texts.medication, "the patient's blood-pressure medication");
  command.add_option("--referring-physician", o.texts.referring_physician, "who asked for the recording");
}

report::ReviewInputs ReviewInputsOf(const ReviewOptions& o) {
  try {
    report::ReviewInputs inputs = o.texts;
    if (!o.sleep.empty()) report::SetSleep(inputs, o.sleep, "--sleep");
    if (!o.office.empty()) report::SetOffice(inputs, o.office, "--office");
    if (!o.clock_offset.empty()) report::SetClockOffset(inputs, o.clock_offset, "--clock-offset");
    if (o.reason.size() != o.exclude.size())
      throw report::InputError("--reason: give one for each --exclude (" + std::to_string(o.exclude.size()) +
                               " --exclude, " + std::to_string(o.reason.size()) + " --reason)");
    for (std::size_t i = 0; i < o.exclude.size(); ++i)
      report::AddExclusion(inputs, o.exclude[i], o.reason[i], "--exclude");
    return inputs;
  } catch (const report::InputError& e) {
    throw CommandError(kExitBadInput, e.what());
  }
}

}  // namespace bplink::cli
