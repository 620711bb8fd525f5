#include "engine/Effects.h"

namespace {
uint32_t g_randomState;
}

void SeedRandom(uint32_t state) {
  g_randomState = state;
}

int32_t NextRandom() {
  g_randomState = g_randomState * 214013u + 2531011u;
  return int32_t((g_randomState >> 16) & 0x7FFF);
}
