// interp_entries_test.cpp - the interpolation worksheet functions through the host: worked answers bit
// for bit, every failure answer, the order of reads, and seeded tables against a plain re-reading of
// each algorithm written here, bit for bit.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

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
using quorin_test::SameAnswer;
using quorin_test::Shaped;
using quorin_test::Value;

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// ---- plain readings of the algorithms, each step one rounded operation in the stated order ----

double ReadLinear(const std::vector<double>& X, const std::vector<double>& Y, double x, int32_t flag)
{
    const int32_t n = static_cast<int32_t>(X.size());
    const bool up = X[1] > X[0];
    int32_t lo = 0, hi = n - 1;
    if (up ? x <= X[0] : x >= X[0]) {
        if (flag == 0) return Y[0];
        hi = 1;
    } else if (up ? x >= X[n - 1] : x <= X[n - 1]) {
        if (flag == 0) return Y[n - 1];
        lo = n - 2;
    } else {
        for (int32_t probe = 0; probe < 32 && hi > lo + 1; ++probe) {
            const int32_t mid = (lo + hi) / 2;
            if (up ? x > X[mid] : X[mid] > x) lo = mid;
            else hi = mid;
        }
    }
    return ((Y[hi] - Y[lo]) * (x - X[lo])) / (X[hi] - X[lo]) + Y[lo];
}

// A fallback tie (equal distances to both end nodes) is a true tie only when those nodes coincide;
// when rounding of a far value made the distances equal, the value lies past the end on its own side.
int32_t ReadInterval(const std::vector<double>& axis, double v)
{
    const int32_t count = static_cast<int32_t>(axis.size());
    for (int32_t k = 1; k <= count - 2; ++k) {
        if ((v - axis[k + 1]) * (v - axis[k]) <= 0.0) return k;
    }
    const double first = axis[1], last = axis[count - 1];
    if (std::fabs(v - last) > std::fabs(v - first)) return 1;
    if (std::fabs(v - last) == std::fabs(v - first) && first != last) {
        if (first < last && v < first) return 1;
        if (first > last && v > first) return 1;
    }
    return count - 2;
}

double ReadAlong(double v0, double v1, double z0, double z1, double v, int32_t flag)
{
    if (flag == 0 && ((v1 > v0 && v > v1) || (v0 > v1 && v1 > v))) return z1;
    if (flag == 0 && ((v1 > v0 && v0 > v) || (v0 > v1 && v > v0))) return z0;
    return ((z1 - z0) * (v - v0)) / (v1 - v0) + z0;
}

double ReadTable(std::vector<double> T, int32_t R, int32_t C, double X, double Y, int32_t flag)
{
    T[0] = 0.0;
    std::vector<double> xAxis(static_cast<size_t>(R)), yAxis(static_cast<size_t>(C));
    for (int32_t r = 0; r < R; ++r) xAxis[static_cast<size_t>(r)] = T[static_cast<size_t>(r * C)];
    for (int32_t c = 0; c < C; ++c) yAxis[static_cast<size_t>(c)] = T[static_cast<size_t>(c)];
    const int32_t i = ReadInterval(xAxis, X);
    const int32_t j = ReadInterval(yAxis, Y);
    auto z = [&](int32_t r, int32_t c) { return T[static_cast<size_t>(r * C + c)]; };
    const double a = ReadAlong(yAxis[j], yAxis[j + 1], z(i, j), z(i, j + 1), Y, flag);
    const double b = ReadAlong(yAxis[j], yAxis[j + 1], z(i + 1, j), z(i + 1, j + 1), Y, flag);
    return ReadAlong(xAxis[i], xAxis[i + 1], a, b, X, flag);
}

double ReadLagrange(const std::vector<double>& X, const std::vector<double>& Y, double x)
{
    double sum = 0.0;
    for (size_t i = 0; i < X.size(); ++i) {
        double c = Y[i];
        for (size_t j = 0; j < X.size(); ++j) {
            if (j != i) c = c * ((x - X[j]) / (X[i] - X[j]));
        }
        sum = sum + c;
    }
    return sum;
}

