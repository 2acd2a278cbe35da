// `bplink serve` as an attacker on this PC or on the web would meet it: no
// session, a foreign Host (DNS rebinding), a form posted from another site,
// a malformed form, a device text holding markup, a path out of the asset
// set. Each is refused or shown as text, and refused requests change
// nothing. The server listens on the loopback interface only.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "form.h"
#include "served.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr const char* kScript = "<script>alert(1)</script>";

// Each address answered 400, its page saying why.
void ExpectUnreadable(Served& served, const std::vector<std::pair<std::string, std::string>>& addresses) {
  for (const auto& [path, why] : addresses) {
    httplib::Result r = served.Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 400) << path;
    EXPECT_THAT(r->body, HasSubstr(why)) << path;
  }
}

class Serve : public ::testing::Test {
 protected:
  // A fresh server per test (it starts in a few milliseconds), so "nothing
  // was started" can be seen: its first transfer would be /jobs/1.
  void Start(std::vector<std::string> args = {}) {
    dir_ = TestDir();
    const std::string plan = (dir_ / "plan.json").string();
    WriteText(plan, std::string(R"({"patient": [")") + kScript + R"(", "ID-7"]})");
    std::vector<std::string> all = {"--sim", "hid", "--sim-plan", plan, "--archive", (dir_ / "a.sqlite").string()};
    all.insert(all.end(), args.begin(), args.end());
    std::string why;
    served_ = Served::Start(all, dir_, why);
    ASSERT_TRUE(served_) << why;
    ASSERT_TRUE(served_->OpenSession());
  }
  std::string Form(const std::string& rest) const { return "csrf=" + served_->Csrf() + "&" + rest; }
  int Status(const httplib::Result& r) const { return r ? r->status : -1; }
  // Nothing was started: the first transfer's page does not exist.
  void ExpectNothingStarted() { EXPECT_EQ(Status(served_->Get("/jobs/1")), 404); }
  // Waits for a transfer's page to say it is done.
  std::string Finished(const std::string& job) {
    for (int poll = 0; poll < 500; ++poll) {
      httplib::Result page = served_->Get(job);
      if (page && page->body.find("data-done=\"1\"") != std::string::npos) return page->body;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << job << " did not finish";
    return "";
  }

  // The upload form as the device's page offers it: every field at the
  // value shown (the session's token left out; Form adds it).
  std::map<std::string, std::string> UploadForm(const std::string& key) {
    const httplib::Result device = served_->Get("/device?d=" + key);
    if (!device) return {};
    const std::string& page = device->body;
    const std::size_t from = page.find("action=\"/device/upload\"");
    if (from == std::string::npos) return {};
    std::map<std::string, std::string> fields = FieldsOf(page.substr(from, page.find("</form>", from) - from));
    fields.erase("csrf");
    return fields;
  }
  // The fields of a form's markup at the values it shows (as markup: escaped).
  static std::map<std::string, std::string> FieldsOf(const std::string& form) {
    std::map<std::string, std::string> fields;
    static const std::regex kInput(
        R"re(<input type="(?:time|number|hidden|text|date)"[^>]*name="([^"]+)"[^>]*value="([^"]*)")re");
    static const std::regex kSelect(R"re(<select name="([^"]+)"[^>]*>.*?<option value="([^"]*)" selected)re");
    for (std::sregex_iterator i(form.begin(), form.end(), kInput), e; i != e; ++i) fields[(*i)[1]] = (*i)[2];
    for (std::sregex_iterator i(form.begin(), form.end(), kSelect), e; i != e; ++i) fields[(*i)[1]] = (*i)[2];
    return fields;
  }
  static std::string Encoded(const std::map<std::string, std::string>& fields) {
    std::string body;
    for (const auto& [name, value] : fields)
      body += "&" + httplib::detail::encode_query_param(name) + "=" + httplib::detail::encode_query_param(value);
    return body.substr(body.empty() ? 0 : 1);
  }
  // Posts the upload form and waits for the transfer it starts, `job`:
  // its finished page, or "" when none started.
  std::string Uploaded(const std::map<std::string, std::string>& fields, const std::string& job) {
    const httplib::Result upload = served_->Post("/device/upload", Form(Encoded(fields)));
    EXPECT_EQ(Status(upload), 303) << (upload ? upload->body : "");
    return Status(upload) == 303 ? Finished(job) : "";
  }
  // The archive's studies, as the program lists them.
  static nlohmann::json Studies(const std::string& archive) {
    const ProgramRun studies = RunProgram({"archive", "studies", "--json", "--archive", archive});
    EXPECT_EQ(studies.status, 0) << studies.err;
    return nlohmann::json::parse(studies.out, nullptr, false);
  }

  std::filesystem::path dir_;
  std::unique_ptr<Served> served_;
};

TEST_F(Serve, WithoutTheSessionEveryPageAndChangeIsRefused) {
  Start();
  for (const char* path : {"/devices", "/device?d=usb", "/devices/list", "/jobs/1", "/jobs/1/events", "/worklist",
                           "/study?s=1", "/study/export?r=1&format=csv"}) {
    httplib::Result r = served_->Get(path, false);
    EXPECT_EQ(Status(r), 403) << path;
    EXPECT_THAT(r->body, HasSubstr("No session")) << path;
  }
  EXPECT_EQ(Status(served_->Post("/device/download", Form("d=usb&mode=1"), false)), 403);
  // A forged cookie of the right shape is no session either.
  EXPECT_EQ(Status(served_->Get("/devices", false,
                                {{"Cookie", "bplink_" + std::to_string(served_->Port()) + "=" + std::string(64, 'a')}})),
            403);
  ExpectNothingStarted();
}

TEST_F(Serve, TheTokenOpensOneSessionOnly) {
  Start();
  const std::string target = served_->Url().substr(served_->Url().find("/?"));
  httplib::Result again = served_->Get(target, false);
  EXPECT_EQ(Status(again), 403);
  EXPECT_THAT(again->body, HasSubstr("it has been used"));
  EXPECT_EQ(Status(served_->Get("/?token=" + std::string(64, '0'), false)), 403);
}

TEST_F(Serve, ACookieThatScriptsCannotReadAndOtherSitesDoNotSend) {
  dir_ = TestDir();
  std::string why;
  served_ = Served::Start({"--sim", "hid", "--archive", (dir_ / "a.sqlite").string()}, dir_, why);
  ASSERT_TRUE(served_) << why;
  httplib::Result first = served_->Get(served_->Url().substr(served_->Url().find("/?")), false);
  ASSERT_EQ(Status(first), 303);
  EXPECT_EQ(first->get_header_value("Location"), "/devices");
  const std::string cookie = first->get_header_value("Set-Cookie");
  EXPECT_THAT(cookie, HasSubstr("; HttpOnly"));
  EXPECT_THAT(cookie, HasSubstr("; SameSite=Strict"));
  EXPECT_THAT(cookie, HasSubstr("; Path=/"));
}

TEST_F(Serve, AHostThatIsNotALoopbackNameIsRefused) {
  Start();
  const std::string port = std::to_string(served_->Port());
  // A page of evil.example whose name now resolves to 127.0.0.1 sends its own name.
  for (const std::string& host : {"evil.example:" + port, "127.0.0.1:" + std::to_string(served_->Port() + 1),
                                  "192.168.1.10:" + port, "localhost.evil.example:" + port}) {
    httplib::Result r = served_->Get("/devices", true, {{"Host", host}});
    EXPECT_EQ(Status(r), 403) << host;
    EXPECT_THAT(r->body, HasSubstr("answers only to")) << host;
    EXPECT_EQ(Status(served_->Post("/device/download", Form("d=usb&mode=1"), true, {{"Host", host}})), 403) << host;
  }
  for (const std::string& host : {"localhost:" + port, "[::1]:" + port, "127.0.0.1:" + port})
    EXPECT_EQ(Status(served_->Get("/devices", true, {{"Host", host}})), 200) << host;
  ExpectNothingStarted();
}

TEST_F(Serve, AFormFromAnotherSiteChangesNothing) {
  Start();
  // Without the token, with another's, from another origin, or marked cross-site by the browser.
  EXPECT_EQ(Status(served_->Post("/device/download", "d=usb&mode=1")), 403);
  EXPECT_EQ(Status(served_->Post("/device/download", "csrf=" + std::string(64, 'f') + "&d=usb&mode=1")), 403);
  EXPECT_EQ(Status(served_->Post("/device/download", Form("d=usb&mode=1"), true, {{"Origin", "http://evil.example"}})),
            403);
  EXPECT_EQ(Status(served_->Post("/device/download", Form("d=usb&mode=1"), true, {{"Sec-Fetch-Site", "cross-site"}})),
            403);
  EXPECT_EQ(Status(served_->Post("/jobs/1/stop", "")), 403);
  ExpectNothingStarted();
  // The same form from the server's own page starts the download.
  httplib::Result own = served_->Post("/device/download", Form("d=usb&mode=1"), true,
                                      {{"Origin", "http://127.0.0.1:" + std::to_string(served_->Port())}});
  EXPECT_EQ(Status(own), 303);
  EXPECT_EQ(own->get_header_value("Location"), "/jobs/1");
}

TEST_F(Serve, AMalformedFormIsAnswered400AndChangesNothing) {
  Start();
  for (const std::string& body : {Form("d=usb&mode=%zz"), Form("d=usb&mode=1&mode=1"), Form("d=usb&mode=1%FF"),
                                  Form("d=usb&mode=9"), Form("d=usb&mode=2"), Form("mode=1"), Form("d=&mode=1"),
                                  Form("d=usb&mode")}) {
    httplib::Result r = served_->Post("/device/download", body);
    EXPECT_EQ(Status(r), 400) << body;
    EXPECT_THAT(r->body, HasSubstr("id=\"problem\"")) << body;
  }
  httplib::Client client("127.0.0.1", served_->Port());
  httplib::Result plain = client.Post("/device/download", {{"Cookie", served_->Cookie()}}, Form("d=usb&mode=1"),
                                      "text/plain");
  EXPECT_EQ(Status(plain), 400);
  // A plan value the form never offered, sent by hand, is held to the device.
  httplib::Result upload = served_->Post(
      "/device/upload", Form("d=usb&patient%5B0%5D=A&patient%5B1%5D=B&period1.start=07:00&period1.interval=7&"
                             "period2.start=22:00&period2.interval=30&extra.start=12:00&extra.end=13:00&"
                             "extra.interval=15"));
  EXPECT_EQ(Status(upload), 400);
  EXPECT_THAT(upload->body, HasSubstr("period1.interval: 7 minutes is not an interval this device allows; it allows "
                                      "15, 30, 60, 120 (or 0: no measurements)"));
  EXPECT_THAT(upload->body, HasSubstr("Nothing was sent to the device"));
  ExpectNothingStarted();
}

TEST_F(Serve, DeviceTextsAreShownAsTextAndNoPageCarriesInlineScriptOrStyle) {
  Start();
  httplib::Result started = served_->Post("/device/download", Form("d=usb&mode=1"));
  ASSERT_EQ(Status(started), 303);
  const std::string page = Finished("/jobs/1");
  EXPECT_THAT(page, HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt;"));
  EXPECT_THAT(page, Not(HasSubstr(kScript)));
  EXPECT_THAT(page, HasSubstr("78 new"));
  // The study the download opened, from the device's patient texts.
  for (const char* path : {"/worklist", "/worklist?patient=%3Cscript%3E", "/study?s=1"}) {
    httplib::Result r = served_->Get(path);
    ASSERT_EQ(Status(r), 200) << path;
    EXPECT_THAT(r->body, HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt;")) << path;
    EXPECT_THAT(r->body, Not(HasSubstr(kScript))) << path;
  }
  // What a filter was given comes back in its field as text.
  httplib::Result echoed = served_->Get("/worklist?device=%22%3E%3Cscript%3Ex%3C%2Fscript%3E");
  ASSERT_EQ(Status(echoed), 200);
  EXPECT_THAT(echoed->body, HasSubstr("value=\"&quot;&gt;&lt;script&gt;x&lt;/script&gt;\""));
  static const std::regex kInlineScript(R"(<script(?![^>]*\ssrc=)[^>]*>)"), kStyle(R"(<style|\sstyle=)");
  for (const char* path : {"/devices", "/device?d=usb", "/jobs/1", "/worklist", "/study?s=1", "/patients", "/log",
                           "/nowhere"}) {
    httplib::Result r = served_->Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_FALSE(std::regex_search(r->body, kInlineScript)) << path;
    EXPECT_FALSE(std::regex_search(r->body, kStyle)) << path;
    const std::string policy = r->get_header_value("Content-Security-Policy");
    EXPECT_THAT(policy, HasSubstr("script-src 'self'")) << path;
    EXPECT_THAT(policy, HasSubstr("default-src 'none'")) << path;
    EXPECT_THAT(policy, Not(HasSubstr("unsafe-inline"))) << path;
    EXPECT_EQ(r->get_header_value("X-Content-Type-Options"), "nosniff") << path;
  }
}

// The worklist's filter and the study's addresses are decoded by the
// server and the archive is asked only with what they allow.
TEST_F(Serve, AWorklistOrStudyAddressThatCannotBeReadIsAnswered400) {
  Start();
  ASSERT_EQ(Status(served_->Post("/device/download", Form("d=usb&mode=1"))), 303);
  Finished("/jobs/1");
  ExpectUnreadable(*served_, {
           {"/worklist?state=finished", "State: expected prepared, recording, downloaded, reviewed or signed"},
           {"/worklist?from=2024-02-30", "From: expected a date YYYY-MM-DD"},
           {"/worklist?to=yesterday", "To: expected a date YYYY-MM-DD"},
           {"/worklist?patient=%zz", "cannot be read"},
           {"/study", "The study (s): expected a number"},
           {"/study?s=1%3B%20DROP%20TABLE%20studies", "The study (s): expected a number"},
           {"/study?s=0", "The study (s): expected a number"},
           {"/study/export?r=1&format=exe", "Format: expected pdf, csv, json or fhir"},
           {"/study/export?r=-1&format=csv", "The recording (r): expected a number"}});
  for (const char* path : {"/study?s=2", "/study/export?r=2&format=csv"}) {
    httplib::Result r = served_->Get(path);
    EXPECT_EQ(Status(r), 404) << path;
    EXPECT_THAT(r->body, HasSubstr("The archive holds no")) << path;
  }
  // The archive is as it was: its one study still listed.
  httplib::Result list = served_->Get("/worklist");
  ASSERT_EQ(Status(list), 200);
  EXPECT_THAT(list->body, HasSubstr("href=\"/study?s=1\""));
  EXPECT_EQ(Status(served_->Get("/study/export?r=1&format=csv")), 200);
}

// A study whose recorder is still out on the patient has no readings yet:
// the worklist and its page still name the patient the upload opened it for.
TEST_F(Serve, AStudyWithoutReadingsYetIsListedWithItsPatient) {
  Start();
  const std::string plan = (dir_ / "study-plan.json").string();
  WriteText(plan, R"({"period1": {"start": "07:00", "interval": 15}, "period2": {"start": "22:00", "interval": 30}})");
  const ProgramRun upload = RunProgram({"upload", plan, "--sim", "hid", "--archive", (dir_ / "a.sqlite").string(),
                                        "--patient-id", "P-9", "--patient-name", kScript});
  ASSERT_EQ(upload.status, 0) << upload.err;
  httplib::Result list = served_->Get("/worklist?state=recording");
  ASSERT_EQ(Status(list), 200);
  EXPECT_THAT(list->body, HasSubstr("P-9, &lt;script&gt;alert(1)&lt;/script&gt;"));
  EXPECT_THAT(list->body, HasSubstr("recording <span class=\"count\">1</span>"));
  httplib::Result study = served_->Get("/study?s=1");
  ASSERT_EQ(Status(study), 200);
  EXPECT_THAT(study->body, HasSubstr("<td>P-9</td>"));
  EXPECT_THAT(study->body, HasSubstr("No readings are filed under this study yet"));
  EXPECT_THAT(study->body, Not(HasSubstr(kScript)));
}

// The physician's forms: without the session's token, or from another
// site, nothing is kept or signed; a value that is wrong is refused naming
// its field and form; texts come back as text; a signed study takes no
// further change.
TEST_F(Serve, TheReviewAndSignatureFormsAreGuardedAndTheirTextsShownAsText) {
  Start();
  ASSERT_EQ(Status(served_->Post("/device/download", Form("d=usb&mode=1"))), 303);
  Finished("/jobs/1");
  std::smatch m;
  const std::string page = served_->Get("/study?s=1")->body;
  ASSERT_TRUE(std::regex_search(page, m, std::regex(R"re(name="time" value="([0-9T:-]+)")re"))) << page;
  const std::string time = m[1];
  const std::string exclude = "s=1&r=1&what=exclude&time=" + time + "&reason=%3Cscript%3Ealert(1)%3C%2Fscript%3E";
  const std::string sign = "s=1&r=1&interpretation=%3Cscript%3Ealert(1)%3C%2Fscript%3E%20Normal.";
  const auto unchanged = [&] {
    const std::string now = served_->Get("/study?s=1")->body;
    EXPECT_THAT(now, Not(HasSubstr("by-hand")));
    EXPECT_THAT(now, Not(HasSubstr("class=\"signed")));
  };
  for (const auto& [path, body] : {std::pair{"/study/review", exclude}, std::pair{"/study/sign", sign}}) {
    EXPECT_EQ(Status(served_->Post(path, body)), 403) << path;  // no token
    EXPECT_EQ(Status(served_->Post(path, "csrf=" + std::string(64, '0') + "&" + body)), 403) << path;
    EXPECT_EQ(Status(served_->Post(path, Form(body), true, {{"Origin", "http://evil.example"}})), 403) << path;
    EXPECT_EQ(Status(served_->Post(path, Form(body), false)), 403) << path;  // no session
  }
  unchanged();

  for (const auto& [body, why] : std::vector<std::pair<std::string, std::string>>{
           {"s=1&r=1&what=inputs&sleep=25:00-07:00", "Sleep &#39;25:00-07:00&#39;"},
           {"s=1&r=1&what=inputs&office=90%2F120", "Office &#39;90/120&#39;: diastolic not below systolic"},
           {"s=1&r=1&what=exclude&time=2001-01-01T00:00&reason=x", "2001-01-01T00:00"},
           {"s=1&r=1&what=include&time=" + time, "that reading is not excluded by hand"},
           {"s=1&r=1&what=forget", "What: expected exclude, include or inputs"},
           {"s=1&r=7&what=inputs", "study 1 holds no recording 7"}}) {
    httplib::Result r = served_->Post("/study/review", Form(body));
    ASSERT_TRUE(r) << body;
    EXPECT_EQ(r->status, 400) << body;
    EXPECT_THAT(r->body, HasSubstr(why)) << body;
  }
  unchanged();

  ASSERT_EQ(Status(served_->Post("/study/review", Form(exclude))), 303);
  ASSERT_EQ(Status(served_->Post("/study/sign", Form(sign))), 303);
  const std::string signed_page = served_->Get("/study?s=1")->body;
  EXPECT_THAT(signed_page, HasSubstr("excluded by hand: &lt;script&gt;alert(1)&lt;/script&gt;"));
  EXPECT_THAT(signed_page, HasSubstr("&lt;script&gt;alert(1)&lt;/script&gt; Normal."));
  EXPECT_THAT(signed_page, Not(HasSubstr(kScript)));
  // Signed: its inputs stay as signed, whichever form asks.
  httplib::Result late = served_->Post("/study/review", Form("s=1&r=1&what=inputs&sleep=23:00-06:00"));
  ASSERT_TRUE(late);
  EXPECT_EQ(late->status, 400);
  EXPECT_THAT(late->body, HasSubstr("Nothing was changed"));
  EXPECT_THAT(served_->Get("/study?s=1")->body, Not(HasSubstr("23:00-06:00")));
}

// ---- The archive's records: Patients, Log, move and merge, Amend, Send ----

// What the audit log holds, as `bplink archive log --json` shows it.
nlohmann::json LogOf(const std::filesystem::path& dir) {
  const ProgramRun log = RunProgram({"archive", "log", "--json", "--archive", (dir / "a.sqlite").string()});
  EXPECT_EQ(log.status, 0) << log.err;
  return log.status == 0 ? nlohmann::json::parse(log.out) : nlohmann::json::array();
}

std::vector<std::string> Actions(const nlohmann::json& log) {
  std::vector<std::string> actions;
  for (const auto& e : log) actions.push_back(e["action"]);
  return actions;
}

// Two patients: the device's own (a download from the workstation files
// recording 1 under it, study 1) and P-9, named <script>, whose study 2 a
// plan upload opened.
class Records : public Serve {
 protected:
  void SetUp() override {
    Start();
    ASSERT_EQ(Status(served_->Post("/device/download", Form("d=usb&mode=1"))), 303);
    Finished("/jobs/1");
    const std::string plan = (dir_ / "study-plan.json").string();
    WriteText(plan, R"({"period1": {"start": "07:00", "interval": 15}, "period2": {"start": "22:00", "interval": 30}})");
    const ProgramRun upload = RunProgram({"upload", plan, "--sim", "hid", "--archive", Archive(), "--patient-id",
                                          "P-9", "--patient-name", kScript});
    ASSERT_EQ(upload.status, 0) << upload.err;
  }
  std::string Archive() const { return (dir_ / "a.sqlite").string(); }
  // Patient and study of each recording, as `bplink history` files them.
  std::map<int, std::pair<int, int>> Filing() const {
    const ProgramRun history = RunProgram({"history", "--json", "--archive", Archive()});
    EXPECT_EQ(history.status, 0) << history.err;
    std::map<int, std::pair<int, int>> filing;
    const nlohmann::json filed = nlohmann::json::parse(history.out);
    for (const auto& r : filed["recordings"])
      filing[r["id"].get<int>()] = {r["patient"].get<int>(), r["study"].get<int>()};
    return filing;
  }
};

TEST_F(Records, EveryNewFormNeedsTheSessionsTokenAndChangesNothingWithout) {
  const auto before = Filing();
  const std::size_t logged = LogOf(dir_).size();
  for (const auto& [path, body] : std::vector<std::pair<std::string, std::string>>{
           {"/patients/move", "r=1&to=2"},
           {"/patients/merge", "kept=2&merged=1"},
           {"/study/amend", "s=1&r=1&reason=typo"},
           {"/study/send", "s=1&r=1&to=gdt%3A%2Ftmp&gdt_receiver=X&draft=1"}}) {
    EXPECT_EQ(Status(served_->Post(path, body)), 403) << path;
    EXPECT_EQ(Status(served_->Post(path, "csrf=" + std::string(64, '0') + "&" + body)), 403) << path;
    EXPECT_EQ(Status(served_->Post(path, Form(body), true, {{"Origin", "http://evil.example"}})), 403) << path;
    EXPECT_EQ(Status(served_->Post(path, Form(body), false)), 403) << path;
  }
  EXPECT_EQ(Filing(), before);
  EXPECT_EQ(LogOf(dir_).size(), logged);
}

TEST_F(Records, APatientNamedScriptIsTextOnThePatientsAndLogScreens) {
  const std::string escaped = "&lt;script&gt;alert(1)&lt;/script&gt;";
  for (const char* path : {"/patients", "/patients?q=p-9", "/patient?p=2", "/log", "/log?patient=2",
                           "/patients/move?r=1&to=2", "/patients/merge?kept=1&merged=2"}) {
    httplib::Result r = served_->Get(path);
    ASSERT_EQ(Status(r), 200) << path << (r ? r->body : "");
    EXPECT_THAT(r->body, HasSubstr(escaped)) << path;
    EXPECT_THAT(r->body, Not(HasSubstr(kScript))) << path;
  }
  // The filter finds P-9 by its identifier and leaves the other patient out.
  const std::string found = served_->Get("/patients?q=p-9")->body;
  EXPECT_THAT(found, HasSubstr("data-patient=\"2\""));
  EXPECT_THAT(found, Not(HasSubstr("data-patient=\"1\"")));
  EXPECT_THAT(served_->Get("/patients?q=nobody")->body, HasSubstr("No patient matches"));
}

TEST_F(Records, AnAddressOrFormThatCannotBeReadIsAnswered400) {
  ExpectUnreadable(*served_, {
           {"/patient?p=x", "The patient (p): expected a number"},
           {"/patients/move?r=1", "The patient to move it to (to): expected a number"},
           {"/patients/merge?kept=1&merged=-2", "The patient merged (merged): expected a number"},
           {"/log?study=1%3B", "The study (study): expected a number"},
           {"/patients?q=%ff", "cannot be read"}});
  httplib::Result stray = served_->Post("/study/amend", Form("s=2&r=1&reason=why"));
  EXPECT_EQ(Status(stray), 400);
  EXPECT_THAT(stray->body, HasSubstr("study 2 holds no recording 1"));
}

// What the archive refuses is shown in its words, and nothing changes.
TEST_F(Records, ARefusedMoveOrMergeChangesNothing) {
  const auto before = Filing();
  const std::size_t logged = LogOf(dir_).size();
  struct Refused {
    std::string path, body;
    int status;
    std::string why;
  };
  for (const Refused& r : std::vector<Refused>{
           {"/patients/merge", "kept=1&merged=9", 404, "patient 9"},
           {"/patients/merge", "kept=2&merged=2", 400, "cannot be merged into itself"},
           {"/patients/move", "r=8&to=2", 404, "recording 8"},
           {"/patients/move", "r=1&to=9", 404, "patient 9"}}) {
    httplib::Result answer = served_->Post(r.path, Form(r.body));
    ASSERT_TRUE(answer) << r.body;
    EXPECT_EQ(answer->status, r.status) << r.body << answer->body;
    EXPECT_THAT(answer->body, HasSubstr(r.why)) << r.body;
  }
  // A confirmation of what cannot be done is not offered either.
  EXPECT_EQ(Status(served_->Get("/patients/merge?kept=1&merged=9")), 404);
  EXPECT_EQ(Status(served_->Get("/patients/merge?kept=2&merged=2")), 400);
  // A signed study stays with its patient.
  ASSERT_EQ(Status(served_->Post("/study/sign", Form("s=1&r=1&interpretation=Normal."))), 303);
  const std::size_t signed_log = LogOf(dir_).size();
  for (const auto& [path, body] :
       {std::pair{"/patients/move", "r=1&to=2"}, std::pair{"/patients/merge", "kept=2&merged=1"}}) {
    httplib::Result answer = served_->Post(path, Form(body));
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, 400) << path;
    EXPECT_THAT(answer->body, HasSubstr("signed")) << path;
    EXPECT_THAT(answer->body, HasSubstr("Nothing was changed")) << path;
  }
  EXPECT_EQ(Filing(), before);
  EXPECT_GT(signed_log, logged);
  EXPECT_EQ(LogOf(dir_).size(), signed_log);
}

// The confirmation names what moves; the move and the merge are those of
// `bplink archive move` and `merge-patients`: the archive's own log shows them.
TEST_F(Records, MoveAndMergeAfterAConfirmationThatNamesWhatMoves) {
  const std::string confirm = served_->Get("/patients/move?r=1&to=2")->body;
  EXPECT_THAT(confirm, HasSubstr("Study 1 (downloaded; recordings 1, 78 readings) moves from patient 1"));
  EXPECT_THAT(confirm, HasSubstr("to patient 2 (P-9, &lt;script&gt;"));
  EXPECT_EQ(Filing().at(1).first, 1);  // a confirmation changes nothing
  httplib::Result moved = served_->Post("/patients/move", Form("r=1&to=2"));
  ASSERT_EQ(Status(moved), 303) << (moved ? moved->body : "");
  EXPECT_EQ(moved->get_header_value("Location"), "/patient?p=2");
  EXPECT_EQ(Filing().at(1).first, 2);
  EXPECT_THAT(served_->Get("/patient?p=2")->body, HasSubstr("href=\"/study?s=1\""));

  const std::string merge = served_->Get("/patients/merge?kept=1&merged=2")->body;
  EXPECT_THAT(merge, HasSubstr("Every study of patient 2 (P-9, &lt;script&gt;alert(1)&lt;/script&gt;) (studies "));
  ASSERT_EQ(Status(served_->Post("/patients/merge", Form("kept=1&merged=2"))), 303);
  EXPECT_EQ(Filing().at(1).first, 1);
  const nlohmann::json log = LogOf(dir_);
  const std::vector<std::string> actions = Actions(log);
  EXPECT_THAT(actions, ::testing::IsSupersetOf({"move", "merge-patients"}));
  const std::string shown = served_->Get("/log")->body;
  EXPECT_THAT(shown, HasSubstr("<td class=\"action\">move</td>"));
  EXPECT_THAT(shown, HasSubstr("<td class=\"action\">merge-patients</td>"));
  EXPECT_THAT(shown, HasSubstr("<td class=\"actor\">" + log.back()["user"].get<std::string>()));
  // A study's log holds its own entries only.
  const std::string study2 = served_->Get("/log?study=2")->body;
  EXPECT_THAT(study2, Not(HasSubstr("<td class=\"action\">move</td>")));
}

// Amend re-opens a signed report with a reason; the page then edits and
// signs a new version, the first kept as superseded, both with their hashes.
TEST_F(Records, AnAmendmentNeedsAReasonAndSignsANewVersion) {
  httplib::Result unsigned_ = served_->Post("/study/amend", Form("s=1&r=1&reason=typo"));
  EXPECT_EQ(Status(unsigned_), 400);
  EXPECT_THAT(unsigned_->body, HasSubstr("is not signed"));
  ASSERT_EQ(Status(served_->Post("/study/sign", Form("s=1&r=1&interpretation=Normal."))), 303);
  const std::string signed_page = served_->Get("/study?s=1")->body;
  EXPECT_THAT(signed_page, HasSubstr("action=\"/study/amend\""));
  EXPECT_THAT(signed_page, Not(HasSubstr("action=\"/study/sign\"")));
  httplib::Result bare = served_->Post("/study/amend", Form("s=1&r=1&reason=%20%20"));
  EXPECT_EQ(Status(bare), 400);
  EXPECT_THAT(bare->body, HasSubstr("Reason: say why"));
  EXPECT_THAT(Actions(LogOf(dir_)), Not(::testing::Contains("amend")));

  ASSERT_EQ(Status(served_->Post("/study/amend", Form("s=1&r=1&reason=%3Cscript%3Ewrong%20diary"))), 303);
  const std::string amending = served_->Get("/study?s=1")->body;
  EXPECT_THAT(amending, HasSubstr("An amendment of version 1 is under way"));
  EXPECT_THAT(amending, HasSubstr("action=\"/study/sign\""));
  httplib::Result twice = served_->Post("/study/amend", Form("s=1&r=1&reason=again"));
  EXPECT_EQ(Status(twice), 400);
  EXPECT_THAT(twice->body, HasSubstr("under way already"));
  ASSERT_EQ(Status(served_->Post("/study/review", Form("s=1&r=1&what=inputs&sleep=23:00-06:00"))), 303);
  ASSERT_EQ(Status(served_->Post("/study/sign", Form("s=1&r=1&interpretation=Normal%2C%20diary%20applied."))), 303);
  const std::string amended = served_->Get("/study?s=1")->body;
  EXPECT_THAT(amended, HasSubstr("Version 1 (superseded)"));
  EXPECT_THAT(amended, HasSubstr("Version 2, signed by"));
  static const std::regex kHash(R"re(<code class="hash" title="([0-9a-f]{64})">([0-9a-f]+)</code>)re");
  std::vector<std::string> hashes;
  for (std::sregex_iterator i(amended.begin(), amended.end(), kHash), e; i != e; ++i) {
    EXPECT_TRUE((*i)[1].str().starts_with((*i)[2].str()));
    hashes.push_back((*i)[1]);
  }
  ASSERT_EQ(hashes.size(), 2u);
  EXPECT_NE(hashes[0], hashes[1]);  // the diary changed the inputs signed
  // The reason is kept in the archive's log, as text on the study's log page.
  bool reason = false;
  for (const auto& e : LogOf(dir_))
    if (e["action"] == "amend") reason = e["details"]["reason"] == "<script>wrong diary" && e["recording"] == 1;
  EXPECT_TRUE(reason);
  EXPECT_THAT(served_->Get("/log?study=1")->body, HasSubstr("reason: &lt;script&gt;wrong diary"));
}

// Send as `bplink send` does: to a GDT folder here (no peer needed); the
// study page lists the sending, and a second one needs "again".
TEST_F(Records, SendingToAGdtFolderIsKeptWithTheStudy) {
  const std::filesystem::path folder = dir_ / "gdt";
  std::filesystem::create_directories(folder);
  // The record files a result under the patient's identifier: P-9's.
  ASSERT_EQ(Status(served_->Post("/patients/move", Form("r=1&to=2"))), 303);
  const std::string to = "s=1&r=1&to=" + bplink::web::EncodeQueryValue("gdt:" + folder.string()) + "&gdt_receiver=PVS1";
  httplib::Result draft = served_->Post("/study/send", Form(to));
  EXPECT_EQ(Status(draft), 409);
  EXPECT_THAT(draft->body, HasSubstr("is not signed"));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  ASSERT_EQ(Status(served_->Post("/study/sign", Form("s=1&r=1&interpretation=Normal."))), 303);
  httplib::Result sent = served_->Post("/study/send", Form(to));
  ASSERT_EQ(Status(sent), 200) << (sent ? sent->body : "");
  EXPECT_THAT(sent->body, HasSubstr("Sent recording 1"));
  EXPECT_THAT(sent->body, HasSubstr("written as " + folder.string()));
  EXPECT_FALSE(std::filesystem::is_empty(folder));
  const std::string page = served_->Get("/study?s=1")->body;
  EXPECT_THAT(page, HasSubstr("<td class=\"outcome\">acknowledged</td>"));
  httplib::Result again = served_->Post("/study/send", Form(to));
  EXPECT_EQ(Status(again), 409);
  EXPECT_THAT(again->body, HasSubstr("was sent to gdt:"));
  // Again, while the practice system has not read the first file: not
  // written, and said why; once read, it goes.
  httplib::Result waiting = served_->Post("/study/send", Form(to + "&again=1"));
  EXPECT_EQ(Status(waiting), 409);
  EXPECT_THAT(waiting->body, HasSubstr("is not marked sent"));
  for (const auto& file : std::filesystem::directory_iterator(folder)) std::filesystem::remove(file.path());
  EXPECT_EQ(Status(served_->Post("/study/send", Form(to + "&again=1"))), 200);
  httplib::Result nowhere = served_->Post("/study/send", Form("s=1&r=1&to=ftp%3A%2F%2Fx"));
  EXPECT_EQ(Status(nowhere), 409);
  EXPECT_THAT(nowhere->body, HasSubstr("to: "));
  std::vector<std::string> sendings;
  for (const auto& e : LogOf(dir_))
    if (e["action"] == "sent") sendings.push_back(e["details"]["outcome"]);
  EXPECT_EQ(sendings, (std::vector<std::string>{"acknowledged", "failed", "acknowledged"}));
  // The study page lists each, with the peer's answer.
  const std::string listed = served_->Get("/study?s=1")->body;
  static const std::regex kOutcome("<td class=\"outcome\">");
  EXPECT_EQ(std::distance(std::sregex_iterator(listed.begin(), listed.end(), kOutcome), std::sregex_iterator()), 3);
}

TEST_F(Serve, StaticPathsCannotLeaveTheAssetSet) {
  Start();
  httplib::Result style = served_->Get("/assets/style.css", false);
  ASSERT_EQ(Status(style), 200);
  EXPECT_EQ(style->get_header_value("Content-Type"), "text/css; charset=utf-8");
  EXPECT_EQ(Status(served_->Get("/assets/chart.css", false)), 200);
  for (const char* path : {"/assets/../CMakeLists.txt", "/assets/%2e%2e/%2e%2e/%2e%2e/etc/passwd",
                           "/assets/..%2f..%2f..%2fetc%2fpasswd", "/assets//etc/passwd", "/assets/./style.css",
                           "/assets/style.css%00.js", "/assets/", "/assets/STYLE.CSS", "/../../etc/passwd"}) {
    httplib::Result r = served_->Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_TRUE(r->status == 404 || r->status == 400) << path << ": " << r->status;
    EXPECT_THAT(r->body, Not(HasSubstr("root:"))) << path;
  }
}

TEST_F(Serve, CtrlCStopsATransferUnderWayAndFilesWhatArrived) {
  Start({"--sim-pace", "20"});
  ASSERT_EQ(Status(served_->Post("/device/download", Form("d=usb&mode=1"))), 303);
  // Under way: its page shows the bar past 0.
  static const std::regex kBar(R"re(<progress id="progress" max="100" value="([0-9]+)")re");
  std::string page;
  for (int poll = 0; poll < 500; ++poll) {
    std::smatch m;
    httplib::Result r = served_->Get("/jobs/1");
    page = r ? r->body : "";
    if (std::regex_search(page, m, kBar) && std::stoi(m[1]) > 10) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Without scripting the page follows the transfer by reloading itself.
  EXPECT_THAT(page, HasSubstr("<noscript><meta http-equiv=\"refresh\" content=\"2\"></noscript>"));
  const ProgramRun stopped = served_->Stop();
  EXPECT_EQ(stopped.status, 0) << stopped.err;
  EXPECT_THAT(stopped.err, HasSubstr("stopping; a transfer under way keeps and files what arrived"));
  const ProgramRun history = RunProgram({"history", "--json", "--archive", (dir_ / "a.sqlite").string()});
  ASSERT_EQ(history.status, 0) << history.err;
  const nlohmann::json filed = nlohmann::json::parse(history.out);
  ASSERT_EQ(filed["recordings"].size(), 1u) << filed.dump(2);
  EXPECT_FALSE(filed["recordings"][0]["complete"].get<bool>());
  EXPECT_GT(filed["recordings"][0]["readings"].get<int>(), 0);
  EXPECT_LT(filed["recordings"][0]["readings"].get<int>(), 78);
}

// An upload to a monitor whose upload starts a new recording files what the
// monitor holds first: nothing is erased unread from the workstation either.
TEST_F(Serve, AnUploadThatStartsARecordingFilesWhatTheMonitorHoldsFirst) {
  dir_ = TestDir();
  const std::string archive = (dir_ / "a.sqlite").string();
  std::string why;
  served_ = Served::Start({"--sim", "kv32", "--sim-records", "12", "--archive", archive}, dir_, why);
  ASSERT_TRUE(served_) << why;
  ASSERT_TRUE(served_->OpenSession());
  static const std::regex kKey(R"re(/device\?d=([^"&]+))re");
  std::smatch key;
  std::string list;
  for (int poll = 0; poll < 500 && !std::regex_search(list, key, kKey); ++poll) {
    const httplib::Result r = served_->Get("/devices/list");
    list = r ? r->body : "";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(std::regex_search(list, key, kKey)) << list;
  // The upload form as the page offers it, with a plan that gives a valid recording.
  std::map<std::string, std::string> fields = UploadForm(key[1].str());
  ASSERT_FALSE(fields.empty());
  fields["patient[0]"] = "A", fields["patient[1]"] = "B";
  fields["period1.start"] = "07:00", fields["period1.interval"] = "30";
  fields["period2.start"] = "22:00", fields["period2.interval"] = "60";
  const std::string done = Uploaded(fields, "/jobs/1");
  EXPECT_THAT(done, HasSubstr("Filed the 12 readings the device holds (12 new) in the SQLite archive"));
  EXPECT_THAT(done, HasSubstr("Plan uploaded."));
  const ProgramRun history = RunProgram({"history", "--json", "--archive", archive});
  ASSERT_EQ(history.status, 0) << history.err;
  const nlohmann::json filed = nlohmann::json::parse(history.out);
  ASSERT_EQ(filed["recordings"].size(), 1u) << filed.dump(2);
  EXPECT_EQ(filed["recordings"][0]["readings"], 12);
}

// The Devices screen's upload with the patient's fields opens the study
// `bplink upload --archive` opens for the same patient and plan: the same
// patient, plan and state, hooked up; the patient's texts come back as text.
TEST_F(Serve, AnUploadWithThePatientOpensTheStudyTheProgramWouldOpen) {
  Start();
  std::map<std::string, std::string> fields = UploadForm("usb");
  ASSERT_TRUE(fields.count("patient_id") && fields.count("sex")) << "the form offers no patient";
  fields["patient[0]"] = kScript, fields["patient[1]"] = "ID-7";
  fields["period1.start"] = "07:00", fields["period1.interval"] = "15";
  fields["period2.start"] = "22:00", fields["period2.interval"] = "30";
  const std::map<std::string, std::string> patient = {{"patient_id", "P-42"},
                                                      {"patient_system", "urn:clinic:mrn"},
                                                      {"patient_name", kScript},
                                                      {"birth_date", "1960-05-31"},
                                                      {"sex", "female"}};
  for (const auto& [name, value] : patient) fields[name] = value;
  const std::string done = Uploaded(fields, "/jobs/1");
  EXPECT_THAT(done, HasSubstr("Plan uploaded."));
  EXPECT_THAT(done, HasSubstr("Study 1 opened for patient P-42 (&lt;script&gt;alert(1)&lt;/script&gt;) on this device"));
  EXPECT_THAT(done, HasSubstr("href=\"/study?s=1\""));
  EXPECT_THAT(done, Not(HasSubstr(kScript)));

  // The program, given the same patient and plan, on an archive of its own.
  const std::string web = (dir_ / "a.sqlite").string(), program = (dir_ / "b.sqlite").string();
  const std::string plan = (dir_ / "study-plan.json").string();
  WriteText(plan, R"({"patient": [")" + std::string(kScript) +
                      R"(", "ID-7"], "period1": {"start": "07:00", "interval": 15}, "period2": {"start": "22:00", "interval": 30}})");
  const ProgramRun cli = RunProgram({"upload", plan, "--sim", "hid", "--archive", program, "--patient-id", "P-42",
                                     "--patient-system", "urn:clinic:mrn", "--patient-name", kScript, "--birth-date",
                                     "1960-05-31", "--sex", "female"});
  ASSERT_EQ(cli.status, 0) << cli.err;
  const nlohmann::json by_web = Studies(web), by_program = Studies(program);
  ASSERT_EQ(by_web.size(), 1u) << by_web.dump(2);
  ASSERT_EQ(by_program.size(), 1u) << by_program.dump(2);
  for (const char* member : {"state", "plan", "readings"})
    EXPECT_EQ(by_web[0][member], by_program[0][member]) << member;
  EXPECT_EQ(by_web[0]["state"], "recording");
  EXPECT_FALSE(by_web[0]["hooked_up_at"].get<std::string>().empty());
  // The patient as the study keeps it.
  const httplib::Result study = served_->Get("/study?s=1");
  ASSERT_EQ(Status(study), 200);
  for (const char* shown : {"<td>P-42 <span class=\"muted\">(urn:clinic:mrn)</span></td>", "<td>1960-05-31</td>",
                            "<td>female</td>", "&lt;script&gt;alert(1)&lt;/script&gt;"})
    EXPECT_THAT(study->body, HasSubstr(shown));
  EXPECT_THAT(study->body, Not(HasSubstr(kScript)));

