// Plans held to the device they are for, through the program and every
// family's simulated device: a value the device does not allow is refused
// before a byte of the plan is sent, fields it will not keep are named,
// --verify compares every field it keeps, and the template holds only
// those. The HID devices run inside the program; each serial family's is
// served by `bplink sim` on a pseudo-terminal.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bplink/plan/plan_check.h>
#include <bplink/plan/plan_file.h>
#include <bplink/plan/recording_minimums.h>

#include <csignal>
#include <memory>
#include <algorithm>
#include <ranges>
#include <set>

#include "program_runner.h"

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kExitBadInput = 2, kExitRefused = 6;
const std::filesystem::path kPlans = BPLINK_TEST_PLANS;

struct PlanCase {
  std::string name;
  std::vector<std::string> device;  // how the program reaches it (--sim ... or, for "sim FAMILY", empty)
  std::string family;               // served by `bplink sim` on a pty when `device` is empty
  int protocol;
  std::string allowed;              // the day intervals the refusal names; empty: the device takes no plan
  std::string kept;                 // what --verify compares
  std::string unread = "";          // kept, but never reported back
};

const std::string kSerialIntervals = "5, 10, 15, 20, 30, 45, 60, 90, 120";
const std::string kHidText = "patient[0], patient[1], period1, period2, extra";
const std::string kAlarms =
    "day_warn, day_warn.limits[4], day_warn.limits[5], night_warn, night_warn.limits[4], night_warn.limits[5]";
// every_field.json sets each of these away from the default plan.
const std::string kEveryField = "patient[0], patient[1], patient[2], patient[3], patient_values, period1, period2, "
                                "extra, options[0], options[1], options[2], options[3], " + kAlarms + ", warn_switch";

const PlanCase kCases[] = {
    {"hid_recorder", {"--sim", "hid"}, "", 1, "15, 30, 60, 120", kHidText},
    {"hid_type2", {"--sim", "hid", "--sim-type", "2"}, "", 2, "15, 20, 30, 40, 60, 90, 120, 180, 240",
     kHidText + ", " + kAlarms},
    {"hid_spo2", {"--sim", "hid", "--sim-type", "3"}, "", 3, kSerialIntervals, kHidText + ", options[1]"},
    {"hid_type4", {"--sim", "hid", "--sim-type", "4"}, "", 4, kSerialIntervals,
     kHidText + ", options[1], options[2], day_warn, night_warn", "options[0], options[3]"},
    {"hid_stores", {"--sim", "hid", "--sim-type", "5"}, "", 5, "", ""},
#if !defined(_WIN32)
    {"kx71", {}, "kx71", 6, kSerialIntervals, "patient[0], patient[1], period1, period2"},
    {"kv32", {}, "kv32", 7, kSerialIntervals, kHidText + ", options[1]"},
    {"vestra16", {}, "vestra16", 8, kSerialIntervals, kHidText + ", options[0], options[1]"},
    {"vestra16c", {}, "vestra16c", 9, kSerialIntervals, kHidText + ", options[0], options[1]"},
    {"vestra18", {}, "vestra18", 10, "", ""},
#endif
};

std::string Name(const ::testing::TestParamInfo<PlanCase>& info) { return info.param.name; }
void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }

std::vector<std::string> Fields(const std::string& list) {
  std::vector<std::string> fields;
  for (const auto part : std::views::split(std::string_view(list), std::string_view(", ")))
    if (!part.empty()) fields.emplace_back(part.begin(), part.end());
  return fields;
}