double ReadPolynomial(const std::vector<double>& C, double x)
{
    double b = C.back();
    for (size_t i = C.size() - 1; i-- > 0;) b = b * x + C[i];
    return b;
}

// False where the function must fail. The module also refuses NaN nodes (!(a < b)), which a literal
// "X[i-1] >= X[i]" would let through into the coefficients.
bool ReadSpline(const std::vector<double>& X, const std::vector<double>& Y, double x, double* value)
{
    const int32_t n = static_cast<int32_t>(X.size());
    if (n < 4 || Y.size() != X.size()) return false;
    for (int32_t i = 1; i < n; ++i) {
        if (!(X[i - 1] < X[i])) return false;
    }
    const std::vector<double> triples = quorin_test::ReadSplineCoefficients(X, Y);
    int32_t i = 0;
    if (x <= X[0]) {
        i = 0;
    } else if (x >= X[n - 1]) {
        i = n - 1;
    } else {
        int32_t lo = 0, hi = n - 1;
        i = -1;
        for (int32_t probe = 0; probe < 32 && i < 0; ++probe) {
            const int32_t mid = (lo + hi) / 2;
            if (X[mid] > x || mid == n - 1) hi = mid;
            else if (x <= X[mid + 1]) i = mid;
            else lo = mid;
        }
        if (i < 0) i = lo;
    }
    const double t = x - X[i];
    const size_t at = 3 * static_cast<size_t>(i);  // node i's (b, c, d)
    *value = ((t * triples[at + 2] + triples[at + 1]) * t + triples[at]) * t + Y[i];
    return true;
}

// ---- seeded tables ----

enum class TableKind { Increasing, Decreasing, Unsorted, Repeated, NonFinite };
constexpr TableKind AllKinds[] = {TableKind::Increasing, TableKind::Decreasing, TableKind::Unsorted,
                                  TableKind::Repeated, TableKind::NonFinite};

const char* KindName(TableKind kind)
{
    switch (kind) {
    case TableKind::Increasing: return "increasing";
    case TableKind::Decreasing: return "decreasing";
    case TableKind::Unsorted: return "unsorted";
    case TableKind::Repeated: return "increasing with repeats";
    case TableKind::NonFinite: return "increasing with NaN and infinities";
    }
    return "";
}

// Uneven steps between 0.001 and 3.7; about one step in four is zero in a table with repeats.
std::vector<double> MakeAxis(Generator& g, TableKind kind, int32_t n)
{
    std::vector<double> X(static_cast<size_t>(n));
    double node = g.Between(-60.0, 40.0);
    for (double& v : X) {
        if (kind == TableKind::Unsorted) {
            v = g.Between(-100.0, 100.0);
            continue;
        }
        v = node;
        const double step = (kind == TableKind::Repeated && g.Below(4) == 0) ? 0.0 : g.Between(0.001, 3.7);
        node = (kind == TableKind::Decreasing) ? node - step : node + step;
    }
    return X;
}

std::vector<double> MakeValues(Generator& g, int32_t n)
{
    std::vector<double> Y(static_cast<size_t>(n));
    for (double& v : Y) v = g.Between(-1000.0, 1000.0);
    return Y;
}

// Overwrites a few entries of either list with NaN, +inf or -inf.
void Spoil(Generator& g, std::vector<double>* X, std::vector<double>* Y)
{
    const double spoilers[3] = {NaN, Inf, -Inf};
    const int32_t n = static_cast<int32_t>(X->size());
    for (int32_t k = 0; k < 1 + n / 64; ++k) {
        std::vector<double>* target = g.Below(2) == 0 ? X : Y;
        (*target)[static_cast<size_t>(g.Below(n))] = spoilers[g.Below(3)];
    }
}

