// spline.cpp - cubic spline; ends match the end cubics' third derivative.
#include "interp/spline.h"

#include <cstddef>
#include <cstdlib>

namespace {

// The most bisection probes: enough to halve any int32 count down to one interval.
constexpr int32_t MaxProbes = 32;

double& B(double* s, int32_t i) { return s[3 * static_cast<std::size_t>(i)]; }
double& C(double* s, int32_t i) { return s[3 * static_cast<std::size_t>(i) + 1]; }
double& D(double* s, int32_t i) { return s[3 * static_cast<std::size_t>(i) + 2]; }

// Written as !(a < b) so that a NaN anywhere in X rejects the table instead of slipping past.
bool IsStrictlyIncreasing(const double* X, int32_t n)
{
    for (int32_t i = 1; i < n; ++i) {
        if (!(X[i - 1] < X[i])) return false;
    }
    return true;
}

// Before elimination b holds the diagonal, d the off-diagonal (the interval widths) and c the
// right-hand side; after back substitution c holds sigma, a sixth of the second derivative.
// Each loop carries the values its next step reads in locals: the same values the array holds,
// without a store and reload in the elimination's chain of dependent divisions.
void SolveSplineSystem(const double* X, const double* Y, int32_t n, double* s)
{
    double widthBefore = X[1] - X[0];
    D(s, 0) = widthBefore;
    double slopeBefore = (Y[1] - Y[0]) / widthBefore;
    for (int32_t i = 1; i <= n - 2; ++i) {
        const double width = X[i + 1] - X[i];
        D(s, i) = width;
        const double widthSum = widthBefore + width;
        B(s, i) = 2.0 * widthSum;
        const double rise = Y[i + 1] - Y[i];
        const double slope = rise / width;
        C(s, i) = slope - slopeBefore;
        widthBefore = width;
        slopeBefore = slope;
    }

    B(s, 0) = -D(s, 0);
    B(s, n - 1) = -D(s, n - 2);
    C(s, 0) = 0.0;
    C(s, n - 1) = 0.0;
    // With four or more points each end takes the third divided difference of its four end
    // points; with three both ends get a zero third derivative: the parabola through them.
    if (n > 3) {
        const double head2 = C(s, 2) / (X[3] - X[1]);
        const double head1 = C(s, 1) / (X[2] - X[0]);
        C(s, 0) = head2 - head1;
        const double tail2 = C(s, n - 2) / (X[n - 1] - X[n - 3]);
        const double tail3 = C(s, n - 3) / (X[n - 2] - X[n - 4]);
        C(s, n - 1) = tail2 - tail3;
        const double headProduct = (D(s, 0) * C(s, 0)) * D(s, 0);
        C(s, 0) = headProduct / (X[3] - X[0]);
        const double tailProduct = (D(s, n - 2) * C(s, n - 1)) * D(s, n - 2);
        C(s, n - 1) = -(tailProduct / (X[n - 1] - X[n - 4]));
    }

    double bBefore = B(s, 0);
    double cBefore = C(s, 0);
    for (int32_t i = 1; i <= n - 1; ++i) {
        const double dBefore = D(s, i - 1);
        const double w = dBefore / bBefore;
        const double diagonalShift = dBefore * w;
        const double b = B(s, i) - diagonalShift;
        const double rightShift = w * cBefore;
        const double c = C(s, i) - rightShift;
        B(s, i) = b;
        C(s, i) = c;
        bBefore = b;
        cBefore = c;
    }
}

// Back substitution, and each piece's coefficients as soon as sigma at both its ends is known.
// b_i reads c_i and c_{i+1} before either is tripled and d_i as a width before it becomes the
// cubic coefficient; b_{n-1} reads c_{n-1} and c_{n-2} untripled: the order is the algorithm's.
void SubstituteAndConvert(const double* Y, int32_t n, double* s)
{
    double cAfter = C(s, n - 1) / B(s, n - 1);
    const double lastWidth = D(s, n - 2);
    for (int32_t i = n - 2; i >= 0; --i) {
        const double width = D(s, i);
        const double coupling = cAfter * width;
        const double reduced = C(s, i) - coupling;
        const double c = reduced / B(s, i);
        if (i == n - 2) {
            const double lastSlope = (Y[n - 1] - Y[n - 2]) / lastWidth;
            const double lastBend = (2.0 * cAfter) + c;
            B(s, n - 1) = lastSlope + (lastBend * lastWidth);
        }
        const double slope = (Y[i + 1] - Y[i]) / width;
        const double bend = (2.0 * c) + cAfter;
        B(s, i) = slope - (bend * width);
        D(s, i) = (cAfter - c) / width;
        C(s, i) = 3.0 * c;
        if (i == n - 2) C(s, n - 1) = 3.0 * cAfter;
        cAfter = c;
    }
    D(s, n - 1) = D(s, n - 2);
}

// The point whose triple covers x: 0 at or before X[0], n-1 at or past X[n-1], else the interval
// holding x. A NaN x (or NaN in X) fails every comparison; the probe limit then ends the search
// with lo, which never leaves 0 .. n-1 because lo <= mid <= hi <= n-1 throughout.
int32_t FindInterval(const double* X, int32_t n, double x)
{
    if (x <= X[0]) return 0;
    if (x >= X[n - 1]) return n - 1;
    int32_t lo = 0;
    int32_t hi = n - 1;
    for (int32_t probe = 0; probe < MaxProbes; ++probe) {
        // Same as (lo + hi) / 2 for 0 <= lo <= hi, without the int32 overflow near 2^31.
        const int32_t mid = lo + (hi - lo) / 2;
        if (X[mid] > x || mid == n - 1) {
            hi = mid;
        } else if (x <= X[mid + 1]) {
            return mid;
        } else {
            lo = mid;
        }
    }
    return lo;
}

}  // namespace

double* SplineCoefficients(const double* X, const double* Y, int32_t n)
{
    if (n < 2 || !IsStrictlyIncreasing(X, n)) return nullptr;
    double* s = static_cast<double*>(std::calloc(3 * static_cast<std::size_t>(n), sizeof(double)));
    if (s == nullptr) return nullptr;
    if (n == 2) {
        const double slope = (Y[1] - Y[0]) / (X[1] - X[0]);
        B(s, 0) = slope;
        B(s, 1) = slope;
    } else {
        SolveSplineSystem(X, Y, n, s);
        SubstituteAndConvert(Y, n, s);
    }
    return s;
}

double SplineEvaluate(const double* X, const double* Y, int32_t n, const double* coefficients,
                      double x, int32_t order)
{
    if (n < 2) return 0.0;
    const int32_t i = FindInterval(X, n, x);
    const double t = x - X[i];
    const double b = coefficients[3 * static_cast<std::size_t>(i)];
    const double c = coefficients[3 * static_cast<std::size_t>(i) + 1];
    const double d = coefficients[3 * static_cast<std::size_t>(i) + 2];
    if (order == 1) {
        const double slopeTerm = ((d * 3.0) * t) + (c * 2.0);
        return (slopeTerm * t) + b;
    }
    if (order == 2) return ((d * 6.0) * t) + (c * 2.0);
    if (order == 3) return d * 6.0;
    const double inner = (t * d) + c;
    const double middle = (inner * t) + b;
    return (middle * t) + Y[i];
}
