// The parameters dialog of the real Corvanel.8bf, opened by the filter host's Start and
// driven from the test thread while the plug-in's modal loop runs on a thread of its own.
// Between the plug-in and the host sits a spy that records what the plug-in asks of the
// host and what it hands to displayPixels, and can play other hosts.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/Engine.h"
#include "filterhost/Descriptors.h"
#include "filterhost/FilterHost.h"
#include "filterhost/PluginModule.h"
#include "host/EffectParams.h"
#include "host/KnownHosts.h"
#include "imagefile/ImageFile.h"
#include "resources/ResourceIds.h"
#include "tests/oracle/Oracle.h"
#include "tests/support/DialogDriver.h"
#include "tests/support/PluginPath_win.h"
#include "tests/support/ProcessWindows_win.h"

namespace {

using namespace dialog_driver;

struct Row {
  ParamIndex param;
  int slider;
  int edit;
};
constexpr Row kRows[] = {
    {kParamRed, IDC_SLIDER_RED, IDC_EDIT_RED},
    {kParamGreen, IDC_SLIDER_GREEN, IDC_EDIT_GREEN},
    {kParamBlue, IDC_SLIDER_BLUE, IDC_EDIT_BLUE},
    {kParamThreshold, IDC_SLIDER_THRESHOLD, IDC_EDIT_THRESHOLD},
    {kParamRadius, IDC_SLIDER_RADIUS, IDC_EDIT_RADIUS},
    {kParamStreaks, IDC_SLIDER_STREAKS, IDC_EDIT_STREAKS},
    {kParamAngle, IDC_SLIDER_ANGLE, IDC_EDIT_ANGLE},
};
const Row& RowOf(ParamIndex param) {
  return kRows[param];
}

// Streaks and Angle: label, slider and box.
constexpr int kSparkleOnly[] = {IDC_LABEL_STREAKS, IDC_SLIDER_STREAKS, IDC_EDIT_STREAKS,
                                IDC_LABEL_ANGLE,   IDC_SLIDER_ANGLE,   IDC_EDIT_ANGLE};

constexpr uint8_t kLamp[3] = {250, 240, 230};

// A picture with small lamps of one colour all over it, large enough that every reduction
// of the preview still samples some of them.
std::vector<uint8_t> TestPicture(int width, int height, int planes) {
  std::vector<uint8_t> pixels(size_t(width) * height * planes);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t((i * 37 + i / 7) & 0x7F);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if ((x + 9) % 29 >= 6 || (y + 5) % 23 >= 6) continue;
      uint8_t* p = &pixels[(size_t(y) * width + x) * planes];
      std::memcpy(p, kLamp, size_t(std::min(planes, 3)));  // only the planes it has
    }
  return pixels;
}

// What the plug-in had asked for when it called advanceState.
struct Request {
  Rect inRect, outRect, maskRect;
  int16_t inLoPlane, inHiPlane, outLoPlane, outHiPlane;
  Fixed inputRate, maskRate;
  int16_t inputPadding, outputPadding, maskPadding;
  float scale;
};

// One displayPixels call, with a copy of the pixels handed over.
struct Shown {
  PSPixelMap map;
  VRect srcRect;
  int32_t dstRow, dstCol;
  bool hasMask;
  PSPixelMask mask;
  std::vector<uint8_t> pixels;  // the map's rows, rowBytes each
};

struct Spy {
  std::mutex lock;
  PluginEntryProc plugin = nullptr;
  FilterRecord* record = nullptr;
  std::function<void(FilterRecord&)> adjust;  // at Start: play another host
  OSErr failAcquisition = kNoErr;             // the answer to the first advanceState
  std::vector<uint8_t> staleIn, staleOut;     // what a failing host leaves in the record
  AdvanceStateProc hostAdvance = nullptr;
  DisplayPixelsProc hostDisplay = nullptr;
  ProgressProc hostProgress = nullptr;
  std::vector<Request> requests;
  std::vector<uint8_t> previewInput;  // delivered for the dialog's latest request
  std::vector<Shown> shown;
  int renders = 0;
  int rendersUnderWaitCursor = 0;
} g_spy;

OSErr SpyAdvanceState() {
  FilterRecord& r = *g_spy.record;
  const EffectParams* params = ParamsFromHandle(r.parameters);
  std::lock_guard<std::mutex> hold(g_spy.lock);
  g_spy.requests.push_back({r.inRect, r.outRect, r.maskRect, r.inLoPlane, r.inHiPlane, r.outLoPlane,
                            r.outHiPlane, r.inputRate, r.maskRate, r.inputPadding, r.outputPadding,
                            r.maskPadding, params ? params->scale : -1.0f});
  if (g_spy.requests.size() == 1 && g_spy.failAcquisition != kNoErr) {
    // Buffers the host never delivered for this request.
    r.inData = g_spy.staleIn.data();
    r.outData = g_spy.staleOut.data();
    return g_spy.failAcquisition;
  }
  const OSErr err = g_spy.hostAdvance();
  // The dialog asks again after a change of resolution; the run's own request comes only
  // after the dialog has closed.
  if (err == kNoErr && r.inData) {
    const auto* in = static_cast<const uint8_t*>(r.inData);
    g_spy.previewInput.assign(in,
                              in + size_t(r.inRowBytes) * size_t(r.inRect.bottom - r.inRect.top));
  }
  return err;
}

OSErr SpyDisplayPixels(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow,
                       int32_t dstCol, void* context) {
  {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    Shown shown{*source, *srcRect, dstRow, dstCol, source->masks != nullptr, {}, {}};
    if (source->masks) shown.mask = *source->masks;
    const auto* base = static_cast<const uint8_t*>(source->baseAddr);
    if (base)
      shown.pixels.assign(base, base + size_t(source->rowBytes) *
                                           size_t(source->bounds.bottom - source->bounds.top));
    g_spy.shown.push_back(std::move(shown));
  }
  return g_spy.hostDisplay(source, srcRect, dstRow, dstCol, context);
}

void SpyProgress(int32_t done, int32_t total) {
  if (done == 0) {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    ++g_spy.renders;
    if (GetCursor() == LoadCursor(nullptr, IDC_WAIT)) ++g_spy.rendersUnderWaitCursor;
  }
  g_spy.hostProgress(done, total);
}

void SpyEntry(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  auto* r = static_cast<FilterRecord*>(record);
  if (selector == kSelectorStart) {
    if (g_spy.adjust) g_spy.adjust(*r);
    g_spy.record = r;
    g_spy.hostAdvance = r->advanceState;
    g_spy.hostDisplay = r->displayPixels;
    g_spy.hostProgress = r->progressProc;
    r->advanceState = SpyAdvanceState;
    r->displayPixels = SpyDisplayPixels;
    r->progressProc = SpyProgress;
  }
  g_spy.plugin(selector, record, data, result);
}

// Every window created on the calling thread fails, as it does where there is no display.
LRESULT CALLBACK RefuseWindows(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) return 1;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

EffectSettings SettingsOf(const EffectParams& p, float scale) {
  return {p.red, p.green, p.blue, p.threshold, p.radius, p.angle, p.streaks, p.mode, scale};
}

// What a preview of the delivered input must show, by the plain reading of the rules.
// A 16-bit preview is shown through its nearest 8-bit values.
std::vector<uint8_t> OraclePreview(const std::vector<uint8_t>& input, int width, int height,
                                   int planes, const EffectParams& p, float scale,
                                   oracle::FrameFlags flags = {}, int depth = 8) {
  oracle::Image in{width, height, planes, input, depth};
  oracle::ScriptedHost host;
  flags.previewing = true;
  const oracle::Image out = oracle::Render(in, SettingsOf(p, scale), flags, host);
  return depth == 16 ? oracle::Narrow(out).samples : out.samples;
}

// The picture as a 16-bit document: samples off their 8-bit values by less than half a
// step, and some above full intensity.
std::vector<uint8_t> Deeper(const std::vector<uint8_t>& picture) {
  std::vector<uint8_t> deep(picture.size() * 2);
  for (size_t i = 0; i < picture.size(); ++i) {
    const int32_t v = SixteenOfEightBit(picture[i]) + int32_t(i * 13 % 129) - 64;
    const uint16_t w = i % 97 == 0 ? 40000 : uint16_t(std::clamp(v, 0, kFullSixteen));
    std::memcpy(&deep[2 * i], &w, 2);
  }
  return deep;
}

// A run with the dialog, and how the host behaves in it.
struct RunSetup {
  int width = 48;
  int height = 40;
  int planes = 3;
  int depth = 8;  // 16: a 16-bit RGB document
  std::function<void(FilterRecord&)> adjust;
  OSErr failAcquisition = kNoErr;
  bool hostWindow = false;              // the host hands a window of its own in platformData
  bool noWindows = false;               // no window can be created
  bool maskError = false;               // a "Mask Error" box comes before the dialog
  DescriptorHost* scripting = nullptr;  // a host that records and plays back steps
};