class PlanForDevice : public ::testing::TestWithParam<PlanCase> {
 protected:
  void SetUp() override {
    const PlanCase& c = GetParam();
    if (!c.device.empty()) return;
    std::vector<std::string> serve = {"sim", c.family, "--sim-records", "2"};
    if (!c.allowed.empty()) serve.insert(serve.end(), {"--sim-plan", (kPlans / "kept.json").string()});
    sim_ = std::make_unique<RunningProgram>(serve, dir_);
    ASSERT_TRUE(sim_->AwaitErr("Ctrl-C to stop", 1)) << sim_->Wait().err;
    port_ = sim_->Out().substr(0, sim_->Out().find('\n'));
  }
  void TearDown() override {
    if (!sim_) return;
    sim_->Signal(SIGINT);
    EXPECT_EQ(sim_->Wait().status, 0);
  }

  ProgramRun Run(std::vector<std::string> args) const {
    const PlanCase& c = GetParam();
    if (!c.device.empty()) {
      args.insert(args.end(), c.device.begin(), c.device.end());
    } else {
      args.insert(args.end(), {"--port", port_, "--timeout", "120", "--protocol", std::to_string(c.protocol)});
    }
    return RunProgram(args);
  }

  std::filesystem::path dir_ = TestDir();
  std::unique_ptr<RunningProgram> sim_;
  std::string port_;
};

TEST_P(PlanForDevice, IsHeldToWhatTheDeviceAllowsAndKeeps) {
  const PlanCase& c = GetParam();
  const std::string odd = (kPlans / "odd_interval.json").string();
  const std::string every = (kPlans / "every_field.json").string();

  // The device's template holds exactly the members kept; the family's (as
  // its oldest devices keep a plan, so a type-4 monitor without alarms) none
  // beyond them.
  std::set<std::string> kept_members;  // "day_warn.limits[4]" is kept in "day_warn"
  const std::vector<std::string> kept = Fields(c.kept + (c.unread.empty() ? "" : ", " + c.unread));
  for (const std::string& field : kept) kept_members.insert(field.substr(0, field.find_first_of("[.")));
  const ProgramRun own = Run({"plan", "template"});
  const ProgramRun family = RunProgram({"plan", "template", "--protocol", std::to_string(c.protocol)});
  for (const ProgramRun* templ_of : {&family, &own}) {
    const ProgramRun& templ = *templ_of;
    ASSERT_EQ(templ.status, 0) << templ.err;
    const nlohmann::json doc = nlohmann::json::parse(templ.out, nullptr, true, true);
    std::set<std::string> members;
    for (const auto& [member, value] : doc.items()) members.insert(member);
    if (templ_of == &own) {
      EXPECT_EQ(members, kept_members) << templ.out;
    } else {
      EXPECT_TRUE(std::ranges::includes(kept_members, members)) << templ.out;
    }
  }

  if (c.allowed.empty()) {
    const ProgramRun refused = Run({"upload", every});
    EXPECT_EQ(refused.status, kExitRefused);
    EXPECT_THAT(refused.err, HasSubstr("not supported by this device"));
    return;
  }

  // A 7-minute day interval: refused naming the field and what the device
  // allows, and the plan is never sent.
  const ProgramRun refused = Run({"upload", odd, "--trace"});
  EXPECT_EQ(refused.status, kExitBadInput);
  EXPECT_THAT(refused.err, HasSubstr(odd + ": period1.interval: 7 minutes is not an interval this device allows; "
                                     "it allows " + c.allowed + " (or 0: no measurements)"));
  if (!c.device.empty()) {
    EXPECT_THAT(refused.err, Not(HasSubstr("> 44 "))) << "the plan frame was sent";
  } else {
    const ProgramRun download = Run({"download", "--format", "json"});
    ASSERT_EQ(download.status, 0) << download.err;
    EXPECT_EQ(nlohmann::json::parse(download.out)["plan"]["patient"][0], "KÄTHE");
  }

  // Every field set: the ones the device drops are named, the ones it keeps
  // come back equal. (What the device held may go: --discard, where an
  // upload starts a new recording.)
  const ProgramRun upload = Run({"upload", every, "--verify", "--discard"});
  ASSERT_EQ(upload.status, 0) << upload.err << upload.out;
  ExpectPlain(upload);
  std::string dropped;
  for (const std::string& field : Fields(kEveryField))
    if (!std::ranges::count(kept, field)) dropped += (dropped.empty() ? "" : ", ") + field;
  EXPECT_THAT(upload.err, HasSubstr("warning: this device does not keep " + dropped + ";"));
  std::string out = upload.out;
  std::erase(out, '\r');  // a Windows console's line ends
  EXPECT_THAT(out, EndsWith("Verified: the device kept every field compared (" + c.kept + ").\n"));
  EXPECT_THAT(upload.out, HasSubstr("\"ANNA MÜLLER\""));

  // The device's own template, and the family's, upload as they stand,
  // with nothing to warn of: enough readings by day and by night.
  WriteText(dir_ / "own.json", own.out);
  WriteText(dir_ / "family.json", family.out);
  for (const char* templ : {"own.json", "family.json"}) {
    const ProgramRun plain = Run({"upload", (dir_ / templ).string(), "--discard"});
    EXPECT_EQ(plain.status, 0) << templ << ": " << plain.err;
    EXPECT_THAT(plain.err, Not(HasSubstr("warning"))) << templ;
  }

  // Day and night swapped: the device would take it, so only the person's
  // --yes sends it.
  const std::string swapped = (kPlans / "swapped.json").string();
  const ProgramRun unconfirmed = Run({"upload", swapped, "--discard"});
  EXPECT_EQ(unconfirmed.status, kExitBadInput);
  EXPECT_THAT(unconfirmed.err, HasSubstr("day and night look swapped"));
  const ProgramRun confirmed = Run({"upload", swapped, "--discard", "--yes", "--verify"});
  EXPECT_EQ(confirmed.status, 0) << confirmed.err;
  EXPECT_THAT(confirmed.err, HasSubstr("warning: " + swapped + ": period2.start: the night starts at 07:00"));
}

