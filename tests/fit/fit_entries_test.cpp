// fit_entries_test.cpp - LLSQ and LLSQLC through the host: worked rows bit for bit, failures, read order,
// answer shape, the formula reader, seeded data against a plain re-reading of the normal equations and
// the complete-pivoting solver (bit for bit), and against an orthogonal-factor fit in long double.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/evaluate.h"
#include "tests/module_fixture.h"
#include "tests/support/plain_readings.h"
#include "tests/support/seeded.h"

namespace {

using quorin_host::Area;
using quorin_test::Bits;
using quorin_test::Column;
using quorin_test::Generator;
using quorin_test::IsFailure;
using quorin_test::Kind;
using quorin_test::ModuleTest;
using quorin_test::ReadFit;
using quorin_test::SameAnswer;
using quorin_test::Shaped;
using quorin_test::Value;

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The row the worksheet function answers, or false where it must answer the error value: the term and
// count checks come before the plain reading of the fit.
bool ReadFitAnswer(const std::vector<double>& X, const std::vector<double>& Y, int32_t m, const std::vector<double>& Xc,
                   const std::vector<double>& Yc, std::vector<double>* coefficients)
{
    const int32_t n = static_cast<int32_t>(X.size()), k = static_cast<int32_t>(Xc.size());
    const int32_t s = m + k;
    if (m < 2 || m > 20 || n < 2 || Y.size() != X.size() || n < s || Yc.size() != Xc.size()) return false;
    std::vector<double> row;
    if (!ReadFit(X, Y, m, Xc, Yc, &row)) return false;
    coefficients->assign(row.begin(), row.begin() + m);
    return true;
}

// ---- the reference: modified Gram-Schmidt on the basis columns in long double ----

struct ReferenceFit {
    std::vector<long double> coefficients;
    long double inverseNorm = 0;  // ||G^-1||_1 of the normal matrix G = R^T R
};

ReferenceFit FitByOrthogonalisation(const std::vector<double>& X, const std::vector<double>& Y, int32_t m)
{
    const size_t n = X.size(), M = static_cast<size_t>(m);
    std::vector<std::vector<long double>> q(M, std::vector<long double>(n));
    std::vector<long double> R(M * M, 0.0L), z(M, 0.0L), w(Y.begin(), Y.end());
    for (size_t i = 0; i < n; ++i) {
        long double p = 1.0L;
        for (size_t j = 0; j < M; ++j) { q[j][i] = p; p *= X[i]; }
    }
    for (size_t j = 0; j < M; ++j) {
        for (size_t i = 0; i < j; ++i) {
            long double dot = 0.0L;
            for (size_t t = 0; t < n; ++t) dot += q[i][t] * q[j][t];
            R[i * M + j] = dot;
            for (size_t t = 0; t < n; ++t) q[j][t] -= dot * q[i][t];
        }
        long double norm = 0.0L;
        for (size_t t = 0; t < n; ++t) norm += q[j][t] * q[j][t];
        norm = std::sqrt(norm);
        R[j * M + j] = norm;
        for (size_t t = 0; t < n; ++t) q[j][t] /= norm;
    }
    for (size_t i = 0; i < M; ++i) {
        long double dot = 0.0L;
        for (size_t t = 0; t < n; ++t) dot += q[i][t] * w[t];
        z[i] = dot;
        for (size_t t = 0; t < n; ++t) w[t] -= dot * q[i][t];
    }
    ReferenceFit fit;
    fit.coefficients.assign(M, 0.0L);
    for (size_t i = M; i-- > 0;) {
        long double s = z[i];
        for (size_t c = i + 1; c < M; ++c) s -= R[i * M + c] * fit.coefficients[c];
        fit.coefficients[i] = s / R[i * M + i];
    }
    // G^-1 = R^-1 R^-T, with R^-1 upper triangular, column by column.
    std::vector<long double> Rinv(M * M, 0.0L);
    for (size_t c = 0; c < M; ++c) {
        Rinv[c * M + c] = 1.0L / R[c * M + c];
        for (size_t i = c; i-- > 0;) {
            long double s = 0.0L;
            for (size_t t = i + 1; t <= c; ++t) s += R[i * M + t] * Rinv[t * M + c];
            Rinv[i * M + c] = -s / R[i * M + i];
        }
    }
    for (size_t c = 0; c < M; ++c) {
        long double column = 0.0L;
        for (size_t r = 0; r < M; ++r) {
            long double g = 0.0L;
            for (size_t t = 0; t < M; ++t) g += Rinv[r * M + t] * Rinv[c * M + t];
            column += std::fabs(g);
        }
        fit.inverseNorm = std::max(fit.inverseNorm, column);
    }
    return fit;
}

// A bound on ||c_fitted - c_exact||_1. With G c_fitted = r + dr - dG c_fitted exactly, the error is
// G^-1 (dr - dG c_fitted). Forming each sum of n products of powers built by m - 1 multiplications
// rounds within (n + 2m) eps of the sum of magnitudes; the elimination's backward error is at most
// 3m eps |L||U| (Higham, Thm 9.4), below 3 m^4 eps max|G| with complete pivoting (|L| <= 1, growth
// taken as at most m). The factor 2 covers the reference's own long double rounding.
double CoefficientErrorBound(const std::vector<double>& X, const std::vector<double>& Y, const std::vector<double>& fitted,
                             long double inverseNorm)
{
    const size_t M = fitted.size();
    std::vector<long double> magnitudes(M * M, 0.0L), rhs(M, 0.0L), phi(M);
    for (size_t i = 0; i < X.size(); ++i) {
        long double p = 1.0L;
        for (size_t j = 0; j < M; ++j) { phi[j] = p; p *= std::fabs(X[i]); }
        for (size_t j = 0; j < M; ++j) {
            rhs[j] += std::fabs(Y[i]) * phi[j];
            for (size_t c = 0; c < M; ++c) magnitudes[j * M + c] += phi[j] * phi[c];
        }
    }
    long double matrixNorm = 0.0L, rhsNorm = 0.0L, largest = 0.0L, fittedNorm = 0.0L;
    for (size_t c = 0; c < M; ++c) {
        long double column = 0.0L;
        for (size_t r = 0; r < M; ++r) { column += magnitudes[r * M + c]; largest = std::max(largest, magnitudes[r * M + c]); }
        matrixNorm = std::max(matrixNorm, column);
        rhsNorm += rhs[c];
        fittedNorm += std::fabs(fitted[c]);
    }
    const long double eps = DBL_EPSILON, n = static_cast<long double>(X.size()), m = static_cast<long double>(M);
    const long double forming = (n + 2 * m) * eps * ((matrixNorm * fittedNorm) + rhsNorm);
    const long double solving = 3 * m * m * m * m * eps * largest * fittedNorm;
    return static_cast<double>(2 * inverseNorm * (forming + solving));
}

// ---- the fixture: long lists go onto the sheet ----

class FitEntries : public ModuleTest {
protected:
    // Short lists as array constants in a random shape; long ones as references to sheet blocks of two
    // columns (array counts are 16-bit), answered by the fixture's cell blocks.
    Value AnyShape(Generator& g, const std::vector<double>& numbers)
    {
        const int32_t n = static_cast<int32_t>(numbers.size());
        const int32_t pick = g.Below(3);
        if (n > 4096 && n % 2 == 0) return PlaceOnSheet(numbers, n / 2, 2);
        if (pick == 0 || n % 2 != 0) return pick == 1 ? Shaped(numbers, 1, n) : Shaped(numbers, n, 1);
        return pick == 1 ? Shaped(numbers, 1, n) : Shaped(numbers, n / 2, 2);
    }

