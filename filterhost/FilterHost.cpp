#include "filterhost/FilterHost.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "filterhost/Descriptors.h"
#include "filterhost/PixelDisplay.h"
#include "filterhost/PluginModule.h"

namespace {

// The plug-in's callbacks carry no context, so they find the running host here.
std::atomic<FilterHost*> g_running{nullptr};
std::atomic<bool> g_abort{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

bool IsEmpty(const Rect& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

bool ValidPadding(int16_t padding) {
  return padding == kWantsEdgeReplication || padding == kDoesNotWantPadding ||
         padding == kWantsErrorOnBoundsException || (padding >= 0 && padding <= 255);
}

// Copies rect (in the coordinates of the image reduced by factor) of planes lo..hi out of
// the image, interleaved, each row followed by pad bytes (none after the last). Down-sampling
// takes the top-left sample of each factor x factor block: every delivered pixel is one the
// image really has, so a colour picked from a reduced preview is found again in the full image.
OSErr Fetch(const Image& image, const Rect& rect, int16_t lo, int16_t hi, int32_t factor,
            int16_t padding, int32_t pad, std::vector<uint8_t>* buffer, void** data,
            int32_t* rowBytes) {
  *data = nullptr;
  *rowBytes = 0;
  // A buffer is reused without being cleared when it is filled again.
  auto none = [buffer](OSErr result) {
    buffer->clear();
    return result;
  };
  if (IsEmpty(rect)) return none(kNoErr);
  if (lo < 0 || hi < lo || hi >= image.planes || !ValidPadding(padding))
    return none(kFilterBadParameters);

  // Counted in bytes from here: a pixel is `bytes` long, a sample `sample`.
  const int64_t sample = int64_t(image.sampleBytes());
  const int64_t width = int64_t(rect.right) - rect.left;
  const int64_t height = int64_t(rect.bottom) - rect.top;
  const int64_t bytes = (int64_t(hi) - lo + 1) * sample;
  const int64_t imageBytes = int64_t(image.planes) * sample;
  const int64_t packed = width * bytes;
  const int64_t stride = packed + pad;
  if (stride > INT32_MAX) return none(kMemFullErr);

  // Source coordinates of the first and last delivered sample.
  const int64_t left = int64_t(rect.left) * factor, top = int64_t(rect.top) * factor;
  const int64_t right = (int64_t(rect.right) - 1) * factor;
  const int64_t bottom = (int64_t(rect.bottom) - 1) * factor;
  const bool inside = left >= 0 && top >= 0 && right < image.width && bottom < image.height;
  if (!inside && padding == kWantsErrorOnBoundsException) return none(kFilterBadParameters);

  // Whole pixels at full size: each row is one run of the image's bytes, and whole rows
  // without padding one run of them all.
  const bool rows = inside && factor == 1 && bytes == imageBytes;
  const bool run = rows && pad == 0 && packed == int64_t(image.rowBytes());
  try {
    const size_t size = size_t(stride) * size_t(height - 1) + size_t(packed);
    if (run) {  // copied as it is allocated: one pass over the memory, not two
      const uint8_t* first = image.pixels.data() + size_t(top) * image.rowBytes();
      buffer->assign(first, first + size);
      *data = buffer->data();
      *rowBytes = int32_t(stride);
      return kNoErr;
    }
    // Inside the image every byte of a row is copied over and the row padding is cleared as
    // it goes: clearing all of a reused buffer first doubled the host's copying.
    if (inside)
      buffer->resize(size);
    else
      buffer->assign(size, 0);
  } catch (const std::bad_alloc&) {
    buffer->clear();
    return kMemFullErr;
  }
  // The padding value is an 8-bit level (-2: no padding wanted, zero); at 16 bits the same
  // level, round(level * 32768 / 255).
  const uint32_t level = padding >= 0 ? uint32_t(padding) : 0;
  const uint32_t value = sample == 2 ? (level * 32768 + 127) / 255 : level;
  const uint8_t fill[2] = {uint8_t(value), uint8_t(value >> 8)};
  for (int64_t y = 0; y < height; ++y) {
    uint8_t* out = buffer->data() + size_t(y) * size_t(stride);
    if (pad > 0 && y + 1 < height) std::memset(out + packed, 0, size_t(pad));
    if (rows) {
      std::memcpy(out,
                  image.pixels.data() + size_t(top + y) * image.rowBytes() + size_t(left * bytes),
                  size_t(packed));
      continue;
    }
    int64_t sy = top + y * factor;
    bool rowOutside = sy < 0 || sy >= image.height;
    if (padding == kWantsEdgeReplication) sy = std::clamp<int64_t>(sy, 0, image.height - 1);
    for (int64_t x = 0; x < width; ++x) {
      int64_t sx = left + x * factor;
      bool outside = rowOutside || sx < 0 || sx >= image.width;
      if (padding == kWantsEdgeReplication) {
        sx = std::clamp<int64_t>(sx, 0, image.width - 1);
        outside = false;
      }
      if (outside) {
        for (int64_t i = 0; i < bytes; ++i) out[i] = fill[i % sample];
      } else {
        const uint8_t* in = image.pixels.data() + size_t(sy) * image.rowBytes() +
                            size_t(sx * imageBytes + lo * sample);
        std::copy(in, in + bytes, out);
      }
      out += bytes;
    }
  }
  *data = buffer->data();
  *rowBytes = int32_t(stride);
  return kNoErr;
}

// A request for the whole image, every plane, at full size and without padding: served
// from the image's own memory, which has that layout already.
bool Whole(const Image& image, const Rect& rect, int16_t lo, int16_t hi, int32_t factor,
           int32_t pad) {
  return factor == 1 && pad == 0 && rect.top == 0 && rect.left == 0 &&
         rect.bottom == image.height && rect.right == image.width && lo == 0 &&
         hi == image.planes - 1 && image.rowBytes() <= size_t(INT32_MAX);
}

}  // namespace

FilterHost::FilterHost(const PluginModule& plugin)
    : FilterHost(plugin.entry(), plugin.pipl().enablesRGB48) {}

FilterHost::FilterHost(PluginEntryProc entry, bool sixteenBit)
    : entry_(entry), sixteenBit_(sixteenBit) {
  ResetRecord();
}

FilterHost::~FilterHost() = default;

bool FilterHost::SetImage(int32_t width, int32_t height, int32_t planes,
                          std::vector<uint8_t> pixels) {
  Image image;
  image.width = width;
  image.height = height;
  image.planes = planes;
  image.pixels = std::move(pixels);
  return SetImage(std::move(image));
}

bool FilterHost::SetImage(Image image) {
  if (image.width < 1 || image.width > INT16_MAX || image.height < 1 || image.height > INT16_MAX ||
      image.planes < 1 || image.planes > INT16_MAX)
    return false;
  // 16-bit documents of this host are RGB, with or without transparency.
  if (image.depth != 8 &&
      !(image.depth == 16 && sixteenBit_ && (image.planes == 3 || image.planes == 4)))
    return false;
  if (image.pixels.size() != image.rowBytes() * size_t(image.height)) return false;
  source_ = std::move(image);
  output_ = Image{};
  written_ = false;
  served_ = Served{};
  ResetRecord();
  return true;
}

Image FilterHost::TakeOutput() {
  Image output = std::move(written_ ? output_ : source_);
  // One by one: a chained assignment copies the emptied image, and a copied-to vector keeps
  // its memory.
  source_ = Image{};
  output_ = Image{};
  written_ = false;
  inBuffer_ = std::vector<uint8_t>{};
  outBuffer_ = std::vector<uint8_t>{};
  served_ = Served{};
  ResetRecord();
  return output;
}

void FilterHost::ResetRecord() {
  FilterRecord& r = record_;
  r.abortProc = &FilterHost::AbortProc;
  r.progressProc = &FilterHost::ProgressProcThunk;
  r.advanceState = &FilterHost::AdvanceStateProc;
  r.displayPixels = &FilterHost::DisplayPixelsProc;
  r.hostSig = kCorvanelHostSig;
  const bool deep = source_.depth == 16;
  r.imageMode = deep ? kImageModeRGB48 : kImageModeRGB;
  r.depth = deep ? 16 : 8;
  r.planes = int16_t(source_.planes);
  RectSet(r.filterRect, 0, 0, int16_t(source_.width), int16_t(source_.height));
  // An alpha plane is the layer's transparency; there is no selection.
  r.inLayerPlanes = int16_t(std::min(source_.planes, 3));
  r.inTransparencyMask = source_.planes == 4 ? 1 : 0;
  r.isFloating = 0;
  r.haveMask = 0;
  r.inputPadding = r.outputPadding = r.maskPadding = kWantsEdgeReplication;
  r.inputRate = r.maskRate = IntToFixed(1);
  r.inRect = r.outRect = r.maskRect = Rect{};
  r.inLoPlane = r.inHiPlane = r.outLoPlane = r.outHiPlane = 0;
  r.inData = r.outData = r.maskData = nullptr;
  r.inRowBytes = r.outRowBytes = r.maskRowBytes = 0;
  r.bufferSpace = 0;
  r.platformData = platform_.hwnd ? &platform_ : nullptr;
}

void FilterHost::SetHostWindow(void* window) {
  platform_.hwnd = window;
  record_.platformData = window ? &platform_ : nullptr;
}

void FilterHost::SetParams(const EffectParams& params) {
  hostParams_ = params;
  hostParams_.showDialog = 0;
  hostHandle_.data = &hostParams_;
  hostHandle_.signature = kPseudoHandleSignature;
  record_.parameters = &hostHandle_;
}

EffectParams* FilterHost::params() {
  return ParamsFromHandle(record_.parameters);
}

void FilterHost::SetProgressHandler(std::function<void(int32_t, int32_t)> handler) {
  progress_ = std::move(handler);
}

void FilterHost::RequestAbort() {
  g_abort.store(true);
}
void FilterHost::ClearAbort() {
  g_abort.store(false);
}
bool FilterHost::AbortRequested() {
  return g_abort.load();
}

int16_t FilterHost::Call(int16_t selector) {
  int16_t result = kNoErr;
  entry_(selector, &record_, &data_, &result);
  return result;
}

OSErr FilterHost::Run(bool showDialog) {
  FilterHost* idle = nullptr;
  if (source_.planes == 0 || !g_running.compare_exchange_strong(idle, this))
    return kFilterBadParameters;
  // However the run ends (an allocation may fail in a callback), the buffers end with it and
  // another run may follow.
  struct EndRun {
    FilterHost* host;
    ~EndRun() {
      FilterRecord& r = host->record_;
      r.inData = r.outData = r.maskData = nullptr;
      host->served_ = Served{};
      if (host->scripting_) host->scripting_->EndRun(r);
      g_running.store(nullptr);
    }
  } end{this};
  ResetRecord();
  if (scripting_) scripting_->BeginRun(record_);
  if (!showDialog) {
    if (!record_.parameters) SetParams(DefaultEffectParams());
    // A run without the dialog must never block in one, whatever an earlier run left.
    params()->showDialog = 0;
  }
  if (hooks_) hooks_->RunStarting(record_);

  OSErr result = showDialog ? Call(kSelectorParameters) : kNoErr;
  if (result == kNoErr) result = Call(kSelectorPrepare);
  if (result == kNoErr) {
    result = Call(kSelectorStart);
    // What a failed or cancelled Start left in the output buffer (a preview) is not the image.
    if (result == kNoErr)
      WriteBackOutput();
    else
      served_ = Served{};
    while (result == kNoErr &&
           !(IsEmpty(record_.inRect) && IsEmpty(record_.outRect) && IsEmpty(record_.maskRect))) {
      if (AbortRequested()) {
        result = kUserCancelled;
        break;
      }
      result = AdvanceState();
      if (result == kNoErr) result = Call(kSelectorContinue);
      WriteBackOutput();
    }
    // Finish follows only a run that went through, as the common hosts do.
    if (result == kNoErr && (!hooks_ || hooks_->Finishes())) result = Call(kSelectorFinish);
  }
  return result;
}

Image& FilterHost::Destination() {
  if (!written_) output_ = source_;
  written_ = true;
  return output_;
}

void FilterHost::WriteBackOutput() {
  if (!served_.pending) return;
  served_.pending = false;
  const Rect& r = served_.rect;
  // The whole image comes back as the buffer it was written in: no copy.
  if (Whole(output(), r, served_.loPlane, served_.hiPlane, 1,
            served_.rowBytes - int32_t(output().rowBytes()))) {
    if (!written_)
      output_ = Image{source_.width, source_.height, source_.planes, {}, source_.depth};
    written_ = true;
    output_.pixels.swap(outBuffer_);
    return;
  }
  Image& out = Destination();
  // In bytes: a served pixel is `planes` bytes long, one of the image `all`.
  const size_t sample = served_.sampleBytes;
  const size_t planes = size_t(served_.hiPlane - served_.loPlane + 1) * sample;
  const size_t all = size_t(out.planes) * sample;
  const size_t stride = size_t(served_.rowBytes);
  const int32_t top = std::max<int32_t>(r.top, 0), bottom = std::min<int32_t>(r.bottom, out.height);
  const int32_t left = std::max<int32_t>(r.left, 0), right = std::min<int32_t>(r.right, out.width);
  const bool rows = planes == all && right > left;
  for (int32_t y = top; y < bottom; ++y) {
    const uint8_t* from = outBuffer_.data() + size_t(y - r.top) * stride;
    uint8_t* to = out.pixels.data() + size_t(y) * out.rowBytes();
    if (rows) {
      std::memcpy(to + size_t(left) * planes, from + size_t(left - r.left) * planes,
                  size_t(right - left) * planes);
      continue;
    }
    for (int32_t x = left; x < right; ++x)
      std::copy_n(from + size_t(x - r.left) * planes, planes,
                  to + size_t(x) * all + size_t(served_.loPlane) * sample);
  }
}

OSErr FilterHost::AdvanceState() {
  ++advanceStateCalls_;
  WriteBackOutput();
  FilterRecord& r = record_;
  r.maskData = nullptr;  // no selection, so never a mask
  r.maskRowBytes = 0;

  // Whole factors only: that is all a reduced preview asks for.
  int32_t factor = 1;
  if (!IsEmpty(r.inRect)) {
    if (r.inputRate < IntToFixed(1) || (r.inputRate & 0xFFFF) != 0) {
      r.inData = r.outData = nullptr;
      return kFilterBadParameters;
    }
    factor = r.inputRate >> 16;
  }
  // Through locals: the record is packed, so its pointers may be only 4-aligned.
  void *inData = nullptr, *outData = nullptr;
  int32_t inRowBytes = 0, outRowBytes = 0;
  const int32_t pad = hooks_ ? hooks_->RowPadding() : 0;
  OSErr err = kNoErr;
  if (Whole(source_, r.inRect, r.inLoPlane, r.inHiPlane, factor, pad)) {
    // The plug-in only reads its input: it is handed the source itself.
    inBuffer_ = std::vector<uint8_t>{};
    inData = source_.pixels.data();
    inRowBytes = int32_t(source_.rowBytes());
  } else {
    err = Fetch(source_, r.inRect, r.inLoPlane, r.inHiPlane, factor, r.inputPadding, pad,
                &inBuffer_, &inData, &inRowBytes);
  }
  // Once the whole image has come back, a plug-in that asks for all of it again (to hand its
  // render back) writes into the destination itself.
  const bool inPlace =
      err == kNoErr && written_ && Whole(output_, r.outRect, r.outLoPlane, r.outHiPlane, 1, pad);
  if (inPlace) {
    outBuffer_ = std::vector<uint8_t>{};
    outData = output_.pixels.data();
    outRowBytes = int32_t(output_.rowBytes());
  } else if (err == kNoErr) {
    err = Fetch(output(), r.outRect, r.outLoPlane, r.outHiPlane, 1, r.outputPadding, pad,
                &outBuffer_, &outData, &outRowBytes);
  }
  r.inData = inData;
  r.outData = outData;
  r.inRowBytes = inRowBytes;
  r.outRowBytes = outRowBytes;
  if (err != kNoErr) {
    r.inData = r.outData = nullptr;
    r.inRowBytes = r.outRowBytes = 0;
    return err;
  }
  if (r.outData && !inPlace)
    served_ =
        Served{true, r.outRect, r.outLoPlane, r.outHiPlane, outRowBytes, source_.sampleBytes()};
  return kNoErr;
}

Boolean FilterHost::AbortProc() {
  return g_abort.load() ? 1 : 0;
}

void FilterHost::ProgressProcThunk(int32_t done, int32_t total) {
  FilterHost* host = g_running.load();
  if (host && host->progress_) host->progress_(done, total);
}

OSErr FilterHost::AdvanceStateProc() {
  FilterHost* host = g_running.load();
  return host ? host->AdvanceState() : kFilterBadParameters;
}

OSErr FilterHost::DisplayPixelsProc(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                                    int32_t dstCol, void* platformContext) {
  FilterHost* host = g_running.load();
  if (!host || !source || !srcRect) return kFilterBadParameters;
  DisplayedPixels& shown = host->displayed_;
  ++shown.calls;
  if (!ComposePixelMap(*source, *srcRect, &shown)) return kFilterBadParameters;
  shown.dstRow = dstRow;
  shown.dstCol = dstCol;
  return DrawDisplayedPixels(shown, platformContext) ? kNoErr : kFilterBadParameters;
}

std::string FilterHost::DescribeResult(OSErr result) {
  switch (result) {
    case kNoErr:
      return "success";
    case kMemFullErr:
      return "out of memory (error -108)";
    case kUserCancelled:
      return "the filter was cancelled";
    case kFilterBadParameters:
      return "bad parameters (error -30100)";
    default:
      return "the filter failed with error " + std::to_string(result);
  }
}
