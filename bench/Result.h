#pragma once

// One machine-readable line per figure, for scripts/bench.sh and bench/report.py:
//   RESULT name=sync_time label="..." value=12.5 unit="ms" peer="..." peer_value=4.1 ratio=3.05
//          ratio_is="program / peer" target="ratio<=3"
// The target compares the ratio or the value; an empty one marks a figure for information.
// A figure that could not be measured is printed as nan. Texts hold no double quotes.

#include <cmath>
#include <cstdio>
#include <string>

namespace kv::bench {

struct Result {
    std::string name;
    std::string label;
    double value = NAN;
    std::string unit;
    std::string peer;
    double peerValue = NAN;
    double ratio = NAN;
    std::string ratioIs;
    std::string target;
};

inline void printResult(const Result& result) {
    std::printf("RESULT name=%s label=\"%s\" value=%.6g unit=\"%s\"", result.name.c_str(),
                result.label.c_str(), result.value, result.unit.c_str());
    if (!result.peer.empty()) {
        std::printf(" peer=\"%s\" peer_value=%.6g ratio=%.4g ratio_is=\"%s\"", result.peer.c_str(),
                    result.peerValue, result.ratio, result.ratioIs.c_str());
    }
    std::printf(" target=\"%s\"\n", result.target.c_str());
    std::fflush(stdout);
}

// A measured time, or nan where the bench's own "no figure" marker (negative or its 1e9 start
// value) stands instead.
inline double measured(double seconds) {
    return seconds < 0 || seconds >= 1e9 ? NAN : seconds;
}

} // namespace kv::bench