    // The answer row as doubles; empty when the answer is not a 1 x m row of numbers.
    std::vector<double> Row(const Value& answer, int32_t m)
    {
        std::vector<double> row;
        if (answer.kind != Kind::Array || answer.rows != 1 || answer.columns != m) return row;
        for (const Value& e : answer.elements) {
            if (e.kind != Kind::Number) return {};
            row.push_back(e.number);
        }
        return row;
    }
};

// ---- worked rows ----

TEST_F(FitEntries, WorkedRowsAreExact)
{
    const Value line = Column({0, 1, 2}), lineY = Column({1, 3, 5});
    const Value X5 = Column({0, 1, 2, 3, 4}), Y5 = Column({1.1, 2.9, 5.2, 6.8, 9.1});
    struct RowCase { const char* name; std::vector<Value> arguments; std::vector<double> expected; const char* source; };
    const RowCase cases[] = {
        {"LLSQ", {line, lineY, Value::Number(2)}, {1.0, 2.0}, "worked example"},
        {"LLSQ", {X5, Y5, Value::Number(2)}, {1.0400000000000025, 1.9899999999999989}, "worked example"},
        {"LLSQLC", {X5, Y5, Value::Number(2), Column({0}), Column({1})}, {1.0, 2.003333333333333}, "worked example"},
        {"LLSQLC", {X5, Y5, Value::Number(2), Column({0, 4}), Column({1, 9})}, {1.0, 2.0},
         "issue 14, k = m still fits: two constraints fix the line 1 + 2x"},
    };
    for (const RowCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.source);
        const std::vector<double> row = Row(Call(c.name, c.arguments), static_cast<int32_t>(c.expected.size()));
        ASSERT_EQ(row.size(), c.expected.size());
        for (size_t j = 0; j < row.size(); ++j) EXPECT_SAME_DOUBLE(row[j], c.expected[j]);
    }
    // The parabola through three collinear points is the line "up to rounding": the plain reading gives
    // the bits, and the row lies within 16 eps of (1, 2, 0) (a 3 x 3 solve of entries below 20).
    std::vector<double> expected;
    ASSERT_TRUE(ReadFitAnswer({0, 1, 2}, {1, 3, 5}, 3, {}, {}, &expected));
    const std::vector<double> row = Row(Call("LLSQ", {line, lineY, Value::Number(3)}), 3);
    ASSERT_EQ(row.size(), 3u);
    const double exact[3] = {1.0, 2.0, 0.0};
    for (size_t j = 0; j < 3; ++j) {
        EXPECT_SAME_DOUBLE(row[j], expected[j]);
        EXPECT_NEAR(row[j], exact[j], 16 * DBL_EPSILON * 5);
    }
}

