// The parameters dialog of the real Corvanel.8bf, opened by the filter host's Start and
// driven from the test thread while the plug-in's modal loop runs on a thread of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "engine/Engine.h"
#include "host/EffectParams.h"
#include "resources/ResourceIds.h"
#include "runner/FilterHost.h"
#include "runner/PluginModule.h"
#include "tests/support/DialogDriver.h"
#include "tests/support/PluginPath_win.h"

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

// A small picture with a few pixels near the colour the tests look for.
std::vector<uint8_t> TestPicture(int width, int height, int planes) {
  std::vector<uint8_t> pixels(size_t(width) * height * planes);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t((i * 37 + i / 7) & 0x7F);
  for (int k = 0; k < 5; ++k) {
    const int x = (k * 5 + 3) % width, y = (k * 7 + 5) % height;
    const uint8_t colour[3] = {250, 240, 230};
    for (int p = 0; p < planes && p < 3; ++p)  // only the planes the picture has
      pixels[(size_t(y) * width + size_t(x)) * planes + p] = colour[p];
  }
  return pixels;
}

class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    plugin_ = PluginModule::Load(PluginBesideThisProgram(), &error).release();
    ASSERT_NE(plugin_, nullptr) << error;
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

  // Starts a run with the dialog on the stored settings and waits for the dialog.
  void Open(const EffectParams& stored) {
    host_ = std::make_unique<FilterHost>(*plugin_);
    ASSERT_TRUE(host_->SetImage(kWidth, kHeight, 3, TestPicture(kWidth, kHeight, 3)));
    host_->SetParams(stored);
    finished_ = false;
    worker_ = std::thread([this] {
      result_ = host_->Run(true);
      finished_ = true;
    });
    dialog_ = WaitForWindow("Tessory Corvanel");
    ASSERT_NE(dialog_, nullptr) << "the dialog did not open";
  }

  // Waits for the run to end after the dialog was closed.
  OSErr Finish() {
    for (int i = 0; i < 1000 && !finished_; ++i) Sleep(10);
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
    RenderPixels(buffers, settings, HostPolling{nullptr, nullptr, nullptr});
    return out;
  }

  static constexpr int kWidth = 48;
  static constexpr int kHeight = 40;
  static PluginModule* plugin_;
  std::unique_ptr<FilterHost> host_;
  std::thread worker_;
  std::atomic<bool> finished_{false};
  OSErr result_ = 12345;
  HWND dialog_ = nullptr;
};
PluginModule* DialogTest::plugin_ = nullptr;

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
  EXPECT_EQ(host_->advanceStateCalls(), 0);
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
  EXPECT_EQ(host_->advanceStateCalls(), 0);
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

}  // namespace
