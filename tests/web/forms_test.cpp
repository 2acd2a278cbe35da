// What the server decodes itself: forms, queries, cookies and the Host and
// Origin headers, strictly; and the upload form read back into a plan that
// the plan library holds to the device.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "form.h"
#include "plan_form.h"
#include "upload_form.h"

using ::testing::HasSubstr;

namespace bplink::web {
namespace {

struct Refused {
  const char* form;
  const char* why;  // a part of the reason given
};

class BadForm : public ::testing::TestWithParam<Refused> {};

TEST_P(BadForm, IsRefusedWithItsReason) {
  std::string why;
  EXPECT_FALSE(DecodeForm(GetParam().form, why).has_value()) << GetParam().form;
  EXPECT_THAT(why, HasSubstr(GetParam().why));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, BadForm,
    ::testing::Values(Refused{"a=%zz", "two hexadecimal digits"}, Refused{"a=%4", "two hexadecimal digits"},
                      Refused{"a=1%", "two hexadecimal digits"}, Refused{"a", "without '='"},
                      Refused{"a=1&&b=2", "without '='"}, Refused{"=1", "without a name"},
                      Refused{"a=1&a=2", "a given twice"}, Refused{"a=%C3%28", "not UTF-8"},
                      Refused{"a=%ED%A0%80", "not UTF-8"},  // a surrogate
                      Refused{"a=%C0%AF", "not UTF-8"},     // an overlong '/'
                      Refused{"a=x%00y", "control character"}, Refused{"a%0A=1", "control character"}));

TEST(Form, DecodesEscapesPlusAndUtf8AndKeepsTheOrder) {
  std::string why;
  const std::optional<Fields> form =
      DecodeForm("patient%5B0%5D=M%C3%BCller+Anna&note=two%0Alines&empty=&d=serial%3A%2Fdev%2FttyUSB0", why);
  ASSERT_TRUE(form) << why;
  EXPECT_EQ(form->Get("patient[0]"), "Müller Anna");
  EXPECT_EQ(form->Get("note"), "two\nlines");
  EXPECT_EQ(form->Get("empty"), "");
  EXPECT_EQ(form->Get("d"), "serial:/dev/ttyUSB0");
  EXPECT_FALSE(form->Get("missing"));
  ASSERT_EQ(form->All().size(), 4u);
  EXPECT_EQ(form->All()[3].first, "d");
  EXPECT_TRUE(DecodeForm("", why)->All().empty());
}

TEST(Form, RefusesMoreThanAFormHolds) {
  std::string many, why;
  for (std::size_t i = 0; i <= kMaxFields; ++i) many += (i ? "&f" : "f") + std::to_string(i) + "=1";
  EXPECT_FALSE(DecodeForm(many, why));
  EXPECT_THAT(why, HasSubstr("more than"));
  EXPECT_FALSE(DecodeForm("a=" + std::string(kMaxFormBytes, 'x'), why));
}

TEST(Form, EncodedValuesComeBackAsTheyWere) {
  const std::string text = "serial:/dev/tty USB0&x=1?#%";
  std::string why;
  EXPECT_EQ(DecodeForm("d=" + EncodeQueryValue(text), why)->Get("d"), text);
  EXPECT_EQ(QueryOf("/device?d=usb#top"), "d=usb");
  EXPECT_EQ(QueryOf("/devices"), "");
}

TEST(Cookie, OnlyOneCookieOfTheNameCounts) {
  EXPECT_EQ(CookieValue("a=1; bplink_8080=abc; b=2", "bplink_8080"), "abc");
  EXPECT_EQ(CookieValue("bplink_8080=abc", "bplink_8080"), "abc");
  EXPECT_FALSE(CookieValue("bplink_80800=abc; xbplink_8080=d", "bplink_8080"));
  // Another page of the same host may set a cookie of our name: then neither counts.
  EXPECT_FALSE(CookieValue("bplink_8080=abc; bplink_8080=evil", "bplink_8080"));
}

TEST(Host, OnlyLoopbackNamesWithOurPort) {
  for (const char* host : {"127.0.0.1:8080", "localhost:8080", "LocalHost:8080", "[::1]:8080"})
    EXPECT_TRUE(IsLoopbackHost(host, 8080)) << host;
  for (const char* host : {"evil.example:8080", "127.0.0.1:8081", "127.0.0.1", "localhost.evil.example:8080",
                           "127.0.0.2:8080", "[::1]", "[::1]8080", "0.0.0.0:8080", "127.0.0.1:08080x", ""})
    EXPECT_FALSE(IsLoopbackHost(host, 8080)) << host;
  EXPECT_TRUE(IsOwnOrigin("http://localhost:8080", 8080));
  EXPECT_FALSE(IsOwnOrigin("http://evil.example:8080", 8080));
  EXPECT_FALSE(IsOwnOrigin("https://127.0.0.1:8080", 8080));
  EXPECT_FALSE(IsOwnOrigin("null", 8080));
}

// A recorder that keeps two patient texts, both periods and the extra window.
PlanChoices Recorder() {
  PlanChoices c;
  c.kept = {"patient[0]", "patient[1]", "period1", "period2", "extra"};
  c.allowed.vecInterval1 = {15, 30, 60};
  c.allowed.vecInterval2 = {30, 60, 120};
  return c;
}

Fields Filled(std::vector<std::pair<std::string, std::string>> changes = {}) {
  std::vector<std::pair<std::string, std::string>> fields = {
      {"csrf", "t"},           {"patient[0]", "ANNA MÜLLER"}, {"patient[1]", "ID-7"},
      {"period1.start", "06:30"}, {"period1.interval", "30"},  {"period2.start", "23:15"},
      {"period2.interval", "60"}, {"extra.start", "12:00"},    {"extra.end", "14:00"},
      {"extra.interval", "15"}};
  for (auto& [name, value] : changes) {
    auto it = std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.first == name; });
    if (value == "<absent>") {
      if (it != fields.end()) fields.erase(it);
    } else if (it != fields.end()) {
      it->second = value;
    } else {
      fields.emplace_back(name, value);
    }
  }
  Fields form;
  for (auto& [name, value] : fields) form.Add(name, value);
  return form;
}

