// Our declaration of the filter host interface: the record a host passes to every call
// of ENTRYPOINT and the value types it uses. One declaration gives both layouts Windows
// hosts use: pointers are 4 bytes in the 32-bit one and 8 in the 64-bit one, and the
// record is packed to 4 bytes in both. The native (64-bit) build uses the 64-bit layout
// too, so every native test exercises the offsets a 64-bit host relies on.
#pragma once

#include <cstddef>
#include <cstdint>

using OSErr = int16_t;
using OSType = uint32_t;
using Fixed = int32_t;    // signed 16.16
using Boolean = uint8_t;  // one byte: hosts leave garbage in the rest of the register
using Handle = void*;

struct Rect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

struct VRect {
  int32_t top;
  int32_t left;
  int32_t bottom;
  int32_t right;
};

// Result codes the plug-in hands to the host.
constexpr OSErr kNoErr = 0;
constexpr OSErr kUserCancelled = 1;  // the run ended and the user was told, or cancelled
constexpr OSErr kMemFullErr = -108;
constexpr OSErr kFilterBadParameters = -30100;
// The run failed and the record's errorString says why; the host shows it.
constexpr OSErr kErrReportString = -30904;
// The parameters dialog could not be shown. Hosts report any result other than 0 and 1
// as a failed run; -1 names no particular cause, where -108 would blame memory and
// -30100 the parameters.
constexpr OSErr kDialogFailedErr = -1;
// Anything else that went wrong inside the plug-in (an exception caught at the entry); the
// same code, for the same reason.
constexpr OSErr kInternalErr = -1;

// Selectors, in the order a host uses them.
enum FilterSelector : int16_t {
  kSelectorAbout = 0,
  kSelectorParameters = 1,
  kSelectorPrepare = 2,
  kSelectorStart = 3,
  kSelectorContinue = 4,
  kSelectorFinish = 5,
};

// Edge handling code for inputPadding/outputPadding/maskPadding.
constexpr int16_t kWantsEdgeReplication = -1;

constexpr OSType FourCC(char a, char b, char c, char d) {
  return (OSType(uint8_t(a)) << 24) | (OSType(uint8_t(b)) << 16) | (OSType(uint8_t(c)) << 8) |
         OSType(uint8_t(d));
}

struct PSPixelMask {
  PSPixelMask* next;
  void* maskData;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t maskDescription;  // 0: simple mask
};

struct PSPixelMap {
  int32_t version;
  VRect bounds;
  int32_t imageMode;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t planeBytes;
  void* baseAddr;
  void* mat;
  PSPixelMask* masks;
  int32_t maskPhaseRow;
  int32_t maskPhaseCol;
};

// What a Windows host's platformData points at; only its first field is used.
struct PlatformData {
  void* hwnd;  // the host's main window, or null
};

extern "C" {
typedef Boolean (*TestAbortProc)();
typedef void (*ProgressProc)(int32_t done, int32_t total);
typedef OSErr (*AdvanceStateProc)();
typedef OSErr (*DisplayPixelsProc)(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                                   int32_t dstCol, void* platformContext);
// The plug-in's one export. The data word holds a pointer, so it is pointer-sized:
// 32 bits in the 32-bit build, 64 in the 64-bit one.
typedef void (*PluginEntryProc)(int16_t selector, void* record, intptr_t* data, int16_t* result);
}

struct HandleProcs;
struct PIDescriptorParameters;

// Only the fields the plug-in uses are named; the rest of the host's record is opaque.
// Hosts pack it to 4 bytes, so in the 64-bit layout 8-byte pointers may sit at offsets
// that are only 4-aligned. The opaque gaps that hold host pointers are declared as
// pointers, which is how they widen from one layout to the other.
#pragma pack(push, 4)
struct FilterRecord {
  int32_t opaque0;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;
  int32_t opaqueAfterParameters;
  int16_t planes;
  Rect filterRect;
  uint8_t opaqueAfterFilterRect[18];
  int32_t bufferSpace;
  Rect inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  Rect outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;
  Boolean isFloating;
  Boolean haveMask;
  uint8_t opaqueAfterHaveMask[2];
  Rect maskRect;
  void* maskData;
  int32_t maskRowBytes;
  uint8_t opaqueAfterMaskRowBytes[8];
  OSType hostSig;
  void* opaqueAfterHostSig;
  int16_t imageMode;
  uint8_t opaqueAfterImageMode[58];
  // Windows hosts point this at a record whose first field is their main window.
  void* platformData;
  void* opaqueAfterPlatformData[3];
  DisplayPixelsProc displayPixels;
  HandleProcs* handleProcs;  // the host's own handles: descriptors are disposed through it
  void* opaqueAfterHandleProcs;
  uint8_t opaqueBeforeAdvanceState[8];
  AdvanceStateProc advanceState;
  void* opaqueAfterAdvanceState;
  uint8_t opaqueBeforeInputPadding[6];
  int16_t inputPadding;
  int16_t outputPadding;
  int16_t maskPadding;
  uint8_t opaqueAfterMaskPadding[4];
  Fixed inputRate;
  Fixed maskRate;
  void* opaqueAfterMaskRate;
  int16_t inLayerPlanes;
  int16_t inTransparencyMask;
  // Host pointers and other fields up to the scripting fields.
  void* opaqueAfterTransparencyMask[2];
  uint8_t opaqueBeforeDescriptorParameters[84];
  // Scripting: the recorded or played-back settings, null where the host has none.
  PIDescriptorParameters* descriptorParameters;
  // A message for the host to show with an errReportString result: a counted string of up
  // to 255 characters, in the host's buffer.
  uint8_t (*errorString)[256];
  void* opaqueBeforeDepth[4];
  // 8 or 16 bits per sample; 0 from hosts older than the field (the mode tells then).
  int32_t depth;
};
#pragma pack(pop)

