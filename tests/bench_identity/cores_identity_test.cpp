// cores_identity_test.cpp - the tuned cores against a plain step-by-step reading of their algorithms,
// bit for bit on randomised data: blocked fit sums, the spline's fused loops, the branch-free count
// and the blocked range copy must not move a single bit of any answer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "addin/range_buffer.h"
#include "fit/polyfit.h"
#include "host/substitute_host.h"
#include "interp/lagrange.h"
#include "interp/linear.h"
#include "interp/spline.h"
#include "stats/count.h"
#include "stats/random.h"
#include "tests/module_fixture.h"
#include "tests/support/plain_readings.h"
#include "tests/support/seeded.h"
#include "tests/support/test_host.h"

namespace {

using quorin_test::Bits;
using quorin_test::Generator;
using quorin_test::ReadFit;
using quorin_test::ReadInterpolateLinear;
using quorin_test::ReadPolynomial;
using quorin_test::ReadSplineCoefficients;

// --- Randomised data, with the awkward values a sheet can hold mixed in. ---

double Awkward(Generator& random, double typical)
{
    switch (random.Below(16)) {
    case 0: return -0.0;
    case 1: return 0.0;
    case 2: return typical * 1e150;
    case 3: return typical * 1e-160;
    default: return typical;
    }
}

std::vector<double> Values(Generator& random, int32_t n, double low, double high, bool awkward)
{
    std::vector<double> v(static_cast<size_t>(n));
    for (double& x : v) {
        x = random.Between(low, high);
        if (awkward) x = Awkward(random, x);
    }
    return v;
}

// Point counts around the fit's 32-point blocks, and term counts on both sides of the blocked path.
constexpr int32_t FitPointCounts[] = {20, 21, 31, 32, 33, 63, 64, 65, 100, 257, 1000};
constexpr int32_t FitTermCounts[] = {2, 3, 4, 5, 7, 8, 9, 13, 19, 20, 21, 23};

void ExpectSameFit(const std::vector<double>& X, const std::vector<double>& Y, int32_t m,
                   const std::vector<double>& Xc, const std::vector<double>& Yc)
{
    const int32_t n = static_cast<int32_t>(X.size());
    const int32_t k = static_cast<int32_t>(Xc.size());
    std::vector<double> expected(static_cast<size_t>(m) + 1, 0.0);
    const bool expectedFits = ReadFit(X, Y, m, Xc, Yc, &expected);
    std::vector<double> actual(static_cast<size_t>(m) + 1, 0.0);
    const int32_t status = (k == 0) ? FitPolynomial(X.data(), Y.data(), n, actual.data(), m)
                                    : FitPolynomialConstrained(X.data(), Y.data(), n, m, Xc.data(), Yc.data(), k, actual.data());
    ASSERT_EQ(status != 0, !expectedFits);
    // On failure the row still holds the last basis row built: the scratch use is part of the contract.
    for (int32_t j = 0; j < m; ++j) {
        EXPECT_EQ(Bits(actual[static_cast<size_t>(j)]), Bits(expected[static_cast<size_t>(j)])) << "term " << j;
    }
}

TEST(OptimisedCoresIdentity, FitPolynomialMatchesPointwiseSumsBitForBit)
{
    Generator random{20240601};
    for (int32_t n : FitPointCounts) {
        for (int32_t m : FitTermCounts) {
            if (m > n) continue;
            SCOPED_TRACE(::testing::Message() << "n " << n << " m " << m);
            const bool awkward = (n + m) % 3 == 0;
            ExpectSameFit(Values(random, n, -2.0, 2.0, awkward), Values(random, n, -5.0, 5.0, awkward), m, {}, {});
        }
    }
}

TEST(OptimisedCoresIdentity, FitPolynomialConstrainedMatchesPointwiseSumsBitForBit)
{
    Generator random{20240602};
    for (int32_t n : FitPointCounts) {
        for (int32_t m : FitTermCounts) {
            for (int32_t k : {1, 2, 3}) {
                if (m + k > n) continue;
                SCOPED_TRACE(::testing::Message() << "n " << n << " m " << m << " k " << k);
                ExpectSameFit(Values(random, n, -1.5, 1.5, false), Values(random, n, -3.0, 3.0, false), m,
                              Values(random, k, -1.5, 1.5, false), Values(random, k, -1.0, 1.0, false));
            }
        }
    }
}

// Non-finite data: the sums must turn infinite or NaN at the same points, with the same payloads.
TEST(OptimisedCoresIdentity, FitPolynomialMatchesOnNonFiniteData)
{
    Generator random{20240603};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const double strays[] = {nan, -nan, infinity, -infinity, 1e200, -1e300};
    for (double stray : strays) {
        for (int32_t m : {2, 6, 20}) {
            std::vector<double> X = Values(random, 70, -1.0, 1.0, false);
            std::vector<double> Y = Values(random, 70, -1.0, 1.0, false);
            X[static_cast<size_t>(random.Below(70))] = stray;
            Y[static_cast<size_t>(random.Below(70))] = stray;
            SCOPED_TRACE(::testing::Message() << "stray " << stray << " m " << m);
            ExpectSameFit(X, Y, m, {}, {});
        }
    }
}

TEST(OptimisedCoresIdentity, SplineCoefficientsMatchLoopByLoopConstruction)
{
    Generator random{20240604};
    for (int32_t n : {2, 3, 4, 5, 6, 7, 10, 33, 100, 1000, 4099}) {
        for (int32_t trial = 0; trial < 4; ++trial) {
            std::vector<double> X(static_cast<size_t>(n));
            double x = random.Between(-50.0, 50.0);
            for (double& v : X) {
                // Widths spread over several decades, so the elimination's pivots vary widely.
                x += std::ldexp(random.Between(0.1, 1.0), random.Below(20) - 10);
                v = x;
            }
            const std::vector<double> Y = Values(random, n, -10.0, 10.0, trial == 3);
            SCOPED_TRACE(::testing::Message() << "n " << n << " trial " << trial);
            double* actual = SplineCoefficients(X.data(), Y.data(), n);
            ASSERT_NE(actual, nullptr);
            if (n >= 4) {
                const std::vector<double> expected = ReadSplineCoefficients(X, Y);
                for (size_t e = 0; e < expected.size(); ++e) {
                    ASSERT_EQ(Bits(actual[e]), Bits(expected[e])) << "coefficient " << e;
                }
            }
            std::free(actual);
        }
    }
}

// Points handled eight side by side: counts around the lanes, both directions, points before, past
// and on the nodes, NaN and infinities, so that no lane takes another's interval or answer.
TEST(OptimisedCoresIdentity, PointsSideBySideMatchOneSearchAndOneNestingEach)
{
    Generator random{20251208};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (int32_t n : {2, 3, 9, 1000}) {
        for (bool decreasing : {false, true}) {
            std::vector<double> X(static_cast<size_t>(n));
            for (int32_t k = 0; k < n; ++k) X[static_cast<size_t>(k)] = (decreasing ? -1.0 : 1.0) * (k + random.Between(0.0, 0.5));
            const std::vector<double> Y = Values(random, n, -5.0, 5.0, true);
            for (int32_t count : {1, 7, 8, 9, 17, 100}) {
                std::vector<double> x = Values(random, count, -2.0, n + 1.0, true);
                if (decreasing) {
                    for (double& v : x) v = -v;
                }
                x[static_cast<size_t>(random.Below(count))] = X[static_cast<size_t>(random.Below(n))];
                if (count > 2) {
                    x[1] = nan;
                    x[2] = (count % 2 == 0) ? inf : -inf;
                }
                std::vector<double> answers(x.size());
                SCOPED_TRACE(::testing::Message() << "n " << n << " count " << count << (decreasing ? " decreasing" : ""));
                for (int32_t extrapolate : {0, 1}) {
                    InterpolateLinearPoints(X.data(), Y.data(), n, x.data(), count, extrapolate, answers.data());
                    for (size_t i = 0; i < x.size(); ++i) {
                        ASSERT_EQ(Bits(answers[i]), Bits(ReadInterpolateLinear(X, Y, x[i], extrapolate != 0))) << i;
                    }
                }
                EvaluatePolynomialPoints(Y.data(), n, x.data(), count, answers.data());
                for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(Bits(answers[i]), Bits(ReadPolynomial(Y, x[i]))) << i;
            }
        }
    }
}

TEST(OptimisedCoresIdentity, CountInIntervalMatchesTheDirectTest)
{
    Generator random{20240605};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int32_t n : {1, 7, 9, 1000}) {
        std::vector<double> X = Values(random, n, -1.0, 1.0, true);
        X[static_cast<size_t>(random.Below(n))] = nan;
        const double bounds[][2] = {{-0.5, 0.5}, {0.5, -0.5}, {-0.0, 0.0}, {nan, 1.0}, {-1.0, nan},
                                    {-std::numeric_limits<double>::infinity(), 0.25}};
        for (const auto& bound : bounds) {
            int32_t expected = 0;
            for (double v : X) {
                if (v >= bound[0] && v < bound[1]) ++expected;
            }
            EXPECT_EQ(CountInIntervalBaseline(X.data(), n, bound[0], bound[1]), expected);
            if (WideCountSupported()) {
                EXPECT_EQ(CountInIntervalWide(X.data(), n, bound[0], bound[1]), expected);
            }
        }
    }
}