  // Uploading again for the next patient: the study out on the device is named, and keeps what it took.
  fields["patient_id"] = "P-43";
  fields["patient_name"] = "Next";
  const std::string next = Uploaded(fields, "/jobs/2");
  EXPECT_THAT(next, HasSubstr("Study 1 (patient 1) is still out on this device"));
  EXPECT_THAT(next, HasSubstr("Study 2 opened for patient P-43 (Next)"));
}

// A patient field that is wrong is refused naming it and the form it takes,
// and opens nothing; so are patient fields posted without the session's
// token.
TEST_F(Serve, APatientFieldThatIsWrongOrAFormWithoutTheTokenOpensNothing) {
  Start();
  std::map<std::string, std::string> fields = UploadForm("usb");
  ASSERT_FALSE(fields.empty());
  fields["patient_id"] = "P-42";
  // The field's rule is the program's (report::CheckPatient): one case here, the rest where the form is read.
  std::map<std::string, std::string> wrong = fields;
  wrong["sex"] = "f";
  const httplib::Result r = served_->Post("/device/upload", Form(Encoded(wrong)));
  EXPECT_EQ(Status(r), 400);
  EXPECT_THAT(r ? r->body : "", HasSubstr("sex &#39;f&#39; is not one of female, male, other, unknown. Nothing was "
                                          "sent to the device"));
  fields["patient_name"] = kScript;
  EXPECT_EQ(Status(served_->Post("/device/upload", Encoded(fields))), 403);
  EXPECT_EQ(Status(served_->Post("/device/upload", "csrf=" + std::string(64, 'f') + "&" + Encoded(fields))), 403);
  EXPECT_EQ(Status(served_->Post("/device/upload", Form(Encoded(fields)), true, {{"Origin", "http://evil.example"}})),
            403);
  ExpectNothingStarted();
  EXPECT_TRUE(Studies((dir_ / "a.sqlite").string()).empty());
}

