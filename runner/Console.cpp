#include <atomic>
#include <chrono>

#include "runner/Console.h"

std::atomic<int> g_hardExitDeferred{0};

HardExitGuard::HardExitGuard() {
  ++g_hardExitDeferred;
}
HardExitGuard::~HardExitGuard() {
  --g_hardExitDeferred;
}

double NowMilliseconds() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}
