// random.h - approximately normal pseudo-random numbers from the sum of twelve uniform draws.
// The uniform generator is the linear congruence state * 214013 + 2531011 (mod 2^32), answering
// bits 16..30 (0..32767). The sequence starts from state 1 on every thread and is never reseeded.
#pragma once

#include <cstdint>

// The worksheet's generator state, written only by the draws that take no state. Per thread so that draws need no lock; it starts
// at 1 when a thread first draws and lives as long as that thread. Kept a plain integer with a
// constant initialiser: where thread-local storage is emulated, an object with a destructor
// crashes at thread exit.
extern thread_local uint32_t GeneratorState;

// Each draw steps *state, a sequence the caller keeps (1 to start it afresh); the forms without a
// state step this thread's GeneratorState through them, so every sequence is the same arithmetic.
int32_t UniformDraw(uint32_t* state);  // the next draw, 0 .. 32767
int32_t NormalSum12(uint32_t* state);  // the sum of the next twelve draws, 0 .. 393204
double DrawNormalUnit(uint32_t* state);  // twelve draws scaled to [-1, 1]: mean 0, deviation about 1/6
double DrawNormal(uint32_t* state, double average, double deviation);  // twelve draws scaled to mean average, deviation about deviation

// The state k draws after state: the congruence's k-fold composition, found in about log2(k) steps,
// so that a sequence can be split into streams that do not overlap. k is taken modulo the period 2^32.
uint32_t JumpedState(uint32_t state, uint64_t k);

int32_t UniformDraw();
int32_t NormalSum12();
double DrawNormalUnit();
double DrawNormal(double average, double deviation);
