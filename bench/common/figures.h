// What every benchmark ends with: each figure as the median of its rounds against a floor
// measured in the same run, one line per figure:
//   <figure>: <this> <unit> vs <floor> <unit> = <ratio>
// and, before it, the minimum, median and maximum of the rounds of both.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace figures {

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline void PrintRounds(const std::string& what, const std::vector<double>& rounds,
                        const char* unit) {
  if (rounds.empty()) {
    std::printf("%s: no rounds\n", what.c_str());
    return;
  }
  auto mm = std::minmax_element(rounds.begin(), rounds.end());
  std::printf("%s, %zu rounds: min %.4g %s, median %.4g %s, max %.4g %s\n", what.c_str(),
              rounds.size(), *mm.first, unit, Median(rounds), unit, *mm.second, unit);
}

inline void PrintFigure(const std::string& figure, double mine, double floor, const char* unit) {
  std::printf("%s: %.4g %s vs %.4g %s = %.2f\n", figure.c_str(), mine, unit, floor, unit,
              floor > 0 ? mine / floor : 0.0);
}

}  // namespace figures