// Points to probe: nodes (first, last, inner), inside, outside on both sides, and non-finite.
std::vector<double> Probes(Generator& g, const std::vector<double>& X)
{
    double lo = Inf, hi = -Inf;
    for (double v : X) {
        if (std::isfinite(v)) { lo = std::min(lo, v); hi = std::max(hi, v); }
    }
    if (!(lo <= hi)) { lo = -1.0; hi = 1.0; }
    const double width = (hi - lo) + 1.0;
    return {X.front(), X.back(), X[static_cast<size_t>(g.Below(static_cast<int32_t>(X.size())))],
            g.Between(lo, hi), g.Between(lo, hi), lo - (width * g.Unit()), hi + (width * g.Unit()),
            -1e308, NaN, Inf, -Inf};
}

struct Sweep { int32_t size; bool allKinds; };

// A sweep of long tables takes only the increasing kind and the non-finite one: every call reads the
// whole table, and the shorter sweeps cover the other kinds.
bool SweepTakes(const Sweep& sweep, TableKind kind)
{
    return sweep.allKinds || kind == TableKind::Increasing || kind == TableKind::NonFinite;
}

// Shapes for a list of values: a column, a row, or a block of two or more columns (row-major
// throughout); the host's array counts are 16-bit, so long lists always become blocks.
void PickShape(Generator& g, int32_t n, int32_t* rows, int32_t* columns)
{
    const int32_t pick = g.Below(3);
    *rows = n;
    *columns = 1;
    if (n <= 65535 && pick == 0) return;
    if (n <= 65535 && pick == 1) {
        *rows = 1;
        *columns = n;
        return;
    }
    for (int32_t c = 2; c < n; ++c) {
        if (n % c == 0 && n / c <= 65535) {
            *rows = n / c;
            *columns = c;
            return;
        }
    }
}

class InterpEntries : public ModuleTest {
protected:
    // Short lists go in as array constants, long ones as blocks on the sheet.
    Value AnyShape(Generator& g, const std::vector<double>& numbers)
    {
        int32_t rows = 0, columns = 0;
        PickShape(g, static_cast<int32_t>(numbers.size()), &rows, &columns);
        return Place(numbers, rows, columns);
    }

    Value Place(const std::vector<double>& numbers, int32_t rows, int32_t columns)
    {
        if (numbers.size() <= 4096) return Shaped(numbers, rows, columns);
        return PlaceOnSheet(numbers, rows, columns);
    }
};

// ---- worked answers ----

struct WorkedCase { const char* name; std::vector<Value> arguments; double expected; const char* source; };

