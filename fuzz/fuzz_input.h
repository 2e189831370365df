// fuzz_input.h - numbers, integers and sizes drawn from fuzz input, biased towards the values that
// break numeric code: NaN, infinities, subnormals, signed zeros, the int32 and int16 extremes.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <fuzzer/FuzzedDataProvider.h>

namespace quorin_fuzz {

inline double SpecialNumber(FuzzedDataProvider& in)
{
    static constexpr double Specials[] = {
        0.0, -0.0, 1.0, -1.0, 2.0, 0.5, 3.0, 10.0, 1e-300, -1e300,
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        DBL_MIN, -DBL_MIN, std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
        DBL_MAX, -DBL_MAX, DBL_EPSILON, 9007199254740992.0, 2147483648.0, -2147483649.0,
        32767.5, 65535.0, 0x1p-126, 0x1p-127, 1e154, 1e-154,
    };
    return Specials[in.ConsumeIntegralInRange<size_t>(0, sizeof(Specials) / sizeof(Specials[0]) - 1)];
}

// A third special values, a third small integers (ties, repeats, monotone runs), a third any bits.
inline double Number(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return SpecialNumber(in);
    case 1: return static_cast<double>(in.ConsumeIntegralInRange<int>(-8, 24));
    default: {
        const uint64_t bits = in.ConsumeIntegral<uint64_t>();
        double v = 0.0;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    }
}

inline int32_t Integer(FuzzedDataProvider& in)
{
    static constexpr int32_t Specials[] = {
        INT32_MIN, INT32_MIN + 1, -65536, -32768, -1, 0, 1, 2, 3, 4, 5, 19, 20, 21, 30, 1000, 32767, 65535, INT32_MAX,
    };
    if (in.ConsumeBool()) return Specials[in.ConsumeIntegralInRange<size_t>(0, sizeof(Specials) / sizeof(Specials[0]) - 1)];
    return in.ConsumeIntegral<int32_t>();
}

}  // namespace quorin_fuzz
