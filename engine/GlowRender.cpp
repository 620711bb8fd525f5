// The Glow row loop: finds the stamp centres, chooses between stamping them and gathering
// each output pixel from them, and shares the gather's rows between two threads while the
// calling thread polls the host once per row, in order.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "engine/internal/Context.h"
#include "engine/internal/Effects.h"
#include "engine/internal/GlowPaths.h"
#include "engine/internal/Lanes.h"
#include "engine/internal/RowLoop.h"

namespace {

// On one thread the gather costs about as much per pixel and row of its window as the stamps
// cost per pixel of this many stamps, measured over shares of centres from 0.2 to 8 % and
// radii 10 to 100; the gather's cost hardly falls with fewer centres.
constexpr int64_t kStampPixelsPerGatherStep = 3;
// Smaller renders, such as the dialog's previews, are not worth a second thread: under Wine
// starting and waking it cost more than it saved on a 267 x 200 preview.
constexpr int64_t kPixelsForTwoThreads = 512 * 512;

// The colour window laid out over 16 pixels of `planes` samples, to find blocks of 16
// pixels of which none matches (the fourth sample always lies in its window).
struct WindowBlock {
  uint8_t low[64], span[64];  // each sample's window: low to low + span
  bool empty;                 // no pixel can match

  WindowBlock(const ColourWindow& w, int32_t planes) {
    const int32_t lows[4] = {w.lowRed, w.lowGreen, w.lowBlue, 0};
    const int32_t highs[4] = {w.highRed, w.highGreen, w.highBlue, 255};
    empty = false;
    for (int k = 0; k < 3; ++k) empty = empty || lows[k] > highs[k];
    for (int i = 0; i < 64; ++i) {
      const int32_t lo = std::clamp(lows[i % planes], 0, 255);
      low[i] = uint8_t(lo);
      span[i] = uint8_t(std::clamp(highs[i % planes] - lo, 0, 255));
    }
  }

  // Whether one of the 16 pixels from `pixels` may match: whether the three colour samples
  // of one pixel are all in their windows, found where each pixel's first sample lies.
  template <int Planes>
  bool AnyMatch(const uint8_t* pixels) const {
    uint32_t in[2];
    lanes::InWindow(pixels, low, span, Planes, in);
    if constexpr (Planes == 3) {
      // Pixel 10 has samples in both halves.
      const uint32_t lo = in[0] & (in[0] >> 1 | in[1] << 31) & (in[0] >> 2 | in[1] << 30);
      const uint32_t hi = in[1] & in[1] >> 1 & in[1] >> 2;
      return ((lo & 0x49249249u) | (hi & 0x2492u)) != 0;
    } else {
      const uint32_t lo = in[0] & in[0] >> 1 & in[0] >> 2;
      const uint32_t hi = in[1] & in[1] >> 1 & in[1] >> 2;
      return ((lo | hi) & 0x11111111u) != 0;
    }
  }
};

// Calls visit(x) for each centre of row y in order: a matching input pixel that does not
// follow a centre in raster order. The skip state runs on across rows.
template <int Planes, typename Visit>
void ForEachCentre(const Frame& f, const WindowBlock& block, const ColourWindow& window, int32_t y,
                   bool& skip, Visit visit) {
  if (block.empty) {
    if (f.width > f.firstColumn) skip = false;  // a row without a match passes over one pixel
    return;
  }
  const uint8_t* line = f.input + size_t(y) * size_t(f.inRowBytes);
  for (int32_t x = f.firstColumn; x < f.width;) {
    // Sixteen pixels without a match hold no centre and leave the skip state clear.
    if (x + 16 <= f.width && !block.AnyMatch<Planes>(line + size_t(x) * Planes)) {
      skip = false;
      x += 16;
      continue;
    }
    for (const int32_t end = std::min(f.width, x + 16); x < end; ++x) {
      if (skip) {
        skip = false;
      } else if (Matches(window, line + size_t(x) * Planes)) {
        visit(x);
        skip = true;
      }
    }
  }
}

template <typename Visit>
void ForEachCentreIn(const Frame& f, const WindowBlock& block, const ColourWindow& window,
                     int32_t y, bool& skip, Visit visit) {
  if (f.planes == 3)
    ForEachCentre<3>(f, block, window, y, skip, visit);
  else
    ForEachCentre<4>(f, block, window, y, skip, visit);
}

// Nearby centres, such as the pixels of one light, stamped together in one pass over their
// rows (StampGlowGroup). A group is drawn when the walk reaches its last centre in raster
// order; that leaves every sample as the stamps one by one do, as long as no other centre
// between the group's first and last reaches a member's stamp. Such a centre would be drawn
// before the members after it, so a group is only formed where there is none.
class StampGroups {
 public:
  StampGroups(const CentreMap& centres, const Frame& f, int32_t half)
      : centres_(centres), width_(f.width), endRow_(f.endRow), reach_(2 * int64_t(half)) {}

