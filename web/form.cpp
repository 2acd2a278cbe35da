#include "form.h"

#include <algorithm>

namespace bplink::web {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One name or value of a form: '+' and %XX decoded.
std::optional<std::string> Unescape(std::string_view text, std::string& why) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      const bool whole = i + 2 < text.size();
      const int high = whole ? HexDigit(text[i + 1]) : -1;
      const int low = whole ? HexDigit(text[i + 2]) : -1;
      if (high < 0 || low < 0) {
        why = "a '%' not followed by two hexadecimal digits";
        return std::nullopt;
      }
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// A control character a form has no use for: all but tab, CR and LF in a
// value, all of them in a name.
bool HasControl(std::string_view text, bool value) {
  return std::any_of(text.begin(), text.end(), [value](char c) {
    const auto u = static_cast<unsigned char>(c);
    if (value && (c == '\t' || c == '\r' || c == '\n')) return false;
    return u < 0x20 || u == 0x7F;
  });
}

}  // namespace

std::optional<std::string> Fields::Get(std::string_view name) const {
  for (const auto& [n, v] : fields_)
    if (n == name) return v;
  return std::nullopt;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t more = 0;
    unsigned code = 0, least = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      more = 1, code = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2, code = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3, code = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + more >= text.size()) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

std::optional<Fields> DecodeForm(std::string_view text, std::string& why) {
  Fields fields;
  if (text.size() > kMaxFormBytes) {
    why = "the form is longer than " + std::to_string(kMaxFormBytes) + " bytes";
    return std::nullopt;
  }
  if (text.empty()) return fields;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find('&', at), text.size());
    const std::string_view pair = text.substr(at, end - at);
    at = end + 1;
    const std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos) {
      why = "a field without '='";
      return std::nullopt;
    }
    std::optional<std::string> name = Unescape(pair.substr(0, equals), why);
    if (!name) return std::nullopt;
    std::optional<std::string> value = Unescape(pair.substr(equals + 1), why);
    if (!value) return std::nullopt;
    if (name->empty()) {
      why = "a field without a name";
      return std::nullopt;
    }
    if (!IsUtf8(*name) || !IsUtf8(*value)) {
      why = "field " + std::string(IsUtf8(*name) ? *name : "?") + ": not UTF-8 text";
      return std::nullopt;
    }
    if (HasControl(*name, false) || HasControl(*value, true)) {
      why = "field " + (HasControl(*name, false) ? std::string("?") : *name) + ": a control character";
      return std::nullopt;
    }
    if (fields.Has(*name)) {
      why = "field " + *name + " given twice";
      return std::nullopt;
    }
    if (fields.All().size() == kMaxFields) {
      why = "more than " + std::to_string(kMaxFields) + " fields";
      return std::nullopt;
    }
    fields.Add(std::move(*name), std::move(*value));
  }
  return fields;
}

std::string_view QueryOf(std::string_view target) {
  const std::size_t mark = target.find('?');
  if (mark == std::string_view::npos) return {};
  std::string_view query = target.substr(mark + 1);
  // A fragment is never sent, but a hand-made request may carry one.
  return query.substr(0, query.find('#'));
}

std::string EncodeQueryValue(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    }
  }
  return out;
}

std::optional<std::string> CookieValue(std::string_view header, std::string_view name) {
  std::optional<std::string> found;
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find(';', at);
    if (end == std::string_view::npos) end = header.size();
    std::string_view pair = header.substr(at, end - at);
    at = end + 1;
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    while (!pair.empty() && pair.back() == ' ') pair.remove_suffix(1);
    const std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos || pair.substr(0, equals) != name) continue;
    if (found) return std::nullopt;
    found = std::string(pair.substr(equals + 1));
  }
  return found;
}

bool IsLoopbackHost(std::string_view host, int port) {
  std::string_view name;
  std::string_view port_text;
  if (host.starts_with("[")) {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = host.substr(0, close + 1);
    const std::string_view rest = host.substr(close + 1);
    if (!rest.starts_with(":")) return false;
    port_text = rest.substr(1);
  } else {
    const std::size_t colon = host.find(':');
    if (colon == std::string_view::npos) return false;
    name = host.substr(0, colon);
    port_text = host.substr(colon + 1);
  }
  if (port_text.empty() || port_text.size() > 5 ||
      !std::all_of(port_text.begin(), port_text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  if (std::stoi(std::string(port_text)) != port) return false;
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return lower == "localhost" || lower == "127.0.0.1" || lower == "[::1]";
}

bool IsOwnOrigin(std::string_view origin, int port) {
  constexpr std::string_view kScheme = "http://";
  return origin.starts_with(kScheme) && IsLoopbackHost(origin.substr(kScheme.size()), port);
}

}  // namespace bplink::web
