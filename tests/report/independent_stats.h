// The day and night numbers of a CSV with an awake column, reckoned again
// from their definitions without any of the report's code, to hold the
// report against: artifacts (systolic outside 50..240 or diastolic outside
// 40..140 mmHg) left out, awake 1 is day, sample SD, dipping
// 100 * (1 - night / day) with its class.
#pragma once

#include <string>

struct Moments {
  int n = 0;
  double mean = 0;
  double sd = 0;
};

struct DayNightFigures {
  Moments day_sys, day_dia, night_sys, night_dia;
  double sys_dip = 0, dia_dip = 0;
  std::string sys_class, dia_class;
};

DayNightFigures ReckonFromCsv(const std::string& path);