INSTANTIATE_TEST_SUITE_P(Families, PlanForDevice, ::testing::ValuesIn(kCases), Name);

// Plans a device takes but that cannot give a valid recording: each warned
// about in words naming the fields, nothing sent without --yes, and sent
// with it (the warning still said).
struct WarnedPlan {
  std::string file;
  std::string words;
};

void PrintTo(const WarnedPlan& c, std::ostream* out) { *out << c.file; }

class WarnedPlanUpload : public ::testing::TestWithParam<WarnedPlan> {};

TEST_P(WarnedPlanUpload, IsSentOnlyOnceThePersonSaidYes) {
  const WarnedPlan& c = GetParam();
  const std::string plan = (kPlans / c.file).string();
  // A Windows console ends lines with CR LF; the words must still end their line.
  ProgramRun refused = RunProgram({"--sim", "hid", "upload", plan, "--trace"});
  std::erase(refused.err, '\r');
  EXPECT_EQ(refused.status, kExitBadInput);
  EXPECT_THAT(refused.err, HasSubstr("bplink: " + plan + ": " + c.words + "\n"));
  EXPECT_THAT(refused.err, HasSubstr("nothing was uploaded: give --yes to upload this plan all the same"));
  EXPECT_THAT(refused.err, Not(HasSubstr("> 44 "))) << "the plan frame was sent";

  ProgramRun sent = RunProgram({"--sim", "hid", "upload", plan, "--yes", "--trace"});
  std::erase(sent.err, '\r');
  EXPECT_EQ(sent.status, 0) << sent.err;
  EXPECT_THAT(sent.err, HasSubstr("bplink: warning: " + plan + ": " + c.words + "\n"));
  EXPECT_THAT(sent.err, HasSubstr("> 44 "));
  EXPECT_THAT(sent.out, HasSubstr("Plan uploaded."));
}

