#include "html.h"

#include <array>

namespace bplink::web {
namespace {

struct NavItem {
  Screen screen;
  const char* path;
  const char* words;
};
constexpr std::array<NavItem, 4> kNav = {{{Screen::kWorklist, "/worklist", "Worklist"},
                                          {Screen::kDevices, "/devices", "Devices"},
                                          {Screen::kPatients, "/patients", "Patients"},
                                          {Screen::kLog, "/log", "Log"}}};

}  // namespace

std::string Document(const Frame& frame, const Page& page) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
      Esc(page.title) + " · bplink</title>\n<link rel=\"stylesheet\" href=\"/assets/style.css\">\n"
      "<link rel=\"stylesheet\" href=\"/assets/chart.css\">\n<link rel=\"icon\" href=\"/assets/icon.svg\">\n";
  if (!frame.csrf.empty()) out += "<meta name=\"csrf-token\" content=\"" + Esc(frame.csrf) + "\">\n";
  // Reloading is the script's job where it runs; without it the page asks again.
  if (page.refresh) out += "<noscript><meta http-equiv=\"refresh\" content=\"2\"></noscript>\n";
  out += "<script src=\"/assets/app.js\" defer></script>\n</head>\n<body>\n<header class=\"top\">\n"
         "<a class=\"brand\" href=\"/devices\"><img src=\"/assets/icon.svg\" alt=\"\" width=\"24\" height=\"24\">"
         "bplink</a>\n<nav>\n";
  for (const NavItem& item : kNav) {
    const bool here = item.screen == page.screen;
    out += std::string("<a href=\"") + item.path + "\"" + (here ? " aria-current=\"page\"" : "") + ">" + item.words +
           "</a>\n";
  }
  out += "</nav>\n<div class=\"who\">";
  if (!frame.user.empty())
    out += "<span class=\"user\" title=\"" + Esc(frame.user_kind) + "\">" + Esc(frame.user) + "</span> ";
  if (!frame.archive.empty()) out += "<span class=\"archive\">" + Esc(frame.archive) + "</span>";
  if (!frame.simulated.empty())
    out += " <span class=\"simulated\">simulated " + Esc(frame.simulated) + " device</span>";
  out += "</div>\n</header>\n<main>\n<h1>" + Esc(page.title) + "</h1>\n" + page.body + "</main>\n</body>\n</html>\n";
  return out;
}

std::string FormOpen(std::string_view action, std::string_view csrf, std::string_view css_class) {
  std::string out = "<form method=\"post\" action=\"" + Esc(action) + "\"";
  if (!css_class.empty()) out += " class=\"" + Esc(css_class) + "\"";
  return out + ">\n<input type=\"hidden\" name=\"csrf\" value=\"" + Esc(csrf) + "\">\n";
}

std::string Select(std::string_view name, const std::vector<Choice>& choices, int selected, std::string_view id) {
  std::string out = "<select name=\"" + Esc(name) + "\"" + (id.empty() ? "" : " id=\"" + Esc(id) + "\"") + ">";
  for (const Choice& c : choices)
    out += "<option value=\"" + std::to_string(c.value) + "\"" + (c.value == selected ? " selected" : "") + ">" +
           Esc(c.words) + "</option>";
  return out + "</select>";
}

}  // namespace bplink::web
