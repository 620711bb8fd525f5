// The command's filter host with the misbehaviours of hosts found in the wild switched on
// by a table entry, and a record of what the plug-in asked for and did to the host's
// buffers. Free of any test framework: the fuzz target drives the plug-in through it too.
#pragma once

#include <functional>
#include <vector>

#include "filterhost/FilterHost.h"
#include "tests/oracle/Oracle.h"

// Garbage a host leaves above a callback's result: the Boolean is the low byte, the OSErr
// the low 16 bits.
constexpr uint64_t kBooleanGarbage = 0xDEADBEEFCAFEBE00ull;
constexpr uint64_t kOSErrGarbage = 0xDEADBEEFCAFE0000ull;
// What the host leaves in the padding of the rows it serves; it must come back so.
constexpr uint8_t kRowPaddingByte = 0xA5;

struct HostQuirks {
  // abortProc and advanceState return a wider type with garbage above the result, so the
  // garbage is in the register the plug-in reads (eax, or rax on x64).
  bool garbageInResults = false;
  Boolean abortAnswer = 1;                      // the Boolean abortProc gives when it asks to stop
  int32_t rowPadding = 0;                       // bytes after every served row
  bool rowBytesUnset = false;                   // packed rows, rowBytes left 0
  int16_t edgePadding = kWantsEdgeReplication;  // input, output and mask padding
  // The n-th advanceState of a run fails with advanceResults[n] without serving or taking
  // anything; 0 (and beyond the list) serves.
  std::vector<OSErr> advanceResults;
  bool deliverNothing = false;  // success, but no buffers
  bool finish = true;           // Finish after a run that went through
  bool dropParameters = false;  // parameters null at Start
  bool noAdvanceState = false, noAbort = false, noProgress = false, noDisplayPixels = false;
  OSType hostSig = FourCC('N', 'O', 'N', 'E');  // none the plug-in knows
  Rect filterRect{};                            // empty: the whole image
  // What a preview left in the record: a reduced request and its rate (0: none).
  Rect staleRequest{};
  Fixed staleRate = 0;
  std::function<void(FilterRecord&)> adjust;  // anything else, last
};

class TestHost : public FilterHost, private FilterHostHooks {
 public:
  // One advanceState call as the plug-in made it.
  struct Request {
    Rect inRect, outRect, maskRect;
    int16_t inLoPlane, inHiPlane, outLoPlane, outHiPlane;
    Fixed inputRate, maskRate;
  };

  explicit TestHost(const PluginModule& plugin);
  explicit TestHost(PluginEntryProc entry, bool sixteenBit = false);
  ~TestHost();

  HostQuirks quirks;
  // Answers abortProc (abortAtCall) and records it and progressProc; calls start empty
  // with each run.
  oracle::ScriptedHost polling;

  // False when the host cannot hand the plug-in such a document (see FilterHost::SetImage).
  bool SetDocument(const oracle::Image& document);
  oracle::Image Output() const;
  Rect FilterRect() const;  // of the next run

  // One run without the dialog.
  OSErr Run();

  // Of the last run: each advanceState call, what it answered, and whether the plug-in
  // left the input and the output's row padding as served.
  std::vector<Request> requests;
  std::vector<OSErr> answers;
  bool inputKept = true;
  bool paddingKept = true;

  // Every request of the last run was the filter rectangle, every plane, at full size.
  bool AskedForTheFilterRect();
  bool RequestsWithdrawn();

 private:
  struct Served {
    const uint8_t* in = nullptr;
    std::vector<uint8_t> inCopy;
    uint8_t* out = nullptr;
    int32_t outRowBytes = 0, outPacked = 0, outRows = 0;
  };
  void RunStarting(FilterRecord& record) override;
  int32_t RowPadding() const override { return quirks.rowPadding; }
  bool Finishes() const override { return quirks.finish; }
  OSErr Advance();
  Boolean Poll();
  void CheckServed();
  void KeepServed();

  static Boolean AbortThunk();
  static OSErr AdvanceThunk();
  static uint64_t WideAbortThunk();
  static uint64_t WideAdvanceThunk();
  static void ProgressThunk(int32_t done, int32_t total);

  ::AdvanceStateProc hostAdvance_ = nullptr;
  Served served_;
};
