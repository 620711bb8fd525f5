#include "command/Console.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

#include "command/Console_stop.h"

double NowMilliseconds() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

namespace {
// Two buffers: the handler reads the one published while the other is filled.
char g_stopMessage[2][1024];
std::atomic<int> g_published{-1};
}  // namespace

void SetStopMessage(const std::string& message) {
  const int next = g_published.load() == 0 ? 1 : 0;
  const std::string line = "corvanel: " + message + "\n";
  const size_t n = std::min(line.size(), sizeof g_stopMessage[next] - 1);
  std::memcpy(g_stopMessage[next], line.data(), n);
  g_stopMessage[next][n] = '\0';
  g_published.store(next);
}

const char* StopMessage() {
  const int which = g_published.load();
  return which < 0 ? "corvanel: interrupted\n" : g_stopMessage[which];
}

namespace {
std::atomic<double> g_firstInterrupt{-1.0};
}  // namespace

bool IsSecondInterrupt(double milliseconds) {
  const double first = g_firstInterrupt.load();
  return first >= 0 && milliseconds - first >= 500.0;
}

void NoteFirstInterrupt(double milliseconds) {
  double none = -1.0;
  g_firstInterrupt.compare_exchange_strong(none, milliseconds);
}