#if INTPTR_MAX == INT32_MAX
static_assert(offsetof(FilterRecord, abortProc) == 4);
static_assert(offsetof(FilterRecord, progressProc) == 8);
static_assert(offsetof(FilterRecord, parameters) == 12);
static_assert(offsetof(FilterRecord, planes) == 20);
static_assert(offsetof(FilterRecord, filterRect) == 22);
static_assert(offsetof(FilterRecord, bufferSpace) == 48);
static_assert(offsetof(FilterRecord, inRect) == 52);
static_assert(offsetof(FilterRecord, inLoPlane) == 60);
static_assert(offsetof(FilterRecord, inHiPlane) == 62);
static_assert(offsetof(FilterRecord, outRect) == 64);
static_assert(offsetof(FilterRecord, outLoPlane) == 72);
static_assert(offsetof(FilterRecord, outHiPlane) == 74);
static_assert(offsetof(FilterRecord, inData) == 76);
static_assert(offsetof(FilterRecord, inRowBytes) == 80);
static_assert(offsetof(FilterRecord, outData) == 84);
static_assert(offsetof(FilterRecord, outRowBytes) == 88);
static_assert(offsetof(FilterRecord, isFloating) == 92);
static_assert(offsetof(FilterRecord, haveMask) == 93);
static_assert(offsetof(FilterRecord, maskRect) == 96);
static_assert(offsetof(FilterRecord, maskData) == 104);
static_assert(offsetof(FilterRecord, maskRowBytes) == 108);
static_assert(offsetof(FilterRecord, hostSig) == 120);
static_assert(offsetof(FilterRecord, imageMode) == 128);
static_assert(offsetof(FilterRecord, platformData) == 188);
static_assert(offsetof(FilterRecord, displayPixels) == 204);
static_assert(offsetof(FilterRecord, advanceState) == 224);
static_assert(offsetof(FilterRecord, inputPadding) == 238);
static_assert(offsetof(FilterRecord, outputPadding) == 240);
static_assert(offsetof(FilterRecord, maskPadding) == 242);
static_assert(offsetof(FilterRecord, inputRate) == 248);
static_assert(offsetof(FilterRecord, maskRate) == 252);
static_assert(offsetof(FilterRecord, inLayerPlanes) == 260);
static_assert(offsetof(FilterRecord, inTransparencyMask) == 262);
static_assert(offsetof(FilterRecord, handleProcs) == 208);
static_assert(offsetof(FilterRecord, descriptorParameters) == 356);
static_assert(offsetof(FilterRecord, errorString) == 360);
static_assert(offsetof(FilterRecord, depth) == 380);
static_assert(sizeof(FilterRecord) == 384);
static_assert(offsetof(PSPixelMap, bounds) == 4);
static_assert(offsetof(PSPixelMap, imageMode) == 20);
static_assert(offsetof(PSPixelMap, rowBytes) == 24);
static_assert(offsetof(PSPixelMap, colBytes) == 28);
static_assert(offsetof(PSPixelMap, planeBytes) == 32);
static_assert(offsetof(PSPixelMap, baseAddr) == 36);
static_assert(offsetof(PSPixelMap, mat) == 40);
static_assert(offsetof(PSPixelMap, masks) == 44);
static_assert(offsetof(PSPixelMap, maskPhaseRow) == 48);
static_assert(offsetof(PSPixelMap, maskPhaseCol) == 52);
static_assert(sizeof(PSPixelMap) == 56);
static_assert(offsetof(PSPixelMask, maskData) == 4);
static_assert(offsetof(PSPixelMask, rowBytes) == 8);
static_assert(offsetof(PSPixelMask, colBytes) == 12);
static_assert(offsetof(PSPixelMask, maskDescription) == 16);
static_assert(sizeof(PSPixelMask) == 20);
#elif INTPTR_MAX == INT64_MAX
static_assert(offsetof(FilterRecord, abortProc) == 4);
static_assert(offsetof(FilterRecord, progressProc) == 12);
static_assert(offsetof(FilterRecord, parameters) == 20);
static_assert(offsetof(FilterRecord, planes) == 32);
static_assert(offsetof(FilterRecord, filterRect) == 34);
static_assert(offsetof(FilterRecord, bufferSpace) == 60);
static_assert(offsetof(FilterRecord, inRect) == 64);
static_assert(offsetof(FilterRecord, inLoPlane) == 72);
static_assert(offsetof(FilterRecord, inHiPlane) == 74);
static_assert(offsetof(FilterRecord, outRect) == 76);
static_assert(offsetof(FilterRecord, outLoPlane) == 84);
static_assert(offsetof(FilterRecord, outHiPlane) == 86);
static_assert(offsetof(FilterRecord, inData) == 88);
static_assert(offsetof(FilterRecord, inRowBytes) == 96);
static_assert(offsetof(FilterRecord, outData) == 100);
static_assert(offsetof(FilterRecord, outRowBytes) == 108);
static_assert(offsetof(FilterRecord, isFloating) == 112);
static_assert(offsetof(FilterRecord, haveMask) == 113);
static_assert(offsetof(FilterRecord, maskRect) == 116);
static_assert(offsetof(FilterRecord, maskData) == 124);
static_assert(offsetof(FilterRecord, maskRowBytes) == 132);
static_assert(offsetof(FilterRecord, hostSig) == 144);
static_assert(offsetof(FilterRecord, imageMode) == 156);
static_assert(offsetof(FilterRecord, platformData) == 216);
static_assert(offsetof(FilterRecord, displayPixels) == 248);
static_assert(offsetof(FilterRecord, advanceState) == 280);
static_assert(offsetof(FilterRecord, inputPadding) == 302);
static_assert(offsetof(FilterRecord, outputPadding) == 304);
static_assert(offsetof(FilterRecord, maskPadding) == 306);
static_assert(offsetof(FilterRecord, inputRate) == 312);
static_assert(offsetof(FilterRecord, maskRate) == 316);
static_assert(offsetof(FilterRecord, inLayerPlanes) == 328);
static_assert(offsetof(FilterRecord, inTransparencyMask) == 330);
static_assert(offsetof(FilterRecord, handleProcs) == 256);
static_assert(offsetof(FilterRecord, descriptorParameters) == 432);
static_assert(offsetof(FilterRecord, errorString) == 440);
static_assert(offsetof(FilterRecord, depth) == 480);
static_assert(sizeof(FilterRecord) == 484);
static_assert(offsetof(PSPixelMap, bounds) == 4);
static_assert(offsetof(PSPixelMap, imageMode) == 20);
static_assert(offsetof(PSPixelMap, rowBytes) == 24);
static_assert(offsetof(PSPixelMap, colBytes) == 28);
static_assert(offsetof(PSPixelMap, planeBytes) == 32);
static_assert(offsetof(PSPixelMap, baseAddr) == 40);
static_assert(offsetof(PSPixelMap, mat) == 48);
static_assert(offsetof(PSPixelMap, masks) == 56);
static_assert(offsetof(PSPixelMap, maskPhaseRow) == 64);
static_assert(offsetof(PSPixelMap, maskPhaseCol) == 68);
static_assert(sizeof(PSPixelMap) == 72);
static_assert(offsetof(PSPixelMask, maskData) == 8);
static_assert(offsetof(PSPixelMask, rowBytes) == 16);
static_assert(offsetof(PSPixelMask, colBytes) == 20);
static_assert(offsetof(PSPixelMask, maskDescription) == 24);
static_assert(sizeof(PSPixelMask) == 32);
#else
#error "the host record is laid out for 32-bit and 64-bit builds only"
#endif
static_assert(offsetof(PlatformData, hwnd) == 0);

