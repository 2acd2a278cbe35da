#include <bplink/archive/labels.h>

namespace bplink::archive {
namespace {

constexpr unsigned char kLatin1Lead = 0xC3;     // UTF-8 lead byte of U+00C0..U+00FF
constexpr unsigned char kCapitalFirst = 0x80;   // À
constexpr unsigned char kCapitalLast = 0x9E;    // Þ
constexpr unsigned char kMultiplication = 0x97; // ×, which has no lower case
constexpr unsigned char kToSmall = 0x20;        // À (C3 80) to à (C3 A0)

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::string LabelKey(std::string_view label) {
  std::string key;
  key.reserve(label.size());
  bool space = false;
  for (std::size_t i = 0; i < label.size(); ++i) {
    const char c = label[i];
    if (IsSpace(c)) {
      space = !key.empty();
      continue;
    }
    if (space) key += ' ';
    space = false;
    const auto byte = static_cast<unsigned char>(c);
    if (c >= 'A' && c <= 'Z') {
      key += static_cast<char>(c - 'A' + 'a');
    } else if (byte == kLatin1Lead && i + 1 < label.size()) {
      auto next = static_cast<unsigned char>(label[++i]);
      if (next >= kCapitalFirst && next <= kCapitalLast && next != kMultiplication) next += kToSmall;
      key += c;
      key += static_cast<char>(next);
    } else {
      key += c;
    }
  }
  return key;
}

}  // namespace bplink::archive
