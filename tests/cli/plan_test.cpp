// Plans held to the device they are for, through the program and every
// family's simulated device: a value the device does not allow is refused
// before a byte of the plan is sent, fields it will not keep are named,
// --verify compares every field it keeps, and the template holds only
// those. The HID devices run inside the program; each serial family's is
// served by `bplink sim` on a pseudo-terminal.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
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
  std::string dropped;              // of every_field.json, what the warning names
};

const std::string kSerialIntervals = "5, 10, 15, 20, 30, 45, 60, 90, 120";
const std::string kHidText = "patient[0], patient[1], period1, period2, extra";

const PlanCase kCases[] = {
    {"hid_recorder", {"--sim", "hid"}, "", 1, "15, 30, 60, 120", kHidText,
     "patient[2], patient[3], patient_values, options[0], options[1], options[2], options[3], day_warn, "
     "day_warn.limits[4], day_warn.limits[5], night_warn, night_warn.limits[4], night_warn.limits[5], warn_switch"},
    {"hid_type2", {"--sim", "hid", "--sim-type", "2"}, "", 2, "15, 20, 30, 40, 60, 90, 120, 180, 240",
     kHidText + ", day_warn, day_warn.limits[4], day_warn.limits[5], night_warn, night_warn.limits[4], "
                "night_warn.limits[5]",
     "patient[2], patient[3], patient_values, options[0], options[1], options[2], options[3], warn_switch"},
    {"hid_spo2", {"--sim", "hid", "--sim-type", "3"}, "", 3, kSerialIntervals, kHidText + ", options[1]",
     "patient[2], patient[3], patient_values, options[0], options[2], options[3], day_warn, day_warn.limits[4], "
     "day_warn.limits[5], night_warn, night_warn.limits[4], night_warn.limits[5], warn_switch"},
    {"hid_stores", {"--sim", "hid", "--sim-type", "5"}, "", 5, "", "", ""},
#if !defined(_WIN32)
    {"kx71", {}, "kx71", 6, kSerialIntervals, "patient[0], patient[1], period1, period2",
     "patient[2], patient[3], patient_values, extra, options[0], options[1], options[2], options[3], day_warn, "
     "day_warn.limits[4], day_warn.limits[5], night_warn, night_warn.limits[4], night_warn.limits[5], warn_switch"},
    {"kv32", {}, "kv32", 7, kSerialIntervals, kHidText + ", options[1]",
     "patient[2], patient[3], patient_values, options[0], options[2], options[3], day_warn, day_warn.limits[4], "
     "day_warn.limits[5], night_warn, night_warn.limits[4], night_warn.limits[5], warn_switch"},
    {"vestra16", {}, "vestra16", 8, kSerialIntervals, kHidText + ", options[0], options[1]",
     "patient[2], patient[3], patient_values, options[2], options[3], day_warn, day_warn.limits[4], "
     "day_warn.limits[5], night_warn, night_warn.limits[4], night_warn.limits[5], warn_switch"},
    {"vestra16c", {}, "vestra16c", 9, kSerialIntervals, kHidText + ", options[0], options[1]",
     "patient[2], patient[3], patient_values, options[2], options[3], day_warn, day_warn.limits[4], "
     "day_warn.limits[5], night_warn, night_warn.limits[4], night_warn.limits[5], warn_switch"},
    {"vestra18", {}, "vestra18", 10, "", "", ""},
#endif
};

std::string Name(const ::testing::TestParamInfo<PlanCase>& info) { return info.param.name; }
void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }

// The top-level members a kept-field list names: "day_warn.limits[4]" is of "day_warn".
std::set<std::string> Members(const std::string& fields) {
  std::set<std::string> members;
  for (std::size_t from = 0; from < fields.size();) {
    const std::size_t end = std::min(fields.find(", ", from), fields.size());
    const std::string field = fields.substr(from, end - from);
    members.insert(field.substr(0, field.find_first_of("[.")));
    from = end + 2;
  }
  return members;
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

  // The template of the family holds exactly the members its devices keep.
  const ProgramRun templ = RunProgram({"plan", "template", "--protocol", std::to_string(c.protocol)});
  ASSERT_EQ(templ.status, 0) << templ.err;
  const nlohmann::json doc = nlohmann::json::parse(templ.out, nullptr, true, true);
  std::set<std::string> members;
  for (const auto& [member, value] : doc.items()) members.insert(member);
  EXPECT_EQ(members, Members(c.kept)) << templ.out;

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
    EXPECT_EQ(nlohmann::json::parse(download.out)["plan"]["patient"][0], "KEPT");
  }

  // Every field set: the ones the device drops are named, the ones it keeps
  // come back equal.
  const ProgramRun upload = Run({"upload", every, "--verify"});
  ASSERT_EQ(upload.status, 0) << upload.err << upload.out;
  if (c.dropped.empty())
    EXPECT_THAT(upload.err, Not(HasSubstr("warning")));
  else
    EXPECT_THAT(upload.err, HasSubstr("warning: this device does not keep " + c.dropped + ";"));
  EXPECT_THAT(upload.out, EndsWith("Verified: the device kept every field compared (" + c.kept + ").\n"));
  const std::size_t from = upload.out.find('{');
  const auto back = nlohmann::json::parse(upload.out.substr(from, upload.out.rfind('}') + 1 - from));
  EXPECT_EQ(back["patient"][0], "ANNA MÜLLER");
  EXPECT_EQ(back["period2"], (nlohmann::json{{"start", "23:15"}, {"interval", 60}}));
}

INSTANTIATE_TEST_SUITE_P(Families, PlanForDevice, ::testing::ValuesIn(kCases), Name);

}  // namespace