// The fit-then-evaluate pipeline =Polynomial(LLSQ(...), x), through the formula reader and sheet references.
TEST_F(FitEntries, PolynomialEvaluatesTheFittedRowInAFormula)
{
    const double X[5] = {0, 1, 2, 3, 4}, Y[5] = {1.1, 2.9, 5.2, 6.8, 9.1};
    for (uint32_t r = 0; r < 5; ++r) {
        host.sheet.Set(r, 0, Value::Number(X[r]));
        host.sheet.Set(r, 1, Value::Number(Y[r]));
    }
    struct FormulaCase { const char* text; double expected; const char* source; };
    const FormulaCase cases[] = {
        {"=Polynomial(LLSQ(A1:A5,B1:B5,2),2.5)", (1.9899999999999989 * 2.5) + 1.0400000000000025, "worked row, Horner"},
        {"=polynomial(llsqlc(A1:A5,B1:B5,2,{0},{1}),0)", 1.0, "worked row: passes through the constraint (0, 1)"},
        {"=Polynomial(LLSQ(A1:A5,B1:B5,21),2.5)", NaN, "the error row is no coefficient range"},
    };
    for (const FormulaCase& c : cases) {
        SCOPED_TRACE(c.text);
        quorin_host::Formula expression;
        std::string error;
        size_t column = 0;
        ASSERT_TRUE(quorin_host::ParseFormula(c.text, &expression, &error, &column)) << error << " at " << column;
        const Value answer = quorin_host::Evaluate(host, expression, &error);
        EXPECT_TRUE(error.empty()) << error;
        if (std::isnan(c.expected)) {
            EXPECT_TRUE(IsFailure(answer)) << quorin_host::FormatValue(answer);
        } else {
            ASSERT_EQ(answer.kind, Kind::Number) << quorin_host::FormatValue(answer);
            EXPECT_SAME_DOUBLE(answer.number, c.expected);
        }
    }
}

// ---- failures, reads and shape ----

TEST_F(FitEntries, TermsOutsideTwoToTwentyFailBeforeAnyRead)
{
    const Value X = Column({0, 1, 2, 3}), Y = Column({1, 2, 0, 5});
    for (int32_t terms : {1, 21, 0, -3, 1000000}) {
        SCOPED_TRACE(terms);
        host.callbackCounts.clear();
        EXPECT_TRUE(IsFailure(Call("LLSQ", {X, Y, Value::Number(terms)})));
        EXPECT_TRUE(IsFailure(Call("LLSQLC", {X, Y, Value::Number(terms), Column({0}), Column({1})})));
        EXPECT_EQ(host.callbackCounts[xlCoerce], 0);
    }
}

