#pragma once
// Tables shared by the star and flare shapes: trigonometry in tenths of a
// degree, the distance cache, and the smallest value worth drawing.
//
// Angles are integers in tenths of a degree; every lookup reduces them
// modulo 3600 first. The tables are built once per process and never change
// afterwards, so readers on any thread take no lock.
#include <cstdint>

constexpr int32_t ANGLE_STEPS = 3600;  // tenths of a degree in a full turn

// Builds the cosine and half-cosine tables; idempotent, any thread.
void BuildEffectTables();

// cos(angle) from the table.
float CosineOf(int64_t tenths);
// (1 + cos(angle)) / 2 as a fraction (0xFFFFFFFE = 1).
uint32_t HalfCosineOf(int64_t tenths);

// The smallest sample weight or stamp value that can still change an image
// of this depth (fraction units).
uint32_t MinimumVisibleValue(int32_t bytesPerChannel);

// Distance of a quarter-pixel offset from the origin, in tenths of a quarter
// pixel (about 40 per pixel), rounded to nearest. Short distances come from
// a cache filled on first use.
uint32_t DistanceTenths(int64_t dxQuarters, int64_t dyQuarters);
// The smallest squared distance (quarter pixels squared) whose distance in
// tenths is at least `tenths`: DistanceTenths only grows with the square, so
// these bounds let a loop follow the distance without a root per pixel.
int64_t SmallestSquareWithTenths(uint32_t tenths);
