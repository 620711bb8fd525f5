// Placeholder until the effects land: the copy of input to output only.
#include <cstring>

#include "engine/Engine.h"
#include "engine/RenderFrame.h"

RenderFrame g_renderFrame;

void RenderPixels(const PixelBuffers& b, const EffectSettings&, const HostPolling&) {
  for (int32_t y = 0; y < b.height; ++y)
    std::memcpy(b.output + size_t(y) * b.outRowBytes, b.input + size_t(y) * b.inRowBytes,
                size_t(b.width) * b.planes);
}