  // What becomes of the centre (x, y), reached in raster order: false when it is to be
  // stamped alone. A member of a group waits for the group's last centre.
  bool Take(const RenderContext& context, int32_t x, int32_t y) {
    for (int32_t g = 0; g < pending_; ++g) {
      Group& group = groups_[g];
      if (!group.Holds(x, y)) continue;
      if (x == group.x[group.count - 1] && y == group.y[group.count - 1]) {
        StampGlowGroup(context, group.x, group.y, group.count);
        if (g != --pending_) group = groups_[pending_];
      }
      return true;
    }
    // Where a group was refused for another centre near it, the centres after it are as
    // crowded (a dense image refuses nearly every group): none is tried again on this row.
    if (pending_ == kPending || y == quietRow_) return false;
    if (Form(x, y)) return true;
    if (crowded_) quietRow_ = y;
    return false;
  }

  // After an abort before row `end`: the waiting members of rows before it, one by one in
  // raster order. No centre drawn since a group's first reaches their stamps.
  void Flush(RenderContext& context, int32_t end, int32_t e) {
    int32_t xs[kPending * kGroupMembers], ys[kPending * kGroupMembers];
    int32_t n = 0;
    for (int32_t g = 0; g < pending_; ++g)
      for (int32_t m = 0; m < groups_[g].count; ++m)
        if (groups_[g].y[m] < end) {
          xs[n] = groups_[g].x[m];
          ys[n++] = groups_[g].y[m];
        }
    int32_t order[kPending * kGroupMembers];
    for (int32_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order, order + n,
              [&](int32_t a, int32_t b) { return ys[a] != ys[b] ? ys[a] < ys[b] : xs[a] < xs[b]; });
    for (int32_t i = 0; i < n; ++i) StampGlow(context, xs[order[i]], ys[order[i]], e);
    pending_ = 0;
  }

 private:
  static constexpr int32_t kPending = 16;
  static constexpr int32_t kRows = 8;
  static constexpr int32_t kLeft = 4;

  struct Group {
    int32_t left, right, top;  // the box the members were taken from
    int32_t count;
    int32_t x[kGroupMembers], y[kGroupMembers];

    // Whether a centre at or after the first lies in the box up to the last.
    bool Holds(int32_t cx, int32_t cy) const {
      const int32_t lastY = y[count - 1];
      return cx >= left && cx <= right && cy >= top && cy <= lastY &&
             (cy < lastY || cx <= x[count - 1]);
    }
  };

  // A group from the centre (x, y) on, true when one with two centres or more is waiting.
  // crowded_ tells a refusal for other centres from one for want of members.
  bool Form(int32_t x, int32_t y) {
    crowded_ = false;
    Group& group = groups_[pending_];
    group.left = std::max(0, x - kLeft);
    group.right = std::min(width_ - 1, group.left + kGroupColumns - 1);
    group.top = y;
    group.count = 0;
    const int32_t bottom = std::min(endRow_ - 1, y + kRows - 1);
    for (int32_t row = y; row <= bottom; ++row)
      centres_.ForEach(row, row == y ? x : group.left, group.right, [&](int32_t cx) {
        if (group.count == kGroupMembers) return;
        group.x[group.count] = cx;
        group.y[group.count++] = row;
      });
    if (group.count < 2) return false;
    // A member of a group still waiting stays in that group.
    for (int32_t m = 1; m < group.count; ++m)
      for (int32_t g = 0; g < pending_; ++g)
        if (groups_[g].Holds(group.x[m], group.y[m])) {
          crowded_ = true;
          return false;
        }
    // No other centre between the first and the last may reach a member's stamp: none within
    // twice a stamp's reach of the box, in its rows, but outside it.
    const int32_t lastX = group.x[group.count - 1], lastY = group.y[group.count - 1];
    const int32_t lo = int32_t(std::max<int64_t>(0, group.left - reach_));
    const int32_t hi = int32_t(std::min<int64_t>(width_ - 1, group.right + reach_));
    bool clear = true;
    for (int32_t row = y; row <= lastY && clear; ++row)
      centres_.ForEach(row, lo, hi, [&](int32_t cx) {
        if (row == y && cx <= x) return;                    // the first and those before it
        if (row == lastY && cx >= lastX) return;            // the last and those after it
        if (cx >= group.left && cx <= group.right) return;  // a member
        clear = false;
      });
    if (!clear) {
      crowded_ = true;
      return false;
    }
    ++pending_;
    return true;
  }

