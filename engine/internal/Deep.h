// The rows of a 16-bit render on their way back from the 8-bit render (engine/Render.cpp);
// NarrowToEightBits (engine/Engine.h) takes them there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/Engine.h"
#include "engine/internal/Exactness.h"

// Turns the first `samples` bytes of `row`, the 8-bit render of the words' nearest values,
// into the 16-bit result of each word (SixteenBitResult), in place over 2 * samples bytes.
void WidenRow(const uint8_t* words, uint8_t* row, size_t samples);

// The same for samples first to end - 1 of the row only, from the right: the words of each
// sample written over the 8-bit values after it, all of which were read before.
void WidenSpan(const uint8_t* words, uint8_t* row, size_t first, size_t end);

// The same for samples first to end - 1 with their 8-bit values `offset` bytes into the row
// (at least `end`), from the left: the words of each sample written over 8-bit values before
// it, all of which were read before.
void WidenSpanAfter(const uint8_t* words, uint8_t* row, size_t offset, size_t first, size_t end);

// NarrowToEightBits of a row that is also copied as it is read, its words to `copy`.
void NarrowAndCopy(const uint8_t* words, uint8_t* narrow, uint8_t* copy, size_t samples);

// Whether the rows are converted with AVX2 where the processor has it (the default) or with
// SSE2 only, for tests to run both; returns whether this processor has it.
bool SetWideLanes(bool wide);
