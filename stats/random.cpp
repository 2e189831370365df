// random.cpp - linear congruential uniform draws and their twelve-draw normal sums.
#include "stats/random.h"

thread_local uint32_t GeneratorState = 1;

namespace {

// A long-established C-library rand() recurrence, multiplier 214013 and increment 2531011 modulo
// 2^32, bits 16..30 returned; the sequence users hold (41, 18467, 6334, ... from state 1) follows
// from exactly these. Full period 2^32 (Hull-Dobell: the increment is odd, the multiplier - 1 a
// multiple of 4).
constexpr uint32_t Multiplier = 214013u;
constexpr uint32_t Increment = 2531011u;

// k steps of the congruence from state s give A[k] * s + C[k] (mod 2^32), with A[k] = a^k and
// C[k] = c (a^(k-1) + ... + a + 1): the composition of k steps is itself one linear step.
struct Jumps {
    uint32_t A[13];
    uint32_t C[13];
};

constexpr Jumps MakeJumps()
{
    Jumps jumps = {};
    jumps.A[0] = 1u;
    jumps.C[0] = 0u;
    for (int32_t k = 1; k <= 12; ++k) {
        jumps.A[k] = jumps.A[k - 1] * Multiplier;
        jumps.C[k] = (jumps.C[k - 1] * Multiplier) + Increment;
    }
    return jumps;
}

constexpr Jumps TwelveJumps = MakeJumps();

// The draw a state stands for: its bits 16..30.
inline int32_t DrawFrom(uint32_t state) { return static_cast<int32_t>((state >> 16) & 0x7FFFu); }

}  // namespace

int32_t UniformDraw(uint32_t* state)
{
    // Unsigned 32-bit arithmetic supplies the modulo 2^32.
    *state = (*state * Multiplier) + Increment;
    return DrawFrom(*state);
}

// Twelve uniforms on [0, 1] sum to mean 6 and variance 12 x 1/12 = 1 (the Irwin-Hall distribution of
// order 12): the classic cheap approximation of a normal draw, bounded at 6 deviations.
// Each of the twelve states is computed from the entry state alone, so the twelve multiplications
// do not wait for one another; the draws, their sum and the state left behind are UniformDraw's.
int32_t NormalSum12(uint32_t* entry)
{
    const uint32_t state = *entry;
    uint32_t next = state;
    int32_t sum = 0;
    for (int32_t k = 1; k <= 12; ++k) {
        next = (TwelveJumps.A[k] * state) + TwelveJumps.C[k];
        sum += DrawFrom(next);
    }
    *entry = next;  // the twelfth state
    return sum;
}

double DrawNormalUnit(uint32_t* state)
{
    const double S = static_cast<double>(NormalSum12(state));
    // Two divisions in this order, not one by 196602: the single quotient can differ in the last bit.
    const double unit = S / 32767.0;
    const double mean = unit / 6.0;
    return mean - 1.0;
}

double DrawNormal(uint32_t* state, double average, double deviation)
{
    // Draw first, so that the twelve draws are consumed whatever the arguments hold.
    const double S = static_cast<double>(NormalSum12(state));
    const double quotient = S / 196602.0;  // 196602 = 6 * 32767
    const double centred = quotient - 1.0;
    const double spread = deviation * 6.0;
    const double scaled = centred * spread;
    return scaled + average;
}

// Squaring the one-step map a s + c gives the two-step map a^2 s + (a + 1) c, and so on: the maps
// for k's set bits are composed onto the running one, lowest bit first (composition of these maps
// commutes, as they are powers of one map).
uint32_t JumpedState(uint32_t state, uint64_t k)
{
    uint32_t multiplier = 1u;
    uint32_t increment = 0u;
    uint32_t stepMultiplier = Multiplier;
    uint32_t stepIncrement = Increment;
    for (uint64_t rest = k; rest != 0u; rest >>= 1) {
        if ((rest & 1u) != 0u) {
            multiplier = multiplier * stepMultiplier;
            increment = (increment * stepMultiplier) + stepIncrement;
        }
        stepIncrement = (stepMultiplier + 1u) * stepIncrement;
        stepMultiplier = stepMultiplier * stepMultiplier;
    }
    return (multiplier * state) + increment;
}

int32_t UniformDraw() { return UniformDraw(&GeneratorState); }
int32_t NormalSum12() { return NormalSum12(&GeneratorState); }
double DrawNormalUnit() { return DrawNormalUnit(&GeneratorState); }
double DrawNormal(double average, double deviation) { return DrawNormal(&GeneratorState, average, deviation); }