// A plan the check warns about (day and night swapped) is not sent: the
// page names the warnings and offers the same form again, as filled in,
// with "Upload all the same"; only that confirmation sends it.
TEST_F(Serve, AWarnedPlanGoesOutOnlyOnceThePersonConfirmsIt) {
  Start();
  std::map<std::string, std::string> fields = UploadForm("usb");
  ASSERT_FALSE(fields.empty());
  fields["period1.start"] = "22:00", fields["period1.interval"] = "30";
  fields["period2.start"] = "07:00", fields["period2.interval"] = "60";
  fields["patient_id"] = "P-42", fields["patient_name"] = kScript, fields["sex"] = "male";
  const httplib::Result warned = served_->Post("/device/upload", Form(Encoded(fields)));
  ASSERT_EQ(Status(warned), 200);
  const std::string& page = warned->body;
  EXPECT_THAT(page, HasSubstr("Nothing was sent to the device"));
  EXPECT_THAT(page, HasSubstr("<ul class=\"warnings\">\n<li>the form: "));
  EXPECT_THAT(page, HasSubstr("swapped"));
  EXPECT_THAT(page, HasSubstr("name=\"accept_warnings\" value=\"on\""));
  EXPECT_THAT(page, Not(HasSubstr(kScript)));
  ExpectNothingStarted();
  EXPECT_TRUE(Studies((dir_ / "a.sqlite").string()).empty());

  // The form offered again holds what was sent, the patient too.
  std::map<std::string, std::string> again = FieldsOf(page);
  EXPECT_EQ(again["period1.start"], "22:00");
  EXPECT_EQ(again["period2.start"], "07:00");
  EXPECT_EQ(again["patient_id"], "P-42");
  EXPECT_EQ(again["patient_name"], "&lt;script&gt;alert(1)&lt;/script&gt;");
  EXPECT_EQ(again["sex"], "male");

  // The confirmation without the session's token is refused like any change.
  fields["accept_warnings"] = "on";
  EXPECT_EQ(Status(served_->Post("/device/upload", Encoded(fields))), 403);
  ExpectNothingStarted();
  const std::string done = Uploaded(fields, "/jobs/1");
  EXPECT_THAT(done, HasSubstr("Plan uploaded."));
  EXPECT_THAT(done, HasSubstr("Confirmed: the form: "));
  EXPECT_THAT(done, HasSubstr("from 22:00, every 30 min"));
  const nlohmann::json studies = Studies((dir_ / "a.sqlite").string());
  ASSERT_EQ(studies.size(), 1u);
  EXPECT_EQ(studies[0]["state"], "recording");
}

