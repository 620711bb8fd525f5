// The threads of a context's renders: the thread that called the engine, which alone calls
// the host, and the workers it starts when a render has enough work for them. Workers live
// until the render ends, or, while a RenderThreadScope holds the context, until the scope
// ends: no thread of the engine outlives the call of the engine (or the scope) that started
// it, so a host may unload the plug-in after any call.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "engine/Engine.h"
#include "engine/internal/Exactness.h"

// The most threads a render uses, the calling thread among them.
constexpr int32_t kMaxThreads = 64;

class Team {
 public:
  Team() = default;
  Team(const Team&) = delete;
  Team& operator=(const Team&) = delete;
  ~Team() { Join(); }

  // Runs work(data, member) on the calling thread as member 0 and on up to members - 1
  // workers (members 1 and on), starting those that are not running yet, and returns once
  // every member that took part has returned. A worker that has not begun when the calling
  // thread returns takes no part, so the work must be shared out as it goes (each member
  // claiming the next part), the calling thread able to do it all alone. With `together`
  // (tests) the calling thread waits for every worker to begin first.
  void Run(int32_t members, void (*work)(void*, int32_t), void* data, bool together = false);

  template <typename Work>
  void Run(int32_t members, Work& work, bool together = false) {
    Run(
        members, [](void* data, int32_t member) { (*static_cast<Work*>(data))(member); }, &work,
        together);
  }

  // Workers running now, waiting for work between the phases of a render.
  int32_t Running() const { return started_; }

  // Ends the workers and waits for them to end.
  void Join();

  // Scopes that keep the workers between renders (RenderThreadScope).
  int32_t keepers = 0;

 private:
  void Serve(int32_t member);

  std::mutex mutex_;
  std::condition_variable wake_;  // workers wait here for a phase
  std::condition_variable done_;  // the calling thread waits here for the members to return
  std::thread workers_[kMaxThreads - 1];
  int32_t started_ = 0;
  uint64_t phase_ = 0;   // counts the phases started
  int32_t members_ = 0;  // of the current phase
  bool open_ = false;    // the current phase still takes members
  int32_t inside_ = 0;   // workers at work on the current phase
  int32_t entered_ = 0;  // workers that began the current phase
  bool quit_ = false;
  void (*work_)(void*, int32_t) = nullptr;
  void* data_ = nullptr;
};

// How many threads a render may use: the tuning's count, or for 0 every core the machine
// has; at most kMaxThreads.
int32_t ThreadsWanted(const EngineTuning& tuning);

// What work a phase of a render has, in pixels of a copy's cost, and so how many members it
// takes: one when the work is too little to be worth waking the workers (or, when none
// run yet, starting them), else as many as the tuning allows. Tests may ask that every
// render be shared (EngineTuning::shareAll).
int32_t MembersFor(const Team* team, const EngineTuning& tuning, int64_t work);

// The context's team, made at its first use; null when its memory cannot be had.
Team* TeamOf(RenderContext& context);

// Called as a render returns: its workers end with it unless a scope keeps them.
void EndRender(RenderContext& context);

// Calls run(first, end, member) for each run of `runRows` rows (the last may be shorter) of
// rows 0 to rows - 1, the members taking the runs in order as they come.
template <typename Run>
void ShareRowRuns(Team* team, int32_t members, bool together, int32_t rows, int32_t runRows,
                  const Run& run) {
  if (!team || members <= 1 || rows <= runRows) {
    for (int32_t first = 0; first < rows; first += runRows)
      run(first, first + runRows < rows ? first + runRows : rows, 0);
    return;
  }
  std::atomic<int32_t> next{0};
  auto work = [&](int32_t member) {
    for (;;) {
      const int32_t first = next.fetch_add(runRows);
      if (first >= rows) return;
      run(first, first + runRows < rows ? first + runRows : rows, member);
    }
  };
  team->Run(members, work, together);
}

// Runs of rows small enough for `members` members to share them evenly as they come.
inline int32_t RunRowsFor(int32_t rows, int32_t members) {
  if (members <= 1) return rows > 0 ? rows : 1;
  const int32_t run = rows / (members * 8);
  return run < 1 ? 1 : run > 64 ? 64 : run;
}
