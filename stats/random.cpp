// random.cpp - linear congruential uniform draws and their twelve-draw normal sums.
#include "stats/random.h"

thread_local uint32_t GeneratorState = 1;

int32_t UniformDraw()
{
    // Unsigned 32-bit arithmetic supplies the modulo 2^32.
    GeneratorState = (GeneratorState * 214013u) + 2531011u;
    return static_cast<int32_t>((GeneratorState >> 16) & 0x7FFFu);
}

int32_t NormalSum12()
{
    int32_t sum = 0;
    for (int32_t k = 0; k < 12; ++k) sum += UniformDraw();
    return sum;
}

double DrawNormalUnit()
{
    const double S = static_cast<double>(NormalSum12());
    // Two divisions in this order, not one by 196602: the single quotient can differ in the last bit.
    const double unit = S / 32767.0;
    const double mean = unit / 6.0;
    return mean - 1.0;
}

double DrawNormal(double average, double deviation)
{
    // Draw first, so that the twelve draws are consumed whatever the arguments hold.
    const double S = static_cast<double>(NormalSum12());
    const double quotient = S / 196602.0;  // 196602 = 6 * 32767
    const double centred = quotient - 1.0;
    const double spread = deviation * 6.0;
    const double scaled = centred * spread;
    return scaled + average;
}