// The twelve states jumped to from the entry state: the same draws, sum and final state as twelve
// steps, from states whose bits reach every carry (including 0 and all ones).
TEST(OptimisedCoresIdentity, NormalSum12MatchesTwelveSingleSteps)
{
    // On a thread of its own: the states set here must not reach other tests' sequences.
    std::thread([] {
        Generator random{20240607};
        for (int32_t trial = 0; trial < 200; ++trial) {
            const uint32_t entry = (trial == 0) ? 0u : (trial == 1) ? UINT32_MAX : static_cast<uint32_t>(random.Next());
            GeneratorState = entry;
            int32_t expected = 0;
            for (int32_t k = 0; k < 12; ++k) expected += UniformDraw();
            const uint32_t expectedState = GeneratorState;
            GeneratorState = entry;
            EXPECT_EQ(NormalSum12(), expected) << entry;
            EXPECT_EQ(GeneratorState, expectedState) << entry;
        }
    }).join();
}

// The wide block copy against the baseline one, at every alignment of the records: the same bits in
// items, and a stray type word found wherever it sits. The records' padding bytes are not zero, as
// nothing promises they are; the type flag bits count as strays, as the baseline counts them.
TEST(OptimisedCoresIdentity, WideBlockCopyMatchesTheBaselineCopy)
{
    if (!WideCopySupported()) GTEST_SKIP() << "no AVX-512F here: ReadRange uses the baseline copy";
    Generator random{20240608};
    std::vector<XLOPER> records(300);
    for (XLOPER& record : records) {
        std::memset(&record, 0xA5, sizeof record);
        record.val.num = Values(random, 1, -1e3, 1e3, true)[0];
        record.xltype = xltypeNum;
    }
    const uint16_t strays[] = {xltypeStr, xltypeErr, xltypeNum | 0x1000, 0x0100 | xltypeNum};
    for (int32_t offset : {0, 1, 2, 3, 5, 7}) {
        for (int32_t n : {1, 7, 8, 9, 40, 256}) {
            for (int32_t position = -1; position < n; position += (n > 9 ? 13 : 1)) {
                SCOPED_TRACE(::testing::Message() << "offset " << offset << " n " << n << " stray at " << position);
                XLOPER* block = records.data() + offset;  // in place: the offset moves the alignment
                if (position >= 0) block[position].xltype = strays[position % 4];
                std::vector<double> expected(static_cast<size_t>(n)), actual(static_cast<size_t>(n));
                const bool expectedNumbers = CopyBlockBaseline(block, expected.data(), n) == 0;
                EXPECT_EQ(CopyBlockWide(block, actual.data(), n) == 0, expectedNumbers);
                EXPECT_EQ(expectedNumbers, position < 0);
                if (position >= 0) block[position].xltype = xltypeNum;
                for (int32_t k = 0; k < n; ++k) ASSERT_EQ(Bits(actual[static_cast<size_t>(k)]), Bits(expected[static_cast<size_t>(k)])) << k;
            }
        }
    }
}

