#include "table.h"

#include <algorithm>
#include <sstream>

namespace bplink::cli {
namespace {

constexpr const char* kGap = "  ";

// Columns a UTF-8 text takes on a terminal: one per character, not per byte.
std::size_t Width(const std::string& text) {
  constexpr unsigned char kContinuationMask = 0xC0, kContinuation = 0x80;
  std::size_t width = 0;
  for (const char c : text) width += (static_cast<unsigned char>(c) & kContinuationMask) != kContinuation;
  return width;
}

// A left-aligned last column is not padded, so no line ends in blanks.
void PrintCell(std::ostream& out, const std::string& text, std::size_t width, Table::Align align,
               bool last) {
  const std::string pad(width - std::min(width, Width(text)), ' ');
  if (align == Table::Align::kRight)
    out << pad << text;
  else
    out << text << (last ? "" : pad);
}

}  // namespace

void Table::AddColumn(std::string title, Align align) {
  columns_.push_back({std::move(title), align});
}

void Table::AddRow(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  rows_.push_back(std::move(cells));
}

void Table::Print(std::ostream& out) const {
  std::vector<std::size_t> widths;
  for (const auto& column : columns_) widths.push_back(Width(column.title));
  for (const auto& row : rows_)
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));

  // An empty last cell would leave blanks at the end of the line: cut.
  const auto line = [&](const auto& cell) {
    std::ostringstream text;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      text << (i ? kGap : "");
      PrintCell(text, cell(i), widths[i], columns_[i].align, i + 1 == columns_.size());
    }
    std::string s = text.str();
    s.erase(s.find_last_not_of(' ') + 1);
    out << s << '\n';
  };
  std::size_t total = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) total += widths[i] + (i ? 2 : 0);
  line([this](std::size_t i) -> const std::string& { return columns_[i].title; });
  out << std::string(total, '-') << '\n';
  for (const auto& row : rows_) line([&row](std::size_t i) -> const std::string& { return row[i]; });
}

}  // namespace bplink::cli
