// What the server decodes itself, strictly: a form body or a URL's query
// (application/x-www-form-urlencoded), a cookie, the Host and Origin
// headers. HTTP itself (request lines, headers, chunking) is cpp-httplib's;
// these are the few texts the workstation reads out of a request. Anything
// malformed is refused with the reason, never guessed at: the server then
// answers 400 and changes nothing.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bplink::web {

// A form's or query's fields, in the order given, each name once.
class Fields {
 public:
  // The value of `name`, or nullopt when the form has no such field.
  std::optional<std::string> Get(std::string_view name) const;
  bool Has(std::string_view name) const { return Get(name).has_value(); }
  const std::vector<std::pair<std::string, std::string>>& All() const { return fields_; }
  void Add(std::string name, std::string value) { fields_.emplace_back(std::move(name), std::move(value)); }

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

// More than any form of the workstation holds.
inline constexpr std::size_t kMaxFields = 100;
inline constexpr std::size_t kMaxFormBytes = 16 * 1024;

// Decodes "name=value&name=value": '+' is a space, %XX a byte. Refuses
// (nullopt, and `why` says it) a '%' without two hex digits after it, a
// field without '=', an empty name, a name given twice, a name or value
// that is not UTF-8 once decoded or holds a control character (a value may
// hold a line break or a tab), more than kMaxFields fields, and text longer
// than kMaxFormBytes. "" is a form without fields.
std::optional<Fields> DecodeForm(std::string_view text, std::string& why);

// The query of a request target: "/device?d=usb" gives "d=usb"; "" when it
// has none.
std::string_view QueryOf(std::string_view target);

// Text as a URL's query value: letters, digits and "-._~" as they are,
// everything else %XX.
std::string EncodeQueryValue(std::string_view text);

// The value of cookie `name` in a Cookie header ("a=1; b=2"); nullopt when
// it is not there, or is there twice (a cookie set by another page of the
// same host could otherwise shadow ours).
std::optional<std::string> CookieValue(std::string_view header, std::string_view name);

// Whether a Host header names this server by a loopback name: localhost,
// 127.0.0.1 or [::1], with `port`. Anything else is refused: a page of
// another site whose name was made to resolve to 127.0.0.1 (DNS
// rebinding) sends its own name.
bool IsLoopbackHost(std::string_view host, int port);
// Whether an Origin header is this server's own: http:// and a loopback Host.
bool IsOwnOrigin(std::string_view origin, int port);

// Whether `text` is UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

}  // namespace bplink::web
