// Included first by every header of engine/internal: the engine's sources, and the tests
// that look inside it, see only this build's engine, and only with arithmetic that gives
// the same bits in every build.
#pragma once

#ifndef CORVANEL_ENGINE_INTERNALS
#error "engine/internal is private to the engine and its tests: include engine/Engine.h"
#endif

// Renders must be bit-identical in every build and inside every host.
#if defined(__FAST_MATH__) || (defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__)
#error "the engine needs IEEE arithmetic: build it without -ffast-math"
#endif
// Doubles evaluated in doubles: SSE2, not x87 excess precision (on i686 -msse2 -mfpmath=sse).
#if !defined(__FLT_EVAL_METHOD__) || __FLT_EVAL_METHOD__ != 0
#error "the engine needs double arithmetic in double registers (i686: -msse2 -mfpmath=sse)"
#endif
// No compiler says by a macro whether it may contract a * b + c into a fused multiply-add.
// Contraction can change a result only on a target that has the instruction, so the engine
// is built only for targets without it (x86-64 and i686 with SSE2, without -mfma or a
// -march that implies it). A target with it needs a check that -ffp-contract=off is in
// force before it may build the engine.
#if defined(__FP_FAST_FMA) || defined(__FP_FAST_FMAF) || defined(__FMA__) || defined(__FMA4__) || \
    defined(__ARM_FEATURE_FMA)
#error "a target with fused multiply-add: the engine cannot check that nothing is contracted"
#endif

// The SIMD paths, unless the build asks for the plain loops that every target can run.
#if defined(__SSE2__) && !defined(CORVANEL_SCALAR)
#define CORVANEL_SSE2 1
#endif