TEST_F(InterpEntries, WorkedAnswersAreExact)
{
    const Value X3 = Column({1, 2, 4}), Y3 = Column({10, 20, 40});
    const Value Xd = Column({5, 3, 1}), Yd = Column({10, 30, 50});
    const Value worked = Value::Array(4, 4, {Value::Text("Z"), Value::Number(10), Value::Number(20), Value::Number(30),
                                             Value::Number(1), Value::Number(1), Value::Number(2), Value::Number(3),
                                             Value::Number(2), Value::Number(4), Value::Number(5), Value::Number(6),
                                             Value::Number(3), Value::Number(7), Value::Number(8), Value::Number(9)});
    const Value L = Column({0, 1, 2}), LY = Column({1, 3, 7});
    const Value cubicX = Column({0, 1, 2, 3}), cubicY = Column({0, 1, 8, 27});
    const Value zigX = Value::Row({0, 1, 2, 3, 4}), zigY = Column({0, 1, 0, 1, 0});
    const WorkedCase cases[] = {
        {"Interp1", {X3, Y3, Value::Number(3), Value::Number(0)}, 30.0, "worked example"},
        {"Interp1", {X3, Y3, Value::Number(0), Value::Number(0)}, 10.0, "worked example: held"},
        {"Interp1", {X3, Y3, Value::Number(0), Value::Number(1)}, 0.0, "worked example: extended"},
        {"Interp1", {X3, Y3, Value::Number(5), Value::Number(0)}, 40.0, "worked example: held"},
        {"Interp1", {X3, Y3, Value::Number(5), Value::Number(1)}, 50.0, "worked example: extended"},
        {"Interp1", {X3, Y3, Value::Number(5), Value::Number(-3)}, 50.0, "hand derivation: any nonzero flag extends"},
        {"Interp1", {Xd, Yd, Value::Number(2), Value::Number(0)}, 40.0, "worked example: decreasing"},
        {"Interp1", {Xd, Yd, Value::Number(6), Value::Number(0)}, 10.0, "worked example: decreasing, held"},
        {"Interp1", {Xd, Yd, Value::Number(6), Value::Number(1)}, 0.0, "worked example: decreasing, extended"},
        {"Interp1", {Column({1, 1, 3}), Y3, Value::Number(2), Value::Number(1)}, Inf,
         "hand derivation: equal first nodes count as decreasing, 2 is past the end, (20-10)*(2-1)/0"},
        {"Interp2", {worked, Value::Number(1.5), Value::Number(25), Value::Number(0)}, 4.0, "worked example"},
        {"Interp2", {worked, Value::Number(2), Value::Number(20), Value::Number(0)}, 5.0, "worked example"},
        {"Interp2", {worked, Value::Number(0), Value::Number(25), Value::Number(0)}, 2.5, "worked example"},
        {"Interp2", {worked, Value::Number(0), Value::Number(25), Value::Number(1)}, -0.5, "worked example"},
        {"Interp2", {worked, Value::Number(3.5), Value::Number(35), Value::Number(0)}, 9.0, "worked example"},
        {"Interp2", {worked, Value::Number(3.5), Value::Number(35), Value::Number(1)}, 11.0, "worked example"},
        {"Lagrange", {L, LY, Value::Number(3)}, 13.0, "worked example"},
        {"Lagrange", {Column({1, 1, 2}), LY, Value::Number(0.5)}, -Inf,
         "hand derivation: repeated node, 1 * (-0.5 / 0) * (-1.5 / -1), then 3 * -inf, -inf + -inf + finite"},
        {"Polynomial", {Column({2.385}), Value::Number(-7.25)}, 2.385, "worked example: one coefficient"},
        {"Polynomial", {Value::Row({1, 2, 3}), Value::Number(2)}, 17.0, "worked example"},
        {"Spline", {cubicX, cubicY, Value::Number(1.5)}, 3.375, "worked example: the cubic reproduced"},
        {"Spline", {zigX, zigY, Value::Number(2.5)}, 0.3888888888888889, "worked example"},
        {"Spline", {zigX, zigY, Value::Number(-1)}, -7.444444444444444, "worked example: before the first point"},
        {"Spline", {zigX, zigY, Value::Number(5)}, -7.444444444444444, "worked example: past the last point"},
        {"Spline", {zigX, zigY, Value::Number(4)}, 0.0, "hand derivation: the last node, t = 0"},
    };
    for (const WorkedCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.source);
        EXPECT_SAME_DOUBLE(Number(c.name, c.arguments), c.expected);
    }
}

TEST_F(InterpEntries, Interp2ReadsASheetRangeAndIgnoresWhateverTheCornerHolds)
{
    const double rows[4][4] = {{0, 10, 20, 30}, {1, 1, 2, 3}, {2, 4, 5, 6}, {3, 7, 8, 9}};
    for (uint32_t r = 0; r < 4; ++r) {
        for (uint16_t c = 0; c < 4; ++c) host.sheet.Set(r + 2, static_cast<uint16_t>(c + 1), Value::Number(rows[r][c]));
    }
    const Value range = Value::Reference({Area{2, 5, 1, 4}});
    const Value corners[] = {Value{}, Value::Text("X\\Y"), Value::Error(quorin_host::xlerrNA), Value::Boolean(true),
                             Value::Number(NaN)};
    for (const Value& corner : corners) {
        SCOPED_TRACE(quorin_host::FormatValue(corner));
        host.sheet.Set(2, 1, corner);
        EXPECT_SAME_DOUBLE(Number("Interp2", {range, Value::Number(1.5), Value::Number(25), Value::Number(0)}), 4.0);
    }
}

