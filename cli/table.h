// A plain text table: a header row, a rule, and aligned columns.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace bplink::cli {

class Table {
 public:
  enum class Align { kLeft, kRight };

  void AddColumn(std::string title, Align align = Align::kRight);
  void AddRow(std::vector<std::string> cells);
  void Print(std::ostream& out) const;

 private:
  struct Column {
    std::string title;
    Align align;
  };
  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace bplink::cli
