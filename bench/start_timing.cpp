// The plug-in as a host calls it: whole filter runs (Prepare, Start, Finish) through the
// plug-in's entry, served by the filter host (copying padded rows in and out, as editors do,
// and as the command serves its own image), against the plain oracle in the same run.
// Natively the entry is linked in; in the Windows builds the real Corvanel.8bf is loaded as
// the command loads it. The host's abort and progress callbacks return at once; the time the
// copying host spends in its advanceState is shown apart.
//
// start_timing [--smoke] [--plugin PATH] [PART-OF-CASE-NAME]
// --smoke renders small images once each and fails unless every output equals the oracle's.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

#include "bench/BenchCases.h"
#include "filterhost/FilterHost.h"
#include "filterhost/PluginModule.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The plug-in's entry, called through a wrapper that times the host's advanceState: the
// host's own copies, which any host makes, apart from what the plug-in spends.
PluginEntryProc g_entry = nullptr;
AdvanceStateProc g_advance = nullptr;
double g_advanceMs = 0;

OSErr TimedAdvanceState() {
  const Clock::time_point start = Clock::now();
  const OSErr result = g_advance();
  g_advanceMs += Since(start);
  return result;
}

void TimedEntry(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  auto* r = static_cast<FilterRecord*>(record);
  if (r->advanceState != TimedAdvanceState) {
    g_advance = r->advanceState;
    r->advanceState = TimedAdvanceState;
  }
  g_entry(selector, record, data, result);
}

// A host's run: an image of the sizes the speed goals name, or the image the dialog's
// preview of it would show. The entry's Start renders at scale 1, so a preview is the image
// as the host reduces it (every factor-th pixel) with the radius divided by the factor: the
// host calls, copies and stamp sizes of the preview's render.
struct HostCase {
  std::string name;
  oracle::Image image;
  EffectSettings settings;
};

oracle::Image Reduced(const oracle::Image& full, int factor) {
  oracle::Image im;
  im.width = (full.width + factor - 1) / factor;
  im.height = (full.height + factor - 1) / factor;
  im.planes = full.planes;
  im.samples.resize(size_t(im.width) * im.height * im.planes);
  for (int y = 0; y < im.height; ++y)
    for (int x = 0; x < im.width; ++x)
      for (int k = 0; k < im.planes; ++k) im.At(x, y, k) = full.At(x * factor, y * factor, k);
  return im;
}

std::vector<HostCase> Cases(bool smoke) {
  // The smoke run keeps the shapes of the cases at a hundredth of their area.
  const int shrink = smoke ? 10 : 1;
  const int w = 1600 / shrink, h = 1200 / shrink, w2 = 800 / shrink, h2 = 600 / shrink;
  const EffectSettings sparkle{
      bench::kPale.red, bench::kPale.green, bench::kPale.blue, 100, 60, 30, 4, 1, 1.0f};
  struct Full {
    std::string name;
    oracle::Image image;
    EffectSettings settings;
    int factor;  // the preview's reduction: the image fits 267 x 200
  };
  std::vector<Full> full;
  const std::string big = " " + std::to_string(w) + "x" + std::to_string(h);
  const std::string small = " " + std::to_string(w2) + "x" + std::to_string(h2);
  full.push_back({"Glow r30" + big + " nothing matches", bench::Noise(w, h, bench::kNone),
                  bench::NothingMatches(), 6});
  full.push_back({"Glow r30" + big + " lights over noise",
                  bench::LightsOverNoise(w, h, bench::kLight, 1000 / (shrink * shrink)),
                  bench::LightsGlow(), 6});
  full.push_back({"Glow r30" + big + " dense", bench::Scene(w, h, true), bench::Glow(30, 30), 6});
  full.push_back(
      {"Glow r100" + small + " dense", bench::Scene(w2, h2, true), bench::Glow(30, 100), 3});
  full.push_back({"Sparkle r60 t100" + small + " dense", bench::Scene(w2, h2, true, bench::kPale),
                  sparkle, 3});
  std::vector<HostCase> cases;
  for (const Full& f : full) {
    EffectSettings preview = f.settings;
    preview.radius /= f.factor;
    HostCase reduced{"preview " + f.name, Reduced(f.image, f.factor), preview};
    cases.push_back({f.name, f.image, f.settings});
    cases.push_back(std::move(reduced));
  }
  return cases;
}

