// First: on Windows its sockets header must come before <windows.h>, which
// the library's headers bring.
#include <httplib.h>

#include <bplink/web/server.h>

#include <bplink/host/device_info.h>
#include <bplink/report/chart.h>
#include <bplink/report/review.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <map>
#include <mutex>
#include <thread>

#include "assets.h"
#include "desk.h"
#include "form.h"
#include "html.h"
#include "pages.h"
#include "plan_form.h"
#include "random.h"
#include "record_pages.h"
#include "study_pages.h"
#include "upload_form.h"

namespace bplink::web {
namespace {

// Worker threads per listener: a page that follows a transfer holds one for
// as long as it runs.
constexpr std::size_t kThreads = 16;
// Pages following transfers at once; more are told to reload instead.
constexpr int kMostEventStreams = 8;
constexpr auto kEventWait = std::chrono::seconds(15);

constexpr int kBadRequest = 400;
constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kMethodNotAllowed = 405;
constexpr int kConflict = 409;
constexpr int kSeeOther = 303;
constexpr int kUnavailable = 503;

constexpr const char* kFormType = "application/x-www-form-urlencoded";
constexpr const char* kHtmlType = "text/html; charset=utf-8";

// No script but the served one, no style but the served sheets, nothing
// from elsewhere, never in a frame, no referrer to another site. (No
// referrer at all would make the browser send "Origin: null" with this
// server's own forms.)
const httplib::Headers& SecurityHeaders() {
  static const httplib::Headers headers = {
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
       "form-action 'self'; frame-ancestors 'none'; base-uri 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "same-origin"},
      {"Cross-Origin-Opener-Policy", "same-origin"},
      {"Cross-Origin-Resource-Policy", "same-origin"},
      {"Cache-Control", "no-store"},
  };
  return headers;
}

// A request the server refuses, with its status and the words of the page.
struct Refusal {
  int status;
  std::string title;
  std::string message;
};

// Reuse of the address right after a restart, and no other program's
// socket on the same port (SO_REUSEPORT would let another process of this
// user take connections meant for this one).
void ListenerOptions(socket_t sock) {
  int yes = 1;
#ifdef _WIN32
  setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
#else
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
}

std::optional<int> JobId(const httplib::Request& req) {
  if (req.matches.size() < 2) return std::nullopt;
  const std::string text = req.matches[1];
  int id = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return id;
}

}  // namespace

struct Server::Impl {
  explicit Impl(const ServerOptions& o) : options(o), desk(*o.link, o.archive) {}

  ServerOptions options;
  Desk desk;
  int port = 0;
  bool v6 = false;
  httplib::Server v4_server, v6_server;
  std::thread v4_thread, v6_thread;
  std::atomic<int> streams{0};
  std::once_flag stopped;

  // The one-time token of the first address, and the sessions it opened
  // (session id to its CSRF token).
  std::mutex lock;
  std::string token = RandomToken();
  std::map<std::string, std::string> sessions;

  std::string CookieName() const { return "bplink_" + std::to_string(port); }

  // The session's CSRF token, or nullopt without a valid session cookie.
  std::optional<std::string> Session(const httplib::Request& req) {
    const std::optional<std::string> id = CookieValue(req.get_header_value("Cookie"), CookieName());
    if (!id) return std::nullopt;
    const std::lock_guard hold(lock);
    for (const auto& [session, csrf] : sessions)
      if (SameSecret(session, *id)) return csrf;
    return std::nullopt;
  }

  Frame FrameFor(const std::string& csrf) const {
    Frame frame;
    frame.csrf = csrf;
    frame.simulated = options.simulated;
    if (options.archive) {
      frame.user = options.archive->User();
      frame.user_kind = options.archive->UserKind();
      frame.archive = options.archive->Where();
    } else {
      frame.user = options.user;
      frame.user_kind = "OS user";
      frame.archive = "no archive: downloads are not filed";
    }
    return frame;
  }

  void Send(httplib::Response& res, int status, const Page& page, const std::string& csrf) {
    res.status = status;
    res.set_content(Document(FrameFor(csrf), page), kHtmlType);
  }
  // A refused request may leave a body unread: the connection ends with it.
  void Refuse(httplib::Response& res, const Refusal& r) {
    Send(res, r.status, ProblemPage(r.title, r.message, "/devices"), "");
    res.set_header("Connection", "close");
  }
  static void SeeOther(httplib::Response& res, const std::string& where) {
    res.status = kSeeOther;
    res.set_header("Location", where);
  }

