#include "table.h"

#include <algorithm>

namespace bplink::cli {
namespace {

constexpr const char* kGap = "  ";

// A left-aligned last column is not padded, so no line ends in blanks.
void PrintCell(std::ostream& out, const std::string& text, std::size_t width, Table::Align align,
               bool last) {
  const std::string pad(width - std::min(width, text.size()), ' ');
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
  for (const auto& column : columns_) widths.push_back(column.title.size());
  for (const auto& row : rows_)
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());

  std::size_t total = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    out << (i ? kGap : "");
    PrintCell(out, columns_[i].title, widths[i], columns_[i].align, i + 1 == columns_.size());
    total += widths[i] + (i ? 2 : 0);
  }
  out << '\n' << std::string(total, '-') << '\n';
  for (const auto& row : rows_) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      out << (i ? kGap : "");
      PrintCell(out, row[i], widths[i], columns_[i].align, i + 1 == row.size());
    }
    out << '\n';
  }
}

}  // namespace bplink::cli