// The blocked copy: every value's bits arrive, and a stray element anywhere, at and around the
// block edges, still fails the read.
TEST(OptimisedCoresIdentity, ReadRangeCopiesEveryBitAndFindsStrayElementsAnywhere)
{
    using quorin_host::SubstituteHost;
    using quorin_host::Value;
    SubstituteHost& host = quorin_test::TestHost();
    host.ResetRecords();
    RangeBuffer buffer = {};
    Generator random{20240606};
    const int32_t n = 2100;
    std::vector<Value> elements;
    std::vector<double> numbers = Values(random, n, -1e3, 1e3, true);
    numbers[17] = std::numeric_limits<double>::quiet_NaN();
    numbers[18] = -std::numeric_limits<double>::infinity();
    for (double v : numbers) elements.push_back(Value::Number(v));

    for (bool zeroCorner : {false, true}) {
        ASSERT_EQ(ReadRange(host.MakeRecord(Value::Array(n, 1, elements)), &buffer, zeroCorner), n);
        host.ReleaseArguments();
        EXPECT_EQ(Bits(buffer.items[0]), Bits(zeroCorner ? 0.0 : numbers[0]));
        for (int32_t k = 1; k < n; ++k) ASSERT_EQ(Bits(buffer.items[k]), Bits(numbers[static_cast<size_t>(k)])) << k;
    }

    const Value strays[] = {Value::Text("7"), Value::Boolean(true), Value::Error(quorin_host::xlerrNA), Value{}};
    for (int32_t position : {0, 1, 7, 8, 15, 16, 1023, 1024, 1025, 2047, 2048, 2098, 2099}) {
        std::vector<Value> mixed = elements;
        mixed[static_cast<size_t>(position)] = strays[position % 4];
        SCOPED_TRACE(::testing::Message() << "stray at " << position);
        EXPECT_EQ(ReadRange(host.MakeRecord(Value::Array(n, 1, mixed)), &buffer, false), ReadNotNumber);
        host.ReleaseArguments();
        // The corner alone may hold anything when it is zeroed.
        const int32_t cornered = ReadRange(host.MakeRecord(Value::Array(n, 1, mixed)), &buffer, true);
        host.ReleaseArguments();
        EXPECT_EQ(cornered, position == 0 ? n : static_cast<int32_t>(ReadNotNumber));
    }
    EXPECT_EQ(host.Outstanding(), 0u);
    EXPECT_EQ(host.releaseViolations, 0);
    std::free(buffer.items);
}

}  // namespace