// ---- failures ----

struct FailureCase { const char* name; std::vector<Value> arguments; const char* source; };

TEST_F(InterpEntries, FailuresAnswerTheOneErrorValue)
{
    const Value five = Column({1, 2, 3, 4, 5}), six = Column({1, 2, 3, 4, 5, 6});
    const Value one = Column({7});
    const Value withText = Value::Array(3, 1, {Value::Number(1), Value::Text("2"), Value::Number(3)});
    const Value withEmpty = Value::Array(3, 1, {Value::Number(1), Value{}, Value::Number(3)});
    const Value withBool = Value::Array(1, 3, {Value::Number(1), Value::Boolean(true), Value::Number(3)});
    const Value withError = Value::Array(1, 3, {Value::Number(1), Value::Number(2), Value::Error(quorin_host::xlerrDiv0)});
    const Value plain = Value::Number(3);
    const Value x4 = Column({0, 1, 2, 3}), y4 = Column({0, 1, 8, 27});
    auto table = [](int32_t R, int32_t C, int32_t spoilAt, Value spoiler) {
        std::vector<Value> cells;
        for (int32_t k = 0; k < R * C; ++k) cells.push_back(Value::Number(1.0 + k));
        if (spoilAt >= 0) cells[static_cast<size_t>(spoilAt)] = spoiler;
        return Value::Array(R, C, std::move(cells));
    };
    const Value num = Value::Number(1.5);
    const FailureCase cases[] = {
        {"Interp1", {five, six, num, num}, "counts 5 and 6"},
        {"Interp1", {six, five, num, num}, "counts 6 and 5"},
        {"Interp1", {Column({1, 2}), one, num, num}, "a y range with one value"},
        {"Interp1", {one, Column({1, 2}), num, num}, "an x range with one value"},
        {"Interp1", {withText, Column({1, 2, 3}), num, num}, "a text cell among the x values"},
        {"Interp1", {Column({1, 2, 3}), withEmpty, num, num}, "an empty cell among the y values"},
        {"Interp1", {withBool, Column({1, 2, 3}), num, num}, "a logical value among the x values"},
        {"Interp1", {Column({1, 2, 3}), withError, num, num}, "an error value among the y values"},
        {"Interp1", {plain, Column({1, 2}), num, num}, "a plain number for the x values"},
        {"Interp1", {Column({1, 2}), plain, num, num}, "a plain number for the y values"},
        {"Interp2", {table(2, 5, -1, {}), num, num, num}, "a 2 x 5 table"},
        {"Interp2", {table(5, 2, -1, {}), num, num, num}, "a 5 x 2 table"},
        {"Interp2", {table(1, 9, -1, {}), num, num, num}, "a 1 x 9 table: nine values, one row"},
        {"Interp2", {table(4, 4, 6, Value::Text("t")), num, num, num}, "a text cell inside the table"},
        {"Interp2", {table(4, 4, 1, Value{}), num, num, num}, "an empty cell on the Y axis"},
        {"Interp2", {table(4, 4, 4, Value{}), num, num, num}, "an empty cell on the X axis"},
        {"Interp2", {table(3, 3, 8, Value::Boolean(false)), num, num, num}, "a logical value in the last cell"},
        {"Interp2", {plain, num, num, num}, "a plain number for the table"},
        {"Lagrange", {five, six, num}, "counts 5 and 6"},
        {"Lagrange", {Column({1, 2}), one, num}, "a y range with one value"},
        {"Lagrange", {one, one, num}, "one point"},
        {"Lagrange", {withText, Column({1, 2, 3}), num}, "a text cell among the x values"},
        {"Lagrange", {plain, Column({1, 2}), num}, "a plain number for the x values"},
        {"Spline", {Column({0, 1, 2}), Column({0, 1, 8}), num}, "three points"},
        {"Spline", {five, six, num}, "counts 5 and 6"},
        {"Spline", {Column({0, 1, 1, 3}), y4, num}, "sorted x values with a repeat"},
        {"Spline", {Column({3, 2, 1, 0}), y4, num}, "decreasing x values"},
        {"Spline", {Column({0, 2, 1, 3}), y4, num}, "unsorted x values"},
        {"Spline", {Column({0, NaN, 2, 3}), y4, num}, "a NaN among the x values"},
        {"Spline", {x4, withEmpty, num}, "an empty cell among the y values"},
        {"Spline", {x4, plain, num}, "a plain number for the y values"},
        {"Polynomial", {Value::Array(1, 2, {Value::Number(1), Value::Text("2")}), num}, "a text coefficient"},
        {"Polynomial", {Value::Array(1, 1, {Value{}}), num}, "an empty coefficient"},
        {"Polynomial", {plain, num}, "a plain number for the coefficients"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.source);
        const Value answer = Call(c.name, c.arguments);
        EXPECT_TRUE(IsFailure(answer)) << quorin_host::FormatValue(answer);
    }
}

