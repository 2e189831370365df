// plain_readings.cpp - the step-by-step readings; each line is one rounded operation of the algorithm.
#include "tests/support/plain_readings.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace quorin_test {

namespace {
constexpr double PivotFloor = 0x1p-126;
}

bool ReadSolve(std::vector<double>& A, std::vector<double>& b, int32_t n)
{
    auto a = [&](int32_t r, int32_t c) -> double& { return A[static_cast<size_t>(r) * static_cast<size_t>(n) + static_cast<size_t>(c)]; };
    if (n == 1) {
        if (std::fabs(A[0]) < PivotFloor) return false;
        b[0] = b[0] / A[0];
        return true;
    }
    std::vector<int32_t> perm(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) perm[static_cast<size_t>(k)] = k;
    for (int32_t k = 0; k <= n - 2; ++k) {
        double g = std::fabs(a(k, k));
        int32_t h = k, l = k;
        for (int32_t r = k; r < n; ++r) {
            for (int32_t c = k; c < n; ++c) {
                if (std::fabs(a(r, c)) > g) { g = std::fabs(a(r, c)); h = r; l = c; }
            }
        }
        if (g < PivotFloor) return false;
        if (h != k) {
            std::swap(b[static_cast<size_t>(k)], b[static_cast<size_t>(h)]);
            for (int32_t c = k; c < n; ++c) std::swap(a(k, c), a(h, c));
        }
        if (l != k) {
            std::swap(perm[static_cast<size_t>(k)], perm[static_cast<size_t>(l)]);
            for (int32_t r = 0; r < n; ++r) std::swap(a(r, k), a(r, l));
        }
        for (int32_t j = k + 1; j < n; ++j) {
            const double m = a(j, k) / a(k, k);
            b[static_cast<size_t>(j)] = b[static_cast<size_t>(j)] - m * b[static_cast<size_t>(k)];
            for (int32_t c = k + 1; c < n; ++c) a(j, c) = a(j, c) - m * a(k, c);
        }
    }
    if (std::fabs(a(n - 1, n - 1)) < PivotFloor) return false;
    b[static_cast<size_t>(n - 1)] = b[static_cast<size_t>(n - 1)] / a(n - 1, n - 1);
    for (int32_t i = n - 2; i >= 0; --i) {
        double s = 0.0;
        for (int32_t c = i + 1; c < n; ++c) s = s + b[static_cast<size_t>(c)] * a(i, c);
        b[static_cast<size_t>(i)] = (b[static_cast<size_t>(i)] - s) / a(i, i);
    }
    const std::vector<double> solved = b;
    for (int32_t k = 0; k < n; ++k) b[static_cast<size_t>(perm[static_cast<size_t>(k)])] = solved[static_cast<size_t>(k)];
    return true;
}

