// The filter host: owns the host record and serves a filter plug-in as an image editor
// does. One image in (8- or 16-bit, interleaved, packed rows), one image out; the plug-in is
// reached only through its entry.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/EffectParams.h"
#include "host/HostTypes.h"
#include "host/PseudoHandle.h"

class DescriptorHost;
class PluginModule;

// Our own host signature; the plug-in compares it with other hosts' codes.
constexpr OSType kCorvanelHostSig = FourCC('C', 'v', 'n', 'l');

// Image modes of the host interface that this host sets.
constexpr int16_t kImageModeRGB = 3;
constexpr int16_t kImageModeRGB48 = 11;  // 16-bit RGB

// Edge handling codes beside replication (-1), as the host interface defines them.
constexpr int16_t kDoesNotWantPadding = -2;
constexpr int16_t kWantsErrorOnBoundsException = -3;

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int32_t planes = 0;
  std::vector<uint8_t> pixels;  // rowBytes() per row, rows top to bottom
  // Bits per sample: 8, or 16 as a 16-bit host keeps them: little-endian words, 0 no light
  // to 32768 full intensity.
  int32_t depth = 8;

  size_t sampleBytes() const { return depth == 16 ? 2 : 1; }
  size_t rowBytes() const { return size_t(width) * size_t(planes) * sampleBytes(); }
};

// What the plug-in last handed to displayPixels, copied out of its buffers.
struct DisplayedPixels {
  PSPixelMap map{};  // as given; baseAddr and masks point into the plug-in's memory
  bool hadMask = false;
  PSPixelMask mask{};  // the first mask record, when there was one
  VRect srcRect{};
  int32_t dstRow = 0;
  int32_t dstCol = 0;
  int32_t width = 0;  // of srcRect clipped to the map's bounds
  int32_t height = 0;
  std::vector<uint8_t> rgb;  // the clipped srcRect as drawn: 3 bytes per pixel, packed rows
  int calls = 0;             // how many times displayPixels has been called
};

// Where a host for tests departs from this one (tests/support/TestHost.h); the command
// installs none.
class FilterHostHooks {
 public:
  virtual ~FilterHostHooks() = default;
  // The record as this host set it up, just before the first selector of a run.
  virtual void RunStarting(FilterRecord&) {}
  // Bytes left after each served row, so that rowBytes exceeds the packed width.
  virtual int32_t RowPadding() const { return 0; }
  // Whether a run that went through ends with Finish.
  virtual bool Finishes() const { return true; }
};

class FilterHost {
 public:
  // A plug-in whose list enables 16-bit RGB is handed 16-bit images as such.
  explicit FilterHost(const PluginModule& plugin);
  // Any entry with the plug-in's convention; `sixteenBit`: it takes 16-bit RGB.
  explicit FilterHost(PluginEntryProc entry, bool sixteenBit = false);
  ~FilterHost();
  FilterHost(const FilterHost&) = delete;
  FilterHost& operator=(const FilterHost&) = delete;

  // The source image; the filter rectangle is all of it. Width and height at most 32767,
  // planes 1 to 32767, pixels.size() == rowBytes() * height, depth 8, or 16 with 3 or 4
  // planes for a plug-in that takes 16-bit RGB (imageMode RGB48, depth 16). False (and no
  // change) when the image does not fit the host record or the plug-in.
  bool SetImage(Image image);
  bool SetImage(int32_t width, int32_t height, int32_t planes, std::vector<uint8_t> pixels);
  // Whether the plug-in takes 16-bit RGB images.
  bool TakesSixteenBit() const { return sixteenBit_; }

  // Hands the plug-in stored settings: a host-made 'OTOF' handle whose record has
  // showDialog 0, so a run without the dialog applies them at once.
  void SetParams(const EffectParams& params);
  // The record behind the parameters handle (ours or the plug-in's), or null when there
  // is none yet.
  EffectParams* params();

  // One filter run: Parameters (only with showDialog), Prepare, Start, then advanceState
  // and Continue while the plug-in leaves a request, then Finish. With showDialog the
  // plug-in shows its dialog inside Start, which blocks in the dialog's modal loop until
  // it closes. Without it, and without SetParams, the defaults of a new record are used.
  // Returns the first nonzero result code, or 0. Only one run may be active at a time
  // in the process; the callbacks may arrive on the calling thread only.
  OSErr Run(bool showDialog);

  // The destination image: the source until a run writes into it.
  const Image& output() const { return written_ ? output_ : source_; }
  const Image& source() const { return source_; }
  // The destination image moved out, and the source and the buffers let go: the host holds
  // no image until the next SetImage.
  Image TakeOutput();

  // The record the plug-in sees. Between runs and while the dialog is open it may be
  // read; write to it only before a run.
  FilterRecord& record() { return record_; }
  intptr_t& pluginData() { return data_; }

  // The window a Windows host hands the plug-in in platformData (null: none), which owns
  // the plug-in's dialog.
  void SetHostWindow(void* window);

  // Null: none (the default). The hooks must outlive the runs.
  void SetHooks(FilterHostHooks* hooks) { hooks_ = hooks; }
  // Scripting for the runs: the descriptor structure, its suites and the handle suite (null:
  // none, the default, as a host without scripting). It must outlive the runs.
  void SetScripting(DescriptorHost* scripting) { scripting_ = scripting; }

  // Called with each progressProc report (done, total).
  void SetProgressHandler(std::function<void(int32_t, int32_t)> handler);

  // The abort flag abortProc reports; async-signal-safe, so a Ctrl-C handler may set it.
  static void RequestAbort();
  static void ClearAbort();
  static bool AbortRequested();

  const DisplayedPixels& lastDisplayed() const { return displayed_; }
  int advanceStateCalls() const { return advanceStateCalls_; }

  // A sentence for a result code: out of memory, cancelled, bad parameters, or the number.
  static std::string DescribeResult(OSErr result);

 private:
  // The output request as it was delivered, for writing it back at the next call.
  struct Served {
    bool pending = false;
    Rect rect{};
    int16_t loPlane = 0;
    int16_t hiPlane = 0;
    int32_t rowBytes = 0;
    size_t sampleBytes = 1;
  };
  static Boolean AbortProc();
  static void ProgressProcThunk(int32_t done, int32_t total);
  static OSErr AdvanceStateProc();
  static OSErr DisplayPixelsProc(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                                 int32_t dstCol, void* platformContext);
  int16_t Call(int16_t selector);
  OSErr AdvanceState();
  void WriteBackOutput();
  Image& Destination();  // the output image, made from the source at the first write
  void ResetRecord();

  PluginEntryProc entry_ = nullptr;
  FilterRecord record_{};
  intptr_t data_ = 0;
  Image source_;
  Image output_;  // once written_; until then the output is the source
  bool written_ = false;
  EffectParams hostParams_{};
  PseudoHandle hostHandle_{};
  PlatformData platform_{};
  std::vector<uint8_t> inBuffer_;
  std::vector<uint8_t> outBuffer_;
  Served served_;
  std::function<void(int32_t, int32_t)> progress_;
  DisplayedPixels displayed_;
  int advanceStateCalls_ = 0;
  FilterHostHooks* hooks_ = nullptr;
  DescriptorHost* scripting_ = nullptr;
  bool sixteenBit_ = false;
};
