// The Glow row loop: finds the stamp centres, chooses between stamping them and gathering
// each output pixel from them, and shares the work among the render's threads while the
// calling thread polls the host once per row, in order.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "engine/internal/Context.h"
#include "engine/internal/Deep.h"
#include "engine/internal/Effects.h"
#include "engine/internal/GlowPaths.h"
#include "engine/internal/Lanes.h"
#include "engine/internal/PolledWork.h"
#include "engine/internal/RowLoop.h"
#include "engine/internal/Team.h"

namespace {

// On one thread the gather costs about as much per pixel and row of its window as the stamps
// cost per pixel of this many stamps, measured over shares of centres from 0.2 to 8 % and
// radii 10 to 100; the gather's cost hardly falls with fewer centres.
constexpr int64_t kStampPixelsPerGatherStep = 3;

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
void ForEachCentre(const Frame& f, const WindowBlock& block, const ColourWindow& window,
                   const uint8_t* line, bool& skip, Visit visit) {
  if (block.empty) {
    if (f.width > f.firstColumn) skip = false;  // a row without a match passes over one pixel
    return;
  }
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

// The same for the input pixels of `line`, the row being row y of the frame's input unless
// another is given (a 16-bit row narrowed to 8 bits).
template <typename Visit>
void ForEachCentreIn(const Frame& f, const WindowBlock& block, const ColourWindow& window,
                     const uint8_t* line, bool& skip, Visit visit) {
  if (f.planes == 3)
    ForEachCentre<3>(f, block, window, line, skip, visit);
  else
    ForEachCentre<4>(f, block, window, line, skip, visit);
}

const uint8_t* InputRow(const Frame& f, int32_t y) {
  return f.input + size_t(y) * size_t(f.inRowBytes);
}

// Nearby centres, such as the pixels of one light, stamped together in one pass over their
// rows (StampGlowGroup). A group is drawn when the walk reaches its last centre in raster
// order; that leaves every sample as the stamps one by one do, as long as no other centre
// between the group's first and last reaches a member's stamp. Such a centre would be drawn
// before the members after it, so a group is only formed where there is none.
class StampGroups {
 public:
  // For the stamps on rows firstRow to endRow - 1.
  StampGroups(const CentreMap& centres, const Frame& f, int32_t half, int32_t firstRow,
              int32_t endRow)
      : centres_(centres),
        width_(f.width),
        endRow_(f.endRow),
        reach_(2 * int64_t(half)),
        firstRow_(firstRow),
        bandEnd_(endRow) {}

  // What becomes of the centre (x, y), reached in raster order: false when it is to be
  // stamped alone. A member of a group waits for the group's last centre.
  bool Take(const RenderContext& context, int32_t x, int32_t y) {
    for (int32_t g = 0; g < pending_; ++g) {
      Group& group = groups_[g];
      if (!group.Holds(x, y)) continue;
      if (x == group.x[group.count - 1] && y == group.y[group.count - 1]) {
        StampGlowGroup(context, group.x, group.y, group.count, firstRow_, bandEnd_);
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
  void Flush(const RenderContext& context, int32_t end) {
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
    for (int32_t i = 0; i < n; ++i)
      StampGlowRows(context, xs[order[i]], ys[order[i]], firstRow_, bandEnd_);
    pending_ = 0;
  }

  static constexpr int32_t kRows = 8;  // the rows of centres a group takes

  // The output rows that no stamp is left to reach once the centre rows before `drawn` are
  // drawn: the centre rows after reach rows from drawn - half on, and members waiting in
  // groups lie on the last rows a group takes.
  static int32_t FinishedRows(int32_t drawn, int32_t half) {
    return std::max(0, drawn - kRows - std::max(half, 0));
  }

 private:
  static constexpr int32_t kPending = 16;
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
  const int64_t reach_;               // columns and rows apart within which two stamps can meet
  const int32_t firstRow_, bandEnd_;  // the rows drawn
  Group groups_[kPending];
  int32_t pending_ = 0;
  bool crowded_ = false;
  int32_t quietRow_ = -1;
};

// The stamps without a centre map: centre rows in order, each row's stamps once it has been
// polled, the centres found in the input as the loop goes. The loop of the rules with faster
// stamps, on the calling thread alone.
void RenderStampsUnmapped(RenderContext& context, const ColourWindow& window, int32_t e,
                          RowLoop& loop, bool poll) {
  const Frame& f = context.frame;
  const WindowBlock block(window, f.planes);
  bool skip = false;
  for (int32_t y = f.firstRow; y < f.endRow; ++y) {
    if (poll && !loop.Poll()) return;
    ForEachCentreIn(f, block, window, InputRow(f, y), skip,
                    [&](int32_t x) { StampGlow(context, x, y, e); });
  }
}

// What the centre pass leaves for the drawing: the map, and for each row the centres of the
// rows before it and the column tiles that stamps can change.
struct CentreTables {
  uint32_t* before;    // rows + 1 entries: centres in the rows before row y
  uint8_t* skipAfter;  // the skip state after row y
  uint64_t* tiles;     // row y's tiles with centres; after Spread, the tiles stamps change
  int32_t tileShift;   // tiles of 1 << tileShift pixels

  int64_t Count(int32_t endRow) const { return before[endRow]; }
  // Whether centres of rows first to end - 1 exist.
  bool Any(int32_t first, int32_t end) const { return before[end] != before[first]; }
  ColumnTiles Tiles(int32_t y) const { return {tiles[y], int32_t(1) << tileShift}; }
};

// Centre rows that must be polled before output row t is final, of `rows`, and the rows
// that the centres of rows before `end` reach, for stamps of reach e.
int32_t NeedFor(int32_t t, int32_t e, int32_t rows) {
  return int32_t(std::min<int64_t>(int64_t(t) + e + 1, rows));
}
int32_t LimitFor(int32_t end, int32_t e, int32_t rows) {
  return int32_t(std::min<int64_t>(int64_t(end) + e, rows));
}

// The gather: output row t from the centres of rows up to t + e, in units of a few rows
// taken in order by the members; row t is final once those rows have been polled. After an
// abort before row `end` the rows still open are computed with the centres of rows before
// `end` only, which is what the plain loop leaves: rows polled before the abort carry their
// stamps, the rest do not.
int32_t RenderGather(RenderContext& context, const CentreMap& centres, const CentreTables& tables,
                     int32_t e, RowLoop& loop, bool poll, int32_t members, bool together) {
  const Frame& f = context.frame;
  const int32_t rows = f.endRow;
  const int32_t step = members > 1 ? std::clamp(rows / (members * 16), 1, 8) : 1;
  const int32_t units = (rows + step - 1) / step;
  const int32_t reach = std::max(GlowStampHalf(context), 0);
  return RunPolledUnits(
      context.team, members, together, loop, poll, rows, units,
      [&](int32_t u) { return NeedFor(std::min(rows, (u + 1) * step) - 1, e, rows); },
      [&](int32_t u, int32_t end) {
        const int32_t last = std::min(rows, (u + 1) * step);
        for (int32_t t = u * step; t < last && t < LimitFor(end, e, rows); ++t) {
          // A row with no centre within reach keeps its copied value.
          const int32_t from = std::max(0, t - reach);
          const int32_t to = int32_t(std::min<int64_t>(int64_t(t) + reach + 1, end));
          if (from < to && tables.Any(from, to) && tables.tiles[t])
            GatherGlowRow(context, centres, t, end, tables.Tiles(t));
        }
      });
}

// The stamps of every centre in raster order, drawn in bands of output rows: each band takes
// the centres whose stamps reach it in raster order and draws only its own rows, so that each
// pixel receives the same blends in the same order as from the stamps one by one. The centre
// rows come in chunks, each drawn once polled: unit (chunk, band) of each band in the order
// of the chunks, never two of one band at once.
// With `finished` on one member, each output row is handed to it as soon as no stamp is left
// to be drawn on it, while the stamps' bytes are still in the cache, and every row is by the end;
// and each row is handed to `reached`, in order, just before the first stamp that reaches it
// is drawn, so that what it prepares is still in the cache too.
int32_t RenderStamps(RenderContext& context, const CentreMap& centres, RowLoop& loop, bool poll,
                     int32_t members, bool together,
                     const std::function<void(int32_t)>& finished = nullptr,
                     const std::function<void(int32_t)>& reached = nullptr) {
  const Frame& f = context.frame;
  const int32_t rows = f.endRow;
  const int32_t half = GlowStampHalf(context);
  const int32_t bands =
      members > 1 ? std::clamp(std::min(rows, members * 4), 1, kMaxThreads * 4) : 1;
  const int32_t chunk = members > 1 ? std::clamp(rows / (members * 16), 1, 8) : 1;
  const int32_t chunks = (rows + chunk - 1) / chunk;
  auto bandFirst = [&](int32_t k) { return int32_t(int64_t(rows) * k / bands); };
  // Groups are had for the whole render or not at all.
  std::vector<StampGroups> groups;
  try {
    groups.reserve(size_t(bands));
    for (int32_t k = 0; k < bands; ++k)
      groups.emplace_back(centres, f, half, bandFirst(k), bandFirst(k + 1));
  } catch (...) {
    groups.clear();
  }
  // The chunks whose stamps reach each band, and the next of them to be drawn.
  std::atomic<int32_t> next[kMaxThreads * 4];
  static_assert(kMaxThreads * 4 >= 1);
  auto firstChunk = [&](int32_t k) { return std::max(0, bandFirst(k) - half) / chunk; };
  auto endChunk = [&](int32_t k) {
    return int32_t(
        std::min<int64_t>(chunks, (int64_t(bandFirst(k + 1)) + half + chunk - 1) / chunk));
  };
  for (int32_t k = 0; k < bands; ++k) next[k].store(firstChunk(k));
  const bool lagged = finished && bands == 1 && chunk == 1;
  int32_t done = 0;       // the rows handed to `finished`
  int32_t reachedTo = 0;  // the rows handed to `reached`
  auto reach = [&](int64_t to) {
    if (reached)
      for (const int32_t n = int32_t(std::min<int64_t>(rows, to)); reachedTo < n;)
        reached(reachedTo++);
  };
  if (!lagged) reach(rows);
  const int32_t end = RunPolledUnits(
      context.team, members, together, loop, poll, rows, chunks * bands,
      [&](int32_t u) { return std::min(rows, (u / bands + 1) * chunk); },
      [&](int32_t u, int32_t end) {
        const int32_t j = u / bands, k = u % bands;
        if (half < 0 || j < firstChunk(k) || j >= endChunk(k)) return;
        while (next[k].load() != j) std::this_thread::yield();  // the band's chunk before
        const int32_t a = bandFirst(k), b = bandFirst(k + 1);
        const int32_t last = std::min({rows, (j + 1) * chunk, end});
        if (lagged) reach(int64_t(last) + half);
        for (int32_t y = std::max(j * chunk, a - half); y < last && y < b + half; ++y)
          centres.ForEach(y, 0, f.width - 1, [&](int32_t x) {
            if (groups.empty() || !groups[size_t(k)].Take(context, x, y))
              StampGlowRows(context, x, y, a, b);
          });
        next[k].store(j + 1);
        if (lagged && j < end)
          for (const int32_t last = StampGroups::FinishedRows(j + 1, half); done < last;)
            finished(done++);
      });
  // Members still waiting for the centres after them, drawn one by one: after an abort, and
  // where a group's last centre lay past what its band takes.
  reach(rows);
  for (StampGroups& g : groups) g.Flush(context, end);
  if (finished)
    while (done < rows) finished(done++);
  return end;
}

// Work, in pixels copied, of one pixel of a stamp and of one step of the gather's window.
constexpr int64_t kStampPixelWork = 2;
constexpr int64_t kGatherStepWork = kStampPixelWork * kStampPixelsPerGatherStep;

int32_t TileShift(int32_t width) {
  int32_t shift = 5;  // kColumnTileUnit
  while ((int64_t(1) << shift) * 64 < width) ++shift;
  return shift;
}

}  // namespace

namespace {

void CopyRow(const Frame& f, int32_t y) {
  const size_t size = size_t(f.width) * size_t(f.planes);
  if (size > 0)
    std::memcpy(f.output + size_t(y) * size_t(f.outRowBytes),
                f.input + size_t(y) * size_t(f.inRowBytes), size);
}

// The 8-bit row the centre pass reads, and the copy it makes of it: the input row at 8 bits;
// at 16 bits the input row narrowed into the member's own row as its words are copied, in one
// pass over them.
class PassRows {
 public:
  PassRows(RenderContext& context, const GlowJob& job, const DeepRows* deep, uint8_t* narrow)
      : f_(context.frame), job_(job), deep_(deep), narrow_(narrow) {}

  // The row, copied.
  const uint8_t* CopiedRow(int32_t y, int32_t member) const {
    if (!deep_) {
      if (job_.copy) CopyRow(f_, y);
      return InputRow(f_, y);
    }
    uint8_t* row = narrow_ + size_t(member) * deep_->samples;
    NarrowAndCopy(deep_->input + size_t(y) * deep_->inStride, row,
                  deep_->output + size_t(y) * deep_->outStride, deep_->samples);
    return row;
  }
  // The row again, copied already.
  const uint8_t* Row(int32_t y, int32_t member) const {
    if (!deep_) return InputRow(f_, y);
    uint8_t* row = narrow_ + size_t(member) * deep_->samples;
    NarrowToEightBits(deep_->input + size_t(y) * deep_->inStride, row, deep_->samples);
    return row;
  }

 private:
  const Frame& f_;
  const GlowJob& job_;
  const DeepRows* deep_;
  uint8_t* narrow_;
};

// Finds row y's centres in `line`, entering with `skip`: sets their bits in the map (clear
// for the row) and their tiles, and returns how many there are.
int32_t MapRow(const Frame& f, const WindowBlock& block, const ColourWindow& window,
               const uint8_t* line, int32_t y, bool& skip, uint64_t* bits, int32_t wordsPerRow,
               int32_t tileShift, uint64_t* tiles) {
  uint64_t* words = bits + size_t(y) * size_t(wordsPerRow);
  int32_t n = 0;
  uint64_t mask = 0;
  ForEachCentreIn(f, block, window, line, skip, [&](int32_t x) {
    ++n;
    words[x >> 6] |= uint64_t(1) << (x & 63);
    mask |= uint64_t(1) << (x >> tileShift);
  });
  tiles[y] = mask;
  return n;
}

// Calls run(x0, x1) for each run of set tiles of `tiles`, from the left, within the row's
// `width` pixels.
template <typename Run>
void ForEachTileRun(const ColumnTiles& tiles, int32_t width, const Run& run) {
  for (uint64_t m = tiles.bits; m;) {
    const int32_t first = LowestBit(m);
    const uint64_t above = first < 63 ? m >> first : 1;
    const int32_t length = ~above ? LowestBit(~above) : 64 - first;
    const int32_t x0 = first * tiles.width;
    if (x0 >= width) break;
    run(x0, int32_t(std::min<int64_t>(width, int64_t(first + length) * tiles.width)));
    m = first + length >= 64 ? 0 : m & (~uint64_t(0) << (first + length));
  }
}

// The tiles that the stamps of row y's centres change: `half` columns around the first and the
// last centre of each run of the row's tiles with centres (the stamps reach `half` rows around).
uint64_t SpreadRow(const CentreTables& t, const CentreMap& centres, int32_t width, int32_t half,
                   int32_t y) {
  uint64_t wide = 0;
  ForEachTileRun(t.Tiles(y), width, [&](int32_t x0, int32_t x1) {
    const int64_t left = std::max<int64_t>(0, int64_t(centres.First(y, x0, x1 - 1)) - half);
    const int64_t right = std::min<int64_t>(width - 1, int64_t(centres.Last(y, x0, x1 - 1)) + half);
    const int32_t a = int32_t(left >> t.tileShift), b = int32_t(right >> t.tileShift);
    wide |= (b >= 63 ? ~uint64_t(0) : (uint64_t(2) << b) - 1) & (~uint64_t(0) << a);
  });
  return wide;
}

// Adds the tiles of row y's stamps to the rows they reach.
void SpreadRowTiles(const CentreTables& t, const CentreMap& centres, int32_t width, int32_t rows,
                    int32_t half, int32_t y, uint64_t* spread) {
  if (half < 0 || !t.tiles[y]) return;
  const uint64_t wide = SpreadRow(t, centres, width, half, y);
  const int32_t last = int32_t(std::min<int64_t>(rows - 1, int64_t(y) + half));
  for (int32_t r = std::max(0, y - half); r <= last; ++r) spread[r] |= wide;
}

// Each row's tiles with centres, widened to the tiles that their stamps change.
void SpreadTiles(CentreTables& t, const CentreMap& centres, int32_t width, int32_t rows,
                 int32_t half, uint64_t* spread) {
  for (int32_t y = 0; y < rows; ++y) spread[y] = 0;
  for (int32_t y = 0; y < rows; ++y) SpreadRowTiles(t, centres, width, rows, half, y, spread);
}

// At 16 bits the centre pass left the input's words in the output. Where stamps can change a
// row, its tiles get their 8-bit values in the second half of the row's bytes (the frame's
// row), as the 8-bit render draws them; that overwrites the words of the pixels about half a
// row to the right of them, which the widening puts back.

// Calls convert(words, first, end) for samples first to end - 1 of row y, the words those
// samples read: the output's own copy in the first half of the row, which no 8-bit value lies
// over (so that the widening finds in the cache the lines the narrowing read), the input's in
// the second.
template <typename Convert>
void WithWords(const DeepRows& deep, int32_t y, size_t first, size_t end, const Convert& convert) {
  const size_t split = std::clamp(deep.samples / 2, first, end);
  if (first < split) convert(deep.output + size_t(y) * deep.outStride, first, split);
  if (split < end) convert(deep.input + size_t(y) * deep.inStride, split, end);
}

void PrepareDeepRow(const Frame& f, const DeepRows& deep, const ColumnTiles& tiles, int32_t y) {
  const size_t planes = size_t(f.planes);
  uint8_t* out = f.output + size_t(y) * size_t(f.outRowBytes);
  ForEachTileRun(tiles, f.width, [&](int32_t x0, int32_t x1) {
    WithWords(deep, y, planes * size_t(x0), planes * size_t(x1),
              [&](const uint8_t* words, size_t first, size_t end) {
                NarrowToEightBits(words + 2 * first, out + first, end - first);
              });
  });
}

void PrepareDeepRows(RenderContext& context, const DeepRows& deep, const CentreTables& tables,
                     Team* team, const EngineTuning& tuning, int64_t work) {
  const Frame& f = context.frame;
  const int32_t members = MembersFor(team, tuning, work);
  ShareRowRuns(team, members, tuning.shareAll, f.endRow, RunRowsFor(f.endRow, members),
               [&](int32_t first, int32_t end, int32_t) {
                 for (int32_t y = first; y < end; ++y) PrepareDeepRow(f, deep, tables.Tiles(y), y);
               });
}

// The 16-bit result of row y's tiles, once every stamp is drawn on it, from the left of the row
// so that every 8-bit value is read before words are written over it (the words of pixel x lie
// before the 8-bit values of every pixel from x on): the tiles drawn in widened, then the
// words of the other pixels that the 8-bit values overwrote copied from the input again.
void WidenDeepRow(const DeepRows& deep, int32_t planeCount, int32_t width, const ColumnTiles& tiles,
                  int32_t y) {
  if (!tiles.bits) return;
  const size_t planes = size_t(planeCount);
  const uint8_t* in = deep.input + size_t(y) * deep.inStride;
  uint8_t* out = deep.output + size_t(y) * deep.outStride;
  int32_t runs[64][2];
  int32_t n = 0;
  ForEachTileRun(tiles, width, [&](int32_t x0, int32_t x1) {
    WithWords(deep, y, planes * size_t(x0), planes * size_t(x1),
              [&](const uint8_t* words, size_t first, size_t end) {
                WidenSpanAfter(words, out, deep.samples, first, end);
              });
    runs[n][0] = x0;
    runs[n++][1] = x1;
  });
  // The 8-bit values of pixels x0 to x1 - 1 lay over the words of pixels (width + x0) / 2 to
  // (width + x1 + 1) / 2 - 1; those outside every run get theirs back.
  auto restore = [&](int32_t a, int32_t b) {
    if (a < b)
      std::memcpy(out + 2 * planes * size_t(a), in + 2 * planes * size_t(a),
                  2 * planes * size_t(b - a));
  };
  for (int32_t i = 0; i < n; ++i) {
    int32_t from = int32_t((int64_t(width) + runs[i][0]) / 2);
    const int32_t to = int32_t(std::min<int64_t>(width, (int64_t(width) + runs[i][1] + 1) / 2));
    for (int32_t j = 0; j < n && from < to; ++j) {
      if (runs[j][1] <= from) continue;
      if (runs[j][0] >= to) break;
      restore(from, runs[j][0]);
      from = std::max(from, runs[j][1]);
    }
    restore(from, to);
  }
}

void WidenDeepRows(RenderContext& context, const DeepRows& deep, const CentreTables& tables,
                   Team* team, const EngineTuning& tuning, int64_t work) {
  const Frame& f = context.frame;
  const int32_t members = MembersFor(team, tuning, work);
  ShareRowRuns(team, members, tuning.shareAll, f.endRow, RunRowsFor(f.endRow, members),
               [&](int32_t first, int32_t end, int32_t) {
                 for (int32_t y = first; y < end; ++y)
                   WidenDeepRow(deep, f.planes, f.width, tables.Tiles(y), y);
               });
}

// Whether a 16-bit render on one thread is likely to stamp rather than gather, from the centres
// of every 32nd row, with room to spare: the choice must be made before the centre pass. Where
// none of those rows has a centre, the render is left to the plain centre pass, which costs no
// more when there are none and little more when there are a few.
bool LikelyStamped(RenderContext& context, const GlowJob& job, const EngineTuning& tuning,
                   const PassRows& pass, const WindowBlock& block, Team* team) {
  const Frame& f = context.frame;
  if (tuning.glow == GlowPath::Gather) return false;
  const int64_t square = (2 * int64_t(job.e) + 1) * (2 * int64_t(job.e) + 1);
  int64_t sampled = 0, found = 0;
  if (tuning.glow == GlowPath::Automatic)
    for (int32_t y = 15; y < f.endRow; y += 32, ++sampled) {
      bool skip = false;
      ForEachCentreIn(f, block, job.window, pass.Row(y, 0), skip, [&](int32_t) { ++found; });
    }
  const int64_t estimate = sampled ? found * f.endRow / sampled : 0;
  const int64_t stamps = estimate * square * kStampPixelWork;
  const int64_t gather = int64_t(f.width) * f.endRow * (2 * int64_t(job.e) + 1) * kGatherStepWork;
  if (tuning.glow == GlowPath::Automatic && (found == 0 || 4 * stamps >= gather)) return false;
  return MembersFor(team, tuning, stamps) <= 1;
}

constexpr int32_t kStreamedRows = 16;

// A 16-bit render stamped on one thread as the centre pass goes: each row copied and narrowed
// and its centres found, its tiles narrowed once no centre still to be found can reach it, the
// stamps of a centre row drawn once every row they reach is narrowed, and each row widened once
// no stamp is left to reach it. The words of the tiles are then narrowed while the copy has
// them in the cache, instead of after the whole image has been through it. The host is polled
// before each centre row's stamps, as the stamps after a whole centre pass poll it.
void RenderDeepStreamed(RenderContext& context, const GlowJob& job, const DeepRows& deep,
                        const PassRows& pass, const WindowBlock& block, CentreTables& tables,
                        const CentreMap& centres, uint64_t* bits, int32_t wordsPerRow,
                        uint64_t* spread, RowLoop& loop, bool poll) {
  const Frame& f = context.frame;
  const int32_t rows = f.endRow;
  const int32_t lag = std::max(job.e, 0);  // no stamp reaches farther
  for (int32_t y = 0; y < rows; ++y) spread[y] = 0;
  tables.before[0] = 0;
  std::optional<StampGroups> groups;
  int32_t half = -1;
  bool skip = false, aborted = false;
  int32_t prepared = 0, drawn = 0, widened = 0, end = rows;
  // Centre row c's stamps, once rows up to `ready` are narrowed and centres found up to `found`.
  auto draw = [&](int32_t ready, int32_t found) {
    const int32_t upTo =
        std::min<int64_t>({int64_t(ready) - lag, int64_t(found) + 1 - StampGroups::kRows, rows});
    for (; drawn < upTo; ++drawn) {
      if (!aborted && poll && !loop.Poll()) {
        aborted = true;
        end = drawn;
      }
      if (aborted || !groups) continue;
      const int32_t c = drawn;
      centres.ForEach(c, 0, f.width - 1, [&](int32_t x) {
        if (!groups->Take(context, x, c)) StampGlowRows(context, x, c, 0, rows);
      });
    }
  };
  auto spreadOf = [&](int32_t y) { return ColumnTiles{spread[y], 1 << tables.tileShift}; };
  auto widen = [&](int32_t upTo) {
    for (; widened < upTo; ++widened)
      WidenDeepRow(deep, f.planes, f.width, spreadOf(widened), widened);
  };
  auto prepare = [&](int32_t upTo) {
    for (; prepared < upTo; ++prepared) PrepareDeepRow(f, deep, spreadOf(prepared), prepared);
  };
  for (int32_t y = 0; y < rows; ++y) {
    const int32_t n = MapRow(f, block, job.window, pass.CopiedRow(y, 0), y, skip, bits, wordsPerRow,
                             tables.tileShift, tables.tiles);
    tables.before[y + 1] = tables.before[y] + uint32_t(n);
    if (n && !groups) {
      BuildGlowKernel(context, double(job.radius), job.colour);
      PrepareGlowStamp(context, job.e, f.planes);
      half = GlowStampHalf(context);
      groups.emplace(centres, f, half, 0, rows);
    }
    SpreadRowTiles(tables, centres, f.width, rows, half, y, spread);
    // The copies of a few rows one after another, which the processor streams faster than a
    // row at a time between the stamps.
    if ((y + 1) % kStreamedRows != 0 && y + 1 < rows) continue;
    prepare(std::max(0, y + 1 - lag));
    draw(prepared, y);
    if (!aborted) widen(StampGroups::FinishedRows(drawn, half));
  }
  prepare(rows);
  draw(rows + lag, rows + StampGroups::kRows);
  if (groups) groups->Flush(context, end);
  widen(rows);
}

}  // namespace

bool RenderGlow(RenderContext& context, const GlowJob& job, const EngineTuning& tuning,
                RowLoop& loop, bool poll, const DeepRows* deep) {
  const Frame& f = context.frame;
  const int32_t e = job.e;
  const int32_t rows = f.endRow;
  const int64_t pixels = int64_t(f.width) * rows;
  Team* team = TeamOf(context);

  // The centre map takes one bit per pixel, and each row a few words of tables. Without them
  // the stamps give the same bytes, finding the centres again as they go (at 16 bits, the
  // caller renders the 8-bit rows it narrowed).
  const int32_t wordsPerRow = int32_t((int64_t(f.width) + 63) / 64);
  const uint64_t words = uint64_t(wordsPerRow) * uint64_t(rows);
  const uint64_t tableBytes = (uint64_t(rows) + 1) * (2 * sizeof(uint64_t) + sizeof(uint32_t) + 1);
  const int32_t passMembers = MembersFor(team, tuning, deep ? 3 * pixels : pixels);
  const uint64_t narrowBytes = deep ? uint64_t(deep->samples) * uint64_t(passMembers) : 0;
  uint64_t* bits = nullptr;
  uint8_t* tablesMemory = nullptr;
  uint8_t* narrow = nullptr;
  if (!tuning.noWorkMemory && words < SIZE_MAX / 16 && tableBytes < SIZE_MAX / 2 &&
      narrowBytes < SIZE_MAX / 2) {
    bits = static_cast<uint64_t*>(context.centreMap.Zeroed(size_t(words) * sizeof(uint64_t)));
    tablesMemory = static_cast<uint8_t*>(context.rowTables.Zeroed(size_t(tableBytes)));
    narrow = static_cast<uint8_t*>(context.narrowRows.Zeroed(size_t(narrowBytes) + 1));
  }
  if (!bits || !tablesMemory || !narrow) {
    if (deep) return false;
    // One pass over the input copies it and counts the centres; without one nothing is drawn.
    const WindowBlock block(job.window, f.planes);
    bool skip = false, any = false;
    for (int32_t y = f.firstRow; y < f.endRow; ++y) {
      if (job.copy) CopyRow(f, y);
      if (!any)
        ForEachCentreIn(f, block, job.window, InputRow(f, y), skip, [&](int32_t) { any = true; });
    }
    if (!any) {
      for (int32_t y = f.firstRow; y < f.endRow; ++y)
        if (poll && !loop.Poll()) break;
      return true;
    }
    BuildGlowKernel(context, double(job.radius), job.colour);
    PrepareGlowStamp(context, e, f.planes);
    RenderStampsUnmapped(context, job.window, e, loop, poll);
    return true;
  }

  CentreTables tables;
  tables.tiles = reinterpret_cast<uint64_t*>(tablesMemory);
  uint64_t* spread = tables.tiles + rows + 1;
  tables.before = reinterpret_cast<uint32_t*>(spread + rows + 1);
  tables.skipAfter = reinterpret_cast<uint8_t*>(tables.before + rows + 1);
  tables.tileShift = TileShift(f.width);
  const CentreMap centres{bits, wordsPerRow};

  // The map is left zero for the next render: only its rows with centres were written (the
  // counts of centres before each row are all filled in before it returns).
  struct ClearMap {
    const CentreTables& tables;
    uint64_t* bits;
    int32_t wordsPerRow, rows;
    ~ClearMap() {
      for (int32_t y = 0; y < rows; ++y)
        if (tables.before[y + 1] != tables.before[y])
          std::memset(bits + size_t(y) * size_t(wordsPerRow), 0,
                      size_t(wordsPerRow) * sizeof(uint64_t));
    }
  } clearMap{tables, bits, wordsPerRow, rows};

  const WindowBlock block(job.window, f.planes);
  const PassRows pass(context, job, deep, narrow);
  if (deep && passMembers <= 1 && LikelyStamped(context, job, tuning, pass, block, team)) {
    RenderDeepStreamed(context, job, *deep, pass, block, tables, centres, bits, wordsPerRow, spread,
                       loop, poll);
    return true;
  }

  // One pass over the input copies it and finds the centres, in runs of rows shared among
  // the members. The skip state runs on across rows: each run starts as if the row before
  // ended without a centre, and the rows that would have started otherwise are found again.
  const int32_t run = RunRowsFor(rows, passMembers);
  int32_t* counts = reinterpret_cast<int32_t*>(spread);  // until the tiles are spread
  ShareRowRuns(team, passMembers, tuning.shareAll, rows, run,
               [&](int32_t first, int32_t end, int32_t member) {
                 bool skip = false;
                 for (int32_t y = first; y < end; ++y) {
                   const uint8_t* line = pass.CopiedRow(y, member);
                   counts[y] = MapRow(f, block, job.window, line, y, skip, bits, wordsPerRow,
                                      tables.tileShift, tables.tiles);
                   tables.skipAfter[y] = skip;
                 }
               });
  bool skip = false, passSkip = false;
  tables.before[0] = 0;
  for (int32_t y = 0; y < rows; ++y) {
    if (y % run == 0) passSkip = false;  // how the pass entered the row
    const bool passAfter = tables.skipAfter[y];
    if (skip != passSkip) {
      std::memset(bits + size_t(y) * size_t(wordsPerRow), 0,
                  size_t(wordsPerRow) * sizeof(uint64_t));
      bool again = skip;
      counts[y] = MapRow(f, block, job.window, pass.Row(y, 0), y, again, bits, wordsPerRow,
                         tables.tileShift, tables.tiles);
      tables.skipAfter[y] = again;
    }
    skip = tables.skipAfter[y];
    passSkip = passAfter;
    tables.before[y + 1] = tables.before[y] + uint32_t(counts[y]);
  }
  const int64_t count = tables.Count(rows);

  // Without a centre nothing is drawn: the kernel is not needed, only the polls are due.
  if (count == 0) {
    for (int32_t y = f.firstRow; y < f.endRow; ++y)
      if (poll && !loop.Poll()) break;
    return true;
  }
  BuildGlowKernel(context, double(job.radius), job.colour);
  PrepareGlowStamp(context, e, f.planes);
  SpreadTiles(tables, centres, f.width, rows, GlowStampHalf(context), spread);
  tables.tiles = spread;

  const int64_t stamps = count * GlowStampArea(context) * kStampPixelWork;
  const int64_t gather = pixels * (2 * int64_t(e) + 1) * kGatherStepWork;
  GlowPath path = tuning.glow;
  if (path == GlowPath::Automatic) path = stamps < gather ? GlowPath::Stamps : GlowPath::Gather;
  const int64_t work = path == GlowPath::Stamps ? stamps : gather;
  const int32_t members = MembersFor(team, tuning, work);
  // On one thread each 16-bit row is widened as soon as its stamps are drawn.
  const bool widenAsDrawn = deep && path == GlowPath::Stamps && members <= 1;
  if (deep && !widenAsDrawn) PrepareDeepRows(context, *deep, tables, team, tuning, pixels);
  if (widenAsDrawn)
    RenderStamps(
        context, centres, loop, poll, members, tuning.shareAll,
        [&](int32_t y) { WidenDeepRow(*deep, f.planes, f.width, tables.Tiles(y), y); },
        [&](int32_t y) { PrepareDeepRow(f, *deep, tables.Tiles(y), y); });
  else if (path == GlowPath::Stamps)
    RenderStamps(context, centres, loop, poll, members, tuning.shareAll);
  else
    RenderGather(context, centres, tables, e, loop, poll, members, tuning.shareAll);

  if (deep && !widenAsDrawn) WidenDeepRows(context, *deep, tables, team, tuning, pixels);
  return true;
}