TEST(PlanForm, ReadsWhatTheDeviceKeeps) {
  const _BP_TRANSPORT_INFO plan = PlanFromForm(Filled({{"extra", "on"}}), Recorder(), {"csrf"});
  EXPECT_STREQ(plan.szPatientInfo1, "ANNA M\xDCLLER");  // Latin-1 on the device
  EXPECT_STREQ(plan.szPatientInfo2, "ID-7");
  EXPECT_EQ(plan.nPeriod1Hour, 6);
  EXPECT_EQ(plan.nPeriod1Minute, 30);
  EXPECT_EQ(plan.nPeriod1Interval, 30);
  EXPECT_EQ(plan.nPeriod2Hour, 23);
  EXPECT_EQ(plan.nPeriod2Interval, 60);
  EXPECT_EQ(plan.nExtraStartHour, 12);
  EXPECT_EQ(plan.nExtraEndHour, 14);
  EXPECT_EQ(plan.nExtraInterval, 15);
  // Without the box ticked there is no window, whatever its fields say.
  EXPECT_EQ(PlanFromForm(Filled(), Recorder(), {"csrf"}).nExtraInterval, 0);
}

struct BadPlan {
  std::vector<std::pair<std::string, std::string>> changes;
  const char* says;
};

class BadPlanForm : public ::testing::TestWithParam<BadPlan> {};