// The x values are read and checked first; a bad x range never reaches the y range.
TEST_F(InterpEntries, XValuesAreReadAndCheckedBeforeYValues)
{
    const Value good = Column({0, 1, 2, 3}), bad = Value::Array(1, 4, {Value::Number(1), Value{}, Value::Number(2), Value::Number(3)});
    const Value single = Column({2.5});
    for (const char* name : {"Interp1", "Lagrange", "Spline"}) {
        SCOPED_TRACE(name);
        std::vector<Value> tail = {Value::Number(1.5)};
        if (std::string(name) == "Interp1") tail.push_back(Value::Number(0));
        struct Order { Value x, y; int32_t coercions; };
        const Order orders[] = {{bad, good, 1}, {single, good, 1}, {good, bad, 2}, {good, single, 2}};
        for (const Order& o : orders) {
            host.callbackCounts.clear();
            std::vector<Value> arguments = {o.x, o.y};
            arguments.insert(arguments.end(), tail.begin(), tail.end());
            EXPECT_TRUE(IsFailure(Call(name, arguments)));
            EXPECT_EQ(host.callbackCounts[xlCoerce], o.coercions);
        }
    }
}

// Coefficients come in row-major order, so the constant term is the first cell whatever the shape.
TEST_F(InterpEntries, PolynomialTakesCoefficientsRowMajorWhateverTheShape)
{
    const std::vector<double> C = {1.25, -2.385, 0.5, 3.75, -0.125, 2.0};
    const double x = 1.7;
    const double expected = ReadPolynomial(C, x);
    const Value shapes[] = {Shaped(C, 6, 1), Shaped(C, 1, 6), Shaped(C, 2, 3), Shaped(C, 3, 2)};
    for (const Value& shape : shapes) {
        SCOPED_TRACE(std::to_string(shape.rows) + " x " + std::to_string(shape.columns));
        EXPECT_SAME_DOUBLE(Number("Polynomial", {shape, Value::Number(x)}), expected);
    }
    // The same 3 x 2 block on the sheet reads B3, C3, B4, C4, B5, C5.
    for (uint32_t k = 0; k < 6; ++k) host.sheet.Set(2 + k / 2, static_cast<uint16_t>(1 + k % 2), Value::Number(C[k]));
    EXPECT_SAME_DOUBLE(Number("Polynomial", {Value::Reference({Area{2, 4, 1, 2}}), Value::Number(x)}), expected);
}

// ---- seeded tables against the plain readings ----

constexpr Sweep LinearSweeps[] = {{2, true}, {3, true}, {7, true}, {64, true}, {1000, true}, {100000, false}};

