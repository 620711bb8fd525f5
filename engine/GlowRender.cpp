// The Glow row loop: finds the stamp centres, chooses between stamping them and gathering
// each output pixel from them, and shares the rows between two threads while the calling
// thread polls the host once per row, in order.
#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "engine/Effects.h"
#include "engine/GlowPaths.h"
#include "engine/RenderFrame.h"
#include "engine/RowLoop.h"

EngineTuning g_engineTuning;

namespace {

// Below one centre in this many pixels the stamps are cheaper than the gather, whose cost
// per pixel hardly falls with fewer centres.
constexpr int64_t kPixelsPerCentreForStamps = 64;
// Smaller renders are not worth a second thread.
constexpr int64_t kPixelsForTwoThreads = 64 * 64;

// Calls visit(x) for each centre of row y in order: a matching input pixel that does not
// follow a centre in raster order. The skip state runs on across rows.
template <int Planes, typename Visit>
void ForEachCentre(const ColourWindow& window, int32_t y, bool& skip, Visit visit) {
  const RenderFrame& f = g_renderFrame;
  const uint8_t* line = f.input + size_t(y) * size_t(f.inRowBytes);
  for (int32_t x = f.firstColumn; x < f.width; ++x) {
    if (skip) {
      skip = false;
    } else if (Matches(window, line + size_t(x) * Planes)) {
      visit(x);
      skip = true;
    }
  }
}

template <typename Visit>
void ForEachCentreIn(const ColourWindow& window, int32_t y, bool& skip, Visit visit) {
  if (g_renderFrame.planes == 3)
    ForEachCentre<3>(window, y, skip, visit);
  else
    ForEachCentre<4>(window, y, skip, visit);
}

// Rows of work shared by one or two threads. Job t may run once the host has been polled
// for `need(t)` rows; after an abort before row `end`, the jobs still to run do so with the
// centres of rows before `end` only, which is what the plain loop leaves (rows polled
// before the abort carry their stamps, the rest do not).
struct Progress {
  std::mutex mutex;
  std::condition_variable changed;
  int32_t released = 0;  // rows polled
  int32_t wanted = 0;    // rows the waiting worker waits for
  bool finished = false;
  int32_t end = 0;  // centre rows that count, once finished
};

struct Jobs {
  int32_t parity;  // of the rows this thread writes, -1 for all
  int32_t next;
  int32_t step;
};

// A worker that has caught up waits until this many more rows are ready, so that cheap
// rows do not cost a wake-up each.
constexpr int32_t kRowsPerWakeUp = 8;

// Runs the jobs of the calling thread and of an optional worker. need(t): rows polled
// before job t can run; work(parity, t, end): job t with the centres of rows before end;
// after the render has finished at `end`, only jobs below limit(end) have anything to do.
template <typename Need, typename Work, typename Limit>
void RunRows(RowLoop& loop, bool poll, int32_t threads, bool splitRows, Need need, Work work,
             Limit limit) {
  const int32_t rows = g_renderFrame.endRow;
  Progress progress;
  progress.end = rows;

  auto worker = [&] {
    Jobs jobs{1, splitRows ? 1 : 0, splitRows ? 2 : 1};
    for (; jobs.next < rows; jobs.next += jobs.step) {
      int32_t end;
      {
        std::unique_lock lock(progress.mutex);
        if (!progress.finished && progress.released < need(jobs.next)) {
          progress.wanted = std::min(rows, need(jobs.next) + kRowsPerWakeUp);
          progress.changed.wait(
              lock, [&] { return progress.finished || progress.released >= progress.wanted; });
        }
        end = progress.finished ? progress.end : rows;
      }
      if (jobs.next >= limit(end)) break;
      work(jobs.parity, jobs.next, end);
    }
  };
  std::thread helper;
  if (threads > 1 && rows > 1) {
    try {
      helper = std::thread(worker);
    } catch (...) {
      // No second thread to be had: the calling thread does all the rows.
    }
  }
  const bool shared = helper.joinable();
  Jobs mine{shared ? 0 : -1, 0, shared && splitRows ? 2 : 1};

  int32_t end = rows;
  for (int32_t y = 0; y < rows; ++y) {
    if (poll && !loop.Poll()) {
      end = y;
      break;
    }
    if (shared) {
      bool wake;
      {
        std::lock_guard lock(progress.mutex);
        progress.released = y + 1;
        wake = progress.released >= progress.wanted;
      }
      if (wake) progress.changed.notify_one();
    }
    for (; mine.next < rows && need(mine.next) <= y + 1; mine.next += mine.step)
      work(mine.parity, mine.next, rows);
  }
  if (shared) {
    {
      std::lock_guard lock(progress.mutex);
      progress.finished = true;
      progress.end = end;
    }
    progress.changed.notify_one();
  }
  for (; mine.next < limit(end); mine.next += mine.step) work(mine.parity, mine.next, end);
  if (shared) helper.join();
}

int32_t ThreadCount(int64_t pixels) {
  if (g_engineTuning.threads > 0) return std::min(g_engineTuning.threads, 2);
  return pixels >= kPixelsForTwoThreads && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

// Each centre's stamp, centre rows in order: row t's stamps may be drawn once row t has
// been polled. Two threads walk the same centres, each writing the rows of its parity; a
// stamp touches each target sample once, so each thread leaves its rows as one would.
// Without a centre map each thread finds the centres in the input itself.
void RenderStamps(const CentreMap* centres, const ColourWindow& window, RowLoop& loop, bool poll,
                  int32_t threads) {
  const RenderFrame& f = g_renderFrame;
  bool skip[2] = {false, false};
  RunRows(
      loop, poll, threads, false, [](int32_t t) { return t + 1; },
      [&](int32_t parity, int32_t t, int32_t) {
        auto stamp = [&](int32_t x) { StampGlowParity(x, t, parity); };
        if (centres)
          centres->ForEach(t, 0, f.width - 1, stamp);
        else
          ForEachCentreIn(window, t, skip[parity > 0], stamp);
      },
      [](int32_t end) { return end; });
}

// Each output row from the centres that reach it: row t is final once the rows of centres
// up to t + e have been polled. Two threads take the rows by parity.
void RenderGather(const CentreMap& centres, int32_t e, RowLoop& loop, bool poll, int32_t threads) {
  const int32_t rows = g_renderFrame.endRow;
  RunRows(
      loop, poll, threads, true,
      [=](int32_t t) { return int32_t(std::min<int64_t>(int64_t(t) + e + 1, rows)); },
      [&](int32_t, int32_t t, int32_t end) { GatherGlowRow(centres, t, end); },
      [=](int32_t end) { return int32_t(std::min<int64_t>(int64_t(end) + e, rows)); });
}

}  // namespace

void RenderGlow(const ColourWindow& window, int32_t e, RowLoop& loop, bool poll) {
  const RenderFrame& f = g_renderFrame;
  PrepareGlowStamp(e, f.planes);
  const int64_t pixels = int64_t(f.width) * f.endRow;
  const int32_t threads = ThreadCount(pixels);

  // The centre map takes one bit per pixel; without it the stamps give the same bytes.
  std::unique_ptr<uint64_t[]> bits;
  const int32_t wordsPerRow = (f.width + 63) / 64;
  const uint64_t words = uint64_t(wordsPerRow) * uint64_t(f.endRow);
  if (!g_engineTuning.noWorkMemory && words < uint64_t(SIZE_MAX / sizeof(uint64_t)))
    bits.reset(new (std::nothrow) uint64_t[size_t(words)]());
  if (!bits) {
    RenderStamps(nullptr, window, loop, poll, threads);
    return;
  }
  int64_t count = 0;
  bool skip = false;
  for (int32_t y = f.firstRow; y < f.endRow; ++y) {
    uint64_t* row = bits.get() + size_t(y) * size_t(wordsPerRow);
    ForEachCentreIn(window, y, skip, [&](int32_t x) {
      row[x >> 6] |= uint64_t(1) << (x & 63);
      ++count;
    });
  }
  const CentreMap centres{bits.get(), wordsPerRow};

  GlowPath path = g_engineTuning.glow;
  if (path == GlowPath::Automatic)
    path = count * kPixelsPerCentreForStamps < pixels ? GlowPath::Stamps : GlowPath::Gather;
  if (path == GlowPath::Stamps)
    RenderStamps(&centres, window, loop, poll, threads);
  else
    RenderGather(centres, e, loop, poll, threads);
}
