// The engine's building blocks, shared by the render loop and its tests. They work on
// g_renderFrame: its output buffer, strides and bounds.
#pragma once

#include <cstdint>

// Largest radius the glow table holds: offsets run from -kMaxRadius to kMaxRadius - 1.
constexpr int32_t kMaxRadius = 100;
constexpr int32_t kGlowKernelSize = 2 * kMaxRadius;

void SeedRandom(uint32_t state);
int32_t NextRandom();  // 0 to 32767

// Three weights (red, green, blue) per pair of offsets. The entry for (a, b) is
// GlowKernel[a + kMaxRadius][b + kMaxRadius].
using GlowKernelTable = int32_t[kGlowKernelSize][kGlowKernelSize][3];
extern GlowKernelTable GlowKernel;

// colour: red in bits 0-7, green 8-15, blue 16-23. A radius outside 0..100 is built as the
// nearest bound, so the table is never overrun.
void BuildGlowKernel(double radius, uint32_t colour);

// Blends the kernel's central (2e + 1)^2 entries around (x, y) into the output.
// e is limited to 0..100, the reach of the table.
void StampGlow(int32_t x, int32_t y, int32_t e);

// How renders are carried out. Every choice gives the same bytes and the same host calls;
// tests pin them to compare each with the plain rules, renders leave them automatic.
enum class GlowPath {
  Automatic,  // by the share of centres among the pixels
  Stamps,     // each centre's stamp in raster order
  Gather,     // each output pixel from the centres that reach it
};
struct EngineTuning {
  GlowPath glow = GlowPath::Automatic;
  int32_t threads = 0;        // for the gather, 1 or 2; 0: two on a machine of two cores
  bool noWorkMemory = false;  // behave as if the gather's centre map could not be had
};
extern EngineTuning g_engineTuning;

// One star of `streaks` directions from `angle` degrees, each of a random length up to
// twice `length`. A star with no streaks (0 or fewer) draws nothing and draws no random
// numbers; more than 360 streaks draw one direction per degree.
void DrawSparkle(int32_t x, int32_t y, int32_t red, int32_t green, int32_t blue, int32_t length,
                 double angle, int32_t streaks);

// Deposits one point of colour on the four pixels around (px, py).
void SplatPoint(double px, double py, int32_t c0, int32_t c1, int32_t c2);

// exp(x) for x in [-1, 0] within 1e-12 of the exact value: the fast path of the splat
// weights, used only where the truncated products cannot come out otherwise than with the
// library's exp.
double SplatExp(double x);

// The inclusive window of one colour component: c - threshold .. c + threshold, clamped
// to 0..255. Empty (low > high) for a negative threshold or a colour outside 0..255.
struct ColourWindow {
  int32_t lowRed, highRed, lowGreen, highGreen, lowBlue, highBlue;
};
ColourWindow MakeColourWindow(int32_t red, int32_t green, int32_t blue, int32_t threshold);

// (low + high) / 2 of one component's clamped window: the effect colour when no custom
// colour is set.
int32_t WindowMidpoint(int32_t c, int32_t threshold);

// The stored radius divided by the scale, truncated, limited to 0..100. A scale that is
// not a positive number counts as 1.
int32_t EffectiveRadius(int32_t radius, float scale);

// A stored radius outside 0..100 is used as the nearest bound.
int32_t ClampRadius(int32_t radius);
