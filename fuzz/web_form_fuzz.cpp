// What the workstation's server decodes itself, on any bytes a browser or
// anyone on this PC may send: a form body or query, a cookie header, a Host
// and an Origin. Each is decoded or refused, never a crash or a hang; what
// a form decoder accepts is UTF-8 without stray control characters and
// names each field once, and a decoded upload form is a plan or a
// PlanError naming the form.
//
// The input is a form; its first line, when it has one, is also read as the
// headers' values.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "form.h"
#include "plan_form.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// A device that keeps every plan field there is, so the form reader meets them all.
const bplink::web::PlanChoices& Everything() {
  static const bplink::web::PlanChoices choices = [] {
    bplink::web::PlanChoices c;
    c.kept = {"patient[0]", "patient[1]", "patient[2]", "patient[3]", "patient_values", "period1", "period2",
              "extra", "options[0]", "options[1]", "options[2]", "options[3]", "day_warn", "day_warn.limits[4]",
              "day_warn.limits[5]", "night_warn", "night_warn.limits[4]", "night_warn.limits[5]", "warn_switch"};
    c.allowed.vecInterval1 = {15, 30, 60, 120};
    c.allowed.vecInterval2 = {30, 60, 120, 240};
    return c;
  }();
  return choices;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace web = bplink::web;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string_view line = text.substr(0, text.find('\n'));
  web::CookieValue(line, "bplink_8080");
  web::IsLoopbackHost(line, 8080);
  web::IsOwnOrigin(line, 8080);
  std::string why;
  web::DecodeForm(web::QueryOf(line), why);  // a request target's query

  const std::optional<web::Fields> form = web::DecodeForm(text, why);
  if (!form) {
    Require(!why.empty());
    return 0;
  }
  std::set<std::string> names;
  for (const auto& [name, value] : form->All()) {
    Require(!name.empty() && web::IsUtf8(name) && web::IsUtf8(value));
    Require(names.insert(name).second);
    for (char c : name) Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  }
  try {
    const _BP_TRANSPORT_INFO plan = web::PlanFromForm(*form, Everything(), {"csrf", "d"});
    Require(plan.szPatientInfo1[30] == 0 && plan.szPatientInfo2[11] == 0);
    for (int interval : {plan.nPeriod1Interval, plan.nPeriod2Interval}) Require(interval >= 0 && interval <= 240);
  } catch (const bplink::plan::PlanError& e) {
    Require(std::string_view(e.what()).starts_with("the form: "));
  }
  return 0;
}