INSTANTIATE_TEST_SUITE_P(
    Plans, WarnedPlanUpload,
    ::testing::Values(
        WarnedPlan{"swapped.json",
                   "period2.start: the night starts at 07:00, in the morning, and the day at 22:00: day and night "
                   "look swapped"},
        WarnedPlan{"no_measurements.json",
                   "period1.interval, period2.interval: both are 0 (no measurements): the device would measure "
                   "nothing"},
        WarnedPlan{"equal_starts.json",
                   "period1.start, period2.start: the day and the night both start at 07:00: the recording would "
                   "have no day or no night"},
        WarnedPlan{"sparse_day.json",
                   "period1.interval: at most 15 readings by day (07:00 to 22:00 every 60 minutes); a valid "
                   "recording needs at least 20"}),
    [](const ::testing::TestParamInfo<WarnedPlan>& info) {
      return info.param.file.substr(0, info.param.file.find('.'));
    });

}  // namespace

// --verify's comparison: a field differs when what the device keeps of it
// differs, not where two plans only say the same thing differently.
TEST(PlanFields, DifferOnlyWhereTheKeptValueDiffers) {
  namespace plan = bplink::plan;
  const _BP_TRANSPORT_INFO sent = plan::ReadPlanText(ReadText(kPlans / "every_field.json"), "every_field.json");
  EXPECT_EQ(plan::Join(plan::FieldsSet(sent)), kEveryField);
  const std::vector<std::string> all = Fields(kEveryField);

  const std::pair<void (*)(_BP_TRANSPORT_INFO&), std::string> kCases[] = {
      {[](_BP_TRANSPORT_INFO& p) { p.szPatientInfo4[0] = 'X'; }, "patient[3]"},
      {[](_BP_TRANSPORT_INFO& p) { p.nPeriod2Minute = 0; }, "period2"},
      {[](_BP_TRANSPORT_INFO& p) { p.nExtraInterval = 0xFF; }, "extra"},  // the device's "none"
      {[](_BP_TRANSPORT_INFO& p) { p.nOption2 = 1; }, "options[1]"},       // from off to on
      {[](_BP_TRANSPORT_INFO& p) { p.NightWarn.nLimit4 = 0; }, "night_warn"},
      {[](_BP_TRANSPORT_INFO& p) { p.DayWarn.nLimit6 = 0; }, "day_warn.limits[5]"},
      // The same plan as a device reports it: another "off", its own recording start.
      {[](_BP_TRANSPORT_INFO& p) { p.nOption2 = 0xFF, p.nYear = 2030; }, ""},
  };
  for (const auto& [change, differs] : kCases) {
    _BP_TRANSPORT_INFO back = sent;
    change(back);
    EXPECT_EQ(plan::Join(plan::FieldsDiffering(sent, back, all)), differs);
  }
  _BP_TRANSPORT_INFO none, unset;
  none.nPeriod1Interval = 0;
  unset.nPeriod1Interval = 0xFF;
  EXPECT_TRUE(plan::FieldsDiffering(none, unset, all).empty());
}

