#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace kv::bench {

// Onset errors against their schedule, in ms: the mean (which holds the constant offsets) and
// the magnitudes' 99th percentile and maximum.
struct TimingErrors {
    double mean = 0;
    double p99 = 0;
    double max = 0;

    static TimingErrors of(const std::vector<double>& errors) {
        TimingErrors summary;
        if (errors.empty()) return summary;
        std::vector<double> magnitudes;
        for (const double error : errors) {
            summary.mean += error / static_cast<double>(errors.size());
            magnitudes.push_back(std::abs(error));
        }
        std::sort(magnitudes.begin(), magnitudes.end());
        summary.p99 = magnitudes[static_cast<std::size_t>(0.99 * static_cast<double>(magnitudes.size() - 1))];
        summary.max = magnitudes.back();
        return summary;
    }
};

}  // namespace kv::bench