class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CloseWindowsWithoutWaiting();
    std::string error;
    plugin_ = PluginModule::Load(PluginBesideThisProgram(), &error).release();
    ASSERT_NE(plugin_, nullptr) << error;
    g_spy.plugin = plugin_->entry();
  }

  static EffectParams Stored() {
    EffectParams p = DefaultEffectParams();
    p.red = 10;
    p.green = 20;
    p.blue = 30;
    p.threshold = 40;
    p.radius = 50;
    p.streaks = 6;
    p.angle = 70;
    p.mode = kModeGlow;
    return p;
  }

  // Settings under which the lamps glow.
  static EffectParams Glowing() {
    EffectParams p = Stored();
    p.red = kLamp[0];
    p.green = kLamp[1];
    p.blue = kLamp[2];
    p.threshold = 10;
    p.radius = 24;
    return p;
  }

  // Starts a run with the dialog on the stored settings and waits for the dialog.
  void Open(const EffectParams& stored, const RunSetup& setup = {}) {
    {
      std::lock_guard<std::mutex> hold(g_spy.lock);
      g_spy.adjust = setup.adjust;
      g_spy.failAcquisition = setup.failAcquisition;
      g_spy.requests.clear();
      g_spy.previewInput.clear();
      g_spy.shown.clear();
      g_spy.renders = g_spy.rendersUnderWaitCursor = 0;
    }
    host_ = std::make_unique<FilterHost>(SpyEntry, plugin_->pipl().enablesRGB48);
    depth_ = setup.depth;
    std::vector<uint8_t> picture = TestPicture(setup.width, setup.height, setup.planes);
    if (setup.depth == 16) picture = Deeper(picture);
    ASSERT_TRUE(host_->SetImage(
        Image{setup.width, setup.height, setup.planes, std::move(picture), setup.depth}));
    host_->SetParams(stored);
    host_->SetScripting(setup.scripting);
    finished_ = false;
    worker_ = std::thread([this, setup] {
      HWND owner = nullptr;
      if (setup.hostWindow) {
        owner = CreateWindowExA(0, "STATIC", "Test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                500, 400, nullptr, nullptr, nullptr, nullptr);
        host_->SetHostWindow(owner);
        owner_ = owner;
      }
      HHOOK refuse = setup.noWindows
                         ? SetWindowsHookExA(WH_CBT, RefuseWindows, nullptr, GetCurrentThreadId())
                         : nullptr;
      result_ = host_->Run(true);
      if (refuse) UnhookWindowsHookEx(refuse);
      if (owner) DestroyWindow(owner);
      finished_ = true;
    });
    if (setup.noWindows) return;
    if (setup.maskError) {
      HWND box = nullptr;
      // Shown, so that its text is in place (its owner, the dialog, is not shown yet).
      for (int i = 0; i < 500 && !(box && IsWindowVisible(box)); ++i, Sleep(20))
        box = FindWindowA(nullptr, "Mask Error");
      ASSERT_NE(box, nullptr) << "no \"Mask Error\" box";
      char ownerTitle[64] = {}, text[512] = {};
      GetWindowTextA(GetWindow(box, GW_OWNER), ownerTitle, sizeof ownerTitle);
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      maskErrorOwner_ = ownerTitle;
      maskErrorText_ = text;
      SendMessageA(box, WM_COMMAND, IDOK, 0);
    }
    dialog_ = WaitForWindow("Tessory Corvanel");
    ASSERT_NE(dialog_, nullptr) << "the dialog did not open";
  }

  // Waits for the run to end after the dialog was closed.
  OSErr Finish() {
    for (int i = 0; i < 1000 && !finished_; ++i) {
      // A modal loop that was ended from another thread wakes on its next message.
      if (IsWindow(dialog_)) PostMessageA(dialog_, WM_NULL, 0, 0);
      Sleep(10);
    }
    EXPECT_TRUE(finished_) << "the run did not end";
    if (!finished_) {
      // Nothing else can end it: a hung modal loop would hang every later test too.
      ADD_FAILURE();
      std::fflush(stdout);
      ExitProcess(1);
    }
    worker_.join();
    EXPECT_FALSE(IsWindow(dialog_)) << "the dialog outlived the run";
    return result_;
  }

  OSErr Close(int button) {
    Click(dialog_, button);
    return Finish();
  }

  void TearDown() override {
    if (!worker_.joinable()) return;
    if (HWND chooser = FindWindowA(nullptr, "Color"))
      PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
    if (IsWindow(dialog_)) PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
    Finish();
  }

  EffectParams& Record() { return *host_->params(); }
  int32_t& Field(ParamIndex param) { return Record().*kParamRanges[param].field; }

  // Types into a box and moves the focus on to another control, as Tab does.
  void Type(ParamIndex param, const std::string& text, int focusNext = IDC_SLIDER_RED) {
    Focus(dialog_, RowOf(param).edit);
    SetText(dialog_, RowOf(param).edit, text);
    Focus(dialog_, focusNext);
  }

  // What the engine makes of the source image with these settings.
  std::vector<uint8_t> EngineOutput(const EffectParams& p) {
    const Image& source = host_->source();
    std::vector<uint8_t> out(source.pixels.size());
    int32_t rowBytes = int32_t(source.rowBytes());
    PixelBuffers buffers{source.pixels.data(), rowBytes,      out.data(),   rowBytes,
                         source.width,         source.height, source.planes};
    EffectSettings settings{p.red,   p.green,   p.blue, p.threshold, p.radius,
                            p.angle, p.streaks, p.mode, 1.0f};
    const RenderContextPtr context = NewRenderContext();
    RenderPixels(*context, buffers, settings, {}, HostPolling{nullptr, nullptr, nullptr});
    return out;
  }

  // Reads of the spy, taken under its lock.
  int Renders() {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    return g_spy.renders;
  }
  int RendersUnderWaitCursor() {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    return g_spy.rendersUnderWaitCursor;
  }
  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    return g_spy.requests;
  }
  std::vector<uint8_t> PreviewInput() {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    return g_spy.previewInput;
  }
  size_t ShownCount() {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    return g_spy.shown.size();
  }
  Shown LastShown() {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    return g_spy.shown.empty() ? Shown{} : g_spy.shown.back();
  }

  // Lets the dialog finish the paints the window system has asked of it; how many
  // displayPixels calls there have been by then.
  size_t Settle() {
    size_t before;
    do {
      before = ShownCount();
      Repaint(dialog_);
      Sleep(50);
      SendMessageA(dialog_, WM_NULL, 0, 0);
    } while (ShownCount() != before);
    return before;
  }

  // Has the whole dialog painted afresh, as a window uncovered would be, and waits for it:
  // what displayPixels was handed then.
  Shown FreshPaint() {
    const size_t before = ShownCount();
    ForceRepaint(dialog_);
    for (int i = 0; i < 200 && ShownCount() == before; ++i) Sleep(10);
    Settle();
    return LastShown();
  }

  // Waits (up to a few seconds) for the dialog to have rendered this often in all.
  void WaitForRenders(int count) {
    for (int i = 0; i < 1000 && Renders() < count; ++i) Sleep(10);
    EXPECT_EQ(Renders(), count);
  }

  // The frame's size in pixels: the same in every dialog of this process.
  SIZE FrameSize() {
    if (frameSize_.cx == 0) {
      Open(Stored());
      const RECT frame = ControlRect(dialog_, IDC_PREVIEW);
      frameSize_ = {frame.right - frame.left, frame.bottom - frame.top};
      EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
    }
    return frameSize_;
  }

  // The preview image's rectangle, in client coordinates, as the geometry of the dialog
  // on screen puts it: centred on the frame's outer rectangle.
  RECT ImageRect(const Rect& outRect) {
    RECT frame{};
    GetWindowRect(GetDlgItem(dialog_, IDC_PREVIEW), &frame);
    POINT origin{0, 0};
    ClientToScreen(dialog_, &origin);
    const int w = outRect.right - outRect.left, h = outRect.bottom - outRect.top;
    const int left = (frame.left + frame.right - w) / 2 - origin.x;
    const int top = (frame.top + frame.bottom - h) / 2 - origin.y;
    return RECT{left, top, left + w, top + h};
  }

  // The preview the dialog must show now, from the host's reduced input to its latest request.
  std::vector<uint8_t> ExpectedPreview(const oracle::FrameFlags& flags = {}) {
    const Request last = Requests().back();
    const int w = last.outRect.right - last.outRect.left;
    const int h = last.outRect.bottom - last.outRect.top;
    return OraclePreview(PreviewInput(), w, h, last.outHiPlane + 1, Record(), last.scale, flags,
                         depth_);
  }

  static PluginModule* plugin_;
  static SIZE frameSize_;
  std::unique_ptr<FilterHost> host_;
  std::thread worker_;
  std::atomic<bool> finished_{false};
  std::atomic<HWND> owner_{nullptr};
  OSErr result_ = 12345;
  HWND dialog_ = nullptr;
  int depth_ = 8;
  std::string maskErrorOwner_, maskErrorText_;
};
PluginModule* DialogTest::plugin_ = nullptr;
SIZE DialogTest::frameSize_ = {0, 0};

TEST_F(DialogTest, OpensWithEveryControlFilledFromTheRecord) {
  Open(Stored());
  EffectParams stored = Stored();
  for (const Row& row : kRows) {
    const ParamRange& range = kParamRanges[row.param];
    SCOPED_TRACE(range.label);
    int32_t value = stored.*range.field;
    EXPECT_EQ(Text(dialog_, row.edit), std::to_string(value));
    EXPECT_EQ(SliderPos(dialog_, row.slider), value);
    EXPECT_EQ(SliderMin(dialog_, row.slider), range.min);
    EXPECT_EQ(SliderMax(dialog_, row.slider), range.max);
  }
  EXPECT_EQ(SliderMax(dialog_, IDC_SLIDER_RED), 255);
  EXPECT_EQ(SliderMax(dialog_, IDC_SLIDER_THRESHOLD), 100);
  EXPECT_EQ(SliderMax(dialog_, IDC_SLIDER_STREAKS), 40);
  EXPECT_EQ(SliderMax(dialog_, IDC_SLIDER_ANGLE), 180);

  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_GLOW));
  EXPECT_FALSE(Checked(dialog_, IDC_RADIO_SPARKLE));
  for (int id : kSparkleOnly) EXPECT_FALSE(Enabled(dialog_, id)) << id;
  for (int id : {IDC_SLIDER_RADIUS, IDC_EDIT_RADIUS, IDC_LABEL_RADIUS, IDC_EDIT_RED})
    EXPECT_TRUE(Enabled(dialog_, id)) << id;
  EXPECT_FALSE(Checked(dialog_, IDC_USE_COLOR));
  EXPECT_EQ(FocusedWindow(dialog_), GetDlgItem(dialog_, IDC_SLIDER_RED));

  // The controls stand in template order, which is the tab order.
  const int order[] = {IDC_SLIDER_RED,
                       IDC_EDIT_RED,
                       IDC_SLIDER_GREEN,
                       IDC_EDIT_GREEN,
                       IDC_SLIDER_BLUE,
                       IDC_EDIT_BLUE,
                       IDC_SLIDER_THRESHOLD,
                       IDC_EDIT_THRESHOLD,
                       IDC_SLIDER_RADIUS,
                       IDC_EDIT_RADIUS,
                       IDC_SLIDER_STREAKS,
                       IDC_EDIT_STREAKS,
                       IDC_SLIDER_ANGLE,
                       IDC_EDIT_ANGLE,
                       IDC_RADIO_GLOW,
                       IDC_RADIO_SPARKLE,
                       IDOK,
                       IDCANCEL,
                       -1,
                       -1,
                       IDC_LABEL_RED,
                       IDC_LABEL_GREEN,
                       IDC_LABEL_BLUE,
                       IDC_LABEL_THRESHOLD,
                       IDC_LABEL_RADIUS,
                       IDC_LABEL_STREAKS,
                       IDC_LABEL_ANGLE,
                       IDC_PREVIEW,
                       -1,
                       IDC_SWATCH,
                       IDC_SET_COLOR,
                       IDC_USE_COLOR};
  HWND child = GetWindow(dialog_, GW_CHILD);
  for (int id : order) {
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(int16_t(GetDlgCtrlID(child)), id);
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);

  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
  EXPECT_EQ(host_->output().pixels, host_->source().pixels);
  EXPECT_EQ(host_->advanceStateCalls(), 1) << "Start asked for more than the preview";
  EXPECT_EQ(Record().showDialog, 0);
}

