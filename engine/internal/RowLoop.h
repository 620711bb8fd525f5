// What the effects' row loops share: the host's polling.
#pragma once

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

// Glow over the frame's rows, from the centres that `window` selects in the input, with the
// stamp reach e, carried out as `tuning` asks; polls the host before each row when `poll`
// is set.
void RenderGlow(RenderContext& context, const ColourWindow& window, int32_t e,
                const EngineTuning& tuning, RowLoop& loop, bool poll);