  // Every request passes here first. Handled: refused, answered here.
  httplib::Server::HandlerResponse Guard(const httplib::Request& req, httplib::Response& res) {
    if (!IsLoopbackHost(req.get_header_value("Host"), port)) {
      Refuse(res, {kForbidden, "Refused", "This server answers only to http://127.0.0.1:" + std::to_string(port) +
                                              ", http://localhost:" + std::to_string(port) + " and http://[::1]:" +
                                              std::to_string(port) + "."});
      return httplib::Server::HandlerResponse::Handled;
    }
    const bool post = req.method == "POST";
    if (!post && req.method != "GET" && req.method != "HEAD") {
      Refuse(res, {kMethodNotAllowed, "Refused", "This server takes GET and POST requests only."});
      return httplib::Server::HandlerResponse::Handled;
    }
    // The style sheets, script and icon are the same for everyone; the
    // first address brings its own token.
    if (req.path.starts_with("/assets/") || req.path == "/favicon.ico" || (req.path == "/" && !post))
      return httplib::Server::HandlerResponse::Unhandled;
    const std::optional<std::string> csrf = Session(req);
    if (!csrf) {
      Refuse(res, {kForbidden, "No session",
                   "This page needs the session that the address printed by `bplink serve` opens (it holds a "
                   "one-time token). Start `bplink serve` and open the address it prints."});
      return httplib::Server::HandlerResponse::Handled;
    }
    if (!post) return httplib::Server::HandlerResponse::Unhandled;
    // A change: only from this server's own pages, with the session's token.
    const std::string origin = req.get_header_value("Origin");
    if (req.get_header_value("Sec-Fetch-Site") == "cross-site" || (!origin.empty() && !IsOwnOrigin(origin, port))) {
      Refuse(res, {kForbidden, "Refused", "A change may come only from this workstation's own pages."});
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  }

  // A change's form, read only once the guard has let the request in (the
  // body arrives after it): sent as a form, decodable, with the session's
  // token. Refused otherwise, and the change not made.
  using ChangeHandler = std::function<void(const httplib::Request&, httplib::Response&, const Fields&)>;
  httplib::Server::Handler Change(ChangeHandler handler) {
    return [this, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
      const std::string type = req.get_header_value("Content-Type");
      if (type.substr(0, type.find(';')) != kFormType)
        return Refuse(res, {kBadRequest, "Bad request", "A change is sent as a form (" + std::string(kFormType) + ")."});
      std::string why;
      const std::optional<Fields> form = DecodeForm(req.body, why);
      if (!form)
        return Refuse(res, {kBadRequest, "Bad request", "The form cannot be read: " + why + ". Nothing was changed."});
      const std::optional<std::string> csrf = Session(req);
      const std::optional<std::string> sent =
          req.has_header("X-CSRF-Token") ? req.get_header_value("X-CSRF-Token") : form->Get("csrf");
      if (!csrf || !sent || !SameSecret(*sent, *csrf))
        return Refuse(res, {kForbidden, "Refused",
                            "The form does not carry this session's token: it did not come from this "
                            "workstation's pages. Nothing was changed."});
      handler(req, res, *form);
    };
  }

  // The query of a GET.
  std::optional<Fields> QueryOf(const httplib::Request& req, httplib::Response& res) {
    std::string why;
    std::optional<Fields> query = DecodeForm(web::QueryOf(req.target), why);
    if (!query) Refuse(res, {kBadRequest, "Bad request", "The address cannot be read: " + why + "."});
    return query;
  }

  // Runs a page's work; the failures every page may meet become their pages.
  template <typename Work>
  void Answer(httplib::Response& res, const std::string& csrf, Work work) {
    try {
      work();
    } catch (const Busy& e) {
      Send(res, kConflict, ProblemPage("Busy", std::string(e.what()) + "."), csrf);
    } catch (const NoSuchDevice& e) {
      Send(res, kNotFound, ProblemPage("No such device", e.what()), csrf);
    } catch (const host::DeviceError& e) {
      Send(res, kConflict, ProblemPage("The device did not answer", e.what()), csrf);
    }
  }

  void Routes(httplib::Server& s) {
    s.set_default_headers(SecurityHeaders());
    s.set_payload_max_length(kMaxFormBytes);
    s.set_socket_options(ListenerOptions);
    // A response leaves as its headers, then its body: with Nagle's rule the
    // body of a small page waited for the browser's delayed ACK (40 ms).
    s.set_tcp_nodelay(true);
    s.set_keep_alive_timeout(2);
    s.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) { return Guard(req, res); });
    s.set_error_handler([this](const httplib::Request&, httplib::Response& res) {
      if (!res.body.empty()) return;
      const bool missing = res.status == kNotFound;
      Send(res, res.status, ProblemPage(missing ? "Not found" : "Bad request",
                                        missing ? "There is no such page." : "The request cannot be read."), "");
    });
    s.set_exception_handler([this](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
      std::string what = "an unexpected failure";
      try {
        std::rethrow_exception(ep);
      } catch (const std::exception& e) {
        what = e.what();
      } catch (...) {
      }
      Send(res, 500, ProblemPage("Internal error", "The workstation failed: " + what + ". Nothing else was changed."), "");
    });