TEST_F(InterpEntries, Interp1MatchesAPlainReadingOnSeededTables)
{
    Generator g{0x1A7E2B01};
    for (const Sweep& sweep : LinearSweeps) {
        for (TableKind kind : AllKinds) {
            if (!SweepTakes(sweep, kind)) continue;
            SCOPED_TRACE(std::string(KindName(kind)) + ", n = " + std::to_string(sweep.size));
            std::vector<double> X = MakeAxis(g, kind, sweep.size), Y = MakeValues(g, sweep.size);
            if (kind == TableKind::NonFinite) Spoil(g, &X, &Y);
            const Value xArg = AnyShape(g, X), yArg = AnyShape(g, Y);
            // A long table takes every third probe with one flag: each call reads 2 x 10^5 cells.
            const std::vector<double> probes = Probes(g, X);
            const bool longTable = sweep.size > 4096;
            for (size_t p = 0; p < probes.size(); p += (longTable ? 3 : 1)) {
                for (int32_t flag = longTable ? static_cast<int32_t>(p % 2) : 0; flag < 2; flag += (longTable ? 2 : 1)) {
                    EXPECT_TRUE(SameAnswer(Number("Interp1", {xArg, yArg, Value::Number(probes[p]), Value::Number(flag)}),
                                           ReadLinear(X, Y, probes[p], flag))) << "x = " << probes[p] << ", flag " << flag;
                }
            }
        }
    }
}

TEST_F(InterpEntries, Interp2MatchesAPlainReadingOnSeededTables)
{
    struct Shape { int32_t R, C; bool allKinds; };
    constexpr Shape shapes[] = {{3, 3, true}, {3, 8, true}, {9, 3, true}, {21, 34, true}, {317, 316, false}};
    Generator g{0x1A7E2B02};
    for (const Shape& shape : shapes) {
        for (TableKind kind : AllKinds) {
            if (!shape.allKinds && kind != TableKind::Unsorted && kind != TableKind::NonFinite) continue;
            SCOPED_TRACE(std::string(KindName(kind)) + ", " + std::to_string(shape.R) + " x " + std::to_string(shape.C));
            // The kind applies to both axes; the row axis runs the other way for decreasing tables.
            std::vector<double> xAxis = MakeAxis(g, kind, shape.R), yAxis = MakeAxis(g, kind, shape.C);
            std::vector<double> T = MakeValues(g, shape.R * shape.C);
            if (kind == TableKind::NonFinite) Spoil(g, &xAxis, &T);
            for (int32_t r = 1; r < shape.R; ++r) T[static_cast<size_t>(r * shape.C)] = xAxis[static_cast<size_t>(r)];
            for (int32_t c = 1; c < shape.C; ++c) T[static_cast<size_t>(c)] = yAxis[static_cast<size_t>(c)];
            Value table = Place(T, shape.R, shape.C);
            if (table.kind == Kind::Array) table.elements[0] = Value::Text("corner");
            const std::vector<double> xProbes = Probes(g, std::vector<double>(xAxis.begin() + 1, xAxis.end()));
            const std::vector<double> yProbes = Probes(g, std::vector<double>(yAxis.begin() + 1, yAxis.end()));
            // Every third pairing of the probes; a long table only every ninth, each call reading 10^5 cells.
            const size_t step = shape.allKinds ? 3 : 9;
            for (size_t p = 0; p < xProbes.size(); ++p) {
                for (size_t q = p % step; q < yProbes.size(); q += step) {
                    const int32_t flag = static_cast<int32_t>((p + q) % 2);
                    const double X = xProbes[p], Y = yProbes[q];
                    EXPECT_TRUE(SameAnswer(Number("Interp2", {table, Value::Number(X), Value::Number(Y), Value::Number(flag)}),
                                           ReadTable(T, shape.R, shape.C, X, Y, flag)))
                        << "X = " << X << ", Y = " << Y << ", flag " << flag;
                }
            }
        }
    }
}