TEST_F(DialogTest, StoredValuesOutOfRangeOpenClampedAndStayClampedAfterCancel) {
  EffectParams stored = Stored();
  stored.threshold = 150;
  stored.red = 300;
  stored.angle = -4;
  stored.streaks = 41;
  stored.mode = 7;
  Open(stored);
  EXPECT_EQ(Text(dialog_, IDC_EDIT_THRESHOLD), "100");
  EXPECT_EQ(SliderPos(dialog_, IDC_SLIDER_THRESHOLD), 100);
  EXPECT_EQ(Text(dialog_, IDC_EDIT_RED), "255");
  EXPECT_EQ(Text(dialog_, IDC_EDIT_ANGLE), "0");
  EXPECT_EQ(Text(dialog_, IDC_EDIT_STREAKS), "40");
  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_SPARKLE));
  EXPECT_FALSE(Checked(dialog_, IDC_RADIO_GLOW));
  for (int id : kSparkleOnly) EXPECT_TRUE(Enabled(dialog_, id)) << id;

  SendMessageA(dialog_, WM_CLOSE, 0, 0);  // the close box
  EXPECT_EQ(Finish(), kUserCancelled);
  EXPECT_EQ(Record().threshold, 100);
  EXPECT_EQ(Record().red, 255);
  EXPECT_EQ(Record().angle, 0);
  EXPECT_EQ(Record().streaks, 40);
  EXPECT_EQ(Record().mode, kModeSparkle);
  EXPECT_EQ(host_->output().pixels, host_->source().pixels);
}

TEST_F(DialogTest, ATypedValueCommitsWhenItsBoxLosesTheFocus) {
  EffectParams stored = Stored();
  stored.mode = kModeSparkle;
  Open(stored);
  struct Case {
    ParamIndex param;
    const char* text;
    int32_t committed;
  } cases[] = {
      {kParamRed, "abc", 0},
      {kParamRed, "200", 200},
      {kParamRed, "", 0},
      {kParamRed, "-5", 0},
      {kParamRed, "300", 255},
      {kParamRed, " 42", 42},
      {kParamRed, "+7", 7},
      {kParamRed, "007", 7},
      {kParamRed, "12abc", 12},
      {kParamRed, "1e3", 1},
      {kParamRed, "4294967303", 255},            // would wrap to 7 in 32 bits
      {kParamRed, "0000000000000000000123", 0},  // only 19 characters are read
      {kParamGreen, "128", 128},
      {kParamBlue, "-4294967295", 0},  // would wrap to 1
      {kParamThreshold, "150", 100},
      {kParamRadius, "-1", 0},
      {kParamStreaks, "41", 40},
      {kParamAngle, "181", 180},
      {kParamAngle, "90", 90},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(kParamRanges[c.param].label) + " \"" + c.text + "\"");
    const Row& row = RowOf(c.param);
    int32_t before = Field(c.param);
    Focus(dialog_, row.edit);
    SetText(dialog_, row.edit, c.text);
    EXPECT_EQ(Field(c.param), before) << "committed before the box lost the focus";
    Focus(dialog_, IDC_SLIDER_RED);
    EXPECT_EQ(Field(c.param), c.committed);
    EXPECT_EQ(Text(dialog_, row.edit), std::to_string(c.committed));
    EXPECT_EQ(SliderPos(dialog_, row.slider), c.committed);
  }
  // Cancel keeps what was committed and leaves the image alone.
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
  EXPECT_EQ(Record().red, 0);
  EXPECT_EQ(Record().green, 128);
  EXPECT_EQ(Record().threshold, 100);
  EXPECT_EQ(Record().angle, 90);
  EXPECT_EQ(host_->output().pixels, host_->source().pixels);
  EXPECT_EQ(host_->advanceStateCalls(), 1) << "Start asked for more than the preview";
}

TEST_F(DialogTest, ASliderMovedWithoutTheMouseCommitsOnlyThroughItsBox) {
  Open(Stored());
  SliderKey(dialog_, IDC_SLIDER_RED, VK_RIGHT);
  SliderKey(dialog_, IDC_SLIDER_RED, VK_RIGHT);
  EXPECT_EQ(SliderPos(dialog_, IDC_SLIDER_RED), 12);
  EXPECT_EQ(Text(dialog_, IDC_EDIT_RED), "12");
  EXPECT_EQ(Record().red, 10);
  SliderKey(dialog_, IDC_SLIDER_RED, VK_END);
  EXPECT_EQ(Text(dialog_, IDC_EDIT_RED), "255");
  EXPECT_EQ(Record().red, 10);
  // Passing through the box commits what it shows.
  Focus(dialog_, IDC_EDIT_RED);
  EXPECT_EQ(Record().red, 10);
  Focus(dialog_, IDC_SLIDER_GREEN);
  EXPECT_EQ(Record().red, 255);

  // A drag follows in the box and commits when the mouse lets go.
  SliderKey(dialog_, IDC_SLIDER_GREEN, VK_HOME);
  EXPECT_EQ(Text(dialog_, IDC_EDIT_GREEN), "0");
  EXPECT_EQ(Record().green, 20);
  SliderDrag(dialog_, IDC_SLIDER_THRESHOLD, 77);
  EXPECT_EQ(Text(dialog_, IDC_EDIT_THRESHOLD), "77");
  EXPECT_EQ(Record().threshold, 77);
  EXPECT_EQ(Record().green, 20) << "another slider's release committed this one";

  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

TEST_F(DialogTest, GlowGreysTheSparkleRowsAndSparkleBringsThemBackUnchanged) {
  EffectParams stored = Stored();
  stored.mode = kModeSparkle;
  stored.streaks = 12;
  stored.angle = 33;
  Open(stored);
  for (int id : kSparkleOnly) EXPECT_TRUE(Enabled(dialog_, id)) << id;

  Click(dialog_, IDC_RADIO_GLOW);
  EXPECT_EQ(Record().mode, kModeGlow);
  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_GLOW));
  EXPECT_FALSE(Checked(dialog_, IDC_RADIO_SPARKLE));
  for (int id : kSparkleOnly) EXPECT_FALSE(Enabled(dialog_, id)) << id;
  EXPECT_TRUE(Enabled(dialog_, IDC_EDIT_RADIUS));
  EXPECT_EQ(Text(dialog_, IDC_EDIT_STREAKS), "12");
  EXPECT_EQ(Record().streaks, 12);
  EXPECT_EQ(Record().angle, 33);

  Click(dialog_, IDC_RADIO_SPARKLE);
  EXPECT_EQ(Record().mode, kModeSparkle);
  for (int id : kSparkleOnly) EXPECT_TRUE(Enabled(dialog_, id)) << id;
  EXPECT_EQ(Text(dialog_, IDC_EDIT_STREAKS), "12");
  EXPECT_EQ(SliderPos(dialog_, IDC_SLIDER_STREAKS), 12);
  EXPECT_EQ(Text(dialog_, IDC_EDIT_ANGLE), "33");
  EXPECT_EQ(SliderPos(dialog_, IDC_SLIDER_ANGLE), 33);
  EXPECT_EQ(Record().streaks, 12);
  EXPECT_EQ(Record().angle, 33);
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

TEST_F(DialogTest, OkRendersTheChosenSettings) {
  Open(Stored());
  Type(kParamRed, "250");
  Type(kParamGreen, "240");
  Type(kParamBlue, "230");
  Type(kParamThreshold, "20");
  Type(kParamRadius, "6");
  Click(dialog_, IDC_RADIO_SPARKLE);
  Type(kParamStreaks, "5");
  // The last box is left with the focus in it: the click on OK commits it.
  Focus(dialog_, IDC_EDIT_ANGLE);
  SetText(dialog_, IDC_EDIT_ANGLE, "30");
  EXPECT_EQ(Close(IDOK), kNoErr);

  EffectParams chosen = Record();
  EXPECT_EQ(chosen.red, 250);
  EXPECT_EQ(chosen.threshold, 20);
  EXPECT_EQ(chosen.radius, 6);
  EXPECT_EQ(chosen.streaks, 5);
  EXPECT_EQ(chosen.angle, 30);
  EXPECT_EQ(chosen.mode, kModeSparkle);
  EXPECT_EQ(chosen.showDialog, 0);
  EXPECT_EQ(chosen.scale, 1.0f);
  EXPECT_GE(host_->advanceStateCalls(), 2);
  EXPECT_EQ(host_->output().pixels, EngineOutput(chosen));
}