    s.Get("/", [this](const httplib::Request& req, httplib::Response& res) { First(req, res); });
    s.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { Asset(res, "icon.svg"); });
    s.Get("/assets/(.+)", [](const httplib::Request& req, httplib::Response& res) { Asset(res, req.matches[1]); });
    s.Get("/devices", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string csrf = *Session(req);
      const Desk::Listing listing = desk.Detect();
      Send(res, 200, DevicesPage(listing, desk.Running()), csrf);
    });
    s.Get("/devices/list", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(DeviceList(desk.Detect()), kHtmlType);
    });
    s.Get("/device", [this](const httplib::Request& req, httplib::Response& res) { Device(req, res); });
    s.Post("/device/download", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      StartInMode(req, res, form, false);
    }));
    s.Post("/device/upload", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      Upload(req, res, form);
    }));
    s.Post("/device/delete", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      StartInMode(req, res, form, true);
    }));
    s.Get(R"(/jobs/(\d{1,9}))", [this](const httplib::Request& req, httplib::Response& res) { ShowJob(req, res); });
    s.Get(R"(/jobs/(\d{1,9})/events)", [this](const httplib::Request& req, httplib::Response& res) { Events(req, res); });
    s.Post(R"(/jobs/(\d{1,9})/stop)", Change([this](const httplib::Request& req, httplib::Response& res, const Fields&) {
      const std::optional<int> id = JobId(req);
      if (id) desk.Stop(*id);
      // The script asks without leaving the page; a form comes back to it.
      if (req.has_header("X-CSRF-Token"))
        res.status = 204;
      else
        SeeOther(res, "/jobs/" + std::to_string(id.value_or(0)));
    }));
    s.Post(R"(/jobs/(\d{1,9})/delete)", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      Delete(req, res, form);
    }));
    s.Get("/worklist", [this](const httplib::Request& req, httplib::Response& res) { Worklist(req, res); });
    s.Get("/study", [this](const httplib::Request& req, httplib::Response& res) { Study(req, res); });
    s.Get("/study/export", [this](const httplib::Request& req, httplib::Response& res) { Export(req, res); });
    s.Post("/study/review", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      ChangeRecording(req, res, form, [&](const Reviewed& target) { ReviewChange(target, form); });
    }));
    s.Post("/study/sign", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      ChangeRecording(req, res, form, [&](const Reviewed& target) {
        options.studies->Sign(target.recording, form.Get("interpretation").value_or(""));
      });
    }));
    RecordRoutes(s);
  }

  // ---- The archive's records: Patients, Log, amendments and Send ----------

  void RecordRoutes(httplib::Server& s) {
    for (const auto& [path, screen] : {std::pair{"/patients", Screen::kPatients}, std::pair{"/log", Screen::kLog}})
      s.Get(path, [this, screen](const httplib::Request& req, httplib::Response& res) {
        if (!options.records) return Send(res, 200, NotYetPage(screen), *Session(req));
        screen == Screen::kLog ? LogScreen(req, res) : PatientsScreen(req, res);
      });
    s.Get("/patient", [this](const httplib::Request& req, httplib::Response& res) {
      OnRecords(req, res, "p", "the patient", [&](const Fields&, std::int64_t patient, const std::string&) {
        return PatientPage(options.records->Patient(patient));
      });
    });
    s.Get("/patients/move", [this](const httplib::Request& req, httplib::Response& res) {
      OnRecords(req, res, "r", "the recording", [&](const Fields& q, std::int64_t recording, const std::string& csrf) {
        const std::optional<std::int64_t> to = NumberOf(q, "to", "the patient to move it to", res);
        return to ? std::optional(MoveConfirmPage(options.records->PreviewMove(recording, *to), csrf)) : std::nullopt;
      });
    });
    s.Get("/patients/merge", [this](const httplib::Request& req, httplib::Response& res) {
      OnRecords(req, res, "kept", "the patient kept", [&](const Fields& q, std::int64_t kept, const std::string& csrf) {
        const std::optional<std::int64_t> merged = NumberOf(q, "merged", "the patient merged", res);
        return merged ? std::optional(MergeConfirmPage(options.records->PreviewMerge(kept, *merged), csrf))
                      : std::nullopt;
      });
    });
    s.Post("/patients/move", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      ChangeRecords(req, res, form, "r", "the recording", "to", "the patient to move it to",
                    [&](std::int64_t recording, std::int64_t to) {
                      options.records->Move(recording, to);
                      return PatientHref(to);
                    });
    }));
    s.Post("/patients/merge", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      ChangeRecords(req, res, form, "kept", "the patient kept", "merged", "the patient merged",
                    [&](std::int64_t kept, std::int64_t merged) {
                      options.records->Merge(kept, merged);
                      return PatientHref(kept);
                    });
    }));
    s.Post("/study/amend", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      ChangeRecords(req, res, form, "s", "the study", "r", "the recording", [&](std::int64_t study, std::int64_t r) {
        options.records->Amend(RecordingOf(study, r), form.Get("reason").value_or(""));
        return StudyHref(study) + "#recording-" + std::to_string(r);
      });
    }));
    s.Post("/study/send", Change([this](const httplib::Request& req, httplib::Response& res, const Fields& form) {
      ChangeRecords(req, res, form, "s", "the study", "r", "the recording", [&](std::int64_t study, std::int64_t r) {
        SendForm send{form.Get("to").value_or(""), form.Has("draft"), form.Has("again"),
                      form.Get("token_file").value_or(""), form.Get("ca").value_or(""),
                      form.Get("gdt_receiver").value_or(""), form.Get("gdt_sender").value_or("")};
        const SendOutcome outcome = options.records->Send(RecordingOf(study, r), send);
        Send(res, outcome.sent ? 200 : kConflict, SentPage(study, outcome), *Session(req));
        return std::string();
      });
    }));
  }

  // A page of the records whose address names a number; `page` answers the
  // page, or nullopt when it has answered the request itself.
  template <typename MakePage>
  void OnRecords(const httplib::Request& req, httplib::Response& res, const char* name, const char* what,
                 MakePage page) {
    if (!options.records) return Send(res, kNotFound, NotYetPage(Screen::kPatients), *Session(req));
    const std::optional<std::pair<Fields, std::int64_t>> asked = Numbered(req, res, name, what);
    if (!asked) return;
    const std::string csrf = *Session(req);
    FromArchive(res, csrf, "/patients", [&] {
      const std::optional<Page> made = page(asked->first, asked->second, csrf);
      if (made) Send(res, 200, *made, csrf);
    });
  }

  // A change of the records a form names by two numbers; `change` makes it
  // and answers where the browser goes on ("": it answered itself).
  template <typename Make>
  void ChangeRecords(const httplib::Request& req, httplib::Response& res, const Fields& form, const char* first,
                     const char* first_what, const char* second, const char* second_what, Make change) {
    const std::string csrf = *Session(req);
    if (!options.records) return Send(res, kNotFound, NotYetPage(Screen::kPatients), csrf);
    const std::optional<std::int64_t> a = NumberOf(form, first, first_what, res);
    if (!a) return;
    const std::optional<std::int64_t> b = NumberOf(form, second, second_what, res);
    if (!b) return;
    FromArchive(res, csrf, first == std::string("s") ? StudyHref(*a) : "/patients", [&] {
      const std::string where = change(*a, *b);
      if (!where.empty()) SeeOther(res, where);
    });
  }

  // Recording `recording`, once study `study` is found to hold it.
  std::int64_t RecordingOf(std::int64_t study, std::int64_t recording) {
    for (const StudyRecording& r : options.studies->Study(study).recordings)
      if (r.id == recording) return recording;
    throw BadQuery("the recording (r): study " + std::to_string(study) + " holds no recording " +
                   std::to_string(recording));
  }

  // An optional number of a filter: 0 when not given.
  std::optional<std::int64_t> FilterNumber(const Fields& query, const char* name, const char* what,
                                           httplib::Response& res) {
    if (query.Get(name).value_or("").empty()) return 0;
    return NumberOf(query, name, what, res);
  }

  void PatientsScreen(const httplib::Request& req, httplib::Response& res) {
    const std::optional<Fields> query = QueryOf(req, res);
    if (!query) return;
    const std::string csrf = *Session(req);
    const std::string text = query->Get("q").value_or("");
    FromArchive(res, csrf, "/patients",
                [&] { Send(res, 200, PatientsPage(text, options.records->Patients(text)), csrf); });
  }

  void LogScreen(const httplib::Request& req, httplib::Response& res) {
    const std::optional<Fields> query = QueryOf(req, res);
    if (!query) return;
    const std::optional<std::int64_t> study = FilterNumber(*query, "study", "the study", res);
    if (!study) return;
    const std::optional<std::int64_t> patient = FilterNumber(*query, "patient", "the patient", res);
    if (!patient) return;
    const std::string csrf = *Session(req);
    const LogQuery q{*study, *patient};
    FromArchive(res, csrf, "/log", [&] { Send(res, 200, LogPage(q, options.records->Log(q)), csrf); });
  }

  // What the study page shows of the records: the sendings, Amend and Send.
  StudyExtras ExtrasOf(std::int64_t study) {
    StudyExtras extras;
    if (!options.records) return extras;
    extras.records = true;
    for (LogRow& e : options.records->Log({study, 0}))
      if (e.action == "sent") extras.sendings.push_back(std::move(e));
    extras.why_no_sending = options.records->WhyNoSending();
    return extras;
  }

  // The first address: its token becomes the session cookie, and the
  // address without it is where the browser goes on.
  void First(const httplib::Request& req, httplib::Response& res) {
    const std::optional<Fields> query = QueryOf(req, res);
    if (!query) return;
    const std::optional<std::string> given = query->Get("token");
    if (!given) {
      if (Session(req)) return SeeOther(res, "/devices");
      return Refuse(res, {kForbidden, "No session",
                          "Open the address `bplink serve` printed: it holds a one-time token that opens a session."});
    }
    std::string id, csrf;
    {
      const std::lock_guard hold(lock);
      if (token.empty() || !SameSecret(*given, token)) {
        Refuse(res, {kForbidden, "Refused",
                     "This address's token is not valid: it opens one session only, and it has been used. Start "
                     "`bplink serve` again for a new one."});
        return;
      }
      token.clear();
      id = RandomToken();
      csrf = RandomToken();
      sessions[id] = csrf;
    }
    res.set_header("Set-Cookie", CookieName() + "=" + id + "; HttpOnly; SameSite=Strict; Path=/");
    SeeOther(res, "/devices");
  }

  static void Asset(httplib::Response& res, const std::string& name) {
    if (name == "chart.css") {
      res.set_content(report::ChartStyle(), "text/css; charset=utf-8");
      return;
    }
    const web::Asset* asset = FindAsset(name);
    if (asset == nullptr) {
      res.status = kNotFound;
      res.set_content("no such asset", "text/plain; charset=utf-8");
      return;
    }
    res.set_content(std::string(asset->bytes), std::string(asset->type));
  }

  std::optional<std::string> DeviceKeyOf(const Fields& fields, httplib::Response& res) {
    std::optional<std::string> key = fields.Get("d");
    if (key && !key->empty()) return key;
    Refuse(res, {kBadRequest, "Bad request", "Which device? The address names none."});
    return std::nullopt;
  }

  void Device(const httplib::Request& req, httplib::Response& res) {
    const std::string csrf = *Session(req);
    const std::optional<Fields> query = QueryOf(req, res);
    if (!query) return;
    const std::optional<std::string> key = DeviceKeyOf(*query, res);
    if (!key) return;
    Answer(res, csrf, [&] {
      DeviceView view;
      view.key = *key;
      desk.WithDevice(*key, [&](host::Session& session) {
        view.link = session.family->link == LinkKind::kUsbHid ? "USB HID" : key->substr(key->find(':') + 1);
        view.family = session.family->name;
        view.info = host::Describe(session);
        for (int mode = DATAMODE_BP; mode < kDataModeCount; ++mode)
          if (session.Takes(mode)) view.download_modes.push_back(mode);
        view.plan.kept = view.info.kept;
        view.plan.allowed = view.info.allowed;
        view.plan.shown = view.info.reported ? view.info.allowed.Info : _BP_TRANSPORT_INFO{};
        view.no_delete = host::WhyNoDelete(session);
      });
      Send(res, 200, DevicePage(view, csrf), csrf);
    });
  }

  // The data mode a form names, which the device must take.
  std::optional<int> ModeOf(const Fields& form, httplib::Response& res) {
    const std::string text = form.Get("mode").value_or("");
    int mode = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), mode);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || mode < DATAMODE_BP ||
        mode >= kDataModeCount) {
      Refuse(res, {kBadRequest, "Bad request", "mode: expected a data mode 1.." + std::to_string(kDataModeCount - 1)});
      return std::nullopt;
    }
    return mode;
  }

  // A transfer in a data mode the device takes, started: to its page.
  void StartInMode(const httplib::Request& req, httplib::Response& res, const Fields& form, bool count) {
    const std::string csrf = *Session(req);
    const std::optional<std::string> key = DeviceKeyOf(form, res);
    if (!key) return;
    const std::optional<int> mode = ModeOf(form, res);
    if (!mode) return;
    Answer(res, csrf, [&] {
      std::string refused;
      desk.WithDevice(*key, [&](host::Session& session) {
        if (!session.Takes(*mode))
          refused = "mode: this device does not offer data mode " + std::to_string(*mode);
      });
      if (!refused.empty()) return Refuse(res, {kBadRequest, "Bad request", refused});
      const std::shared_ptr<web::Job> job = count ? desk.StartCount(*key, *mode) : desk.StartDownload(*key, *mode);
      SeeOther(res, "/jobs/" + std::to_string(job->id));
    });
  }

  // The plan the form gives, held to the device by the check every upload
  // makes; the patient its fields name, who gets a study. A plan the check
  // warns about goes out only once the person confirmed it (accept_warnings):
  // until then the page names the warnings and offers the form again.
  void Upload(const httplib::Request& req, httplib::Response& res, const Fields& form) {
    const std::string csrf = *Session(req);
    const std::optional<std::string> key = DeviceKeyOf(form, res);
    if (!key) return;
    const auto refuse = [&](const std::string& why) {
      Send(res, kBadRequest,
           ProblemPage("The plan was not uploaded", why + ". Nothing was sent to the device.",
                       "/device?d=" + EncodeQueryValue(*key)),
           csrf);
    };
    UploadAsked asked;
    try {
      asked.patient = PatientFromForm(form, CurrentEnv()->LocalTime());
      asked.consent = ConsentFromForm(form);
    } catch (const report::InputError& e) {
      return refuse(e.what());
    }
    if (!asked.patient.Empty() && !options.archive)
      return refuse("the patient fields open a study, which the archive keeps: this build of bplink has none");
    Answer(res, csrf, [&] {
      UploadAgain again{*key, {}, asked.patient, {}};
      std::optional<_BP_TRANSPORT_INFO> plan;
      std::string refused;
      desk.WithDevice(*key, [&](host::Session& session) {
        PlanChoices& choices = again.plan;
        choices.kept = plan::KeptFields(*session.family, session.DeviceNow(), session.FirstMode());
        if (choices.kept.empty()) {
          refused = "this device takes no plan";
          return;
        }
        choices.allowed = host::AllowedInPlan(session);
        std::vector<std::string> also = UploadFieldNames();
        also.insert(also.end(), {"csrf", "d"});
        try {
          plan = PlanFromForm(form, choices, also);
        } catch (const plan::PlanError& e) {
          refused = e.what();
          return;
        }
        choices.shown = *plan;
        const plan::PlanCheck check =
            plan::HoldToDevice(*session.protocol, *session.family, session.FirstMode(), *plan, "the form");
        if (check.result != kResultOk)
          refused = "asking the device what a plan may hold failed: " + session.Explain(check.result);
        else if (!check.errors.empty())
          refused = check.Refusal();
        else if (!check.MaySend(asked.consent))
          again.warnings = check.warnings;
      });
      if (!refused.empty()) return refuse(refused);
      if (!again.warnings.empty()) return Send(res, 200, UploadWarningsPage(again, csrf), csrf);
      const std::shared_ptr<web::Job> job = desk.StartUpload(*key, *plan, asked);
      SeeOther(res, "/jobs/" + std::to_string(job->id));
    });
  }

  void Delete(const httplib::Request& req, httplib::Response& res, const Fields& form) {
    const std::string csrf = *Session(req);
    const std::optional<int> id = JobId(req);
    const std::shared_ptr<web::Job> count = id ? desk.Find(*id) : nullptr;
    if (!count || count->kind != web::Job::Kind::kCount || !desk.Await(*count, -2, std::chrono::milliseconds(0)).done ||
        !count->ok)
      return Refuse(res, {kBadRequest, "Bad request", "There is no count of records to confirm here."});
    const std::string expect = form.Get("expect").value_or("");
    if (expect != std::to_string(count->records))
      return Refuse(res, {kBadRequest, "Bad request",
                          "expect: the confirmation names " + std::to_string(count->records) + " records"});
    Answer(res, csrf, [&] {
      const std::shared_ptr<web::Job> job = desk.StartDelete(count->key, count->mode, count->records);
      SeeOther(res, "/jobs/" + std::to_string(job->id));
    });
  }

  // The archive's work for a page; its failures become their pages.
  template <typename Work>
  void FromArchive(httplib::Response& res, const std::string& csrf, const std::string& back, Work work) {
    try {
      work();
    } catch (const BadQuery& e) {
      Send(res, kBadRequest, ProblemPage("Bad request", e.what(), back), csrf);
    } catch (const NotFiled& e) {
      Send(res, kNotFound, ProblemPage("Not found", e.what(), back), csrf);
    } catch (const NotAllowed& e) {
      Send(res, kForbidden, ProblemPage("Not allowed", std::string(e.what()) + ". Nothing was changed.", back), csrf);
    } catch (const Refused& e) {
      Send(res, kBadRequest, ProblemPage("Refused", std::string(e.what()) + ". Nothing was changed.", back), csrf);
    } catch (const report::InputError& e) {
      Send(res, kBadRequest, ProblemPage("Refused", std::string(e.what()) + ". Nothing was changed.", back), csrf);
    } catch (const std::runtime_error& e) {
      Send(res, 500, ProblemPage("The archive failed", e.what(), back), csrf);
    }
  }

  // A number the address names: `name` in the query, 1 or more; `what` it numbers.
  std::optional<std::int64_t> NumberOf(const Fields& query, const char* name, const char* what, httplib::Response& res) {
    const std::string text = query.Get(name).value_or("");
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (!text.empty() && ec == std::errc{} && end == text.data() + text.size() && n > 0) return n;
    Refuse(res, {kBadRequest, "Bad request",
                 std::string(what) + " (" + name + "): expected a number from 1, as the worklist's links give it"});
    return std::nullopt;
  }

  void Worklist(const httplib::Request& req, httplib::Response& res) {
    const std::string csrf = *Session(req);
    if (!options.studies) return Send(res, 200, NotYetPage(Screen::kWorklist), csrf);
    const std::optional<Fields> query = QueryOf(req, res);
    if (!query) return;
    WorklistQuery q;
    for (const auto& [name, member] : {std::pair{"state", &q.state}, std::pair{"patient", &q.patient},
                                       std::pair{"device", &q.device}, std::pair{"from", &q.from},
                                       std::pair{"to", &q.to}})
      *member = query->Get(name).value_or("");
    FromArchive(res, csrf, "/worklist", [&] { Send(res, 200, WorklistPage(q, options.studies->Worklist(q)), csrf); });
  }

  // A page on the archive's studies whose address names a number: the
  // query and the number, or nullopt when the request is answered already.
  std::optional<std::pair<Fields, std::int64_t>> Numbered(const httplib::Request& req, httplib::Response& res,
                                                          const char* name, const char* what) {
    if (!options.studies) {
      Send(res, kNotFound, NotYetPage(Screen::kWorklist), *Session(req));
      return std::nullopt;
    }
    std::optional<Fields> query = QueryOf(req, res);
    if (!query) return std::nullopt;
    const std::optional<std::int64_t> id = NumberOf(*query, name, what, res);
    if (!id) return std::nullopt;
    return std::pair{std::move(*query), *id};
  }

  void Study(const httplib::Request& req, httplib::Response& res) {
    const std::optional<std::pair<Fields, std::int64_t>> asked = Numbered(req, res, "s", "the study");
    if (!asked) return;
    const std::string csrf = *Session(req);
    FromArchive(res, csrf, "/worklist", [&] {
      Send(res, 200, StudyPage(options.studies->Study(asked->second), csrf, ExtrasOf(asked->second)), csrf);
    });
  }

  // A recording's report or data as a file, made as `bplink export` and
  // `bplink report --recording` make it.
  void Export(const httplib::Request& req, httplib::Response& res) {
    const std::optional<std::pair<Fields, std::int64_t>> asked = Numbered(req, res, "r", "the recording");
    if (!asked) return;
    FromArchive(res, *Session(req), "/worklist", [&] {
      const Exported file = options.studies->Export(asked->second, asked->first.Get("format").value_or(""));
      res.set_content(file.bytes, file.type);
      res.set_header("Content-Disposition", "attachment; filename=\"" + file.file_name + "\"");
    });
  }

  // The study and recording a review form names; the recording must be the study's.
  struct Reviewed {
    std::int64_t study = 0, recording = 0;
  };
  std::optional<Reviewed> ReviewedOf(const Fields& form, httplib::Response& res) {
    const std::optional<std::int64_t> study = NumberOf(form, "s", "the study", res);
    if (!study) return std::nullopt;
    const std::optional<std::int64_t> recording = NumberOf(form, "r", "the recording", res);
    if (!recording) return std::nullopt;
    return Reviewed{*study, *recording};
  }

  // A change to one recording of a study: done through the archive, then
  // back to the study page, where what the archive refused is shown and
  // nothing changed.
  template <typename ChangeIt>
  void ChangeRecording(const httplib::Request& req, httplib::Response& res, const Fields& form, ChangeIt change) {
    const std::string csrf = *Session(req);
    if (!options.studies) return Send(res, kNotFound, NotYetPage(Screen::kWorklist), csrf);
    const std::optional<Reviewed> target = ReviewedOf(form, res);
    if (!target) return;
    const std::string back = StudyHref(target->study);
    FromArchive(res, csrf, back, [&] {
      change(*target);
      SeeOther(res, back + "#recording-" + std::to_string(target->recording));
    });
  }

  // The inputs kept with the recording, changed as the form asks (an
  // exclusion added or taken back, the diary's sleep and the other inputs),
  // kept again through the archive's review: a value that is wrong, or a
  // change the signature does not allow, changes nothing.
  void ReviewChange(const Reviewed& target, const Fields& form) {
    const StudyDetail study = options.studies->Study(target.study);
    const StudyRecording* recording = nullptr;
    for (const StudyRecording& r : study.recordings)
      if (r.id == target.recording) recording = &r;
    if (!recording)
      throw BadQuery("the recording (r): study " + std::to_string(target.study) + " holds no recording " +
                     std::to_string(target.recording));
    report::ReviewInputs inputs = recording->recording.kept_review.value_or(report::ReviewInputs{});
    const std::string what = form.Get("what").value_or("");
    const std::string time = form.Get("time").value_or("");
    if (what == "exclude") {
      report::AddExclusion(inputs, time, form.Get("reason").value_or(""), "time");
    } else if (what == "include") {
      report::TakeBackExclusion(inputs, recording->recording, time, "time");
    } else if (what == "inputs") {
      const std::string sleep = form.Get("sleep").value_or(""), office = form.Get("office").value_or("");
      if (sleep.empty()) inputs.sleep.reset(); else report::SetSleep(inputs, sleep, "sleep");
      if (office.empty()) inputs.office.reset(); else report::SetOffice(inputs, office, "office");
      inputs.indication = form.Get("indication").value_or("");
      inputs.medication = form.Get("medication").value_or("");
    } else {
      throw BadQuery("what: expected exclude, include or inputs");
    }
    options.studies->Review(target.recording, inputs);
  }

  void ShowJob(const httplib::Request& req, httplib::Response& res) {
    const std::string csrf = *Session(req);
    const std::optional<int> id = JobId(req);
    const std::shared_ptr<web::Job> job = id ? desk.Find(*id) : nullptr;
    if (!job) return Send(res, kNotFound, ProblemPage("Not found", "There is no such transfer."), csrf);
    const Desk::Live live = desk.Await(*job, -2, std::chrono::milliseconds(0));
    Send(res, 200, JobPage({*job, live}, csrf), csrf);
  }

  // Server-Sent Events: "progress" as the transfer's bar moves, "done" at its end.
  void Events(const httplib::Request& req, httplib::Response& res) {
    const std::optional<int> id = JobId(req);
    const std::shared_ptr<web::Job> job = id ? desk.Find(*id) : nullptr;
    if (!job) {
      res.status = kNotFound;
      return;
    }
    if (++streams > kMostEventStreams) {
      --streams;
      res.status = kUnavailable;
      return;
    }
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, job, seen = -1](std::size_t, httplib::DataSink& sink) mutable {
          const Desk::Live live = desk.Await(*job, seen, kEventWait);
          std::string event;
          if (live.version != seen) {
            seen = live.version;
            event = "event: progress\ndata: " +
                    nlohmann::json{{"percent", live.percent}, {"label", live.label}}.dump() + "\n\n";
          } else {
            event = ": waiting\n\n";  // keeps the connection known to be open
          }
          if (live.done) event += "event: done\ndata: {}\n\n";
          if (!sink.write(event.data(), event.size())) return false;
          if (live.done || live.shut) sink.done();
          return true;
        },
        [this](bool) { --streams; });
  }
};