TEST_F(FitEntries, FailuresAnswerTheOneErrorValueAfterReadingInOrder)
{
    const Value five = Column({0, 1, 2, 3, 4}), fiveY = Column({1.1, 2.9, 5.2, 6.8, 9.1}), six = Column({1, 2, 3, 4, 5, 6});
    const Value one = Column({2}), plain = Value::Number(2);
    const Value holed = Value::Array(1, 5, {Value::Number(0), Value::Number(1), Value{}, Value::Number(3), Value::Number(4)});
    const Value two = Value::Number(2), three = Value::Number(3);
    struct FailureCase { const char* name; std::vector<Value> arguments; int32_t coercions; const char* source; };
    const FailureCase cases[] = {
        {"LLSQ", {five, six, two}, 2, "counts 5 and 6"},
        {"LLSQ", {one, fiveY, two}, 1, "one x value: y never read"},
        {"LLSQ", {holed, fiveY, two}, 1, "an empty cell among the x values: y never read"},
        {"LLSQ", {five, one, two}, 2, "one y value"},
        {"LLSQ", {plain, fiveY, two}, 0, "a plain number for the x values: nothing to coerce"},
        {"LLSQ", {Column({0, 1, 2}), Column({1, 2, 4}), Value::Number(4)}, 2, "three points for four terms"},
        {"LLSQ", {Column({0, 0, 0}), Column({1, 2, 4}), two}, 2, "singular: one distinct x for two terms (last pivot 0)"},
        {"LLSQ", {Column({0, 0, 0, 0}), Column({1, 2, 4, 8}), three}, 2, "singular: one distinct x for three terms"},
        {"LLSQLC", {five, fiveY, three, Column({0, 1, 4}), Column({1, 3, 9})}, 4, "5 points < 3 terms + 3 constraints"},
        {"LLSQLC", {five, fiveY, two, Column({1, 1}), Column({3, 4})}, 4, "singular: a repeated constraint x"},
        {"LLSQLC", {five, fiveY, two, Column({1, 1}), Column({3, 3})}, 4, "singular: a repeated constraint point"},
        {"LLSQLC", {five, fiveY, two, Column({0, 1}), one}, 4, "constraint counts 2 and 1"},
        {"LLSQLC", {five, fiveY, two, holed, one}, 3, "an empty cell among the constraint x: yc never read"},
        {"LLSQLC", {five, fiveY, two, plain, one}, 2, "a plain number for the constraint x"},
        {"LLSQLC", {five, six, two, Column({0}), one}, 2, "counts 5 and 6: constraints never read"},
        {"LLSQLC", {Column({0, 1}), Column({1, 2}), two, Column({0}), one}, 4, "2 points < 2 terms + 1 constraint: found after every read"},
        {"LLSQLC", {Column({0, 1, 2, 3, 4, 5}), Column({1, 2, 3, 4, 5, 6}), two, Column({0, 2, 4}), Column({1, 5, 0})}, 4,
         "issue 14: 3 constraints > 2 terms, once answered as a line through none of them"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.source);
        host.callbackCounts.clear();
        const Value answer = Call(c.name, c.arguments);
        EXPECT_TRUE(IsFailure(answer)) << quorin_host::FormatValue(answer);
        EXPECT_EQ(host.callbackCounts[xlCoerce], c.coercions);
    }
}

