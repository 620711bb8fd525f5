// The engine's building blocks, shared by the render loop and its tests. They work in the
// render's context: its frame (output buffer, strides and bounds) and its tables.
#pragma once

#include <cstdint>

#include "engine/Engine.h"
#include "engine/internal/Exactness.h"

struct RenderContext;

// Largest radius the glow table holds: offsets run from -kMaxRadius to kMaxRadius - 1.
constexpr int32_t kMaxRadius = 100;
constexpr int32_t kGlowKernelSize = 2 * kMaxRadius;

// Three weights (red, green, blue) per pair of offsets. The entry for (a, b) is
// kernel[a + kMaxRadius][b + kMaxRadius].
using GlowKernelTable = int32_t[kGlowKernelSize][kGlowKernelSize][3];

// colour: red in bits 0-7, green 8-15, blue 16-23. A radius outside 0..100 is built as the
// nearest bound, so the table is never overrun. Forgets the stamp layout of the old kernel.
void BuildGlowKernel(RenderContext& context, double radius, uint32_t colour);

// Blends the kernel's central (2e + 1)^2 entries around (x, y) into the output.
// e is limited to 0..100, the reach of the table.
void StampGlow(RenderContext& context, int32_t x, int32_t y, int32_t e);

// The same stamp on rows firstRow to endRow - 1 of the frame only, with the layout prepared
// (GlowPaths.h): a band of rows that one thread draws.
void StampGlowRows(const RenderContext& context, int32_t x, int32_t y, int32_t firstRow,
                   int32_t endRow);

// One star of `streaks` directions from `angle` degrees, each of a random length up to
// twice `length`. A star with no streaks (0 or fewer) draws nothing and draws no random
// numbers; more than 360 streaks draw one direction per degree.
void DrawSparkle(RenderContext& context, int32_t x, int32_t y, int32_t red, int32_t green,
                 int32_t blue, int32_t length, double angle, int32_t streaks);

// Deposits one point of colour on the four pixels around (px, py).
void SplatPoint(const RenderContext& context, double px, double py, int32_t c0, int32_t c1,
                int32_t c2);

// exp(x) for x in [-1, 0] within 1e-12 of the exact value: the fast path of the splat
// weights, used only where the truncated products cannot come out otherwise than with the
// library's exp.
double SplatExp(double x);

// v after n additions of s, each rounded to the nearest double, as a streak's walk steps its
// coordinates; found in a few operations for each power of two that v passes.
double AfterSteps(double v, double s, int32_t n);

// (low + high) / 2 of one component's clamped window: the effect colour when no custom
// colour is set.
int32_t WindowMidpoint(int32_t c, int32_t threshold);

// The stored radius divided by the scale, truncated, limited to 0..100. A scale that is
// not a positive number counts as 1.
int32_t EffectiveRadius(int32_t radius, float scale);

// A stored radius outside 0..100 is used as the nearest bound.
int32_t ClampRadius(int32_t radius);
