#include "platform/mirvane/text_match.h"

#include <algorithm>

namespace mirvane {

double WordAccuracy(const std::vector<std::string>& expected,
                    const std::vector<std::string>& recognised, std::vector<bool>* matched) {
  const std::size_t n = expected.size(), m = recognised.size();
  if (matched) matched->assign(n, false);
  if (n == 0) return 0;
  // Edit distance over words, keeping the table to trace back which expected words matched.
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j)
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (expected[i - 1] == recognised[j - 1] ? 0 : 1)});
  if (matched) {
    std::size_t i = n, j = m;
    while (i > 0 && j > 0) {
      bool same = expected[i - 1] == recognised[j - 1];
      if (d[i][j] == d[i - 1][j - 1] + (same ? 0 : 1)) {
        (*matched)[i - 1] = same;
        --i;
        --j;
      } else if (d[i][j] == d[i - 1][j] + 1) {
        --i;
      } else {
        --j;
      }
    }
  }
  double errors = static_cast<double>(d[n][m]);
  return std::max(0.0, 1.0 - errors / static_cast<double>(n));
}

double KeywordCoverage(const std::vector<std::string>& keywords,
                       const std::vector<std::string>& recognised, std::vector<std::string>* found) {
  if (keywords.empty()) return 1;
  std::size_t hits = 0;
  for (const std::string& keyword : keywords) {
    if (std::find(recognised.begin(), recognised.end(), keyword) == recognised.end()) continue;
    ++hits;
    if (found) found->push_back(keyword);
  }
  return static_cast<double>(hits) / static_cast<double>(keywords.size());
}

}  // namespace mirvane