Server::Server(const ServerOptions& options) : impl_(std::make_unique<Impl>(options)) {
  Impl& s = *impl_;
  s.Routes(s.v4_server);
  s.Routes(s.v6_server);
  if (options.port == 0) {
    s.port = s.v4_server.bind_to_any_port("127.0.0.1");
    if (s.port <= 0) throw ServerError("cannot listen on 127.0.0.1: no free port");
  } else {
    if (!s.v4_server.bind_to_port("127.0.0.1", options.port))
      throw ServerError("cannot listen on 127.0.0.1:" + std::to_string(options.port) +
                        ": the port is in use, or this user may not take it");
    s.port = options.port;
  }
  // Without IPv6 on this system the IPv4 loopback serves alone.
  s.v6 = s.v6_server.bind_to_port("::1", s.port);
  s.v4_thread = std::thread([&s] { s.v4_server.listen_after_bind(); });
  if (s.v6) s.v6_thread = std::thread([&s] { s.v6_server.listen_after_bind(); });
}

Server::~Server() { Stop(); }

int Server::Port() const { return impl_->port; }

std::string Server::Url() const {
  const std::lock_guard hold(impl_->lock);
  return "http://127.0.0.1:" + std::to_string(impl_->port) + "/?token=" + impl_->token;
}

std::vector<std::string> Server::Addresses() const {
  std::vector<std::string> addresses{"127.0.0.1:" + std::to_string(impl_->port)};
  if (impl_->v6) addresses.push_back("[::1]:" + std::to_string(impl_->port));
  return addresses;
}

void Server::Stop() {
  std::call_once(impl_->stopped, [this] {
    Impl& s = *impl_;
    s.desk.Shutdown();
    s.v4_server.stop();
    s.v6_server.stop();
    if (s.v4_thread.joinable()) s.v4_thread.join();
    if (s.v6_thread.joinable()) s.v6_thread.join();
  });
}

}  // namespace bplink::web
