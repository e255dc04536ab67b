// Spread: the lowest, highest and median of a benchmark's rounds, so a figure
// is never read from one lucky or unlucky round.
#pragma once

#include <algorithm>
#include <vector>

namespace bench {

struct Range {
    double Low = 1e30, High = 0;
    void Add(double Value) {
        Low = std::min(Low, Value);
        High = std::max(High, Value);
    }
};

inline double Median(std::vector<double> Values) {
    if (Values.empty())
        return 0;
    std::sort(Values.begin(), Values.end());
    const size_t n = Values.size();
    return n % 2 ? Values[n / 2] : (Values[n / 2 - 1] + Values[n / 2]) / 2;
}

} // namespace bench