// At any resolution (the suite runs at 96, 144 and 192 dots per inch) every control lies
// inside the dialog, no two boxes or sliders meet, and the text of every box fits its height.
void ExpectEveryControlFits(HWND dialog) {
  RECT client{};
  GetClientRect(dialog, &client);
  std::vector<RECT> rows;
  for (const Row& row : kRows)
    for (int id : {row.slider, row.edit}) {
      const RECT r = ControlRect(dialog, id);
      EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
          << id;
      for (const RECT& other : rows) {
        RECT meet{};
        EXPECT_FALSE(IntersectRect(&meet, &r, &other)) << id;
      }
      rows.push_back(r);
    }
  for (int id : {IDC_PREVIEW, IDC_SWATCH, IDC_SET_COLOR, IDC_USE_COLOR, IDOK, IDCANCEL}) {
    const RECT r = ControlRect(dialog, id);
    EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
        << id;
  }
  HWND box = GetDlgItem(dialog, IDC_EDIT_RADIUS);
  HDC dc = GetDC(box);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(box, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(box, dc);
  const RECT r = ControlRect(dialog, IDC_EDIT_RADIUS);
  EXPECT_GE(r.bottom - r.top, metrics.tmHeight) << "the box's text does not fit";
}

TEST_F(DialogTest, EveryControlFitsTheDialogAtThisResolution) {
  Open(Stored());
  ExpectEveryControlFits(dialog_);
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

// A host aware of each monitor's resolution moves the open dialog to a monitor of another
// and back (Wine never does: the message is sent as Windows sends it): the controls are laid
// out for each and still fit, and the preview is asked for again, reduced to fit its frame.
TEST_F(DialogTest, AChangeOfResolutionWhileOpenLaysTheDialogOutAgain) {
  RunSetup setup;
  setup.width = 1000;
  setup.height = 600;
  Open(Glowing(), setup);
  HDC dc = GetDC(dialog_);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(dialog_, dc);
  const RECT opened = ControlRect(dialog_, IDC_PREVIEW);
  const int other = dpi == 96 ? 144 : 96;
  int from = dpi;
  for (int to : {other, dpi}) {
    SCOPED_TRACE(::testing::Message() << from << " to " << to << " dots per inch");
    RECT window{};
    GetWindowRect(dialog_, &window);
    RECT suggested{window.left, window.top,
                   window.left + MulDiv(window.right - window.left, to, from),
                   window.top + MulDiv(window.bottom - window.top, to, from)};
    SendMessageA(dialog_, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    Settle();
    from = to;
    const RECT frame = ControlRect(dialog_, IDC_PREVIEW);
    const int frameW = frame.right - frame.left, frameH = frame.bottom - frame.top;
    EXPECT_NEAR(frameW, MulDiv(opened.right - opened.left, to, dpi), 2);
    EXPECT_NEAR(frameH, MulDiv(opened.bottom - opened.top, to, dpi), 2);
    ExpectEveryControlFits(dialog_);

    const Request q = Requests().back();
    auto ceilDiv = [](int a, int b) { return (a + b - 1) / b; };
    const int insetW = frameW - 2, insetH = frameH - 2;
    const int factor =
        std::max(ceilDiv(1000, std::min(insetW, 1000)), ceilDiv(600, std::min(insetH, 600)));
    EXPECT_EQ(q.inputRate, factor << 16);
    EXPECT_EQ(q.outRect.right, 1000 / factor);
    EXPECT_EQ(q.outRect.bottom, 600 / factor);
    const Shown shown = FreshPaint();
    const RECT image = ImageRect(q.outRect);
    EXPECT_EQ(shown.dstCol, image.left);
    EXPECT_EQ(shown.dstRow, image.top);
    EXPECT_TRUE(shown.pixels == ExpectedPreview());
  }
  EXPECT_EQ(Requests().size(), 3u) << "one request when opened and one for each change";
  EXPECT_EQ(Close(IDOK), kNoErr);
  EXPECT_EQ(host_->output().pixels, EngineOutput(Record()));
}

// A step recorded from the dialog, as an editor records an action: shown again it opens on
// the step's settings, and played without the dialog into a fresh record it renders what was
// chosen, and records it the same.
TEST_F(DialogTest, ARecordedStepOpensOnItsSettingsAndPlaysBackWhatWasChosen) {
  DescriptorHost recording;
  recording.setup.playInfo = kPlayDisplay;
  RunSetup setup;
  setup.scripting = &recording;
  Open(Glowing(), setup);
  Type(kParamRadius, "7");
  Click(dialog_, IDC_RADIO_SPARKLE);
  EXPECT_EQ(Close(IDOK), kNoErr);
  ASSERT_TRUE(recording.recorded && recording.recordedDecodes);
  const Image source = host_->source();
  const std::vector<uint8_t> chosen = host_->output().pixels;
  EXPECT_EQ(chosen, EngineOutput(Record()));

  DescriptorHost shown;
  shown.setup.playInfo = kPlayDisplay;
  shown.setup.descriptor = EncodeDescriptor(recording.descriptor);
  setup.scripting = &shown;
  Open(Stored(), setup);
  EXPECT_EQ(Text(dialog_, IDC_EDIT_RADIUS), "7");
  EXPECT_EQ(Text(dialog_, IDC_EDIT_RED), std::to_string(kLamp[0]));
  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_SPARKLE));
  EXPECT_EQ(Close(IDOK), kNoErr);
  EXPECT_EQ(host_->output().pixels, chosen);

  DescriptorHost played;
  played.setup.descriptor = EncodeDescriptor(recording.descriptor);
  FilterHost quiet(plugin_->entry(), plugin_->pipl().enablesRGB48);
  ASSERT_TRUE(quiet.SetImage(source));
  quiet.SetScripting(&played);
  EXPECT_EQ(quiet.Run(false), kNoErr);
  EXPECT_EQ(quiet.output().pixels, chosen);
  EXPECT_EQ(played.descriptor, recording.descriptor);
  EXPECT_EQ(played.LiveHandles() + played.OpenTokens() + size_t(played.badDisposals), 0u);

  // A step drawn in an effect colour of its own opens on that colour, ticked, and keeps it.
  Descriptor red = recording.descriptor;
  for (DescriptorItem& item : red) {
    if (item.key == kUseColourParam.key) item.integer = 1;
    if (item.key == kEffectColourParam.key)
      for (DescriptorItem& channel : item.object) channel.number = channel.key == kKeyRed ? 255 : 0;
  }
  DescriptorHost coloured;
  coloured.setup.playInfo = kPlayDisplay;
  coloured.setup.descriptor = EncodeDescriptor(red);
  setup.scripting = &coloured;
  Open(Stored(), setup);
  EXPECT_TRUE(Checked(dialog_, IDC_USE_COLOR));
  const RECT swatch = ControlRect(dialog_, IDC_SWATCH);
  EXPECT_EQ(
      PixelAt(dialog_, POINT{(swatch.left + swatch.right) / 2, (swatch.top + swatch.bottom) / 2}),
      RGB(255, 0, 0));
  EXPECT_EQ(Close(IDOK), kNoErr);
  EXPECT_EQ(coloured.descriptor, red);
  EXPECT_NE(host_->output().pixels, chosen);
}

// A key as the keyboard delivers it to a control, through the dialog's loop.
void PostKey(HWND control, UINT key, bool down) {
  const bool alt = key == VK_MENU;
  PostMessageA(control, alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP),
               key, down ? 1 : 0xC0000001);
}

// Shift held or not, as the dialog's thread sees the keyboard.
void HoldShift(HWND dialog, bool held) {
  const DWORD theirs = GetWindowThreadProcessId(dialog, nullptr);
  AttachThreadInput(GetCurrentThreadId(), theirs, TRUE);
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_SHIFT] = held ? 0x80 : 0;
  SetKeyboardState(keys);
  AttachThreadInput(GetCurrentThreadId(), theirs, FALSE);
}

// Waits until a control reads the text, up to a few seconds.
bool Reads(HWND dialog, int id, const std::string& text) {
  for (int i = 0; i < 300 && Text(dialog, id) != text; ++i) Sleep(10);
  return Text(dialog, id) == text;
}

// Alt held turns Cancel into Reset, which puts back everything the dialog opened with and
// keeps it open; let go, it is Cancel again.
TEST_F(DialogTest, AltTurnsCancelIntoResetWhichPutsBackTheOpeningSettings) {
  Open(Stored());
  Type(kParamRadius, "3");
  Type(kParamRed, "200");
  Click(dialog_, IDC_RADIO_SPARKLE);
  Click(dialog_, IDC_USE_COLOR);
  const int before = Renders();
  HWND box = GetDlgItem(dialog_, IDC_EDIT_GREEN);
  PostKey(box, VK_MENU, true);
  ASSERT_TRUE(Reads(dialog_, IDCANCEL, "Reset"));
  Click(dialog_, IDCANCEL);
  EXPECT_TRUE(IsWindow(dialog_)) << "Reset ended the dialog";
  EXPECT_EQ(Text(dialog_, IDC_EDIT_RADIUS), "50");
  EXPECT_EQ(Text(dialog_, IDC_EDIT_RED), "10");
  EXPECT_EQ(SliderPos(dialog_, IDC_SLIDER_RADIUS), 50);
  EXPECT_TRUE(Checked(dialog_, IDC_RADIO_GLOW));
  EXPECT_FALSE(Checked(dialog_, IDC_USE_COLOR));
  EXPECT_FALSE(Enabled(dialog_, IDC_EDIT_STREAKS));
  EXPECT_EQ(Record().radius, 50);
  EXPECT_EQ(Record().red, 10);
  EXPECT_EQ(Record().mode, kModeGlow);
  WaitForRenders(before + 1);
  PostKey(box, VK_MENU, false);
  ASSERT_TRUE(Reads(dialog_, IDCANCEL, "Cancel"));
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
  EXPECT_EQ(Record().radius, 50);
}