  const CentreMap& centres_;
  const int32_t width_, endRow_;
  const int64_t reach_;  // columns and rows apart within which two stamps can meet
  Group groups_[kPending];
  int32_t pending_ = 0;
  bool crowded_ = false;
  int32_t quietRow_ = -1;
};

// Each centre's stamp, centre rows in order, row t's stamps once row t has been polled: the
// loop of the rules with faster stamps. Without a centre map the centres are found in the
// input as the loop goes.
void RenderStamps(RenderContext& context, const CentreMap* centres, const ColourWindow& window,
                  int32_t e, RowLoop& loop, bool poll) {
  const Frame& f = context.frame;
  if (centres) {
    // Groups are had for the whole render or not at all.
    std::unique_ptr<StampGroups> groups(new (std::nothrow)
                                            StampGroups(*centres, f, GlowStampHalf(context)));
    for (int32_t y = f.firstRow; y < f.endRow; ++y) {
      if (poll && !loop.Poll()) {
        if (groups) groups->Flush(context, y, e);
        return;
      }
      centres->ForEach(y, 0, f.width - 1, [&](int32_t x) {
        if (!groups || !groups->Take(context, x, y)) StampGlow(context, x, y, e);
      });
    }
    return;
  }
  const WindowBlock block(window, f.planes);
  bool skip = false;
  for (int32_t y = f.firstRow; y < f.endRow; ++y) {
    if (poll && !loop.Poll()) return;
    ForEachCentreIn(f, block, window, y, skip, [&](int32_t x) { StampGlow(context, x, y, e); });
  }
}

// The gather's rows: output row t is final once the centre rows up to t + e have been
// polled, and on an abort before row `end` the rows still open are computed with the
// centres of rows before `end` only, which is what the plain loop leaves: rows polled
// before the abort carry their stamps, the rest do not. The calling thread polls and takes
// the even rows as they become final; a worker takes the odd ones. Whoever runs out of rows
// of its own takes the other's from the bottom up, so that a thread the machine starves
// does not hold the render back; each row is claimed once.
class GatherRows {
 public:
  // The worker reads the context and the centres only, and writes only its own rows.
  GatherRows(const RenderContext& context, const CentreMap& centres, int32_t e)
      : context_(context), centres_(centres), e_(e) {
    rows_ = context.frame.endRow;
    end_ = rows_;
  }

  void Run(RowLoop& loop, bool poll, int32_t threads) {
    std::thread worker;
    if (threads > 1 && rows_ > 1) {
      claimed_.reset(new (std::nothrow) std::atomic<bool>[size_t(rows_)]());
      try {
        if (claimed_) worker = std::thread([this] { Work(); });
      } catch (...) {
        // No second thread to be had: the calling thread does all the rows.
      }
    }
    const bool shared = worker.joinable();
    const int32_t step = shared ? 2 : 1;

    int32_t next = 0;  // the calling thread's next row
    int32_t end = rows_;
    for (int32_t y = 0; y < rows_; ++y) {
      if (poll && !loop.Poll()) {
        end = y;
        break;
      }
      if (shared) Release(y + 1);
      for (; next < rows_ && Need(next) <= y + 1; next += step) Compute(next, rows_);
    }
    if (shared) Finish(end);
    for (; next < Limit(end); next += step) Compute(next, end);
    if (shared) {
      Steal(1, end);
      worker.join();
    }
  }

 private:
  // Centre rows that must be polled before row t is final.
  int32_t Need(int32_t t) const { return int32_t(std::min<int64_t>(int64_t(t) + e_ + 1, rows_)); }
  // Rows that centres of rows before `end` can reach.
  int32_t Limit(int32_t end) const { return int32_t(std::min<int64_t>(int64_t(end) + e_, rows_)); }

  void Compute(int32_t t, int32_t end) {
    if (claimed_ && claimed_[t].exchange(true)) return;
    GatherGlowRow(context_, centres_, t, end);
  }

  // The rows of one parity that are still open, from the bottom up.
  void Steal(int32_t parity, int32_t end) {
    for (int32_t t = Limit(end) - 1; t >= 0; --t)
      if ((t & 1) == parity) Compute(t, end);
  }

  void Release(int32_t polled) {
    bool wake;
    {
      std::lock_guard lock(mutex_);
      released_ = polled;
      wake = released_ >= wanted_;
    }
    if (wake) changed_.notify_one();
  }

  void Finish(int32_t end) {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
      end_ = end;
    }
    changed_.notify_one();
  }