TEST_F(FitEntries, TwoConstraintsOnFivePointsHoldAndTheRowIsOneWideWhateverTheShapes)
{
    const std::vector<double> X = {0.3, 1.7, 2.385, 3.1, 4.45}, Y = {1.2, -0.4, 2.9, 0.75, 3.3};
    const std::vector<double> Xc = {0.5, 4.0}, Yc = {1.0, 2.5};
    std::vector<double> expected;
    ASSERT_TRUE(ReadFitAnswer(X, Y, 3, Xc, Yc, &expected));
    const Value shapes[][2] = {{Shaped(X, 5, 1), Shaped(Y, 5, 1)}, {Shaped(X, 1, 5), Shaped(Y, 5, 1)},
                               {Shaped(X, 1, 5), Shaped(Y, 1, 5)}};
    for (const auto& shape : shapes) {
        for (const Value& xc : {Shaped(Xc, 2, 1), Shaped(Xc, 1, 2)}) {
            const Value answer = Call("LLSQLC", {shape[0], shape[1], Value::Number(3), xc, Shaped(Yc, 2, 1)});
            const std::vector<double> row = Row(answer, 3);
            ASSERT_EQ(row.size(), 3u) << quorin_host::FormatValue(answer);
            for (size_t j = 0; j < 3; ++j) EXPECT_SAME_DOUBLE(row[j], expected[j]);
            // The bordered 5 x 5 solve satisfies each constraint row within its backward error, about
            // 15 eps of the row's magnitude (3 x 5 steps); Horner adds 4 eps; 32 eps covers both.
            for (size_t q = 0; q < 2; ++q) {
                const double magnitude = std::fabs(row[0]) + std::fabs(row[1] * Xc[q]) + std::fabs(row[2] * Xc[q] * Xc[q]);
                EXPECT_NEAR(Number("Polynomial", {answer, Value::Number(Xc[q])}), Yc[q], 32 * DBL_EPSILON * magnitude);
            }
        }
    }
    // A 4-term row from a block of x values and a row of y values is still 1 x 4.
    const std::vector<double> X8 = {0, 1, 2, 3, 4, 5, 6, 7}, Y8 = {1, 0, 2, 5, 3, 8, 9, 7};
    EXPECT_EQ(Row(Call("LLSQ", {Shaped(X8, 4, 2), Shaped(Y8, 1, 8), Value::Number(4)}), 4).size(), 4u);
    EXPECT_EQ(Row(Call("LLSQLC", {Shaped(X8, 2, 4), Shaped(Y8, 8, 1), Value::Number(4), Shaped({1, 2}, 1, 2), Shaped({0, 0}, 2, 1)}), 4).size(), 4u);
}

// ---- seeded data ----

enum class DataKind { Spread, Wide, Clustered, NonFinite };

std::vector<double> MakeData(Generator& g, DataKind kind, int32_t n, double* lo, double* hi)
{
    *lo = -1.0;
    *hi = 1.0;
    if (kind == DataKind::Wide) { *lo = g.Between(-400.0, -1.0); *hi = g.Between(2.0, 900.0); }
    if (kind == DataKind::Clustered) { *lo = g.Between(10.0, 20.0); *hi = *lo + 0.01; }
    std::vector<double> X(static_cast<size_t>(n));
    for (double& v : X) v = g.Between(*lo, *hi);
    // About one point in eight repeats an earlier x.
    for (size_t i = 1; i < X.size(); ++i) {
        if (g.Below(8) == 0) X[i] = X[static_cast<size_t>(g.Below(static_cast<int32_t>(i)))];
    }
    return X;
}

std::vector<double> MakeResponse(Generator& g, const std::vector<double>& X)
{
    const double c0 = g.Between(-3, 3), c1 = g.Between(-3, 3), c2 = g.Between(-3, 3);
    std::vector<double> Y(X.size());
    for (size_t i = 0; i < X.size(); ++i) Y[i] = ((c2 * X[i] + c1) * X[i] + c0) + g.Between(-0.25, 0.25);
    return Y;
}

TEST_F(FitEntries, RowsMatchAPlainReadingOfTheNormalEquationsOnSeededData)
{
    struct Sweep { int32_t n; int32_t runs; };
    constexpr Sweep sweeps[] = {{0, 24}, {60, 16}, {1500, 6}, {100000, 2}};
    constexpr DataKind kinds[] = {DataKind::Spread, DataKind::Wide, DataKind::Clustered, DataKind::NonFinite};
    Generator g{0xF17E5001};
    for (const Sweep& sweep : sweeps) {
        for (int32_t run = 0; run < sweep.runs; ++run) {
            const DataKind kind = kinds[g.Below(4)];
            const int32_t m = 2 + g.Below(19);
            const int32_t k = (g.Below(2) == 0) ? 0 : 1 + g.Below(10);
            // n = 0 stands for the fewest points the fit accepts, m + k.
            const int32_t n = (sweep.n == 0) ? m + k : std::max(sweep.n, m + k);
            double lo = 0, hi = 0;
            std::vector<double> X = MakeData(g, kind, n, &lo, &hi);
            std::vector<double> Y = MakeResponse(g, X);
            std::vector<double> Xc(static_cast<size_t>(k)), Yc(static_cast<size_t>(k));
            for (int32_t q = 0; q < k; ++q) {
                Xc[static_cast<size_t>(q)] = g.Between(lo, hi);
                Yc[static_cast<size_t>(q)] = g.Between(-2, 2);
            }
            if (k > 1 && g.Below(5) == 0) Xc[1] = Xc[0];  // a repeated constraint: singular
            if (kind == DataKind::NonFinite) {
                const double spoilers[3] = {NaN, Inf, -Inf};
                std::vector<double>* lists[3] = {&X, &Y, &Xc};
                std::vector<double>* target = lists[g.Below(k > 0 ? 3 : 2)];
                (*target)[static_cast<size_t>(g.Below(static_cast<int32_t>(target->size())))] = spoilers[g.Below(3)];
            }
            SCOPED_TRACE("run " + std::to_string(run) + ": n = " + std::to_string(n) + ", m = " + std::to_string(m) +
                         ", k = " + std::to_string(k) + ", kind " + std::to_string(static_cast<int>(kind)));
            std::vector<double> expected;
            const bool fits = ReadFitAnswer(X, Y, m, Xc, Yc, &expected);
            const Value answer = (k == 0)
                ? Call("LLSQ", {AnyShape(g, X), AnyShape(g, Y), Value::Number(m)})
                : Call("LLSQLC", {AnyShape(g, X), AnyShape(g, Y), Value::Number(m), AnyShape(g, Xc), AnyShape(g, Yc)});
            if (!fits) {
                EXPECT_TRUE(IsFailure(answer)) << quorin_host::FormatValue(answer);
                continue;
            }
            const std::vector<double> row = Row(answer, m);
            ASSERT_EQ(row.size(), static_cast<size_t>(m)) << quorin_host::FormatValue(answer);
            for (int32_t j = 0; j < m; ++j) {
                EXPECT_TRUE(SameAnswer(row[static_cast<size_t>(j)], expected[static_cast<size_t>(j)]))
                    << "coefficient " << j << ": " << row[static_cast<size_t>(j)] << " vs " << expected[static_cast<size_t>(j)];
            }
        }
    }
}

