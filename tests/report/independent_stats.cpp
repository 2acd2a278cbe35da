#include "independent_stats.h"

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

// Welford's running mean and variance; the report sums in two passes.
class Running {
 public:
  void Add(double x) {
    ++n_;
    const double delta = x - mean_;
    mean_ += delta / n_;
    m2_ += delta * (x - mean_);
  }
  Moments Result() const { return {n_, mean_, n_ > 1 ? std::sqrt(m2_ / (n_ - 1)) : 0.0}; }

 private:
  int n_ = 0;
  double mean_ = 0;
  double m2_ = 0;
};

std::string ClassOf(double dip) {
  if (dip <= 0) return "reverse dipper";
  if (dip < 10) return "non-dipper";
  if (dip <= 20) return "dipper";
  return "extreme dipper";
}

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  std::string cell;
  while (std::getline(in, cell, ',')) cells.push_back(cell);
  return cells;
}

}  // namespace

DayNightFigures ReckonFromCsv(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) throw std::runtime_error("empty " + path);
  std::map<std::string, std::size_t> column;
  const auto header = Cells(line);
  for (std::size_t i = 0; i < header.size(); ++i) column[header[i]] = i;

  Running day_sys, day_dia, night_sys, night_dia;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const auto cells = Cells(line);
    const double sys = std::stod(cells.at(column.at("sys")));
    const double dia = std::stod(cells.at(column.at("dia")));
    if (sys < 50 || sys > 240 || dia < 40 || dia > 140) continue;
    const bool awake = cells.at(column.at("awake")) == "1";
    (awake ? day_sys : night_sys).Add(sys);
    (awake ? day_dia : night_dia).Add(dia);
  }
  DayNightFigures f;
  f.day_sys = day_sys.Result();
  f.day_dia = day_dia.Result();
  f.night_sys = night_sys.Result();
  f.night_dia = night_dia.Result();
  f.sys_dip = 100 * (f.day_sys.mean - f.night_sys.mean) / f.day_sys.mean;
  f.dia_dip = 100 * (f.day_dia.mean - f.night_dia.mean) / f.day_dia.mean;
  f.sys_class = ClassOf(f.sys_dip);
  f.dia_class = ClassOf(f.dia_dip);
  return f;
}