  // The worker: the odd rows as they become final, then the calling thread's open rows.
  void Work() {
    int32_t end = rows_;
    for (int32_t t = 1; t < rows_; t += 2) {
      {
        std::unique_lock lock(mutex_);
        if (!finished_ && released_ < Need(t)) {
          // Woken for a few rows at once, so that cheap rows do not cost a wake-up each.
          wanted_ = std::min(rows_, Need(t) + kRowsPerWakeUp);
          changed_.wait(lock, [&] { return finished_ || released_ >= wanted_; });
        }
        if (finished_) end = end_;
      }
      if (t >= Limit(end)) break;
      Compute(t, end);
    }
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return finished_; });
      end = end_;
    }
    Steal(0, end);
  }

  static constexpr int32_t kRowsPerWakeUp = 8;

  const RenderContext& context_;
  const CentreMap& centres_;
  const int32_t e_;
  int32_t rows_;
  std::unique_ptr<std::atomic<bool>[]> claimed_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int32_t released_ = 0;  // rows polled
  int32_t wanted_ = 0;    // rows the waiting worker waits for
  bool finished_ = false;
  int32_t end_;  // centre rows that count, once finished
};

int32_t ThreadCount(const EngineTuning& tuning, int64_t pixels) {
  if (tuning.threads > 0) return std::min(tuning.threads, 2);
  return pixels >= kPixelsForTwoThreads && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

}  // namespace

namespace {

struct FreeWords {
  void operator()(uint64_t* words) const { std::free(words); }
};

void CopyRow(const Frame& f, int32_t y) {
  const size_t size = size_t(f.width) * size_t(f.planes);
  if (size > 0)
    std::memcpy(f.output + size_t(y) * size_t(f.outRowBytes),
                f.input + size_t(y) * size_t(f.inRowBytes), size);
}

}  // namespace

void RenderGlow(RenderContext& context, const GlowJob& job, const EngineTuning& tuning,
                RowLoop& loop, bool poll) {
  const Frame& f = context.frame;
  const int32_t e = job.e;
  const int64_t pixels = int64_t(f.width) * f.endRow;

  // One pass over the input copies it and finds the centres. The centre map takes one bit
  // per pixel, and is had only once a centre is found; without it the stamps give the same
  // bytes, finding the centres again as they go.
  // From calloc: zero without a pass over it, and of a sparse map only the pages with
  // centres are written.
  std::unique_ptr<uint64_t[], FreeWords> bits;
  const int32_t wordsPerRow = int32_t((int64_t(f.width) + 63) / 64);
  const uint64_t words = uint64_t(wordsPerRow) * uint64_t(f.endRow);
  bool mapWanted = !tuning.noWorkMemory && words < uint64_t(SIZE_MAX / sizeof(uint64_t));
  int64_t count = 0;
  bool skip = false;
  const WindowBlock block(job.window, f.planes);
  for (int32_t y = f.firstRow; y < f.endRow; ++y) {
    if (job.copy) CopyRow(f, y);
    ForEachCentreIn(f, block, job.window, y, skip, [&](int32_t x) {
      ++count;
      if (!bits && mapWanted) {
        bits.reset(static_cast<uint64_t*>(std::calloc(size_t(words), sizeof(uint64_t))));
        mapWanted = bool(bits);
      }
      if (bits) bits[size_t(y) * size_t(wordsPerRow) + size_t(x >> 6)] |= uint64_t(1) << (x & 63);
    });
  }

  // Without a centre nothing is drawn: the kernel is not needed, only the polls are due.
  if (count == 0) {
    for (int32_t y = f.firstRow; y < f.endRow; ++y)
      if (poll && !loop.Poll()) return;
    return;
  }
  BuildGlowKernel(context, double(job.radius), job.colour);
  PrepareGlowStamp(context, e, f.planes);
  if (!bits) {
    RenderStamps(context, nullptr, job.window, e, loop, poll);
    return;
  }
  const CentreMap centres{bits.get(), wordsPerRow};

  GlowPath path = tuning.glow;
  if (path == GlowPath::Automatic) {
    const int64_t stamps = count * GlowStampArea(context);
    // The stamps run on one thread, the gather on as many as it has.
    const int64_t gather =
        pixels * (2 * int64_t(e) + 1) * kStampPixelsPerGatherStep / ThreadCount(tuning, pixels);
    path = stamps < gather ? GlowPath::Stamps : GlowPath::Gather;
  }
  if (path == GlowPath::Stamps)
    RenderStamps(context, &centres, job.window, e, loop, poll);
  else
    GatherRows(context, centres, e).Run(loop, poll, ThreadCount(tuning, pixels));
}