// The fitted curve, evaluated by Polynomial, against the least-squares fit by orthogonalisation in long
// double, within the bound the normal equations' conditioning allows.
TEST_F(FitEntries, FittedCurveAgreesWithAnOrthogonalFactorFitWithinTheConditioning)
{
    struct Case { int32_t n; int32_t m; };
    constexpr Case cases[] = {{2, 2}, {5, 5}, {40, 3}, {300, 6}, {2000, 9}, {100000, 4}};
    Generator g{0xF17E5002};
    for (const Case& c : cases) {
        SCOPED_TRACE("n = " + std::to_string(c.n) + ", m = " + std::to_string(c.m));
        double lo = 0, hi = 0;
        const std::vector<double> X = MakeData(g, DataKind::Spread, c.n, &lo, &hi);
        std::vector<double> distinct = X;
        std::sort(distinct.begin(), distinct.end());
        if (std::unique(distinct.begin(), distinct.end()) - distinct.begin() < c.m) continue;
        const std::vector<double> Y = MakeResponse(g, X);
        const Value answer = Call("LLSQ", {AnyShape(g, X), AnyShape(g, Y), Value::Number(c.m)});
        const std::vector<double> row = Row(answer, c.m);
        ASSERT_EQ(row.size(), static_cast<size_t>(c.m)) << quorin_host::FormatValue(answer);
        const ReferenceFit reference = FitByOrthogonalisation(X, Y, c.m);
        const double bound = CoefficientErrorBound(X, Y, row, reference.inverseNorm);
        long double distance = 0.0L, size = 0.0L;
        for (int32_t j = 0; j < c.m; ++j) {
            distance += std::fabs(static_cast<long double>(row[static_cast<size_t>(j)]) - reference.coefficients[static_cast<size_t>(j)]);
            size += std::fabs(reference.coefficients[static_cast<size_t>(j)]);
        }
        EXPECT_LE(static_cast<double>(distance), bound);
        // A bound that admits everything would test nothing: it must sit three digits below the row.
        EXPECT_LT(bound, static_cast<double>(size) / 1024);
        // On |x| <= 1 every power is at most 1, so the curves differ by at most the coefficient bound,
        // plus Horner's own 2m rounding steps on a sum of magnitudes below ||c||_1.
        for (double x : {-1.0, g.Between(-1, 1), g.Between(-1, 1), 0.0, 1.0}) {
            long double curve = 0.0L;
            for (int32_t j = c.m; j-- > 0;) curve = curve * x + reference.coefficients[static_cast<size_t>(j)];
            const double value = Number("Polynomial", {answer, Value::Number(x)});
            EXPECT_NEAR(value, static_cast<double>(curve), bound + 2 * c.m * DBL_EPSILON * static_cast<double>(size) * 2) << "x = " << x;
        }
    }
}

}  // namespace
