// call_stress.cpp - a million mixed calls with their answers and the module's memory checked, and
// the largest references the host's records can describe. Slow: scripts/test runs them once.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "tests/robustness/counted_module.h"
#include "tests/support/indexed_cells.h"
#include "tests/support/test_host.h"

namespace quorin_test {
namespace {

struct StressCall {
    const char* function;
    std::vector<Value> arguments;
};

// The generator's sequence replayed from state 1, as a fresh thread sees it.
struct GeneratorReplay {
    uint32_t state = 1;
    int32_t Sum12()
    {
        int32_t sum = 0;
        for (int k = 0; k < 12; ++k) {
            state = state * 214013u + 2531011u;
            sum += static_cast<int32_t>((state >> 16) & 0x7FFFu);
        }
        return sum;
    }
};

size_t ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

bool SameRecord(const XLOPER& a, const XLOPER& b)
{
    if (a.xltype != b.xltype) return false;
    if (a.xltype == xltypeNum) return std::memcmp(&a.val.num, &b.val.num, sizeof a.val.num) == 0;
    if (a.xltype == xltypeErr) return a.val.err == b.val.err;
    if (a.xltype != xltypeMulti) return false;
    if (a.val.array.lparray != b.val.array.lparray || a.val.array.rows != b.val.array.rows ||
        a.val.array.columns != b.val.array.columns) {
        return false;
    }
    return true;
}

void RunMillionCalls()
{
    SubstituteHost& host = quorin_test::TestHost();
    LoadFreshModule(host);
    const Value X = Column(PointsX(8)), Y = Column(PointsY(8));
    const std::vector<StressCall> calls = {
        {"StudentT", {Value::Number(7)}},
        {"CountBetween", {X, Value::Number(1), Value::Number(4)}},
        {"RandNorm", {}},
        {"RandDist", {Value::Number(10), Value::Number(2)}},
        {"Interp1", {X, Y, Value::Number(2.3), Value::Number(0)}},
        {"Interp2", {Table(4, 4), Value::Number(2.2), Value::Number(15), Value::Number(0)}},
        {"Lagrange", {X, Y, Value::Number(2.9)}},
        {"Spline", {X, Y, Value::Number(2.9)}},
        {"Polynomial", {Y, Value::Number(0.7)}},
        {"LLSQ", {X, Y, Value::Number(3)}},
        {"LLSQLC", {X, Y, Value::Number(4), Column({0.0, 5.25}), Column({2.0, -1.0})}},
    };
    // Records are made once and passed again and again, as a host recalculating one sheet would.
    struct Prepared {
        void* procedure;
        std::string typeText;
        std::vector<quorin_host::RawArgument> raw;
        XLOPER first;
        std::vector<XLOPER> firstElements;
    };
    std::vector<Prepared> prepared;
    for (const StressCall& c : calls) {
        Prepared p;
        const quorin_host::Registration* registered = host.Find(c.function);
        ASSERT_NE(registered, nullptr) << c.function;
        p.typeText = registered->texts[2];
        p.procedure = registered->procedure;
        p.raw.resize(p.typeText.size() - 1);
        for (size_t a = 0; a < p.raw.size(); ++a) {
            if (p.typeText[a + 1] == 'R') p.raw[a].record = host.MakeRecord(c.arguments[a]);
            else if (p.typeText[a + 1] == 'B') p.raw[a].number = c.arguments[a].number;
            else p.raw[a].integer = static_cast<int32_t>(c.arguments[a].number);
        }
        prepared.push_back(std::move(p));
    }

    GeneratorReplay replay;
    XLOPER* shared = nullptr;
    auto check = [&](Prepared& p, const XLOPER* answer, bool first) {
        if (shared == nullptr) shared = const_cast<XLOPER*>(answer);
        if (answer != shared) return false;
        // The random functions answer the next numbers of the sequence, the others their first answer.
        if (p.typeText == "R" || p.typeText == "RBB") {
            const double S = static_cast<double>(replay.Sum12());
            double expected = 0.0;
            if (p.typeText == "R") {
                expected = ((S / 32767.0) / 6.0) - 1.0;
            } else {
                const double spread = p.raw[1].number * 6.0;
                expected = (((S / 196602.0) - 1.0) * spread) + p.raw[0].number;
            }
            return answer->xltype == xltypeNum && std::memcmp(&answer->val.num, &expected, sizeof expected) == 0;
        }
        if (first) {
            p.first = *answer;
            if (answer->xltype == xltypeMulti) {
                p.firstElements.assign(answer->val.array.lparray, answer->val.array.lparray + answer->val.array.columns);
            }
            return answer->xltype != xltypeErr;
        }
        if (!SameRecord(*answer, p.first)) return false;
        for (size_t k = 0; k < p.firstElements.size(); ++k) {
            if (!SameRecord(answer->val.array.lparray[k], p.firstElements[k])) return false;
        }
        return true;
    };

    for (Prepared& p : prepared) ASSERT_TRUE(check(p, host.Invoke(p.procedure, p.typeText, p.raw), true));
    const size_t blocksAfterGrowth = AllocationCounter::LiveBlocks();
    const size_t bytesAfterGrowth = AllocationCounter::LiveBytes();
    const size_t residentAfterGrowth = ResidentBytes();

    constexpr int64_t Calls = 1000000;
    AllocationCounter::Arm(0);
    int64_t wrong = 0;
    for (int64_t i = 0; i < Calls; ++i) {
        Prepared& p = prepared[static_cast<size_t>(i % static_cast<int64_t>(prepared.size()))];
        if (!check(p, host.Invoke(p.procedure, p.typeText, p.raw), false)) ++wrong;
    }
    const int32_t requests = AllocationCounter::Requests();
    const size_t resident = ResidentBytes();
    EXPECT_EQ(wrong, 0) << "answers that differ from the function's first";
    EXPECT_EQ(AllocationCounter::LiveBlocks(), blocksAfterGrowth) << "blocks the module kept";
    EXPECT_EQ(AllocationCounter::LiveBytes(), bytesAfterGrowth);
    EXPECT_EQ(host.Outstanding(), 0u);
    EXPECT_EQ(host.releaseViolations, 0);
    // Scratch is taken and released per call (spline 2 blocks, each fit 3); nothing accumulates.
    EXPECT_LT(resident, residentAfterGrowth + (4u << 20)) << "resident memory grew";
    std::printf("%lld calls: %d module allocations, all released; module keeps %zu blocks (%zu bytes); "
                "resident %zu KiB after growth, %zu KiB at the end\n",
                static_cast<long long>(Calls), requests, blocksAfterGrowth, bytesAfterGrowth, residentAfterGrowth >> 10,
                resident >> 10);
    host.ReleaseArguments();
    UnloadModule(host);
}

TEST(Stress, MillionMixedCallsAnswerAsTheFirstCallAndKeepMemoryFlat)
{
    // A new thread starts the module's generator at state 1, whatever ran before in this process.
    std::thread caller(RunMillionCalls);
    caller.join();
}

TEST(Stress, LargestReferencesReadThroughTheRangeFunctions)
{
    SubstituteHost& host = quorin_test::TestHost();
    LoadFreshModule(host);
    // 65,535 rows by 255 columns (the most a record's 16-bit counts and a sheet's columns allow
    // together here), each cell row * 255 + column: every table row and column is an exact line.
    const quorin_test::IndexedCells indexed;
    const quorin_host::ScopedCellSource reading(host, indexed);
    const Value all = Value::Reference({quorin_host::Area{0, 65534, 0, 254}});
    std::string error;
    const auto number = [&](const char* f, std::vector<Value> arguments) {
        const Value v = host.Call(f, arguments, &error);
        EXPECT_EQ(v.kind, Kind::Number) << f << ": " << quorin_host::FormatValue(v);
        return v.number;
    };
    // Linear in its own values: the answer is x, exactly (1 x 0.5 / 1 + 12345).
    EXPECT_EQ(number("Interp1", {all, all, Value::Number(12345.5), Value::Number(0)}), 12345.5);
    // z = X + Y on the table; every step of the bilinear formula is exact here.
    EXPECT_EQ(number("Interp2", {all, Value::Number(2677.5), Value::Number(100.25), Value::Number(0)}), 2777.75);
    // Horner at x = 0 keeps only the constant term, after reading all 16,711,425 coefficients.
    EXPECT_EQ(number("Polynomial", {all, Value::Number(0.0)}), 0.0);
    EXPECT_EQ(number("CountBetween", {all, Value::Number(-1), Value::Number(1e300)}), 65535.0 * 255.0);
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(host.Outstanding(), 0u);
    EXPECT_EQ(host.releaseViolations, 0);
    std::printf("largest reference: resident %zu MiB at the end\n", ResidentBytes() >> 20);
    UnloadModule(host);
}

// The fuzzer bounds Lagrange's points and LLSQLC's constraints (their cost is quadratic and cubic);
// here they run at sizes far past those bounds, read from references, with nothing left held.
TEST(Stress, ShapesTheFuzzerBoundsRunWhole)
{
    SubstituteHost& host = quorin_test::TestHost();
    LoadFreshModule(host);
    // Column 0 holds x = 255 * row, column 1 holds x + 1: distinct points on one line.
    const quorin_test::IndexedCells cells;
    const quorin_host::ScopedCellSource reading(host, cells);
    const auto column = [](uint16_t c, uint32_t rows) { return Value::Reference({quorin_host::Area{0, rows - 1, c, c}}); };
    std::string error;
    // Thousands of Lagrange factors overflow on the way; any number (even NaN) is a sound answer.
    const Value lagrange = host.Call("Lagrange", {column(0, 4096), column(1, 4096), Value::Number(1000.5)}, &error);
    EXPECT_EQ(lagrange.kind, Kind::Number) << quorin_host::FormatValue(lagrange);
    // The largest bordered system a fit may build, 20 terms and 20 constraints: solved or refused,
    // never a crash or a wrong shape; 512 constraints on 2 terms are refused before any is built.
    const Value fit = host.Call("LLSQLC", {column(0, 4096), column(1, 4096), Value::Number(20), column(0, 20),
                                           column(1, 20)}, &error);
    const bool refused = fit.kind == Kind::Error && fit.error == 999;
    const bool row = fit.kind == Kind::Array && fit.rows == 1 && fit.columns == 20;
    EXPECT_TRUE(refused || row) << quorin_host::FormatValue(fit);
    const Value over = host.Call("LLSQLC", {column(0, 4096), column(1, 4096), Value::Number(2), column(0, 512),
                                            column(1, 512)}, &error);
    EXPECT_EQ(over.kind, Kind::Error);
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(host.Outstanding(), 0u);
    EXPECT_EQ(host.releaseViolations, 0);
    UnloadModule(host);
}

}  // namespace
}  // namespace quorin_test
