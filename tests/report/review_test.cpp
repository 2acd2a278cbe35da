// The physician's inputs: each value refused with its field and form, the
// whole set through JSON and back, and applied to a recording all or nothing.

#include <bplink/report/analysis.h>
#include <bplink/report/review.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace {

using namespace bplink::report;
using bplink::CalendarTime;
using testing::HasSubstr;

// The message a setter gives, or "(accepted)"; the inputs it was given.
std::string Refusal(const std::function<void(ReviewInputs&)>& set, ReviewInputs& inputs) {
  try {
    set(inputs);
  } catch (const InputError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(ReviewInputs, ABadValueIsRefusedNamingTheFieldAndItsFormAndChangesNothing) {
  using Set = std::function<void(ReviewInputs&)>;
  const std::tuple<Set, const char*, const char*> cases[] = {
      {[](ReviewInputs& i) { SetSleep(i, "23-06", "--sleep"); }, "--sleep '23-06'", "HH:MM-HH:MM"},
      {[](ReviewInputs& i) { SetSleep(i, "23:00-23:00", "--sleep"); }, "--sleep", "HH:MM-HH:MM"},
      {[](ReviewInputs& i) { SetOffice(i, "90/120", "--office"); }, "--office '90/120': diastolic not below systolic",
       "SYS/DIA"},
      {[](ReviewInputs& i) { SetOffice(i, "150-95", "--office"); }, "--office '150-95'", "SYS/DIA"},
      {[](ReviewInputs& i) { SetOffice(i, "300/95", "--office"); }, "systolic outside 70..260", "SYS/DIA"},
      {[](ReviewInputs& i) { SetClockOffset(i, "1h", "--clock-offset"); }, "--clock-offset '1h'", "[+|-]H:MM"},
      {[](ReviewInputs& i) { SetClockOffset(i, "+1:75", "--clock-offset"); }, "--clock-offset", "[+|-]H:MM"},
      {[](ReviewInputs& i) { AddExclusion(i, "noon", "moved", "--exclude"); }, "--exclude 'noon'", "YYYY-MM-DDTHH:MM"},
      {[](ReviewInputs& i) { AddExclusion(i, "12:00", " ", "--exclude"); }, "--exclude '12:00'", "--reason TEXT"},
  };
  for (const auto& [set, field, form] : cases) {
    ReviewInputs inputs;
    inputs.office = OfficeReading{128, 82};
    const ReviewInputs before = inputs;
    const std::string message = Refusal(set, inputs);
    EXPECT_THAT(message, HasSubstr(field));
    EXPECT_THAT(message, HasSubstr(form));
    EXPECT_EQ(inputs, before) << message;
  }
  ReviewInputs inputs;
  SetClockOffset(inputs, "-1:30", "--clock-offset");
  SetOffice(inputs, "150/95", "--office");
  SetSleep(inputs, "23:15-06:45", "--sleep");
  EXPECT_EQ(std::tuple(inputs.clock_offset_minutes, *inputs.office, *inputs.sleep),
            std::tuple(-90, OfficeReading{150, 95}, ClockWindow{23 * 60 + 15, 6 * 60 + 45}));
}

TEST(ReviewInputs, JsonGivesBackTheSameInputsAndNamesTheMemberAtFault) {
  ReviewInputs inputs;
  SetSleep(inputs, "22:30-06:00", "--sleep");
  SetOffice(inputs, "150/95", "--office");
  SetClockOffset(inputs, "+1:00", "--clock-offset");
  AddExclusion(inputs, "2024-03-04T12:00", "cuff came loose", "--exclude");
  AddExclusion(inputs, "21:30", "patient was running", "--exclude");
  inputs.indication = "suspected white-coat hypertension";
  inputs.medication = "none";
  inputs.referring_physician = "Dr. A. Osei";
  const nlohmann::json doc = ReviewToJson(inputs);
  EXPECT_EQ(doc["office"], "150/95");
  EXPECT_EQ(doc["clock_offset"], "+1:00");
  EXPECT_EQ(ReviewFromJson(nlohmann::json::parse(doc.dump()), "review.json"), inputs);
  EXPECT_EQ(ReviewToJson({}), nlohmann::json::object()) << "nothing given, nothing written";

  const std::pair<const char*, const char*> bad[] = {
      {R"({"sleep": "late"})", "review.json: sleep 'late'"},
      {R"({"office": 150})", "review.json: office: expected a text"},
      {R"({"exclusions": [{"time": "12:00"}]})", "review.json: exclusions[0]: expected {\"time\""},
      {R"({"exclusions": [{"time": "12:00", "reason": "a"}, {"time": "12:00", "reason": "b"}]})",
       "excluded twice"},
      {R"([])", "review.json: expected a JSON object"},
  };
  for (const auto& [text, message] : bad) {
    try {
      ReviewFromJson(nlohmann::json::parse(text), "review.json");
      ADD_FAILURE() << text << " accepted";
    } catch (const InputError& e) {
      EXPECT_THAT(e.what(), HasSubstr(message)) << text;
    }
  }
}

Recording ThreeReadings() {
  Recording r;
  r.device = DeviceSummary{"", 1, "ambulatory recorder", "", "", ""};
  for (const auto& [day, hour] : {std::pair(4, 12), std::pair(4, 21), std::pair(5, 12)}) {
    Reading reading;
    reading.time = {2024, 3, day, hour, 0, 0};
    reading.sys = 120, reading.dia = 80;
    r.readings.push_back(reading);
  }
  r.spo2.push_back({{2024, 3, 4, 23, 0, 0}, 95, 60});
  return r;
}

TEST(ReviewInputs, AppliedAllOrNothingTheClockOffsetFirst) {
  ReviewInputs inputs;
  SetClockOffset(inputs, "+0:30", "--clock-offset");
  AddExclusion(inputs, "21:30", "patient was running", "--exclude");  // 21:00 on the device's clock
  AddExclusion(inputs, "2024-03-05T12:30", "cuff off", "--exclude");
  Recording r = ThreeReadings();
  ApplyReview(r, inputs);
  EXPECT_EQ(r.readings[1].time, (CalendarTime{2024, 3, 4, 21, 30, 0}));
  EXPECT_EQ(r.spo2[0].time, (CalendarTime{2024, 3, 4, 23, 30, 0}));
  EXPECT_EQ(std::tuple(r.readings[0].hand_excluded, r.readings[1].hand_excluded, r.readings[2].hand_excluded),
            std::tuple("", "patient was running", "cuff off"));
  EXPECT_EQ(r.review, inputs);
  const Analysis a = Analyse(r, *FindProfile("esh2023"), std::nullopt);
  EXPECT_EQ(a.excluded_by_reason.size(), 2u);
  EXPECT_EQ(a.excluded_by_reason[0].first, "excluded by hand: cuff off");

  // A time the recording does not hold, or that two readings have: refused,
  // naming it, and the recording is as it was.
  const std::pair<const char*, const char*> refused[] = {
      {"2024-03-04T13:00", "--exclude '2024-03-04T13:00': the recording holds no reading at that time (its readings "
                           "run 4 Mar 2024 12:30 to 5 Mar 2024 12:30)"},
      {"12:30", "--exclude '12:30': 2 readings have that time of day; give the date as well, like 2024-03-04T12:30"}};
  for (const auto& [time, message] : refused) {
    ReviewInputs wrong = inputs;
    AddExclusion(wrong, time, "why", "--exclude");
    Recording untouched = ThreeReadings();
    try {
      ApplyReview(untouched, wrong);
      ADD_FAILURE() << time << " accepted";
    } catch (const InputError& e) {
      EXPECT_THAT(e.what(), HasSubstr(message));
    }
    EXPECT_EQ(untouched.readings[0].time, ThreeReadings().readings[0].time);
    EXPECT_EQ(untouched.readings[1].hand_excluded, "");
  }
}

// A later review edits an earlier one: what it gives wins, its exclusions
// add to the earlier ones, and an exclusion is taken back by whichever time
// names the same reading.
TEST(ReviewInputs, ALaterReviewEditsTheEarlierOneAndAnExclusionIsTakenBackByTheReadingItNames) {
  ReviewInputs kept;
  SetSleep(kept, "23:00-06:00", "--sleep");
  SetOffice(kept, "150/95", "--office");
  SetClockOffset(kept, "+0:30", "--clock-offset");
  AddExclusion(kept, "21:30", "patient was running", "--exclude");
  kept.indication = "suspected white coat";
  ReviewInputs given;
  SetSleep(given, "22:00-06:30", "--sleep");
  AddExclusion(given, "21:30", "cuff off", "--exclude");
  AddExclusion(given, "2024-03-05T12:30", "arm moved", "--exclude");
  const ReviewInputs both = ReviewOver(kept, given);
  EXPECT_EQ(*both.sleep, (ClockWindow{22 * 60, 6 * 60 + 30}));
  EXPECT_EQ(both.office, kept.office) << "not given again, kept";
  EXPECT_EQ(both.clock_offset_minutes, 30);
  EXPECT_EQ(both.indication, kept.indication);
  EXPECT_EQ(both.exclusions, (std::vector<HandExclusion>{{"21:30", "cuff off"}, {"2024-03-05T12:30", "arm moved"}}));
  EXPECT_EQ(ReviewOver(kept, {}), kept);

  // The first reading as the page shows it (moved half an hour), named by
  // its whole time although the exclusion gave a time of day.
  ReviewInputs edited = both;
  TakeBackExclusion(edited, ThreeReadings(), "2024-03-04T21:30", "--include");
  EXPECT_EQ(edited.exclusions, (std::vector<HandExclusion>{{"2024-03-05T12:30", "arm moved"}}));
  for (const auto& [time, message] :
       {std::pair("2024-03-04T12:30", "--include '2024-03-04T12:30': that reading is not excluded by hand; excluded "
                                      "by hand: 2024-03-05T12:30"),
        std::pair("09:00", "--include '09:00': the recording holds no reading at that time")}) {
    ReviewInputs unchanged = edited;
    try {
      TakeBackExclusion(unchanged, ThreeReadings(), time, "--include");
      ADD_FAILURE() << time << " taken back";
    } catch (const InputError& e) {
      EXPECT_THAT(e.what(), HasSubstr(message));
    }
    EXPECT_EQ(unchanged, edited);
  }
}

TEST(Signature, EveryVersionThroughJsonAndBackTheLatestInForceUnlessAmended) {
  Signature signature;
  signature.versions.push_back({1, "Normal.", "weber", "dr_weber", "desk 2", {2024, 3, 6, 10, 15, 0}, std::string(64, 'a')});
  signature.versions.push_back({2, "Normal; white coat.\nNo therapy.", "weber", "", "", {2024, 3, 7, 9, 0, 0},
                                std::string(64, 'b')});
  ASSERT_NE(signature.InForce(), nullptr);
  EXPECT_EQ(signature.InForce()->version, 2);
  const nlohmann::json doc = SignatureToJson(signature);
  EXPECT_EQ(std::tuple(doc["versions"][0]["status"], doc["versions"][0]["superseded"], doc["versions"][1]["status"],
                       doc["versions"][1]["superseded"]),
            std::tuple("final", true, "amended", false));
  EXPECT_EQ(SignatureFromJson(nlohmann::json::parse(doc.dump()), "export.json: signature"), signature);
  signature.amending = true;
  EXPECT_EQ(signature.InForce(), nullptr) << "inputs changed after version 2: nothing in force";
  EXPECT_EQ(SignatureToJson(signature)["versions"][1]["superseded"], true);

  nlohmann::json bad = doc;
  bad["versions"][1]["signed_at"] = "yesterday";
  try {
    SignatureFromJson(bad, "export.json: signature");
    ADD_FAILURE() << "accepted";
  } catch (const InputError& e) {
    EXPECT_THAT(e.what(), HasSubstr("export.json: signature: versions[1].signed_at: expected a local time"));
  }
}

}  // namespace