// Up and Down in a box, and the wheel over a box or a slider, step the setting by 1 (with
// Shift by 10), clamped as typing would be: the box, the slider, the record and one preview
// follow. A box's typed text is the value stepped from; a greyed row does not move.
TEST_F(DialogTest, ArrowsAndTheWheelStepASettingAsTypingWould) {
  enum Input { kUp, kDown, kWheelUp, kWheelDown };
  struct Case {
    ParamIndex param;
    bool onSlider;  // the wheel over the slider instead of the box
    Input input;
    bool shift;
    const char* typed;  // left in the box uncommitted; null: none
    int32_t expected;
  };
  const Case cases[] = {
      {kParamRadius, false, kUp, false, nullptr, 51},
      {kParamRadius, false, kDown, false, nullptr, 49},
      {kParamRadius, false, kUp, true, nullptr, 60},
      {kParamRadius, false, kDown, true, nullptr, 40},
      {kParamRed, false, kDown, true, "3", 0},
      {kParamThreshold, false, kUp, true, "95", 100},
      {kParamRadius, false, kUp, false, "7x", 8},
      {kParamRadius, false, kWheelUp, false, nullptr, 51},
      {kParamRadius, true, kWheelDown, false, nullptr, 49},
      {kParamThreshold, true, kWheelUp, true, nullptr, 50},
      {kParamStreaks, false, kWheelUp, false, nullptr, 6},  // Glow: greyed, unchanged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(kParamRanges[c.param].label) + " " + std::to_string(c.input) +
                 (c.shift ? " with Shift" : "") + (c.onSlider ? " over the slider" : ""));
    Open(Stored());
    const Row& row = RowOf(c.param);
    HWND target = GetDlgItem(dialog_, c.onSlider ? row.slider : row.edit);
    Focus(dialog_, row.edit);
    if (c.typed) SetText(dialog_, row.edit, c.typed);
    const int before = Renders();
    if (c.input == kUp || c.input == kDown) {
      HoldShift(dialog_, c.shift);
      PostKey(target, c.input == kUp ? VK_UP : VK_DOWN, true);
      PostKey(target, c.input == kUp ? VK_UP : VK_DOWN, false);
    } else {
      RECT r{};
      GetWindowRect(target, &r);
      const WORD keys = c.shift ? MK_SHIFT : 0;
      const short delta = c.input == kWheelUp ? WHEEL_DELTA : -WHEEL_DELTA;
      PostMessageA(target, WM_MOUSEWHEEL, MAKEWPARAM(keys, WORD(delta)),
                   MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    }
    SendMessageA(dialog_, WM_NULL, 0, 0);
    EXPECT_TRUE(Reads(dialog_, row.edit, std::to_string(c.expected))) << Text(dialog_, row.edit);
    EXPECT_EQ(Field(c.param), c.expected);
    EXPECT_EQ(SliderPos(dialog_, row.slider), c.expected);
    HoldShift(dialog_, false);
    const bool moved = c.param != kParamStreaks;
    if (moved) WaitForRenders(before + 1);
    EXPECT_EQ(Renders(), before + (moved ? 1 : 0));
    EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
  }
}

// Enter is OK with the value being typed committed first, Esc is Cancel, from every box;
// Esc cancels even with Alt held.
TEST_F(DialogTest, EnterIsOkAndEscIsCancelFromEveryBox) {
  for (const Row& row : kRows) {
    for (bool enter : {true, false}) {
      SCOPED_TRACE(std::string(kParamRanges[row.param].label) + (enter ? " Enter" : " Esc"));
      EffectParams stored = Stored();
      stored.mode = kModeSparkle;  // every box enabled
      Open(stored);
      Focus(dialog_, row.edit);
      SetText(dialog_, row.edit, "1");
      HWND box = GetDlgItem(dialog_, row.edit);
      if (!enter) PostKey(box, VK_MENU, true);
      PostKey(box, enter ? VK_RETURN : VK_ESCAPE, true);
      PostKey(box, enter ? VK_RETURN : VK_ESCAPE, false);
      EXPECT_EQ(Finish(), enter ? kNoErr : kUserCancelled);
      if (enter) {
        EXPECT_EQ(Field(row.param), 1);
      }
    }
  }
}

