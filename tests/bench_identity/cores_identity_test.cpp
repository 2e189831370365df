// cores_identity_test.cpp - the tuned cores against a plain step-by-step reading of their algorithms,
// bit for bit on randomised data: blocked fit sums, the spline's fused loops, the branch-free count
// and the blocked range copy must not move a single bit of any answer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "addin/range_buffer.h"
#include "fit/polyfit.h"
#include "host/substitute_host.h"
#include "interp/spline.h"
#include "stats/count.h"

namespace {

uint64_t Bits(double v)
{
    uint64_t u = 0;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

// Deterministic on every platform: splitmix64, and doubles built from its bits by hand.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform(double low, double high)
    {
        const double unit = static_cast<double>(Next() >> 11) * 0x1.0p-53;
        return low + (high - low) * unit;
    }
    int32_t Below(int32_t bound) { return static_cast<int32_t>(Next() % static_cast<uint64_t>(bound)); }
};

// --- The algorithms read step by step, one rounded operation per step, nothing rearranged. ---

int32_t ReferenceSolve(std::vector<double>& A, std::vector<double>& b, int32_t n)
{
    const double threshold = 0x1p-126;
    auto at = [&](int32_t r, int32_t c) -> double& { return A[static_cast<size_t>(r * n + c)]; };
    if (n == 1) {
        if (std::fabs(at(0, 0)) < threshold) return 1;
        b[0] = b[0] / at(0, 0);
        return 0;
    }
    std::vector<int32_t> perm(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) perm[static_cast<size_t>(k)] = k;
    for (int32_t k = 0; k + 1 < n; ++k) {
        double g = std::fabs(at(k, k));
        int32_t h = k, l = k;
        for (int32_t r = k; r < n; ++r) {
            for (int32_t c = k; c < n; ++c) {
                if (std::fabs(at(r, c)) > g) { g = std::fabs(at(r, c)); h = r; l = c; }
            }
        }
        if (g < threshold) return 1;
        if (h != k) {
            std::swap(b[static_cast<size_t>(k)], b[static_cast<size_t>(h)]);
            for (int32_t c = k; c < n; ++c) std::swap(at(k, c), at(h, c));
        }
        if (l != k) {
            std::swap(perm[static_cast<size_t>(k)], perm[static_cast<size_t>(l)]);
            for (int32_t r = 0; r < n; ++r) std::swap(at(r, k), at(r, l));
        }
        for (int32_t j = k + 1; j < n; ++j) {
            const double m = at(j, k) / at(k, k);
            b[static_cast<size_t>(j)] = b[static_cast<size_t>(j)] - m * b[static_cast<size_t>(k)];
            for (int32_t c = k + 1; c < n; ++c) at(j, c) = at(j, c) - m * at(k, c);
        }
    }
    if (std::fabs(at(n - 1, n - 1)) < threshold) return 1;
    b[static_cast<size_t>(n - 1)] = b[static_cast<size_t>(n - 1)] / at(n - 1, n - 1);
    for (int32_t i = n - 2; i >= 0; --i) {
        double s = 0.0;
        for (int32_t c = i + 1; c < n; ++c) s = s + b[static_cast<size_t>(c)] * at(i, c);
        b[static_cast<size_t>(i)] = (b[static_cast<size_t>(i)] - s) / at(i, i);
    }
    const std::vector<double> copy = b;
    for (int32_t k = 0; k < n; ++k) b[static_cast<size_t>(perm[static_cast<size_t>(k)])] = copy[static_cast<size_t>(k)];
    return 0;
}

// The fit's system: every point's basis row in order, every sum of the full matrix by itself.
// Returns 0 with the coefficients, or 1 when the solver fails; phi ends as the last basis row built.
int32_t ReferenceFit(const std::vector<double>& X, const std::vector<double>& Y, int32_t m,
                     const std::vector<double>& Xc, const std::vector<double>& Yc, std::vector<double>& phi)
{
    const int32_t k = static_cast<int32_t>(Xc.size());
    const int32_t s = m + k;
    std::vector<double> A(static_cast<size_t>(s * s), 0.0);
    std::vector<double> r(static_cast<size_t>(s), 0.0);
    auto basis = [&](double x) {
        phi[0] = 1.0;
        for (int32_t j = 1; j < m; ++j) phi[static_cast<size_t>(j)] = phi[static_cast<size_t>(j - 1)] * x;
    };
    for (size_t i = 0; i < X.size(); ++i) {
        basis(X[i]);
        for (int32_t j = 0; j < m; ++j) {
            r[static_cast<size_t>(j)] = r[static_cast<size_t>(j)] + Y[i] * phi[static_cast<size_t>(j)];
            for (int32_t c = 0; c < m; ++c) {
                A[static_cast<size_t>(j * s + c)] = A[static_cast<size_t>(j * s + c)] + phi[static_cast<size_t>(c)] * phi[static_cast<size_t>(j)];
            }
        }
    }
    for (int32_t q = 0; q < k; ++q) {
        basis(Xc[static_cast<size_t>(q)]);
        r[static_cast<size_t>(m + q)] = Yc[static_cast<size_t>(q)];
        for (int32_t j = 0; j < m; ++j) {
            A[static_cast<size_t>((m + q) * s + j)] = phi[static_cast<size_t>(j)];
            A[static_cast<size_t>(j * s + m + q)] = phi[static_cast<size_t>(j)];
        }
    }
    if (ReferenceSolve(A, r, s) != 0) return 1;
    for (int32_t j = 0; j < m; ++j) phi[static_cast<size_t>(j)] = r[static_cast<size_t>(j)];
    return 0;
}

// Coefficient triples (b, c, d) per point, loop by loop as the construction is written.
std::vector<double> ReferenceSpline(const std::vector<double>& X, const std::vector<double>& Y)
{
    const int32_t n = static_cast<int32_t>(X.size());
    std::vector<double> b(static_cast<size_t>(n)), c(static_cast<size_t>(n)), d(static_cast<size_t>(n));
    auto x = [&](int32_t i) { return X[static_cast<size_t>(i)]; };
    auto y = [&](int32_t i) { return Y[static_cast<size_t>(i)]; };
    auto B = [&](int32_t i) -> double& { return b[static_cast<size_t>(i)]; };
    auto C = [&](int32_t i) -> double& { return c[static_cast<size_t>(i)]; };
    auto D = [&](int32_t i) -> double& { return d[static_cast<size_t>(i)]; };
    D(0) = x(1) - x(0);
    C(1) = (y(1) - y(0)) / D(0);
    for (int32_t i = 1; i <= n - 2; ++i) {
        D(i) = x(i + 1) - x(i);
        B(i) = 2.0 * (D(i - 1) + D(i));
        C(i + 1) = (y(i + 1) - y(i)) / D(i);
        C(i) = C(i + 1) - C(i);
    }
    B(0) = -D(0);
    B(n - 1) = -D(n - 2);
    C(0) = 0.0;
    C(n - 1) = 0.0;
    if (n > 3) {
        C(0) = C(2) / (x(3) - x(1)) - C(1) / (x(2) - x(0));
        C(n - 1) = C(n - 2) / (x(n - 1) - x(n - 3)) - C(n - 3) / (x(n - 2) - x(n - 4));
        C(0) = (D(0) * C(0) * D(0)) / (x(3) - x(0));
        C(n - 1) = -((D(n - 2) * C(n - 1) * D(n - 2)) / (x(n - 1) - x(n - 4)));
    }
    for (int32_t i = 1; i <= n - 1; ++i) {
        const double w = D(i - 1) / B(i - 1);
        B(i) = B(i) - D(i - 1) * w;
        C(i) = C(i) - w * C(i - 1);
    }
    C(n - 1) = C(n - 1) / B(n - 1);
    for (int32_t i = n - 2; i >= 0; --i) C(i) = (C(i) - C(i + 1) * D(i)) / B(i);
    B(n - 1) = (y(n - 1) - y(n - 2)) / D(n - 2) + (2.0 * C(n - 1) + C(n - 2)) * D(n - 2);
    for (int32_t i = 0; i <= n - 2; ++i) {
        B(i) = (y(i + 1) - y(i)) / D(i) - (2.0 * C(i) + C(i + 1)) * D(i);
        D(i) = (C(i + 1) - C(i)) / D(i);
        C(i) = 3.0 * C(i);
    }
    C(n - 1) = 3.0 * C(n - 1);
    D(n - 1) = D(n - 2);
    std::vector<double> triples;
    for (int32_t i = 0; i < n; ++i) {
        triples.push_back(B(i));
        triples.push_back(C(i));
        triples.push_back(D(i));
    }
    return triples;
}

// --- Randomised data, with the awkward values a sheet can hold mixed in. ---

double Awkward(Random& random, double typical)
{
    switch (random.Below(16)) {
    case 0: return -0.0;
    case 1: return 0.0;
    case 2: return typical * 1e150;
    case 3: return typical * 1e-160;
    default: return typical;
    }
}

std::vector<double> Values(Random& random, int32_t n, double low, double high, bool awkward)
{
    std::vector<double> v(static_cast<size_t>(n));
    for (double& x : v) {
        x = random.Uniform(low, high);
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
    const int32_t expectedStatus = ReferenceFit(X, Y, m, Xc, Yc, expected);
    std::vector<double> actual(static_cast<size_t>(m) + 1, 0.0);
    const int32_t status = (k == 0) ? FitPolynomial(X.data(), Y.data(), n, actual.data(), m)
                                    : FitPolynomialConstrained(X.data(), Y.data(), n, m, Xc.data(), Yc.data(), k, actual.data());
    ASSERT_EQ(status != 0, expectedStatus != 0);
    // On failure the row still holds the last basis row built: the scratch use is part of the contract.
    for (int32_t j = 0; j < m; ++j) {
        EXPECT_EQ(Bits(actual[static_cast<size_t>(j)]), Bits(expected[static_cast<size_t>(j)])) << "term " << j;
    }
}

TEST(OptimisedCoresIdentity, FitPolynomialMatchesPointwiseSumsBitForBit)
{
    Random random{20240601};
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
    Random random{20240602};
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
    Random random{20240603};
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
    Random random{20240604};
    for (int32_t n : {2, 3, 4, 5, 6, 7, 10, 33, 100, 1000, 4099}) {
        for (int32_t trial = 0; trial < 4; ++trial) {
            std::vector<double> X(static_cast<size_t>(n));
            double x = random.Uniform(-50.0, 50.0);
            for (double& v : X) {
                // Widths spread over several decades, so the elimination's pivots vary widely.
                x += std::ldexp(random.Uniform(0.1, 1.0), random.Below(20) - 10);
                v = x;
            }
            const std::vector<double> Y = Values(random, n, -10.0, 10.0, trial == 3);
            SCOPED_TRACE(::testing::Message() << "n " << n << " trial " << trial);
            double* actual = SplineCoefficients(X.data(), Y.data(), n);
            ASSERT_NE(actual, nullptr);
            if (n >= 4) {
                const std::vector<double> expected = ReferenceSpline(X, Y);
                for (size_t e = 0; e < expected.size(); ++e) {
                    ASSERT_EQ(Bits(actual[e]), Bits(expected[e])) << "coefficient " << e;
                }
            }
            std::free(actual);
        }
    }
}

TEST(OptimisedCoresIdentity, CountInIntervalMatchesTheDirectTest)
{
    Random random{20240605};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int32_t n : {1, 7, 1000}) {
        std::vector<double> X = Values(random, n, -1.0, 1.0, true);
        X[static_cast<size_t>(random.Below(n))] = nan;
        const double bounds[][2] = {{-0.5, 0.5}, {0.5, -0.5}, {-0.0, 0.0}, {nan, 1.0}, {-1.0, nan},
                                    {-std::numeric_limits<double>::infinity(), 0.25}};
        for (const auto& bound : bounds) {
            int32_t expected = 0;
            for (double v : X) {
                if (v >= bound[0] && v < bound[1]) ++expected;
            }
            EXPECT_EQ(CountInInterval(X.data(), n, bound[0], bound[1]), expected);
        }
    }
}

// The blocked copy: every value's bits arrive, and a stray element anywhere, at and around the
// block edges, still fails the read.
TEST(OptimisedCoresIdentity, ReadRangeCopiesEveryBitAndFindsStrayElementsAnywhere)
{
    using quorin_host::SubstituteHost;
    using quorin_host::Value;
    SubstituteHost& host = SubstituteHost::Instance();
    host.ResetRecords();
    RangeBuffer buffer = {};
    Random random{20240606};
    const int32_t n = 1000;
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
    for (int32_t position : {0, 1, 7, 8, 255, 256, 257, 511, 512, 998, 999}) {
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
