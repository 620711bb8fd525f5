#pragma once

#include "host/HostTypes.h"

extern "C" void ENTRYPOINT(int16_t selector, void* record, intptr_t* data, int16_t* result);