TEST_P(BadPlanForm, IsRefusedNamingTheField) {
  try {
    PlanFromForm(Filled(GetParam().changes), Recorder(), {"csrf"});
    FAIL() << "accepted";
  } catch (const plan::PlanError& e) {
    EXPECT_THAT(e.what(), HasSubstr(GetParam().says));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plans, BadPlanForm,
    ::testing::Values(
        // A value the form never offered, sent by hand: held to the device's list.
        BadPlan{{{"period1.interval", "20"}}, "period1.interval: 20 minutes is not an interval this device allows; "
                                               "it allows 15, 30, 60 (or 0: no measurements)"},
        BadPlan{{{"period2.interval", "15"}}, "period2.interval: 15 minutes"},
        BadPlan{{{"extra", "on"}, {"extra.interval", "120"}}, "extra.interval: 120 minutes"},
        BadPlan{{{"period1.interval", "thirty"}}, "period1.interval: expected a whole number, found \"thirty\""},
        BadPlan{{{"period1.start", "25:00"}}, "period1.start: hour 25 is out of range 0..23"},
        BadPlan{{{"period1.start", "<absent>"}}, "period1.start: missing"},
        BadPlan{{{"patient[0]", std::string(31, 'A')}}, "patient[0]: too long: 31 characters, the device keeps 30"},
        BadPlan{{{"patient[1]", "日本"}}, "patient[1]: only Latin-1 characters"},
        BadPlan{{{"extra", "yes"}}, "extra: expected \"on\""},
        // A field this device does not keep is not quietly dropped.
        BadPlan{{{"day_warn.switch", "1"}}, "day_warn.switch: this device keeps no such field"}));

TEST(PlanForm, OffersOnlyTheAllowedIntervalsAndEveryFieldItReads) {
  PlanChoices c = Recorder();
  const std::string html = PlanFormFields(c);
  EXPECT_THAT(html, HasSubstr("<option value=\"15\">every 15 min</option>"));
  EXPECT_THAT(html, ::testing::Not(HasSubstr("<option value=\"20\"")));
  EXPECT_THAT(html, ::testing::Not(HasSubstr("warn")));
  // Every field the reader takes is on the form, by the same name.
  for (const char* field : {"patient[0]", "patient[1]", "period1.start", "period1.interval", "period2.start",
                            "period2.interval", "extra", "extra.start", "extra.end", "extra.interval"})
    EXPECT_THAT(html, HasSubstr(std::string("name=\"") + field + "\"")) << field;
  // A device text is shown as text.
  std::snprintf(c.shown.szPatientInfo1, sizeof c.shown.szPatientInfo1, "%s", "\"><script>x</script>");
  EXPECT_THAT(PlanFormFields(c), HasSubstr("value=\"&quot;&gt;&lt;script&gt;x&lt;/script&gt;\""));
}

// The upload form's patient, held to the rule the program's --birth-date
// and --sex keep: a refusal names the field and the form it takes.
Fields PatientForm(std::initializer_list<std::pair<const char*, const char*>> values) {
  Fields form;
  for (const auto& [name, value] : values) form.Add(name, value);
  return form;
}

const CalendarTime kToday{2026, 12, 7, 9, 0, 0};

class BadPatientForm : public ::testing::TestWithParam<Refused> {};

TEST_P(BadPatientForm, IsRefusedNamingTheFieldAndItsForm) {
  std::string why;
  const std::optional<Fields> form = DecodeForm(GetParam().form, why);
  ASSERT_TRUE(form) << why;
  try {
    PatientFromForm(*form, kToday);
    ADD_FAILURE() << GetParam().form << " was taken";
  } catch (const report::InputError& e) {
    EXPECT_THAT(e.what(), HasSubstr(GetParam().why)) << GetParam().form;
  }
}

INSTANTIATE_TEST_SUITE_P(
    UploadForm, BadPatientForm,
    ::testing::Values(Refused{"patient_id=P&birth_date=31.05.1960", "birth date '31.05.1960' is not a date YYYY-MM-DD"},
                      Refused{"patient_id=P&birth_date=1961-02-29", "YYYY-MM-DD"},
                      Refused{"patient_id=P&birth_date=1960-5-31", "YYYY-MM-DD"},
                      Refused{"patient_id=P&birth_date=2026-12-08", "is after today (7 Dec 2026)"},
                      Refused{"patient_id=P&sex=f", "sex 'f' is not one of female, male, other, unknown"},
                      Refused{"patient_id=P&sex=Female", "is not one of female, male, other, unknown"},
                      Refused{"patient_system=urn%3Aclinic%3Amrn", "patient_system: give the patient's identifier"}));

TEST(UploadForm, ReadsThePatientAsTheProgramsOptionsGiveIt) {
  const report::PatientInfo p = PatientFromForm(
      PatientForm({{"patient_id", " P-42 "}, {"patient_system", "urn:clinic:mrn"}, {"patient_name", "<b>Doe</b>"},
                   {"birth_date", "1960-05-31"}, {"sex", "female"}, {"period1.start", "07:00"}}),
      kToday);
  EXPECT_EQ(p.id, "P-42");  // spaces a browser sends around a number do not belong to it
  EXPECT_EQ(p.system, "urn:clinic:mrn");
  EXPECT_EQ(p.name, "<b>Doe</b>");
  EXPECT_EQ(p.birth_date, "1960-05-31");
  EXPECT_EQ(p.sex, "female");
  // Born today is no birth date after today.
  EXPECT_EQ(PatientFromForm(PatientForm({{"patient_id", "N"}, {"birth_date", "2026-12-07"}}), kToday).birth_date,
            "2026-12-07");
  // Fields left empty (as the form sends them) name no patient: no study.
  EXPECT_TRUE(PatientFromForm(PatientForm({{"patient_id", "  "}, {"patient_name", ""}, {"sex", ""}}), kToday).Empty());
  EXPECT_THROW(PatientFromForm(PatientForm({{"patient_name", std::string(201, 'x').c_str()}}), kToday),
               report::InputError);
}

TEST(UploadForm, WarningsAreAcceptedOnlyByTheConfirmation) {
  EXPECT_EQ(ConsentFromForm(PatientForm({})), plan::UploadConsent::kWarningsNotAccepted);
  EXPECT_EQ(ConsentFromForm(PatientForm({{"accept_warnings", "on"}})), plan::UploadConsent::kWarningsAccepted);
  for (const char* value : {"", "yes", "1", "ON"})
    EXPECT_THROW(ConsentFromForm(PatientForm({{"accept_warnings", value}})), report::InputError) << value;
}

}  // namespace
}  // namespace bplink::web
