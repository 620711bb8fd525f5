// What the effects' row loops share: the host's polling.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/Engine.h"
#include "engine/internal/Exactness.h"

struct RenderContext;

// The host's side of one render: one abort check and one progress call per row, made only
// from the thread that called the engine.
struct RowLoop {
  const HostPolling& polling;
  int32_t count;
  int32_t total;

  // False when the host asks to stop before this row.
  bool Poll() {
    if (polling.abort && polling.abort(polling.context)) return false;
    if (polling.progress) polling.progress(polling.context, count, total);
    ++count;
    return true;
  }
};

// What one Glow render draws: the centres that `window` selects in the input, stamped with
// the reach e and the kernel of the stored radius in the effect colour (red in bits 0-7,
// green 8-15, blue 16-23). With `copy` the output is still to be copied from the input.
struct GlowJob {
  ColourWindow window;
  int32_t e;
  int32_t radius;
  uint32_t colour;
  bool copy;
};

// The input and output of a 16-bit render whose 8-bit render Glow draws in the second half of
// each output row (engine/Render.cpp): their rows of 16-bit words, and the samples of a row.
struct DeepRows {
  const uint8_t* input;
  size_t inStride;
  size_t samples;
  uint8_t* output;
  size_t outStride;
};

// Glow over the frame's rows, carried out as `tuning` asks; polls the host before each row
// when `poll` is set. The kernel is built only when some pixel is to be stamped. With `deep`
// the frame's rows are the second halves of the 16-bit output rows: the output becomes the
// 16-bit input, narrowed to 8 bits there and widened again (SixteenBitResult) where stamps
// can change it; false, with nothing done, when the work memory for that cannot be had.
bool RenderGlow(RenderContext& context, const GlowJob& job, const EngineTuning& tuning,
                RowLoop& loop, bool poll, const DeepRows* deep = nullptr);

// What one Sparkle render draws: stars from the pixels that `window` selects in the output as
// it is drawn, in `colour`, with streaks of up to twice `length`.
struct EffectColour {
  int32_t red, green, blue;
};
struct SparkleJob {
  ColourWindow window;
  EffectColour colour;
  int32_t threshold;
  int32_t length;
  int32_t angle;
  int32_t streaks;
};

// Sparkle over the frame's rows, polling the host before each row; on the render's threads
// where its stars are worth sharing.
void RenderSparkle(RenderContext& context, const SparkleJob& job, const EngineTuning& tuning,
                   RowLoop& loop);
