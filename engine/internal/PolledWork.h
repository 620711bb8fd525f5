// Work that follows the host's polls: units taken in order by the render's threads, each
// ready once enough rows have been polled. Only the calling thread polls the host, once
// before each row and in order; it polls the next row only when no unit is ready for it and
// for the units the other members take next, so that the polls keep just ahead of the work
// and an abort is seen while the work goes on.
#pragma once

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "engine/internal/RowLoop.h"
#include "engine/internal/Team.h"

// The rows polled so far, as the workers wait for them.
class PollFront {
 public:
  PollFront() = default;
  PollFront(const PollFront&) = delete;
  PollFront& operator=(const PollFront&) = delete;

  void Advance(int32_t polled) {
    polled_.store(polled);
    if (polled >= wanted_.load()) Wake();
  }
  // No more polls: `end` rows count, every row or those polled before an abort.
  void Finish(int32_t end) {
    end_ = end;
    finished_.store(true);
    Wake();
  }
  // Waits until `need` rows are polled or the polls end. The rows that count: `rows` when
  // `need` were polled, else those of Finish.
  int32_t Wait(int32_t need, int32_t rows) {
    if (!finished_.load() && polled_.load() < need) {
      std::unique_lock lock(mutex_);
      // Said again after every wake-up, which forgets what every waiting worker wanted, and
      // said before the rows are looked at: Advance stores the rows, then looks at what is
      // wanted, so that one of the two sees the other.
      for (;;) {
        if (need < wanted_.load()) wanted_.store(need);
        if (finished_.load() || polled_.load() >= need) break;
        changed_.wait(lock);
      }
    }
    return polled_.load() >= need ? rows : end_;
  }

 private:
  void Wake() {
    {
      std::lock_guard lock(mutex_);
      wanted_.store(INT32_MAX);
    }
    changed_.notify_all();
  }

  std::atomic<int32_t> polled_{0};
  std::atomic<int32_t> wanted_{INT32_MAX};  // the fewest rows a waiting worker waits for
  std::atomic<bool> finished_{false};
  int32_t end_ = 0;  // written before finished_ is set
  std::mutex mutex_;
  std::condition_variable changed_;
};

// Polls rows 0 to rows - 1 (when `poll` is set) while the members carry out units 0 to
// units - 1 in order: unit(u, end) once need(u) rows are polled (need never decreasing, at
// most rows), with end = rows; after an abort, the units not yet begun with end = the rows
// polled before it, which the unit must take as the centre rows that count. Returns those.
template <typename Need, typename Unit>
int32_t RunPolledUnits(Team* team, int32_t members, bool together, RowLoop& loop, bool poll,
                       int32_t rows, int32_t units, const Need& need, const Unit& unit) {
  PollFront front;
  std::atomic<int32_t> next{0};
  int32_t end = rows;
  auto work = [&](int32_t member) {
    if (member != 0) {
      for (;;) {
        const int32_t u = next.fetch_add(1);
        if (u >= units) return;
        unit(u, front.Wait(need(u), rows));
      }
    }
    int32_t polled = poll ? 0 : rows;
    bool finished = polled == rows;
    if (finished) front.Finish(rows);
    // The polls keep ahead of the units the other members take next as well, so that they
    // do not wait for this one to finish its unit before it polls again.
    const int32_t ahead = members > 1 && team ? members - 1 : 0;
    for (;;) {
      int32_t u = next.load();
      if (u < units && (finished || need(std::min(u + ahead, units - 1)) <= polled)) {
        if (next.compare_exchange_weak(u, u + 1)) unit(u, finished ? end : rows);
        continue;
      }
      // Nothing ready, or nothing left but rows to poll.
      if (finished) break;
      if (!loop.Poll()) {
        finished = true;
        end = polled;
        front.Finish(end);
        continue;
      }
      if (++polled == rows) {
        finished = true;
        front.Finish(rows);
      } else {
        front.Advance(polled);
      }
    }
  };
  if (members > 1 && team)
    team->Run(members, work, together);
  else
    work(0);
  return end;
}