struct Result {
  double startMs = 1e300;  // the best whole run
  double advanceMs = 0;    // of which in the host's advanceState
  int runs = 0;
  std::vector<uint8_t> output;
  int16_t status = 0;
};

// A host that serves every request as padded rows copied in and out with memcpy, as most
// image editors do; without it the command's host, which hands the plug-in its own image.
class CopyingRows final : public FilterHostHooks {
  int32_t RowPadding() const override { return 4; }
};

Result RunThroughHost(const HostCase& c, int minRuns, double budgetMs, bool copying) {
  FilterHost host(TimedEntry);
  CopyingRows copyingRows;
  if (copying) host.SetHooks(&copyingRows);
  Result result;
  host.SetImage(c.image.width, c.image.height, c.image.planes, c.image.samples);
  EffectParams params = DefaultEffectParams();
  params.red = c.settings.red;
  params.green = c.settings.green;
  params.blue = c.settings.blue;
  params.threshold = c.settings.threshold;
  params.radius = c.settings.radius;
  params.angle = c.settings.angle;
  params.streaks = c.settings.streaks;
  params.mode = c.settings.mode;
  host.SetParams(params);
  const Clock::time_point all = Clock::now();
  do {
    g_advanceMs = 0;
    const Clock::time_point start = Clock::now();
    result.status = host.Run(false);
    const double ms = Since(start);
    if (ms < result.startMs) {
      result.startMs = ms;
      result.advanceMs = g_advanceMs;
    }
    ++result.runs;
  } while (result.status == kNoErr && (result.runs < minRuns || Since(all) < budgetMs) &&
           result.runs < 20);
  result.output = host.output().pixels;
  return result;
}

// The plain rules, best of a few runs where they are quick, once where they take seconds.
double RenderPlain(const HostCase& c, std::vector<uint8_t>* out, int* runs) {
  double best = 1e300;
  const Clock::time_point all = Clock::now();
  *runs = 0;
  do {
    oracle::ScriptedHost host;
    const Clock::time_point start = Clock::now();
    oracle::Image plain = oracle::Render(c.image, c.settings, {}, host);
    best = std::min(best, Since(start));
    *out = std::move(plain.samples);
    ++*runs;
  } while (Since(all) < 300 && *runs < 5);
  return best;
}

std::string PluginBeside(const char* program) {
  const std::string path = program;
  const size_t slash = path.find_last_of("/\\");
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "Corvanel.8bf";
}

}  // namespace

int main(int argc, char** argv) {
  bool smoke = false;
  std::string pluginPath = PluginBeside(argv[0]), only;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0)
      smoke = true;
    else if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc)
      pluginPath = argv[++i];
    else
      only = argv[i];
  }
  std::string error;
  const std::unique_ptr<PluginModule> plugin = PluginModule::Load(pluginPath, &error);
  if (!plugin) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  g_entry = plugin->entry();

  bool allSame = true;
  std::printf(
      "| case | Start, copying host | of which advanceState | ratio | Start, command's host | "
      "ratio "
      "| plain | same bytes |\n|---|---|---|---|---|---|---|---|\n");
  std::fflush(stdout);
  for (const HostCase& c : Cases(smoke)) {
    if (!only.empty() && c.name.find(only) == std::string::npos) continue;
    const Result copying = RunThroughHost(c, smoke ? 1 : 5, smoke ? 0 : 1000, true);
    const Result own = RunThroughHost(c, smoke ? 1 : 5, smoke ? 0 : 1000, false);
    std::vector<uint8_t> plain;
    int plainRuns = 0;
    const double plainMs = RenderPlain(c, &plain, &plainRuns);
    const bool same = copying.status == kNoErr && copying.output == plain && own.status == kNoErr &&
                      own.output == plain;
    allSame = allSame && same;
    std::printf(
        "| %s | %.2f ms (%d) | %.2f ms | %.2fx | %.2f ms (%d) | %.2fx | %.2f ms (%d) | %s |\n",
        c.name.c_str(), copying.startMs, copying.runs, copying.advanceMs, plainMs / copying.startMs,
        own.startMs, own.runs, plainMs / own.startMs, plainMs, plainRuns, same ? "yes" : "NO");
    std::fflush(stdout);
  }
  return allSame ? 0 : 1;
}