// A plan that does not come from a file (a C struct, a Python dictionary) is
// held to the limits the file's reader holds it to, in the reader's words;
// "none" as a device sends it is no value out of range.
TEST(PlanFields, ValuesOutOfRangeAreWordedAsTheReaderWordsThem) {
  namespace plan = bplink::plan;
  const std::pair<void (*)(_BP_TRANSPORT_INFO&), std::string> kCases[] = {
      {[](_BP_TRANSPORT_INFO& p) { p.nPeriod1Hour = 24; }, R"({"period1": {"start": "24:00"}})"},
      {[](_BP_TRANSPORT_INFO& p) { p.nPeriod2Minute = 60; }, R"({"period2": {"start": "22:60"}})"},
      {[](_BP_TRANSPORT_INFO& p) { p.nPeriod2Interval = 300; }, R"({"period2": {"interval": 300}})"},
      {[](_BP_TRANSPORT_INFO& p) { p.nOption3 = 70000; }, R"({"options": [1, 1, 70000]})"},
      {[](_BP_TRANSPORT_INFO& p) { p.DayWarn.nLimit3 = 256; }, R"({"day_warn": {"limits": [1, 2, 256]}})"},
      {[](_BP_TRANSPORT_INFO& p) { p.NightWarn.nWarnSwitch = 2; }, R"({"night_warn": {"switch": 2}})"},
      {[](_BP_TRANSPORT_INFO& p) { p.nExtraStartHour = 12, p.nExtraStartMinute = 0, p.nExtraEndHour = 25,
                                   p.nExtraEndMinute = 0, p.nExtraInterval = 15; },
       R"({"extra": {"start": "12:00", "end": "25:00", "interval": 15}})"},
  };
  for (const auto& [change, text] : kCases) {
    _BP_TRANSPORT_INFO values;
    change(values);
    std::string read;
    try {
      plan::ReadPlanText(text, "plan");
    } catch (const plan::PlanError& e) {
      read = e.what();
    }
    EXPECT_EQ(plan::OutOfRange(values, "plan"), std::vector<std::string>{read}) << text;
  }
  _BP_TRANSPORT_INFO device_none;
  device_none.nPeriod1Interval = 0xFF;
  device_none.nExtraStartHour = device_none.nExtraEndHour = 0xFF;
  EXPECT_TRUE(plan::OutOfRange(device_none, "plan").empty());
  EXPECT_TRUE(plan::OutOfRange(_BP_TRANSPORT_INFO{}, "plan").empty());
}

// The readings a plan takes by day and by night, counted as the device
// measures: an extra window in a period's place, at its own interval, and
// only where the device keeps one; a night that runs over midnight.
TEST(PlanReadings, AreCountedAsTheDeviceMeasures) {
  namespace plan = bplink::plan;
  const _BP_TRANSPORT_INFO every = plan::ReadPlanText(ReadText(kPlans / "every_field.json"), "every_field.json");
  // Day 06:30 to 23:15 every 30 minutes: 34; the window 12:00 to 13:30
  // every 15 takes 6 in place of 3. Night 23:15 to 06:30 every 60: 8.
  const plan::ReadingsPerDay with_window = plan::ReadingsOf(every, {"period1", "period2", "extra"});
  EXPECT_EQ(with_window.day, 37);
  EXPECT_EQ(with_window.night, 8);
  const plan::ReadingsPerDay no_window = plan::ReadingsOf(every, {"period1", "period2"});
  EXPECT_EQ(no_window.day, 34);
  EXPECT_EQ(no_window.night, 8);

  // The template's plan meets the minimums; the default plan's day does not.
  const plan::ReadingsPerDay templ = plan::ReadingsOf(plan::TemplatePlan(), {"period1", "period2"});
  EXPECT_GE(templ.day, bplink::kMinDayReadings);
  EXPECT_GE(templ.night, bplink::kMinNightReadings);
  EXPECT_TRUE(plan::RecordingWarnings(plan::TemplatePlan(), {"period1", "period2", "extra"}, "plan").empty());
  EXPECT_EQ(plan::ReadingsOf(_BP_TRANSPORT_INFO{}, {"period1", "period2"}).day, 15);

  // A night of 6 readings (00:00 to 06:00 every 60) is one short; a device
  // that keeps no plan gets no warning.
  _BP_TRANSPORT_INFO short_night;
  short_night.nPeriod1Hour = 6, short_night.nPeriod1Interval = 30;
  short_night.nPeriod2Hour = 0, short_night.nPeriod2Interval = 60;
  EXPECT_EQ(plan::RecordingWarnings(short_night, {"period1", "period2"}, "plan"),
            std::vector<std::string>{"plan: period2.interval: at most 6 readings by night (00:00 to 06:00 every 60 "
                                     "minutes); a valid recording needs at least 7"});
  EXPECT_TRUE(plan::RecordingWarnings(short_night, {}, "plan").empty());
}
