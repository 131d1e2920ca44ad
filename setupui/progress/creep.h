// The creep of the progress window: between the script's updates the bar
// moves toward its target in small irregular steps, so that a long silent
// stretch of the installation still looks alive. Kept free of any window so
// that every tick can be checked on its own.
#pragma once
#include <functional>

namespace vellum {
namespace progress {

// What the creep sees of the progress bar. The bar holds integer positions;
// values are carried as float because every comparison of the creep is made
// in single precision.
struct BarState {
    float value = 0;
    float min = 0;
    float max = 200;
};

// Draws r, a whole number from 0 to 4, uniformly.
using RandomDraw = std::function<int()>;

// The random source of a window: seeded from the clock at load.
RandomDraw ClockSeededDraw();

// Constants of the creep: r ranges over 0..kDrawRange-1; a draw of kShowDraw
// shows the position; otherwise the position advances by kStep, never
// beyond the maximum minus kStep.
constexpr int kDrawRange = 5;
constexpr int kShowDraw = 3;
constexpr int kStep = 1;

// One tick of the creep timer. progressValue is the hidden position,
// currentMax the target. The shown value is clamped into the bar's range: a
// maximum lowered below the position must not push the bar past its end.
void CreepTick(short& progressValue, short currentMax, BarState& bar, const RandomDraw& draw);

// Rounds to the nearest integer, ties to even (the catch-up of the position).
short RoundHalfEven(float v);

}  // namespace progress
}  // namespace vellum
