// The wording helpers every platform's transport shares.

#include "link_error.h"

#include <cctype>

namespace bplink {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kHighSurrogateFirst = 0xD800, kLowSurrogateFirst = 0xDC00, kSurrogateEnd = 0xE000;
constexpr char32_t kLastCodePoint = 0x10FFFF;

void AppendUtf8(std::string& out, char32_t c) {
  if (c >= kHighSurrogateFirst && c < kSurrogateEnd) c = kReplacement;
  if (c > kLastCodePoint) c = kReplacement;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::string Utf8(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    // A UTF-16 pair (only where wchar_t is 16 bits wide).
    if (sizeof(wchar_t) == 2 && c >= kHighSurrogateFirst && c < kLowSurrogateFirst && i + 1 < text.size()) {
      const char32_t low = static_cast<char32_t>(text[i + 1]);
      if (low >= kLowSurrogateFirst && low < kSurrogateEnd) {
        c = 0x10000 + ((c - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst);
        ++i;
      }
    }
    AppendUtf8(out, c);
  }
  return out;
}

LinkError LastLinkError(const CDevice& device) {
  if (const auto* com = dynamic_cast<const CDevice_COM*>(&device)) return com->GetLastLinkError();
  if (const auto* hid = dynamic_cast<const CDevice_HID*>(&device)) return hid->GetLastLinkError();
  if (const auto* link = dynamic_cast<const CDevice_Bluetooth*>(&device)) return link->GetLastLinkError();
  return {};
}

std::string TidyOsWording(std::string text) {
  while (!text.empty() && IsSpace(text.back())) text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && IsSpace(text[start])) ++start;
  text.erase(0, start);
  const auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
  if (!text.empty() && upper(text[0]) && (text.size() == 1 || (!upper(text[1]) && text[1] != '/')))
    text[0] = static_cast<char>(text[0] - 'A' + 'a');
  return text;
}

}  // namespace bplink
