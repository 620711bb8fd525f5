// A bare host record for driving the plug-in's entry from tests.
#pragma once

#include <cstring>

#include "host/EffectParams.h"
#include "host/Entry.h"
#include "host/PseudoHandle.h"

struct EntryCall {
  FilterRecord record{};
  intptr_t data = 0;

  int16_t Call(int16_t selector) {
    int16_t result = 12345;
    ENTRYPOINT(selector, &record, &data, &result);
    return result;
  }
  EffectParams* params() { return ParamsFromHandle(record.parameters); }
};
