#include "creep.h"

#include <windows.h>

#include <cmath>
#include <random>

namespace vellum {
namespace progress {

RandomDraw ClockSeededDraw() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    // The engine travels inside the function object (whose owner moves it,
    // never copies it).
    return [engine = std::mt19937(now.dwLowDateTime ^ now.dwHighDateTime)]() mutable {
        // The integer part of a number in [0, 1) times the range.
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        int r = static_cast<int>(unit(engine) * kDrawRange);
        return r < kDrawRange ? r : kDrawRange - 1;
    };
}

short RoundHalfEven(float v) {
    float r = std::nearbyint(v);  // the default rounding mode is to nearest, ties to even
    if (r > 32767.0f) return 32767;
    if (r < -32768.0f) return -32768;
    return static_cast<short>(r);
}

void CreepTick(short& progressValue, short currentMax, BarState& bar, const RandomDraw& draw) {
    // Catch up: a bar already past the position (set by the script) pulls it along.
    if (bar.value > static_cast<float>(progressValue)) progressValue = RoundHalfEven(bar.value);

    if (!(currentMax >= 1 && bar.value < static_cast<float>(currentMax))) return;

    int r = draw();
    if (r == kShowDraw) {
        float shown = static_cast<float>(progressValue);
        if (shown > bar.max) shown = bar.max;
        if (shown < bar.min) shown = bar.min;
        bar.value = shown;
    } else if (bar.max - static_cast<float>(kStep) > static_cast<float>(progressValue)) {
        progressValue = static_cast<short>(progressValue + kStep);
    }
}

}  // namespace progress
}  // namespace vellum