// The listening sockets of the server (a child of this process) as
// /proc/net/tcp and tcp6 list them: their local addresses in the kernel's hex.
std::set<std::string> ListeningAddresses() {
  std::set<std::string> inodes;
  for (const auto& process : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(process.path() / "stat");
    std::string pid, name, state;
    long parent = 0;
    if (!(stat >> pid >> name >> state >> parent) || parent != getpid() || name != "(bplink)") continue;
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", error)) {
      const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
      if (target.starts_with("socket:[")) inodes.insert(target.substr(8, target.size() - 9));
    }
  }
  std::set<std::string> addresses;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      constexpr const char* kListen = "0A";
      if (state == kListen && inodes.count(inode)) addresses.insert(local.substr(0, local.find(':')));
    }
  }
  return addresses;
}

TEST_F(Serve, ListensOnTheLoopbackInterfaceOnly) {
  Start();
  const std::set<std::string> addresses = ListeningAddresses();
  const std::string ipv4 = "0100007F", ipv6 = "00000000000000000000000001000000";  // 127.0.0.1, ::1
  EXPECT_TRUE(addresses.count(ipv4)) << "not on 127.0.0.1";
  for (const std::string& address : addresses) EXPECT_TRUE(address == ipv4 || address == ipv6) << address;
  // The same holds on a port asked for.
  const int port = served_->Port();
  const ProgramRun stopped = served_->Stop();
  EXPECT_EQ(stopped.status, 0) << stopped.err;
  std::string why;
  dir_ = TestDir();
  served_ = Served::Start({"--sim", "hid", "--http-port", std::to_string(port), "--archive",
                           (dir_ / "a.sqlite").string()},
                          dir_, why);
  ASSERT_TRUE(served_) << why;
  EXPECT_EQ(served_->Port(), port);
  for (const std::string& address : ListeningAddresses()) EXPECT_TRUE(address == ipv4 || address == ipv6) << address;
}

}  // namespace
