#include "engine/internal/Team.h"

#include <algorithm>
#include <new>

#include "engine/internal/Context.h"

namespace {

// Work, in pixels copied, below which a phase is not shared. Under Wine a parked worker
// takes about 0.1 ms to wake, and a new one about 3 ms to begin (0.3 ms of the calling
// thread's time to start it and 0.4 ms to join it): workers are started only for renders
// that cost several milliseconds, and woken for a share of about a millisecond each.
constexpr int64_t kWorthWaking = 1 << 20;
constexpr int64_t kWorthStarting = 24 << 20;

}  // namespace

void Team::Run(int32_t members, void (*work)(void*, int32_t), void* data, bool together) {
  members = std::clamp(members, 1, kMaxThreads);
  // Workers not yet running are started now; the calling thread does not wait for them.
  while (started_ < members - 1) {
    try {
      const int32_t member = started_ + 1;
      workers_[started_] = std::thread([this, member] { Serve(member); });
      ++started_;
    } catch (...) {
      break;  // no more threads to be had: fewer members
    }
  }
  members = std::min(members, started_ + 1);
  if (members > 1) {
    {
      std::lock_guard lock(mutex_);
      work_ = work;
      data_ = data;
      members_ = members;
      entered_ = 0;
      open_ = true;
      ++phase_;
    }
    wake_.notify_all();
    if (together) {
      std::unique_lock lock(mutex_);
      done_.wait(lock, [&] { return entered_ == members - 1; });
    }
  }
  work(data, 0);
  if (members > 1) {
    std::unique_lock lock(mutex_);
    open_ = false;
    done_.wait(lock, [&] { return inside_ == 0; });
  }
}

void Team::Serve(int32_t member) {
  std::unique_lock lock(mutex_);
  uint64_t seen = 0;
  for (;;) {
    wake_.wait(lock, [&] { return quit_ || phase_ != seen; });
    if (quit_) return;
    seen = phase_;
    if (!open_ || member >= members_) continue;
    ++inside_;
    ++entered_;
    void (*const work)(void*, int32_t) = work_;
    void* const data = data_;
    if (entered_ == members_ - 1) done_.notify_all();
    lock.unlock();
    work(data, member);
    lock.lock();
    if (--inside_ == 0 && !open_) done_.notify_all();
  }
}

void Team::Join() {
  if (started_ == 0) return;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  for (int32_t i = 0; i < started_; ++i) workers_[i].join();
  started_ = 0;
  quit_ = false;
}

int32_t ThreadsWanted(const EngineTuning& tuning) {
  if (tuning.threads > 0) return std::min(tuning.threads, kMaxThreads);
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(int32_t(cores), 1, kMaxThreads);
}

int32_t MembersFor(const Team* team, const EngineTuning& tuning, int64_t work) {
  const int32_t wanted = ThreadsWanted(tuning);
  if (!team || wanted < 2) return 1;
  if (tuning.shareAll) return wanted;
  const bool running = team->Running() > 0;
  if (work < (running ? kWorthWaking : kWorthStarting)) return 1;
  // Each member's share worth at least the cost of waking it.
  return int32_t(std::clamp<int64_t>(work / kWorthWaking, 1, wanted));
}

Team* TeamOf(RenderContext& context) {
  if (!context.team) context.team = new (std::nothrow) Team;
  return context.team;
}

RenderThreadScope::RenderThreadScope(RenderContext& context) : context_(context) {
  if (Team* team = TeamOf(context_)) ++team->keepers;
}

RenderThreadScope::~RenderThreadScope() {
  Team* team = context_.team;
  if (team && --team->keepers == 0) team->Join();
}

// Called as a render returns: its workers end with it unless a scope keeps them.
void EndRender(RenderContext& context) {
  if (context.team && context.team->keepers == 0) context.team->Join();
}
