// Writing the workstation's pages: every text from a device, a patient or
// a request goes through Esc, so it is shown as text, never read as markup.
#pragma once

#include <bplink/report/html_report.h>

#include <string>
#include <string_view>
#include <vector>

namespace bplink::web {

// Text made safe for element content and for attribute values in double quotes.
inline std::string Esc(std::string_view text) { return report::EscapeHtml(text); }

// The screens of the navigation, in its order.
enum class Screen { kWorklist, kDevices, kPatients, kLog, kNone };

// What every page's frame shows besides its content.
struct Frame {
  std::string user;      // who works here: the OS user, or the database role
  std::string user_kind; // "OS user", "database role"
  std::string archive;   // where downloads are filed, in words
  std::string simulated; // the simulated device's family, when one is served
  std::string csrf;      // the session's token, for the script's requests; empty without a session
};

struct Page {
  std::string title;         // of the page, plain text
  Screen screen = Screen::kNone;
  std::string body;          // markup
  bool refresh = false;      // without scripting, reload every few seconds (work under way)
};

// The whole document: head (style sheet, script, no inline script or
// style), the header with the navigation and the user, then the body.
std::string Document(const Frame& frame, const Page& page);

// A POST form's opening tag and the session's token in it.
std::string FormOpen(std::string_view action, std::string_view csrf, std::string_view css_class = "");

// "<select name=...>" of integer choices with words, `selected` chosen.
struct Choice {
  int value;
  std::string words;
};
std::string Select(std::string_view name, const std::vector<Choice>& choices, int selected, std::string_view id = "");

}  // namespace bplink::web
