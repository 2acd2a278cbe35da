#include "web_clinic.h"

#include <bplink/host/plan_json.h>
#include <bplink/report/review.h>

#include <array>
#include <cstdio>
#include <random>

namespace bplink::bench {
namespace {

constexpr CalendarTime kFirstDay{2026, 1, 5, 0, 0, 0};
constexpr int kDaysBetweenStudies = 2;  // a recorder goes out again the day after it came back
constexpr int kDayStartHour = 7, kNightStartHour = 22;
constexpr int kDayInterval = 15, kNightInterval = 30;  // minutes
constexpr int kInvalidEvery = 40;                      // a reading the recorder could not measure

constexpr std::array kFamilies{"Meyer", "Okafor", "Lindqvist", "Nakamura", "Silva", "Kowalski", "Haddad", "Brennan"};
constexpr std::array kGiven{"Anna", "Jonas", "Mira", "Tomas", "Leila", "Pavel", "Ines", "Oskar", "Ruth", "Samir", "Hana"};

_BP_TRANSPORT_INFO Plan() {
  _BP_TRANSPORT_INFO plan;
  plan.nPeriod1Hour = kDayStartHour, plan.nPeriod1Minute = 0, plan.nPeriod1Interval = kDayInterval;
  plan.nPeriod2Hour = kNightStartHour, plan.nPeriod2Minute = 0, plan.nPeriod2Interval = kNightInterval;
  return plan;
}

report::PatientInfo Patient(int index) {
  report::PatientInfo p;
  p.id = PatientIdentifier(index);
  p.name = std::string(kFamilies[index % kFamilies.size()]) + ", " + kGiven[(index / kFamilies.size()) % kGiven.size()];
  char birth[16];  // room for what the compiler cannot rule out of a negative index
  std::snprintf(birth, sizeof birth, "%04d-%02d-%02d", 1940 + index % 50, 1 + index % 12, 1 + index % 28);
  p.birth_date = birth;
  p.sex = index % 2 == 0 ? "female" : "male";
  return p;
}

archive::DeviceIdentity Recorder(int device) {
  return {"hid", {kDeviceAmbulatory, 1, 255, 0, 5}, "recorder " + std::to_string(device + 1)};
}

// A day and a night of readings from `from` on, at the plan's intervals,
// lower at night; every kInvalidEvery-th one a measurement that failed.
_BP_DATASET Readings(CalendarTime from, int count, int patient) {
  std::mt19937 random(static_cast<unsigned>(patient) + 1);
  std::normal_distribution<double> noise(0, 8);
  const int base = 115 + patient * 7 % 40;
  _BP_DATASET set;
  CalendarTime t = from;
  for (int i = 0; i < count; ++i) {
    const bool day = t.hour >= kDayStartHour && t.hour < kNightStartHour;
    _BP_RECORD r;
    r.nYear = t.year, r.wMonth = static_cast<short>(t.month), r.wDay = static_cast<short>(t.day);
    r.wHour = static_cast<short>(t.hour), r.wMinute = static_cast<short>(t.minute);
    const int sys = base + (day ? 0 : -12) + static_cast<int>(noise(random));
    const int dia = sys * 62 / 100 + static_cast<int>(noise(random) / 2);
    r.nSys = sys, r.wPress2 = static_cast<short>(dia), r.wPress3 = static_cast<short>(dia + (sys - dia) / 3);
    r.wPulseRate = static_cast<short>(72 + (day ? 6 : -8) + static_cast<int>(noise(random)));
    if (i % kInvalidEvery == kInvalidEvery - 1) r.wStatus = 2, r.bValid = 0;
    set.vecRecords.push_back(r);
    t = AddMinutes(t, day ? kDayInterval : kNightInterval);
  }
  set.Head.nCount = count;
  return set;
}

}  // namespace

std::string PatientIdentifier(int index) {
  char id[16];
  std::snprintf(id, sizeof id, "P%06d", index + 1);
  return id;
}

ClinicCount Expected(const ClinicShape& shape) {
  ClinicCount c;
  c.studies = shape.patients;
  c.readings = static_cast<std::int64_t>(shape.patients) * shape.readings;
  for (int p = 0; shape.signed_every > 0 && p < shape.patients; ++p) {
    c.signed_studies += p % shape.signed_every == 0;
    c.reviewed += shape.signed_every > 1 && p % shape.signed_every == 1;
  }
  return c;
}

ClinicCount FillClinic(archive::Archive& archive, const ClinicShape& shape) {
  if (const ClinicCount held = CountClinic(archive); held.studies > 0)
    throw archive::ArchiveError("the archive holds " + std::to_string(held.studies) +
                                " studies already: the clinic is filed into an empty one");
  const _BP_TRANSPORT_INFO plan = Plan();
  const std::string plan_json = host::PlanToJson(plan).dump();
  for (int p = 0; p < shape.patients; ++p) {
    const int device = p % shape.devices;
    const archive::DeviceIdentity recorder = Recorder(device);
    // Each recorder's turns follow one another, a morning hook-up each.
    CalendarTime hooked = AddMinutes(kFirstDay, (p / shape.devices) * kDaysBetweenStudies * 24 * 60);
    hooked = AddMinutes(hooked, 8 * 60 + 15 * device);
    const archive::Actor at_hook_up{"technician", "bench-station", hooked};
    const archive::StudyEntry study = archive.OpenStudy({Patient(p), recorder, &plan, plan_json}, at_hook_up);
    archive.StartRecording(study.id, at_hook_up);

    const _BP_DATASET set = Readings(AddMinutes(hooked, 10), shape.readings, p);
    const _BP_RECORD& last = set.vecRecords.back();
    archive::Download download;
    download.family = recorder.family;
    download.device = recorder.device;
    download.device_label = recorder.label;
    download.plan = &plan;
    download.plan_json = plan_json;
    download.sets = {{DATAMODE_BP, &set}};
    download.downloaded_at = AddMinutes({last.nYear, last.wMonth, last.wDay, last.wHour, last.wMinute, 0}, 60);
    const archive::Actor at_download{"technician", "bench-station", download.downloaded_at};
    const archive::StoreResult filed = archive.Store(download, at_download);
    if (shape.signed_every == 0 || filed.recordings.empty()) continue;

    const int turn = p % shape.signed_every;
    if (turn > 1 || (turn == 1 && shape.signed_every == 1)) continue;
    const archive::Actor physician{"physician", "bench-review", AddMinutes(download.downloaded_at, 24 * 60)};
    report::ReviewInputs inputs;
    report::SetSleep(inputs, "22:30-06:30", "sleep");
    inputs.indication = "suspected hypertension";
    archive.Review(filed.recordings.front(), inputs, false, physician);
    if (turn == 0)
      archive.Sign(filed.recordings.front(), "Daytime and night-time means within the limits.", false, physician);
  }
  return CountClinic(archive);
}

ClinicCount CountClinic(archive::Archive& archive) {
  ClinicCount c;
  for (const archive::StudyEntry& s : archive.Worklist({})) {
    ++c.studies;
    c.readings += s.readings;
    c.reviewed += s.state == archive::StudyState::kReviewed;
    c.signed_studies += s.state == archive::StudyState::kSigned;
  }
  return c;
}

}  // namespace bplink::bench
