#include "host/RenderEffect.h"

#include <cstdint>

#include "engine/Engine.h"
#include "platform/Environment.h"

namespace {

bool PollAbort(void* context) {
  auto* record = static_cast<FilterRecord*>(context);
  return (record->abortProc() & 0xFF) != 0;  // only the low byte is the Boolean
}

void PollProgress(void* context, int32_t done, int32_t total) {
  static_cast<FilterRecord*>(context)->progressProc(done, total);
}

// Hosts that leave rowBytes unset (or too small) are taken to deliver packed rows.
int32_t RowStride(int32_t rowBytes, int32_t packed) {
  return rowBytes >= packed ? rowBytes : packed;
}

}  // namespace

bool RenderEffect(PluginGlobals* globals, RenderContext& context, const RenderOptions& options,
                  PixelBuffers* rendered) {
  FilterRecord* record = globals->filterRecord;
  const EffectParams* params = ParamsOf(*globals);
  if (!params) return false;

  int32_t width = int32_t(record->inRect.right) - record->inRect.left;
  int32_t height = int32_t(record->inRect.bottom) - record->inRect.top;
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  const int32_t depth = DocumentDepth(*record);
  const int32_t planes = record->planes;
  const int64_t wide = int64_t(width) * (planes > 0 ? planes : 0) * (depth / 8);
  if (wide > INT32_MAX) return false;  // rows no host record can describe
  const int32_t packed = int32_t(wide);
  // A host that reports success without delivering the buffers gets nothing drawn.
  if (width > 0 && height > 0 && packed > 0 && (!record->inData || !record->outData)) return false;

  PixelBuffers buffers{static_cast<const uint8_t*>(record->inData),
                       RowStride(record->inRowBytes, packed),
                       static_cast<uint8_t*>(record->outData),
                       RowStride(record->outRowBytes, packed),
                       width,
                       height,
                       planes,
                       depth};
  EffectSettings settings{params->red,       params->green,  params->blue,
                          params->threshold, params->radius, params->angle,
                          params->streaks,   params->mode,   params->scale};
  HostPolling polling{record, record->abortProc ? PollAbort : nullptr,
                      record->progressProc ? PollProgress : nullptr};
  RenderOptions tuned = options;
  tuned.tuning.threads = LoadedThreadCount();
  RenderPixels(context, buffers, settings, tuned, polling);
  if (rendered) *rendered = buffers;
  return true;
}

RenderContext* LoadedRenderContext() {
  static RenderContextPtr context;
  if (!context) context = NewRenderContext();
  return context.get();
}

int32_t LoadedThreadCount() {
  char text[8] = {};
  if (!platform::EnvironmentValue("CORVANEL_THREADS", text, sizeof text)) return 0;
  int32_t n = 0;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9' || n > 64) return 0;
    n = n * 10 + (*c - '0');
  }
  return n <= 64 ? n : 0;
}