inline void RectSet(Rect& r, int16_t left, int16_t top, int16_t right, int16_t bottom) {
  r.left = left;
  r.top = top;
  r.right = right;
  r.bottom = bottom;
}

// Image modes whose samples are 16 bits wide (Gray16, RGB48, Lab48, CMYK64) and 32 bits
// (Gray32, RGB96), and the 8-bit mode of each 16-bit one.
constexpr int16_t kRGB48Mode = 11;
constexpr bool IsSixteenBitMode(int32_t mode) {
  return mode >= 10 && mode <= 13;
}
constexpr bool IsThirtyTwoBitMode(int32_t mode) {
  return mode == 15 || mode == 16;
}
constexpr int16_t EightBitMode(int32_t mode) {
  constexpr int16_t kEightBit[] = {1, 3, 9, 4};  // Grayscale, RGB, Lab, CMYK
  return IsSixteenBitMode(mode) ? kEightBit[mode - 10] : int16_t(mode);
}

// Bits per sample of the record's document: its depth, or where a host older than that
// field left it 0 (or its record ends before it, leaving anything there), what the image
// mode implies.
inline int32_t DocumentDepth(const FilterRecord& record) {
  if (record.depth == 8 || record.depth == 16 || record.depth == 32) return record.depth;
  if (IsSixteenBitMode(record.imageMode)) return 16;
  if (IsThirtyTwoBitMode(record.imageMode)) return 32;
  return 8;
}

constexpr Fixed IntToFixed(int32_t value) {
  return Fixed(uint32_t(value) << 16);
}