// Lagrange is quadratic in the point count, so its sweep stops at 2000 points.
TEST_F(InterpEntries, LagrangeMatchesAPlainReadingOnSeededTables)
{
    constexpr int32_t sizes[] = {2, 3, 6, 40, 2000};
    Generator g{0x1A7E2B03};
    for (int32_t n : sizes) {
        for (TableKind kind : AllKinds) {
            SCOPED_TRACE(std::string(KindName(kind)) + ", n = " + std::to_string(n));
            std::vector<double> X = MakeAxis(g, kind, n), Y = MakeValues(g, n);
            if (kind == TableKind::NonFinite) Spoil(g, &X, &Y);
            const Value xArg = AnyShape(g, X), yArg = AnyShape(g, Y);
            const std::vector<double> probes = Probes(g, X);
            for (size_t p = (n > 100 ? 3 : 0); p < probes.size(); p += (n > 100 ? 4 : 1)) {
                EXPECT_TRUE(SameAnswer(Number("Lagrange", {xArg, yArg, Value::Number(probes[p])}), ReadLagrange(X, Y, probes[p])))
                    << "x = " << probes[p];
            }
        }
    }
}

TEST_F(InterpEntries, SplineMatchesAPlainReadingOnSeededTables)
{
    constexpr Sweep sweeps[] = {{4, true}, {5, true}, {9, true}, {64, true}, {1000, true}, {100000, false}};
    Generator g{0x1A7E2B04};
    for (const Sweep& sweep : sweeps) {
        for (TableKind kind : AllKinds) {
            if (!SweepTakes(sweep, kind)) continue;
            SCOPED_TRACE(std::string(KindName(kind)) + ", n = " + std::to_string(sweep.size));
            std::vector<double> X = MakeAxis(g, kind, sweep.size), Y = MakeValues(g, sweep.size);
            // Infinite end nodes keep the axis increasing, so the spoiled coefficients are computed.
            if (kind == TableKind::NonFinite) {
                Spoil(g, &X, &Y);
                if (g.Below(2) == 0) {
                    X = MakeAxis(g, TableKind::Increasing, sweep.size);
                    X.front() = -Inf;
                    X.back() = Inf;
                }
            }
            const Value xArg = AnyShape(g, X), yArg = AnyShape(g, Y);
            const std::vector<double> probes = Probes(g, X);
            for (size_t p = 0; p < probes.size(); p += (sweep.size > 4096 ? 3 : 1)) {
                const double x = probes[p];
                double expected = 0.0;
                const Value answer = Call("Spline", {xArg, yArg, Value::Number(x)});
                if (!ReadSpline(X, Y, x, &expected)) {
                    EXPECT_TRUE(IsFailure(answer)) << "x = " << x;
                } else {
                    ASSERT_EQ(answer.kind, Kind::Number) << quorin_host::FormatValue(answer);
                    EXPECT_TRUE(SameAnswer(answer.number, expected)) << "x = " << x << ": " << answer.number << " vs " << expected;
                }
            }
        }
    }
}

TEST_F(InterpEntries, PolynomialMatchesAPlainReadingOnSeededCoefficients)
{
    constexpr int32_t sizes[] = {1, 2, 5, 20, 1000, 100000};
    Generator g{0x1A7E2B05};
    for (int32_t n : sizes) {
        std::vector<double> C = MakeValues(g, n);
        if (n > 2) C[static_cast<size_t>(g.Below(n))] = (n % 2 == 0) ? Inf : NaN;
        SCOPED_TRACE("n = " + std::to_string(n));
        const Value coefficients = AnyShape(g, C);
        for (double x : {g.Between(-1.0, 1.0), g.Between(-1.0, 1.0), -1.0, 0.0, -0.0, g.Between(1.0, 3.0), NaN, Inf, -Inf}) {
            EXPECT_TRUE(SameAnswer(Number("Polynomial", {coefficients, Value::Number(x)}), ReadPolynomial(C, x))) << "x = " << x;
        }
    }
}

}  // namespace
