// How closely recognised words follow expected ones.
#pragma once

#include <string>
#include <vector>

namespace mirvane {

// Word accuracy, 0..1: (expected words - substitutions - deletions - insertions) / expected
// words, never below 0. |matched|, when given, receives for each expected word whether the
// best alignment kept it.
double WordAccuracy(const std::vector<std::string>& expected,
                    const std::vector<std::string>& recognised,
                    std::vector<bool>* matched = nullptr);

// The share (0..1) of |keywords| found among |recognised|; 1 when there are none.
double KeywordCoverage(const std::vector<std::string>& keywords,
                       const std::vector<std::string>& recognised,
                       std::vector<std::string>* found = nullptr);

}  // namespace mirvane