// The tooltip control among a thread's windows.
BOOL CALLBACK FindTooltips(HWND window, LPARAM found) {
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (_stricmp(cls, TOOLTIPS_CLASSA) != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// Each slider and box explains its setting and its range, from the parameter table.
TEST_F(DialogTest, EverySliderAndBoxHasATooltipWithItsRange) {
  Open(Stored());
  HWND tips = nullptr;
  EnumThreadWindows(GetWindowThreadProcessId(dialog_, nullptr), FindTooltips,
                    reinterpret_cast<LPARAM>(&tips));
  ASSERT_NE(tips, nullptr);
  EXPECT_EQ(SendMessageA(tips, TTM_GETTOOLCOUNT, 0, 0), 2 * LRESULT(kParamCount));
  for (const Row& row : kRows)
    for (int id : {row.slider, row.edit}) {
      char text[512] = {};
      TTTOOLINFOA tool{};
      tool.cbSize = sizeof tool;
      tool.hwnd = dialog_;
      tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog_, id));
      tool.lpszText = text;
      SendMessageA(tips, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
      // The tooltip control hands back only the first 80 characters of a tip.
      const ParamRange& range = kParamRanges[row.param];
      std::string expected = range.label;
      expected.append(" (").append(std::to_string(range.min)).append(" to ");
      expected.append(std::to_string(range.max)).append(*range.unit ? " " : "");
      expected.append(range.unit).append("): ").append(range.description);
      const std::string shown = text;
      EXPECT_EQ(shown, expected.substr(0, shown.size()));
      EXPECT_GE(shown.size(), std::min<size_t>(expected.size(), 79));
    }
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

// The dialog opens where it was last left, kept inside the screen; left where no monitor
// shows it any more, it opens where it first did.
TEST_F(DialogTest, ReopensWhereItWasLastLeftInsideTheScreen) {
  auto at = [this] {
    RECT r{};
    GetWindowRect(dialog_, &r);
    return r;
  };
  Open(Stored());
  const RECT first = at();
  const int width = first.right - first.left, height = first.bottom - first.top;
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  struct Move {
    int left, top;
    bool shown;  // on the screen, or left where no monitor shows it
  };
  const Move moves[] = {
      {300, 200, true},
      {screenWidth - width / 2, screenHeight - height / 2, true},
      {screenWidth + 4000, screenHeight + 4000, false},
  };
  for (const Move& m : moves) {
    SetWindowPos(dialog_, nullptr, m.left, m.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
    Open(Stored());
    const RECT r = at();
    // Kept inside the screen where it was left; where it first opened otherwise.
    const int left = m.shown ? std::clamp(m.left, 0, screenWidth - width) : int(first.left);
    const int top = m.shown ? std::clamp(m.top, 0, screenHeight - height) : int(first.top);
    EXPECT_LE(std::abs(r.left - left), 1) << m.left << "," << m.top;
    EXPECT_LE(std::abs(r.top - top), 1) << m.left << "," << m.top;
  }
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

TEST_F(DialogTest, EnterInABoxCommitsItBeforeTheDialogEnds) {
  Open(Stored());
  Focus(dialog_, IDC_EDIT_RADIUS);
  SetText(dialog_, IDC_EDIT_RADIUS, "3");
  // Enter through the modal loop, as the keyboard delivers it: the default button.
  HWND box = GetDlgItem(dialog_, IDC_EDIT_RADIUS);
  PostMessageA(box, WM_KEYDOWN, VK_RETURN, 1);
  PostMessageA(box, WM_KEYUP, VK_RETURN, 0xC0000001);
  EXPECT_EQ(Finish(), kNoErr);
  EXPECT_EQ(Record().radius, 3);
  EXPECT_EQ(host_->output().pixels, EngineOutput(Record()));
}

// The acquisition and the first preview, for filter rectangles that fit the frame, fill it
// exactly, miss it by one pixel, are far larger, or do not start at the image's corner.
TEST_F(DialogTest, ThePreviewIsTheFilterRectangleReducedToFitTheFrameAndCentredOnIt) {
  const SIZE frame = FrameSize();
  const int insetW = frame.cx - 2, insetH = frame.cy - 2;
  struct Case {
    const char* name;
    int width, height, planes;
    Rect filter;  // all zero: the whole image
    OSType hostSig = FourCC('8', 'B', 'I', 'M');
  } cases[] = {
      {"1000 x 600", 1000, 600, 3, {}},
      {"fits", 200, 100, 3, {}},
      {"as large as the inset frame", insetW, insetH, 3, {}},
      {"one pixel wider", insetW + 1, insetH, 3, {}},
      {"one pixel higher", insetW, insetH + 1, 3, {}},
      {"offset filter rectangle", 1010, 610, 3, {7, 5, 607, 1005}},
      {"four planes", 300, 200, 4, {}},
      // A host that ignores inputRate: the middle of the image at full size instead.
      {"GIMP's pspi", 1000, 600, 3, {}, kGimpPspiHostSig},
      {"GIMP's pspi, offset filter rectangle", 1010, 611, 4, {7, 5, 608, 1005}, kGimpPspiHostSig},
      {"GIMP's pspi, fits", 200, 100, 3, {}, kGimpPspiHostSig},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunSetup setup;
    setup.width = c.width;
    setup.height = c.height;
    setup.planes = c.planes;
    const Rect filter = c.filter.right ? c.filter : Rect{0, 0, int16_t(c.height), int16_t(c.width)};
    const Rect sentinel{-3, -4, -5, -6};
    setup.adjust = [&](FilterRecord& r) {
      r.filterRect = filter;
      r.hostSig = c.hostSig;
      r.maskRect = sentinel;  // no mask: these must stay as the host left them
      r.maskRate = 0x12345;
      r.maskPadding = 77;
    };
    Open(Glowing(), setup);

    const int imageW = filter.right - filter.left, imageH = filter.bottom - filter.top;
    auto ceilDiv = [](int a, int b) { return (a + b - 1) / b; };
    const bool reducing = c.hostSig != kGimpPspiHostSig;
    const int factor = reducing ? std::max(ceilDiv(imageW, std::min(insetW, imageW)),
                                           ceilDiv(imageH, std::min(insetH, imageH)))
                                : 1;
    const int cropW = std::min(insetW, imageW), cropH = std::min(insetH, imageH);
    const int16_t cropTop = int16_t(filter.top + (imageH - cropH) / 2);
    const int16_t cropLeft = int16_t(filter.left + (imageW - cropW) / 2);
    const Rect reduced =
        reducing ? Rect{int16_t(filter.top / factor), int16_t(filter.left / factor),
                        int16_t(filter.bottom / factor), int16_t(filter.right / factor)}
                 : Rect{cropTop, cropLeft, int16_t(cropTop + cropH), int16_t(cropLeft + cropW)};
    const std::vector<Request> requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    const Request& q = requests[0];
    auto same = [](const Rect& a, const Rect& b) {
      return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
    };
    EXPECT_TRUE(same(q.inRect, reduced) && same(q.outRect, reduced))
        << q.inRect.top << "," << q.inRect.left << "," << q.inRect.bottom << "," << q.inRect.right;
    EXPECT_EQ(q.inLoPlane, 0);
    EXPECT_EQ(q.outLoPlane, 0);
    EXPECT_EQ(q.inHiPlane, c.planes - 1);
    EXPECT_EQ(q.outHiPlane, c.planes - 1);
    EXPECT_EQ(q.inputRate, factor << 16);
    EXPECT_EQ(q.inputPadding, -1);
    EXPECT_EQ(q.outputPadding, -1);
    EXPECT_TRUE(same(q.maskRect, sentinel));
    EXPECT_EQ(q.maskRate, 0x12345);
    EXPECT_EQ(q.maskPadding, 77);
    EXPECT_EQ(q.scale, float(factor));
    EXPECT_EQ(Record().scale, float(factor));
    EXPECT_EQ(Renders(), c.planes == 3 ? 1 : 0) << "Glow on four planes polls nothing";

    const Shown shown = FreshPaint();
    ASSERT_GE(ShownCount(), 1u);
    const int w = reduced.right - reduced.left, h = reduced.bottom - reduced.top;
    EXPECT_EQ(shown.map.version, 1);
    EXPECT_EQ(shown.map.bounds.top, reduced.top);
    EXPECT_EQ(shown.map.bounds.left, reduced.left);
    EXPECT_EQ(shown.map.bounds.bottom, reduced.bottom);
    EXPECT_EQ(shown.map.bounds.right, reduced.right);
    EXPECT_EQ(std::memcmp(&shown.srcRect, &shown.map.bounds, sizeof(VRect)), 0);
    EXPECT_EQ(shown.map.imageMode, kImageModeRGB);
    EXPECT_EQ(shown.map.rowBytes, w * c.planes);
    EXPECT_EQ(shown.map.colBytes, c.planes);
    EXPECT_EQ(shown.map.planeBytes, 1);
    EXPECT_EQ(shown.map.mat, nullptr);
    EXPECT_EQ(shown.map.maskPhaseRow, 0);
    EXPECT_EQ(shown.map.maskPhaseCol, 0);
    // Four planes are a layer with transparency: its last plane is the mask.
    EXPECT_EQ(shown.hasMask, c.planes == 4);
    if (shown.hasMask) {
      EXPECT_EQ(shown.mask.next, nullptr);
      EXPECT_EQ(
          static_cast<uint8_t*>(shown.mask.maskData) - static_cast<uint8_t*>(shown.map.baseAddr),
          3);
      EXPECT_EQ(shown.mask.rowBytes, shown.map.rowBytes);
      EXPECT_EQ(shown.mask.colBytes, 4);
      EXPECT_EQ(shown.mask.maskDescription, 0);
    }
    const RECT image = ImageRect(reduced);
    EXPECT_EQ(shown.dstCol, image.left);
    EXPECT_EQ(shown.dstRow, image.top);
    const RECT frameRect = ControlRect(dialog_, IDC_PREVIEW);
    EXPECT_GT(image.left, frameRect.left);
    EXPECT_GT(image.top, frameRect.top);
    EXPECT_LT(image.right, frameRect.right);
    EXPECT_LT(image.bottom, frameRect.bottom);

    const std::vector<uint8_t> expected = ExpectedPreview();
    EXPECT_NE(expected, PreviewInput()) << "nothing glows in this preview";
    EXPECT_TRUE(shown.pixels == expected) << "the preview differs from the plain reading";
    // And the runner has drawn it there.
    if (c.planes == 3) {
      for (POINT at : {POINT{0, 0}, POINT{w / 2, h / 2}, POINT{w - 1, h - 1}}) {
        const uint8_t* p = &expected[(size_t(at.y) * w + at.x) * 3];
        EXPECT_EQ(PixelAt(dialog_, {image.left + at.x, image.top + at.y}), RGB(p[0], p[1], p[2]))
            << at.x << "," << at.y;
      }
    }
    EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
    EXPECT_EQ(host_->output().pixels, host_->source().pixels);
  }
}

// Renders follow commits, one each, under the wait cursor; repaints only draw.
TEST_F(DialogTest, EachCommitRendersOnceAndARepaintAloneRendersNothing) {
  Open(Glowing());
  EXPECT_EQ(Renders(), 1) << "opening renders once, after the acquisition";
  const size_t painted = Settle();
  ASSERT_GE(painted, 1u);

  EXPECT_TRUE(FreshPaint().pixels == ExpectedPreview());
  EXPECT_GT(ShownCount(), painted);
  EXPECT_EQ(Renders(), 1) << "a repaint rendered";

  struct Step {
    const char* name;
    std::function<void()> act;
  } steps[] = {
      {"typed radius", [&] { Type(kParamRadius, "12"); }},
      {"slider let go", [&] { SliderDrag(dialog_, IDC_SLIDER_THRESHOLD, 4); }},
      {"Sparkle", [&] { Click(dialog_, IDC_RADIO_SPARKLE); }},
      {"typed streaks", [&] { Type(kParamStreaks, "9"); }},
      {"Glow", [&] { Click(dialog_, IDC_RADIO_GLOW); }},
      {"passing through a box", [&] { Type(kParamGreen, std::to_string(Record().green)); }},
  };
  int renders = 1;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act();
    EXPECT_EQ(Renders(), ++renders);
    EXPECT_TRUE(FreshPaint().pixels == ExpectedPreview());
  }
  EXPECT_EQ(RendersUnderWaitCursor(), renders);
  EXPECT_EQ(Record().radius, 12);
  EXPECT_EQ(Record().threshold, 4);
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

// A click into the frame takes the colour to match from the unfiltered preview input.
TEST_F(DialogTest, APickTakesTheUnfilteredColourAndRendersOnce) {
  EffectParams stored = Glowing();
  stored.radius = 40;
  Open(stored);
  const Request q = Requests().at(0);
  ASSERT_EQ(q.inputRate, 1 << 16) << "this picture fits the frame";
  const RECT image = ImageRect(q.outRect);
  const RECT frame = ControlRect(dialog_, IDC_PREVIEW);
  const int w = q.outRect.right - q.outRect.left;
  const std::vector<uint8_t> input = PreviewInput();
  const std::vector<uint8_t> output = FreshPaint().pixels;
  ASSERT_FALSE(output.empty());
  auto at = [&](int col, int row) { return POINT{image.left + col, image.top + row}; };
  auto inputAt = [&](int col, int row) {
    const uint8_t* p = &input[(size_t(row) * w + col) * 3];
    return std::array<int32_t, 3>{p[0], p[1], p[2]};
  };
  // A pixel that the glow brightens, and a lamp.
  int glowCol = -1, glowRow = 12;
  for (int col = 1; col < w && glowCol < 0; ++col)
    if (output[(size_t(glowRow) * w + col) * 3] != input[(size_t(glowRow) * w + col) * 3])
      glowCol = col;
  ASSERT_GE(glowCol, 0);
  const std::array<int32_t, 3> black{0, 0, 0};
  struct Case {
    const char* name;
    POINT click;
    bool changes;
    std::array<int32_t, 3> colour;
  } cases[] = {
      {"a glowing pixel", at(glowCol, glowRow), true, inputAt(glowCol, glowRow)},
      {"a lamp", at(21, 19), true, {kLamp[0], kLamp[1], kLamp[2]}},
      {"an ordinary pixel", at(7, 3), true, inputAt(7, 3)},
      {"the top row", at(7, 0), true, black},
      {"the left column", at(0, 3), true, black},
      {"a pixel again", at(w - 1, 1), true, inputAt(w - 1, 1)},
      {"the frame's margin", POINT{frame.left + 2, frame.top + 2}, true, black},
      {"the frame's border", POINT{frame.right - 1, frame.bottom - 1}, true, black},
      {"outside the frame", POINT{frame.left - 1, frame.top + 10}, false, {}},
      {"just right of the frame", POINT{frame.right, frame.top + 10}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Type(kParamRed, "1");
    Type(kParamGreen, "2");
    Type(kParamBlue, "3");
    const int before = Renders();
    LeftClick(dialog_, c.click);
    const std::array<int32_t, 3> expected = c.changes ? c.colour : std::array<int32_t, 3>{1, 2, 3};
    EXPECT_EQ(Renders(), before + (c.changes ? 1 : 0));
    const ParamIndex rgb[] = {kParamRed, kParamGreen, kParamBlue};
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(Field(rgb[k]), expected[size_t(k)]) << kParamRanges[rgb[k]].label;
      EXPECT_EQ(Text(dialog_, RowOf(rgb[k]).edit), std::to_string(expected[size_t(k)]));
      EXPECT_EQ(SliderPos(dialog_, RowOf(rgb[k]).slider), expected[size_t(k)]);
    }
    if (c.changes) {
      EXPECT_TRUE(FreshPaint().pixels == ExpectedPreview())
          << "rendered before all three were stored";
    }
  }
  EXPECT_FALSE(Checked(dialog_, IDC_USE_COLOR)) << "a pick touched the effect colour";
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

// In a 16-bit document the preview renders at 16 bits and shows its nearest 8-bit values,
// and a pick gives the nearest 8-bit values of the unfiltered pixel.
TEST_F(DialogTest, AtSixteenBitsThePreviewShowsTheNarrowedRenderAndAPickTheNearestValues) {
  const SIZE frame = FrameSize();
  for (int planes : {3, 4}) {
    SCOPED_TRACE(planes);
    RunSetup setup;
    setup.depth = 16;
    setup.planes = planes;
    setup.width = planes == 3 ? 2 * frame.cx : 60;  // reduced by a factor, and not
    setup.height = planes == 3 ? frame.cy : 50;
    Open(Glowing(), setup);
    const Request q = Requests().at(0);
    EXPECT_EQ(q.inputRate, (planes == 3 ? 3 : 1) << 16);
    const int w = q.outRect.right - q.outRect.left;
    const Shown shown = FreshPaint();
    EXPECT_EQ(shown.map.imageMode, kImageModeRGB);
    EXPECT_EQ(shown.map.rowBytes, w * planes);
    EXPECT_EQ(shown.map.colBytes, planes);
    EXPECT_EQ(shown.map.planeBytes, 1);
    EXPECT_EQ(shown.hasMask, planes == 4);
    if (shown.hasMask) {
      EXPECT_EQ(
          static_cast<uint8_t*>(shown.mask.maskData) - static_cast<uint8_t*>(shown.map.baseAddr),
          3);
    }
    const std::vector<uint8_t> expected = ExpectedPreview();
    const std::vector<uint8_t> input = PreviewInput();
    EXPECT_NE(expected,
              oracle::Narrow({w, int(q.outRect.bottom - q.outRect.top), planes, input, 16}).samples)
        << "nothing glows in this preview";
    EXPECT_TRUE(shown.pixels == expected) << "the preview differs from the plain reading";

    const RECT image = ImageRect(q.outRect);
    const int inRowBytes = w * planes * 2;
    for (POINT at : {POINT{21, 19}, POINT{7, 3}, POINT{1, 1}, POINT{w - 1, 2}}) {
      SCOPED_TRACE(::testing::Message() << at.x << "," << at.y);
      LeftClick(dialog_, POINT{image.left + at.x, image.top + at.y});
      const ParamIndex rgb[] = {kParamRed, kParamGreen, kParamBlue};
      for (int k = 0; k < 3; ++k) {
        uint16_t v;
        std::memcpy(&v, &input[size_t(at.y) * inRowBytes + (size_t(at.x) * planes + k) * 2], 2);
        EXPECT_EQ(Field(rgb[k]), NearestEightBit(v)) << kParamRanges[rgb[k]].label;
      }
      EXPECT_TRUE(FreshPaint().pixels == ExpectedPreview());
    }
    EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
    EXPECT_EQ(host_->output().pixels, host_->source().pixels);
  }
}

// Images of other than three or four planes pass through unchanged and have no colour to
// pick: a click leaves the colour to match alone.
TEST_F(DialogTest, APickOnImagesOfOtherPlaneCountsChangesNothing) {
  for (int planes : {1, 2, 5}) {
    SCOPED_TRACE(planes);
    RunSetup setup;
    setup.planes = planes;
    Open(Stored(), setup);
    const Shown shown = FreshPaint();
    EXPECT_EQ(shown.map.colBytes, planes);
    EXPECT_TRUE(shown.pixels == PreviewInput()) << "not drawn unchanged";
    const RECT image = ImageRect(Requests().at(0).outRect);
    LeftClick(dialog_, POINT{image.left + 21, image.top + 19});  // a lamp
    EXPECT_EQ(Record().red, Stored().red);
    EXPECT_EQ(Record().green, Stored().green);
    EXPECT_EQ(Record().blue, Stored().blue);
    EXPECT_EQ(Text(dialog_, IDC_EDIT_RED), std::to_string(Stored().red));
    EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
  }
}

// Over the image the pointer is an eyedropper; anywhere else it is what lies under it.
TEST_F(DialogTest, ThePointerIsAnEyedropperOverTheImageOnly) {
  Open(Glowing());
  SetForegroundWindow(dialog_);
  const HCURSOR dropper =
      LoadCursorA(static_cast<HMODULE>(plugin_->nativeHandle()), MAKEINTRESOURCEA(IDC_EYEDROPPER));
  ASSERT_NE(dropper, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(dropper, &info));
  // One 32 x 32 image with its hot spot at (6, 19), which the system scales to its cursor
  // size at higher resolutions.
  const int size = GetSystemMetrics(SM_CXCURSOR);
  EXPECT_EQ(info.xHotspot, DWORD(6 * size / 32));
  EXPECT_EQ(info.yHotspot, DWORD(19 * size / 32));
  BITMAP mask{};
  GetObjectA(info.hbmMask, sizeof mask, &mask);
  EXPECT_EQ(mask.bmWidth, size);
  EXPECT_EQ(mask.bmHeight, 2 * size) << "a monochrome cursor: AND and XOR masks";
  DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);

  const RECT image = ImageRect(Requests().at(0).outRect);
  const RECT frame = ControlRect(dialog_, IDC_PREVIEW);
  const HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
  auto captured = [&] {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &gui);
    return gui.hwndCapture == dialog_;
  };
  auto waitForCursor = [&](HCURSOR wanted) {
    for (int i = 0; i < 100 && ShownCursor() != wanted; ++i) Sleep(10);
    return ShownCursor() == wanted;
  };
  // The pointer comes from a pixel beside the target on the same side of the image's edge:
  // a capture released on one move has the cursor asked for on the next.
  struct Case {
    const char* name;
    POINT from, at;
    bool dropper;
  } cases[] = {
      {"the image's top left pixel", POINT{image.left + 1, image.top}, POINT{image.left, image.top},
       true},
      {"the frame's margin", POINT{frame.left + 3, image.top + 5},
       POINT{frame.left + 2, image.top + 5}, false},
      {"the image's last pixel", POINT{image.right - 2, image.bottom - 1},
       POINT{image.right - 1, image.bottom - 1}, true},
      {"just past the image", POINT{image.right + 1, image.bottom - 1},
       POINT{image.right, image.bottom - 1}, false},
      {"the middle of the image", POINT{(image.left + image.right) / 2 + 1, image.top + 3},
       POINT{(image.left + image.right) / 2, image.top + 3}, true},
      {"the dialog's background", POINT{frame.left + 6, frame.bottom + 6},
       POINT{frame.left + 5, frame.bottom + 6}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MovePointer(dialog_, c.from);
    MovePointer(dialog_, c.at);
    EXPECT_EQ(captured(), c.dropper);
    EXPECT_TRUE(waitForCursor(c.dropper ? dropper : arrow));
  }
  // Moves as the window system delivers them, without the pointer: the same rules.
  MouseMove(dialog_, POINT{image.left + 1, image.top + 1});
  EXPECT_TRUE(captured());
  MouseMove(dialog_, POINT{image.left - 1, image.top + 1});
  EXPECT_FALSE(captured());
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

// "Set" runs the system chooser, owned by the dialog; "Use Color" switches its colour.
TEST_F(DialogTest, TheEffectColourComesFromTheChooserAndLastsBeyondTheDialog) {
  EffectParams stored = Glowing();
  Open(stored);
  const RECT swatchRect = ControlRect(dialog_, IDC_SWATCH);
  const POINT swatch{(swatchRect.left + swatchRect.right) / 2,
                     (swatchRect.top + swatchRect.bottom) / 2};
  FreshPaint();
  EXPECT_EQ(PixelAt(dialog_, swatch), RGB(stored.red, stored.green, stored.blue));
  EXPECT_FALSE(Checked(dialog_, IDC_USE_COLOR));

  oracle::FrameFlags none;
  auto custom = [](COLORREF c) {
    oracle::FrameFlags f;
    f.useCustomColor = true;
    f.customRed = GetRValue(c);
    f.customGreen = GetGValue(c);
    f.customBlue = GetBValue(c);
    return f;
  };
  const COLORREF stored_colour = RGB(stored.red, stored.green, stored.blue);
  // Runs the chooser, sets a colour in its boxes and ends it with button.
  auto choose = [&](COLORREF colour, int button) {
    const int before = Renders();
    PostClick(dialog_, IDC_SET_COLOR);
    HWND chooser = WaitForOwnedWindow("Color", dialog_);
    ASSERT_NE(chooser, nullptr) << "no colour chooser owned by the dialog";
    const int boxes[] = {706, 707, 708};  // its Red, Green and Blue boxes
    const int values[] = {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
    for (int k = 0; k < 3; ++k) SetText(chooser, boxes[k], std::to_string(values[k]));
    Click(chooser, button);
    WaitForRenders(before + 1);
  };
  struct Step {
    const char* name;
    std::function<void()> act;
    bool ticked;
    COLORREF swatch;
    oracle::FrameFlags flags;
  } steps[] = {
      {"ticked without Set", [&] { Click(dialog_, IDC_USE_COLOR); }, true, stored_colour,
       custom(stored_colour)},
      {"red changed", [&] { Type(kParamRed, "249"); }, true, stored_colour, custom(stored_colour)},
      {"unticked", [&] { Click(dialog_, IDC_USE_COLOR); }, false, stored_colour, none},
      {"Set, OK", [&] { choose(RGB(30, 160, 220), IDOK); }, true, RGB(30, 160, 220),
       custom(RGB(30, 160, 220))},
      {"Set, Cancel", [&] { choose(RGB(200, 10, 10), IDCANCEL); }, true, RGB(30, 160, 220),
       custom(RGB(30, 160, 220))},
      {"unticked again", [&] { Click(dialog_, IDC_USE_COLOR); }, false, RGB(30, 160, 220), none},
      {"Set while unticked", [&] { choose(RGB(90, 250, 40), IDOK); }, true, RGB(90, 250, 40),
       custom(RGB(90, 250, 40))},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const int before = Renders();
    step.act();
    EXPECT_EQ(Renders(), before + 1);
    const Shown shown = FreshPaint();
    EXPECT_EQ(Checked(dialog_, IDC_USE_COLOR), step.ticked);
    EXPECT_EQ(PixelAt(dialog_, swatch), step.swatch);
    EXPECT_TRUE(shown.pixels == ExpectedPreview(step.flags));
  }
  // Cancelling the dialog keeps the chosen colour for a run without it.
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
  const EffectParams left = Record();
  FilterHost later(*plugin_);
  ASSERT_TRUE(later.SetImage(host_->source()));
  later.SetParams(left);
  ASSERT_EQ(later.Run(false), kNoErr);
  const Image& source = host_->source();
  oracle::Image in{source.width, source.height, source.planes, source.pixels};
  oracle::ScriptedHost polls;
  EXPECT_TRUE(later.output().pixels ==
              oracle::Render(in, SettingsOf(left, 1.0f), custom(RGB(90, 250, 40)), polls).samples);

  // The next dialog opens unticked, and draws so: the swatch and custom colour are the
  // stored colour to match again.
  Open(left);
  EXPECT_FALSE(Checked(dialog_, IDC_USE_COLOR));
  EXPECT_TRUE(FreshPaint().pixels == ExpectedPreview(none));
  EXPECT_EQ(PixelAt(dialog_, swatch), RGB(left.red, left.green, left.blue));
  Click(dialog_, IDC_USE_COLOR);
  EXPECT_TRUE(FreshPaint().pixels == ExpectedPreview(custom(RGB(left.red, left.green, left.blue))));
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

// Masks: the one host that cannot show a masked preview says so; every other shows it,
// and the mask record only ever points at data the host delivered.
TEST_F(DialogTest, MasksAndTheHostThatCannotShowThem) {
  constexpr OSType kPpub = 0x50505542;
  struct Case {
    const char* name;
    OSType hostSig;
    Boolean haveMask, isFloating;
    bool warned;
  } cases[] = {
      {"mask on the PPUB host", kPpub, 1, 0, true},
      {"floating mask on the PPUB host", kPpub, 1, 1, true},
      {"no mask on the PPUB host", kPpub, 0, 0, false},
      {"mask on another host", FourCC('8', 'B', 'I', 'M'), 1, 0, false},
      {"floating mask on another host", FourCC('8', 'B', 'I', 'M'), 1, 1, false},
      {"floating without a mask", FourCC('8', 'B', 'I', 'M'), 0, 1, false},
  };
  const Rect sentinel{-3, -4, -5, -6};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunSetup setup;
    setup.width = 600;  // reduced by 3 in a frame of this size
    setup.height = 300;
    setup.maskError = c.warned;
    setup.adjust = [&](FilterRecord& r) {
      r.hostSig = c.hostSig;
      r.haveMask = c.haveMask;
      r.isFloating = c.isFloating;
      r.maskRect = sentinel;
      r.maskRate = 0x12345;
      r.maskPadding = 77;
    };
    maskErrorText_.clear();
    Open(Glowing(), setup);
    if (c.warned) {
      EXPECT_EQ(maskErrorOwner_, "Tessory Corvanel");
      EXPECT_EQ(maskErrorText_,
                "This program does not support a masked preview window.\n\nThe effect will "
                "still be applied to the selected area, but\nno preview will be available "
                "unless the mask is removed.");
    }
    const Request q = Requests().at(0);
    const int factor = q.inputRate >> 16;
    EXPECT_GT(factor, 1);
    EXPECT_EQ(q.maskRate, c.haveMask ? q.inputRate : 0x12345);
    const bool floatingMask = c.haveMask && c.isFloating;
    EXPECT_EQ(q.maskPadding, floatingMask ? -1 : 77);
    EXPECT_EQ(q.maskRect.bottom, floatingMask ? q.inRect.bottom : sentinel.bottom);
    EXPECT_EQ(q.maskRect.right, floatingMask ? q.inRect.right : sentinel.right);

    Type(kParamRadius, "20");
    if (c.warned) {
      ForceRepaint(dialog_);
      Settle();
      EXPECT_EQ(Renders(), 0);
      EXPECT_EQ(ShownCount(), 0u) << "the frame must stay empty";
      EXPECT_EQ(FindWindowA(nullptr, "Mask Error"), nullptr) << "warned more than once";
      // A pick reads nothing while there is no preview of this dialog.
      LeftClick(dialog_, POINT{ImageRect(q.outRect).left + 5, ImageRect(q.outRect).top + 5});
      EXPECT_EQ(Record().red, Glowing().red);
    } else {
      EXPECT_EQ(Renders(), 2);
      const Shown shown = FreshPaint();
      // Our host delivers no mask data, so no mask record may point at any.
      EXPECT_FALSE(shown.hasMask);
      EXPECT_TRUE(shown.pixels == ExpectedPreview());
    }
    // The run still applies the effect.
    EXPECT_EQ(Close(IDOK), kNoErr);
    EXPECT_EQ(host_->output().pixels, EngineOutput(Record()));
  }
}

// A host whose advanceState fails for the preview delivers nothing to render or draw.
TEST_F(DialogTest, AFailedAcquisitionRendersAndDrawsNothingAndTheDialogStillWorks) {
  RunSetup setup;
  setup.failAcquisition = kMemFullErr;
  {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    g_spy.staleIn.assign(size_t(setup.width) * setup.height * 3, 0xC8);
    g_spy.staleOut.assign(size_t(setup.width) * setup.height * 3, 0x07);
  }
  Open(Glowing(), setup);
  ForceRepaint(dialog_);
  Settle();
  Type(kParamRadius, "9");
  Click(dialog_, IDC_USE_COLOR);
  const RECT image = ImageRect(Requests().at(0).outRect);
  LeftClick(dialog_, POINT{image.left + 20, image.top + 18});
  ForceRepaint(dialog_);
  Settle();
  EXPECT_EQ(Renders(), 0);
  EXPECT_EQ(ShownCount(), 0u);
  EXPECT_EQ(Record().radius, 9) << "the settings still commit";
  EXPECT_EQ(Record().red, Glowing().red) << "a pick read buffers the host never delivered";
  {
    std::lock_guard<std::mutex> hold(g_spy.lock);
    EXPECT_EQ(g_spy.staleOut, std::vector<uint8_t>(g_spy.staleOut.size(), 0x07));
  }
  Click(dialog_, IDC_USE_COLOR);
  // OK: Start's own request succeeds and the run goes on.
  EXPECT_EQ(Close(IDOK), kNoErr);
  EXPECT_EQ(host_->output().pixels, EngineOutput(Record()));
}

// The host's window owns the dialog and is disabled while it is open.
TEST_F(DialogTest, TheHostWindowOwnsTheDialog) {
  RunSetup setup;
  setup.hostWindow = true;
  Open(Stored(), setup);
  const HWND owner = owner_.load();
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(GetWindow(dialog_, GW_OWNER), owner);
  EXPECT_FALSE(IsWindowEnabled(owner));
  EXPECT_EQ(Close(IDOK), kNoErr);
  EXPECT_TRUE(IsWindowEnabled(owner) || !IsWindow(owner));

  // Without platformData there is no owner.
  Open(Stored());
  EXPECT_EQ(GetWindow(dialog_, GW_OWNER), nullptr);
  EXPECT_EQ(Close(IDCANCEL), kUserCancelled);
}

// A dialog that cannot be created renders nothing and fails the run.
TEST_F(DialogTest, ADialogThatCannotBeShownFailsTheRunAndRendersNothing) {
  RunSetup setup;
  setup.noWindows = true;
  Open(Stored(), setup);
  EXPECT_EQ(Finish(), kDialogFailedErr);
  EXPECT_EQ(host_->advanceStateCalls(), 0);
  EXPECT_EQ(host_->output().pixels, host_->source().pixels);
  EXPECT_EQ(Record().showDialog, 1) << "the settings were never confirmed";
}

// corvanel.exe --dialog, in a process of its own: the preview on screen, and the settings
// chosen in the dialog are what it writes.
TEST_F(DialogTest, TheCommandShowsThePreviewAndWritesWhatTheDialogChose) {
  std::string dir = PluginBesideThisProgram();
  dir.erase(dir.find_last_of("\\/") + 1);
  const std::string input = dir + "dialog_command_in.png", output = dir + "dialog_command_out.png";
  Image picture;
  picture.width = 120;
  picture.height = 90;
  picture.planes = 3;
  picture.pixels = TestPicture(picture.width, picture.height, 3);
  std::string error;
  ASSERT_TRUE(SaveImageFile(input, picture, &error)) << error;
  DeleteFileA(output.c_str());

  std::string command = "\"" + dir + "corvanel.exe\" \"" + input + "\" \"" + output +
                        "\" --match 250,240,230 --threshold 10 --dialog --quiet";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  HWND dialog = nullptr;
  for (int i = 0; i < 500 && !dialog; ++i) {
    HWND found = FindWindowA(nullptr, "Tessory Corvanel");
    DWORD owner = 0;
    if (found) GetWindowThreadProcessId(found, &owner);
    if (found && owner == process.dwProcessId && IsWindowVisible(found))
      dialog = found;
    else
      Sleep(20);
  }
  if (!dialog) TerminateProcess(process.hProcess, 1);
  ASSERT_NE(dialog, nullptr) << "corvanel.exe showed no dialog";

  // A radius typed in, then the preview's middle pixel as the screen shows it.
  Focus(dialog, IDC_EDIT_RADIUS);
  SetText(dialog, IDC_EDIT_RADIUS, "9");
  Focus(dialog, IDC_SLIDER_RED);
  EffectParams chosen = DefaultEffectParams();
  chosen.red = 250;
  chosen.green = 240;
  chosen.blue = 230;
  chosen.threshold = 10;
  chosen.radius = 9;
  oracle::Image in{picture.width, picture.height, 3, picture.pixels};
  oracle::ScriptedHost polls;
  const std::vector<uint8_t> rendered =
      oracle::Render(in, SettingsOf(chosen, 1.0f), {}, polls).samples;
  RECT frame{};
  GetWindowRect(GetDlgItem(dialog, IDC_PREVIEW), &frame);
  POINT origin{0, 0};
  ClientToScreen(dialog, &origin);
  const int left = (frame.left + frame.right - picture.width) / 2 - origin.x;
  const int top = (frame.top + frame.bottom - picture.height) / 2 - origin.y;
  InvalidateRect(dialog, nullptr, FALSE);
  UpdateWindow(dialog);
  bool drawn = false;
  for (int i = 0; i < 100 && !drawn; ++i, Sleep(20)) {
    drawn = true;
    for (POINT at : {POINT{21, 19}, POINT{60, 45}, POINT{119, 89}}) {
      const uint8_t* p = &rendered[(size_t(at.y) * picture.width + at.x) * 3];
      drawn = drawn && PixelAt(dialog, {left + at.x, top + at.y}) == RGB(p[0], p[1], p[2]);
    }
  }
  EXPECT_TRUE(drawn) << "the preview on screen is not the render of the chosen settings";

  Click(dialog, IDOK);
  const bool ended = WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ASSERT_TRUE(ended);
  EXPECT_EQ(status, 0u);
  Image written;
  ASSERT_TRUE(LoadImageFile(output, &written, &error)) << error;
  EXPECT_TRUE(written.pixels == rendered) << "what was written is not what the dialog chose";
  DeleteFileA(input.c_str());
  DeleteFileA(output.c_str());
}

}  // namespace