bool ReadFit(const std::vector<double>& X, const std::vector<double>& Y, int32_t m, const std::vector<double>& Xc,
             const std::vector<double>& Yc, std::vector<double>* row)
{
    const int32_t n = static_cast<int32_t>(X.size()), k = static_cast<int32_t>(Xc.size());
    const int32_t s = m + k;
    if (k > m) return false;  // more constraint rows than terms: refused before any work
    if (row->size() < static_cast<size_t>(m)) row->resize(static_cast<size_t>(m));
    std::vector<double>& phi = *row;
    std::vector<double> A(static_cast<size_t>(s) * static_cast<size_t>(s), 0.0), r(static_cast<size_t>(s), 0.0);
    auto basis = [&](double x) {
        phi[0] = 1.0;
        for (int32_t j = 1; j < m; ++j) phi[static_cast<size_t>(j)] = phi[static_cast<size_t>(j - 1)] * x;
    };
    for (int32_t i = 0; i < n; ++i) {
        basis(X[static_cast<size_t>(i)]);
        for (int32_t j = 0; j < m; ++j) {
            r[static_cast<size_t>(j)] = r[static_cast<size_t>(j)] + Y[static_cast<size_t>(i)] * phi[static_cast<size_t>(j)];
            for (int32_t c = 0; c < m; ++c) {
                double& entry = A[static_cast<size_t>(j * s + c)];
                entry = entry + phi[static_cast<size_t>(c)] * phi[static_cast<size_t>(j)];
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
    if (!ReadSolve(A, r, s)) return false;
    for (int32_t j = 0; j < m; ++j) phi[static_cast<size_t>(j)] = r[static_cast<size_t>(j)];
    return true;
}

std::vector<double> ReadSplineCoefficients(const std::vector<double>& X, const std::vector<double>& Y)
{
    const int32_t n = static_cast<int32_t>(X.size());
    std::vector<double> b(X.size()), c(X.size()), d(X.size());
    d[0] = X[1] - X[0];
    c[1] = (Y[1] - Y[0]) / d[0];
    for (int32_t i = 1; i <= n - 2; ++i) {
        d[i] = X[i + 1] - X[i];
        b[i] = 2.0 * (d[i - 1] + d[i]);
        c[i + 1] = (Y[i + 1] - Y[i]) / d[i];
        c[i] = c[i + 1] - c[i];
    }
    b[0] = -d[0];
    b[n - 1] = -d[n - 2];
    c[0] = 0.0;
    c[n - 1] = 0.0;
    // Below four nodes there are no end cubics to match: the end rows keep a zero right-hand side.
    if (n > 3) {
        c[0] = c[2] / (X[3] - X[1]) - c[1] / (X[2] - X[0]);
        c[n - 1] = c[n - 2] / (X[n - 1] - X[n - 3]) - c[n - 3] / (X[n - 2] - X[n - 4]);
        c[0] = (d[0] * c[0] * d[0]) / (X[3] - X[0]);
        c[n - 1] = -((d[n - 2] * c[n - 1] * d[n - 2]) / (X[n - 1] - X[n - 4]));
    }
    for (int32_t i = 1; i <= n - 1; ++i) {
        const double w = d[i - 1] / b[i - 1];
        b[i] = b[i] - d[i - 1] * w;
        c[i] = c[i] - w * c[i - 1];
    }
    c[n - 1] = c[n - 1] / b[n - 1];
    for (int32_t i = n - 2; i >= 0; --i) c[i] = (c[i] - c[i + 1] * d[i]) / b[i];
    b[n - 1] = (Y[n - 1] - Y[n - 2]) / d[n - 2] + (2.0 * c[n - 1] + c[n - 2]) * d[n - 2];
    for (int32_t i = 0; i <= n - 2; ++i) {
        b[i] = (Y[i + 1] - Y[i]) / d[i] - (2.0 * c[i] + c[i + 1]) * d[i];
        d[i] = (c[i + 1] - c[i]) / d[i];
        c[i] = 3.0 * c[i];
    }
    c[n - 1] = 3.0 * c[n - 1];
    d[n - 1] = d[n - 2];
    std::vector<double> triples;
    triples.reserve(3 * X.size());
    for (size_t i = 0; i < X.size(); ++i) {
        triples.push_back(b[i]);
        triples.push_back(c[i]);
        triples.push_back(d[i]);
    }
    return triples;
}

double ReadInterpolateLinear(const std::vector<double>& X, const std::vector<double>& Y, double x, bool extrapolate)
{
    const int32_t n = static_cast<int32_t>(X.size());
    const bool increasing = X[1] > X[0];
    int32_t lo = 0, hi = n - 1;
    if (increasing ? (x <= X[0]) : (x >= X[0])) {
        if (!extrapolate) return Y[0];
        hi = 1;
    } else if (increasing ? (x >= X[n - 1]) : (x <= X[n - 1])) {
        if (!extrapolate) return Y[n - 1];
        lo = n - 2;
    } else {
        for (int32_t probe = 0; probe < 32 && hi > lo + 1; ++probe) {
            const int32_t mid = lo + (hi - lo) / 2;
            if (increasing ? (x > X[mid]) : (X[mid] > x)) lo = mid;
            else hi = mid;
        }
    }
    const double rise = Y[hi] - Y[lo];
    const double run = x - X[lo];
    const double width = X[hi] - X[lo];
    const double slope = rise * run;
    return slope / width + Y[lo];
}

double ReadPolynomial(const std::vector<double>& C, double x)
{
    double b = C.empty() ? 0.0 : C.back();
    for (size_t i = C.size() - 1; i-- > 0;) {
        const double scaled = b * x;
        b = scaled + C[i];
    }
    return b;
}

}  // namespace quorin_test
