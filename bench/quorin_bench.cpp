// quorin_bench.cpp - times every worksheet function through the loaded module's exports, with its
// range arguments already built as the host builds them: arrays of 24-byte number records.
//
// By default the host hands an array argument back to the module's coercion as it is (no copy,
// and its release does nothing), so a figure is the module's own cost; --copying-host keeps the
// substitute host's own coercion, which copies every element. Besides the usual report it prints
// one summary line per case, "Workload/project n median_seconds ns_per_element", to stdout or to
// the file named by --summary=FILE. --answers prints every function's answers on randomised
// inputs as bit patterns instead, so that two builds can be compared bit for bit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "addin/range_buffer.h"
#include "host/substitute_host.h"
#include "host/xlcall32.h"

namespace {

using quorin_host::SubstituteHost;

using RangeEntry = XLOPER* (*)(XLOPER*);
using RangeBB = XLOPER* (*)(XLOPER*, double, double);
using RangeRB = XLOPER* (*)(XLOPER*, XLOPER*, double);
using RangeRJ = XLOPER* (*)(XLOPER*, XLOPER*, int32_t);
using RangeRBJ = XLOPER* (*)(XLOPER*, XLOPER*, double, int32_t);
using RangeBBJ = XLOPER* (*)(XLOPER*, double, double, int32_t);
using RangeRJRR = XLOPER* (*)(XLOPER*, XLOPER*, int32_t, XLOPER*, XLOPER*);
using RangeB = XLOPER* (*)(XLOPER*, double);
using IntEntry = XLOPER* (*)(int32_t);
using NoArgEntry = XLOPER* (*)();
using DoubleDoubleEntry = XLOPER* (*)(double, double);

bool BorrowArrays = true;

// The benchmark's one host, which the module's direct calls reach through BenchHandler.
SubstituteHost& BenchHost()
{
    static SubstituteHost host;
    return host;
}

// Array arguments are the caller's own records: coercing one to an array hands the same
// elements back, and releasing it has nothing to give back.
int BenchHandler(void* host, int xlfn, XLOPER* operRes, int count, XLOPER* opers[])
{
    if (BorrowArrays && xlfn == xlCoerce && count >= 2 && operRes != nullptr && opers[0] != nullptr &&
        opers[0]->xltype == xltypeMulti && opers[1] != nullptr && opers[1]->xltype == xltypeInt &&
        opers[1]->val.w == xltypeMulti) {
        *operRes = *opers[0];
        return xlretSuccess;
    }
    if (BorrowArrays && xlfn == xlFree && count == 1 && opers[0] != nullptr && opers[0]->xltype == xltypeMulti) {
        return xlretSuccess;
    }
    return static_cast<SubstituteHost*>(host)->Handle(xlfn, operRes, count, opers);
}

// Deterministic data: splitmix64, uniform doubles in [0, 1).
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
};

// A host array of number records with rows x columns = values.size(); both counts are 16-bit.
struct HostArray {
    std::vector<XLOPER> elements;
    XLOPER record{};

    HostArray(const std::vector<double>& values, uint16_t rows, uint16_t columns)
        : elements(values.size())
    {
        for (size_t k = 0; k < values.size(); ++k) {
            elements[k].xltype = xltypeNum;
            elements[k].val.num = values[k];
        }
        record.xltype = xltypeMulti;
        record.val.array.lparray = elements.data();
        record.val.array.rows = rows;
        record.val.array.columns = columns;
    }
    explicit HostArray(const std::vector<double>& values) : HostArray(values, 1, 1)
    {
        // A column where it fits, else the squarest shape the 16-bit counts allow.
        const size_t n = values.size();
        size_t columns = 1;
        while (n / columns > 65535 || n % columns != 0) ++columns;
        if (columns > 65535) std::abort();
        record.val.array.rows = static_cast<uint16_t>(n / columns);
        record.val.array.columns = static_cast<uint16_t>(columns);
    }
};

std::vector<double> UniformValues(size_t n, uint64_t seed, double low, double high)
{
    Random random{seed};
    std::vector<double> v(n);
    for (double& x : v) x = low + (high - low) * random.Uniform();
    return v;
}

// Strictly increasing: i + a jitter in [0, 0.5).
std::vector<double> IncreasingValues(size_t n, uint64_t seed)
{
    Random random{seed};
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<double>(i) + 0.5 * random.Uniform();
    return v;
}

// Chebyshev points on [-1, 1] taken in van der Corput order, each next point far from those before
// it: the running Lagrange products then stay between about 1e-9 and 1e8 for up to 4096 points,
// where an increasing order overflows and underflows into subnormals from about 1000 points on.
std::vector<double> ChebyshevValues(size_t n)
{
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i) {
        double radical = 0.0;
        double digit = 0.5;
        for (size_t k = i; k != 0; k >>= 1, digit /= 2.0) {
            if ((k & 1) != 0) radical += digit;
        }
        v[i] = -std::cos(3.141592653589793 * (radical + 0.5 / 4096.0));
    }
    return v;
}

// The square table of side s: axes increasing down the first column and along the first row.
std::vector<double> SquareTable(size_t s, uint64_t seed)
{
    Random random{seed};
    std::vector<double> t(s * s);
    for (size_t r = 0; r < s; ++r) {
        for (size_t c = 0; c < s; ++c) {
            double v = random.Uniform();
            if (r == 0) v = static_cast<double>(c) + 0.5 * v;
            if (c == 0) v = static_cast<double>(r) + 0.5 * v;
            t[r * s + c] = v;
        }
    }
    return t;
}

void* Entry(const char* name)
{
    void* entry = BenchHost().Procedure(name);
    if (entry == nullptr) {
        std::fprintf(stderr, "module lacks %s\n", name);
        std::exit(1);
    }
    return entry;
}

template <typename F>
F EntryAs(const char* name)
{
    return reinterpret_cast<F>(Entry(name));
}

// The answer must be a number (or the coefficient row): timing an error answer measures nothing.
void ExpectAnswer(benchmark::State& state, const XLOPER* answer)
{
    if (answer == nullptr || (answer->xltype != xltypeNum && answer->xltype != xltypeMulti)) {
        state.SkipWithError("the function answered an error");
    }
}

std::map<std::string, int64_t> ElementCounts;

void Register(const std::string& name, int64_t n, void (*body)(benchmark::State&, int64_t), int32_t repetitions)
{
    ElementCounts[name] = n;
    benchmark::RegisterBenchmark(name.c_str(), [body, n](benchmark::State& state) { body(state, n); })
        ->Repetitions(repetitions)
        ->ReportAggregatesOnly(true)
        ->MinTime(n >= 1000000 ? 0.2 : 0.05)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
}

// Per-case bodies; each builds its arguments once, outside the timed loop.

void BenchInterp1(benchmark::State& state, int64_t n)
{
    const size_t count = static_cast<size_t>(n);
    HostArray X(IncreasingValues(count, 11));
    HostArray Y(UniformValues(count, 12, -1.0, 1.0));
    const double x = static_cast<double>(n) / 2.0 + 0.25;
    auto f = EntryAs<RangeRBJ>("Interp1");
    ExpectAnswer(state, f(&X.record, &Y.record, x, 0));
    for (auto _ : state) benchmark::DoNotOptimize(f(&X.record, &Y.record, x, 0));
}

void BenchInterp2(benchmark::State& state, int64_t n)
{
    const size_t s = static_cast<size_t>(std::lround(std::sqrt(static_cast<double>(n))));
    HostArray table(SquareTable(s, 21), static_cast<uint16_t>(s), static_cast<uint16_t>(s));
    const double middle = static_cast<double>(s) / 2.0 + 0.1;
    auto f = EntryAs<RangeBBJ>("Interp2");
    ExpectAnswer(state, f(&table.record, middle, middle, 0));
    for (auto _ : state) benchmark::DoNotOptimize(f(&table.record, middle, middle, 0));
}

void BenchCountBetween(benchmark::State& state, int64_t n)
{
    HostArray X(UniformValues(static_cast<size_t>(n), 31, 0.0, 1.0));
    auto f = EntryAs<RangeBB>("CountBetween");
    ExpectAnswer(state, f(&X.record, 0.25, 0.75));
    for (auto _ : state) benchmark::DoNotOptimize(f(&X.record, 0.25, 0.75));
}

void BenchSpline(benchmark::State& state, int64_t n)
{
    const size_t count = static_cast<size_t>(n);
    HostArray X(IncreasingValues(count, 41));
    HostArray Y(UniformValues(count, 42, -1.0, 1.0));
    const double x = static_cast<double>(n) / 2.0 + 0.25;
    auto f = EntryAs<RangeRB>("Spline");
    ExpectAnswer(state, f(&X.record, &Y.record, x));
    for (auto _ : state) benchmark::DoNotOptimize(f(&X.record, &Y.record, x));
}

void BenchLagrange(benchmark::State& state, int64_t n)
{
    const size_t count = static_cast<size_t>(n);
    HostArray X(ChebyshevValues(count));
    HostArray Y(UniformValues(count, 52, -1.0, 1.0));
    auto f = EntryAs<RangeRB>("Lagrange");
    ExpectAnswer(state, f(&X.record, &Y.record, 0.01));
    for (auto _ : state) benchmark::DoNotOptimize(f(&X.record, &Y.record, 0.01));
}

void BenchPolynomial(benchmark::State& state, int64_t n)
{
    HostArray C(UniformValues(static_cast<size_t>(n), 61, -1.0, 1.0));
    auto f = EntryAs<RangeB>("Polynomial");
    ExpectAnswer(state, f(&C.record, 0.5));
    for (auto _ : state) benchmark::DoNotOptimize(f(&C.record, 0.5));
}

template <int32_t Terms>
void BenchLLSQ(benchmark::State& state, int64_t n)
{
    const size_t count = static_cast<size_t>(n);
    HostArray X(UniformValues(count, 71, -1.0, 1.0));
    HostArray Y(UniformValues(count, 72, -1.0, 1.0));
    auto f = EntryAs<RangeRJ>("LLSQ");
    ExpectAnswer(state, f(&X.record, &Y.record, Terms));
    for (auto _ : state) benchmark::DoNotOptimize(f(&X.record, &Y.record, Terms));
}

template <int32_t Terms, int32_t Constraints>
void BenchLLSQLC(benchmark::State& state, int64_t n)
{
    const size_t count = static_cast<size_t>(n);
    HostArray X(UniformValues(count, 81, -1.0, 1.0));
    HostArray Y(UniformValues(count, 82, -1.0, 1.0));
    const std::vector<double> xcValues = {-0.5, 0.25, 0.75};
    const std::vector<double> ycValues = {0.1, -0.2, 0.3};
    HostArray Xc(std::vector<double>(xcValues.begin(), xcValues.begin() + Constraints));
    HostArray Yc(std::vector<double>(ycValues.begin(), ycValues.begin() + Constraints));
    auto f = EntryAs<RangeRJRR>("LLSQLC");
    ExpectAnswer(state, f(&X.record, &Y.record, Terms, &Xc.record, &Yc.record));
    for (auto _ : state) benchmark::DoNotOptimize(f(&X.record, &Y.record, Terms, &Xc.record, &Yc.record));
}

void BenchStudentT(benchmark::State& state, int64_t)
{
    auto f = EntryAs<IntEntry>("StudentT");
    int32_t dof = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f(dof));
        dof = (dof == 1000) ? 1 : dof + 1;
    }
}

void BenchRandNorm(benchmark::State& state, int64_t)
{
    auto f = EntryAs<NoArgEntry>("RandNorm");
    for (auto _ : state) benchmark::DoNotOptimize(f());
}

void BenchRandDist(benchmark::State& state, int64_t)
{
    auto f = EntryAs<DoubleDoubleEntry>("RandDist");
    for (auto _ : state) benchmark::DoNotOptimize(f(10.0, 2.0));
}

// The reader alone, into a buffer of the bench's own, and the plain copies that bound it.
RangeBuffer BenchBuffer;

void BenchRangeReader(benchmark::State& state, int64_t n)
{
    HostArray X(UniformValues(static_cast<size_t>(n), 91, -1.0, 1.0));
    if (ReadRange(&X.record, &BenchBuffer, false) != n) state.SkipWithError("read failed");
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadRange(&X.record, &BenchBuffer, false));
        benchmark::ClobberMemory();
    }
}

// CountBetween given a reference to n numbers, through the host's own callbacks either way: the
// copying host copies the cells' records into an array the module reads and releases; the no-copy
// host (coerceVerbatim) hands back an array it already holds. The difference is the coercion.
void BenchHostCoerce(benchmark::State& state, int64_t n, bool copying)
{
    SubstituteHost& host = BenchHost();
    HostArray X(UniformValues(static_cast<size_t>(n), 31, 0.0, 1.0));
    const uint16_t rows = X.record.val.array.rows, columns = X.record.val.array.columns;
    host.sheet = quorin_host::Sheet{};
    for (size_t k = 0; k < X.elements.size(); ++k) {
        host.sheet.Set(static_cast<uint32_t>(k / columns), static_cast<uint16_t>(k % columns), quorin_host::Value::Number(X.elements[k].val.num));
    }
    host.faults = quorin_host::Faults{};
    if (!copying) host.faults.coerceVerbatim = &X.record;
    XLOPER* reference = host.MakeRecord(quorin_host::Value::Reference({quorin_host::Area{0, rows - 1u, 0, static_cast<uint16_t>(columns - 1)}}));
    // Both hosts release through the host's own bookkeeping, so neither keeps what it handed over.
    const bool borrowing = BorrowArrays;
    BorrowArrays = false;
    auto f = EntryAs<RangeBB>("CountBetween");
    ExpectAnswer(state, f(reference, 0.25, 0.75));
    for (auto _ : state) benchmark::DoNotOptimize(f(reference, 0.25, 0.75));
    BorrowArrays = borrowing;
    host.faults = quorin_host::Faults{};
    host.ReleaseArguments();
    host.sheet = quorin_host::Sheet{};
}

void BenchCopyingHost(benchmark::State& state, int64_t n) { BenchHostCoerce(state, n, true); }
void BenchNoCopyHost(benchmark::State& state, int64_t n) { BenchHostCoerce(state, n, false); }

// memcpy of the n 24-byte records the reader reads: the same bytes in, as many out.
void BenchCopyRecords(benchmark::State& state, int64_t n)
{
    HostArray X(UniformValues(static_cast<size_t>(n), 91, -1.0, 1.0));
    std::vector<XLOPER> copy(X.elements.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), X.elements.data(), X.elements.size() * sizeof(XLOPER));
        benchmark::ClobberMemory();
    }
}

// memcpy of n doubles: the bytes the reader writes.
void BenchCopyDoubles(benchmark::State& state, int64_t n)
{
    const std::vector<double> source = UniformValues(static_cast<size_t>(n), 91, -1.0, 1.0);
    std::vector<double> copy(source.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), source.data(), source.size() * sizeof(double));
        benchmark::ClobberMemory();
    }
}

void RegisterAll(int32_t repetitions)
{
    const int64_t sizes[] = {1000, 100000, 1000000};
    for (int64_t n : sizes) {
        const std::string size = "/" + std::to_string(n);
        Register("RangeReader/quorin" + size, n, BenchRangeReader, repetitions);
        Register("CopyRecords/floor" + size, n, BenchCopyRecords, repetitions);
        Register("CopyDoubles/floor" + size, n, BenchCopyDoubles, repetitions);
        // The host's coercion is judged at 10^3 and 10^6 values only; the middle size adds no figure.
        if (n != 100000) {
            Register("HostCoerce/copying-host" + size, n, BenchCopyingHost, repetitions);
            Register("HostCoerce/no-copy-host" + size, n, BenchNoCopyHost, repetitions);
        }
        Register("Interp1/quorin" + size, n, BenchInterp1, repetitions);
        // Square tables: the side is the nearest whole root, so n counts side x side elements.
        const int64_t side = std::lround(std::sqrt(static_cast<double>(n)));
        Register("Interp2/quorin/" + std::to_string(side * side), side * side, BenchInterp2, repetitions);
        Register("CountBetween/quorin" + size, n, BenchCountBetween, repetitions);
        Register("Spline/quorin" + size, n, BenchSpline, repetitions);
        Register("Polynomial/quorin" + size, n, BenchPolynomial, repetitions);
        Register("LLSQ.m2/quorin" + size, n, BenchLLSQ<2>, repetitions);
        Register("LLSQ.m4/quorin" + size, n, BenchLLSQ<4>, repetitions);
        Register("LLSQ.m8/quorin" + size, n, BenchLLSQ<8>, repetitions);
        Register("LLSQ.m20/quorin" + size, n, BenchLLSQ<20>, repetitions);
        Register("LLSQLC.m2k1/quorin" + size, n, BenchLLSQLC<2, 1>, repetitions);
        Register("LLSQLC.m4k1/quorin" + size, n, BenchLLSQLC<4, 1>, repetitions);
        Register("LLSQLC.m8k1/quorin" + size, n, BenchLLSQLC<8, 1>, repetitions);
        Register("LLSQLC.m20k1/quorin" + size, n, BenchLLSQLC<20, 1>, repetitions);
        // Two terms under three constraints is singular whatever the points: no m2k3 case.
        Register("LLSQLC.m4k3/quorin" + size, n, BenchLLSQLC<4, 3>, repetitions);
        Register("LLSQLC.m8k3/quorin" + size, n, BenchLLSQLC<8, 3>, repetitions);
        Register("LLSQLC.m20k3/quorin" + size, n, BenchLLSQLC<20, 3>, repetitions);
    }
    for (int64_t n : {20, 100, 1000, 3000}) Register("Lagrange/quorin/" + std::to_string(n), n, BenchLagrange, repetitions);
    Register("StudentT/quorin/1", 1, BenchStudentT, repetitions);
    Register("RandNorm/quorin/1", 1, BenchRandNorm, repetitions);
    Register("RandDist/quorin/1", 1, BenchRandDist, repetitions);
}

// The console report as usual, and the medians kept for the summary lines.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    std::vector<std::pair<std::string, double>> medians;  // name, seconds per call

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!median && !single) continue;
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            medians.emplace_back(run.run_name.function_name, seconds);
        }
    }
};

void WriteSummary(const SummaryReporter& reporter, FILE* out)
{
    for (const auto& [name, seconds] : reporter.medians) {
        // "Workload/project/n" as registered; the line names workload and project, then n.
        const size_t cut = name.rfind('/');
        const int64_t n = ElementCounts[name];
        std::fprintf(out, "%s %" PRId64 " %.9e %.4f\n", name.substr(0, cut).c_str(), n, seconds,
                     seconds * 1e9 / static_cast<double>(n));
    }
}

// Every function on randomised inputs, answers as bit patterns: identical text, identical bits.
void PrintAnswers()
{
    auto bits = [](const XLOPER* answer) {
        std::string text;
        char word[40];
        if (answer == nullptr) return std::string("null");
        if (answer->xltype == xltypeNum) {
            uint64_t b = 0;
            std::memcpy(&b, &answer->val.num, sizeof b);
            std::snprintf(word, sizeof word, "%016" PRIx64, b);
            return std::string(word);
        }
        if (answer->xltype == xltypeMulti) {
            const int32_t count = answer->val.array.rows * answer->val.array.columns;
            for (int32_t k = 0; k < count; ++k) {
                uint64_t b = 0;
                std::memcpy(&b, &answer->val.array.lparray[k].val.num, sizeof b);
                std::snprintf(word, sizeof word, "%016" PRIx64 " ", b);
                text += word;
            }
            return text;
        }
        std::snprintf(word, sizeof word, "type%u/%u", answer->xltype, answer->val.err);
        return std::string(word);
    };
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        Random random{seed * 1000003};
        const size_t n = 4 + static_cast<size_t>(random.Next() % (seed < 30 ? 60 : 5000));
        std::vector<double> xs = UniformValues(n, seed * 7 + 1, -3.0, 3.0);
        std::vector<double> sorted = xs;
        std::sort(sorted.begin(), sorted.end());
        HostArray X(xs);
        HostArray Xs(sorted);
        HostArray Y(UniformValues(n, seed * 7 + 2, -2.0, 2.0));
        const double q = -3.5 + 7.0 * random.Uniform();
        std::printf("seed %" PRIu64 " n %zu\n", seed, n);
        std::printf("Interp1 %s %s\n", bits(EntryAs<RangeRBJ>("Interp1")(&Xs.record, &Y.record, q, 0)).c_str(),
                    bits(EntryAs<RangeRBJ>("Interp1")(&Xs.record, &Y.record, q, 1)).c_str());
        std::printf("CountBetween %s\n", bits(EntryAs<RangeBB>("CountBetween")(&X.record, -1.0, q)).c_str());
        std::printf("Spline %s\n", bits(EntryAs<RangeRB>("Spline")(&Xs.record, &Y.record, q)).c_str());
        std::printf("Polynomial %s\n", bits(EntryAs<RangeB>("Polynomial")(&Y.record, q / 3.0)).c_str());
        if (n <= 64) std::printf("Lagrange %s\n", bits(EntryAs<RangeRB>("Lagrange")(&Xs.record, &Y.record, q)).c_str());
        for (int32_t m : {2, 3, 4, 7, 8, 13, 20}) {
            if (static_cast<size_t>(m) + 3 > n) continue;
            std::printf("LLSQ.m%d %s\n", m, bits(EntryAs<RangeRJ>("LLSQ")(&X.record, &Y.record, m)).c_str());
            for (size_t k : {size_t{1}, size_t{3}}) {
                HostArray Xc(UniformValues(k, seed * 7 + 3 + k, -3.0, 3.0));
                HostArray Yc(UniformValues(k, seed * 7 + 5 + k, -1.0, 1.0));
                std::printf("LLSQLC.m%dk%zu %s\n", m, k,
                            bits(EntryAs<RangeRJRR>("LLSQLC")(&X.record, &Y.record, m, &Xc.record, &Yc.record)).c_str());
            }
        }
        const size_t side = 3 + static_cast<size_t>(random.Next() % 40);
        std::vector<double> tableValues = UniformValues(side * side, seed * 7 + 6, -5.0, 5.0);
        HostArray table(tableValues, static_cast<uint16_t>(side), static_cast<uint16_t>(side));
        for (int32_t e : {0, 1}) {
            std::printf("Interp2 %s\n", bits(EntryAs<RangeBBJ>("Interp2")(&table.record, q, -q, e)).c_str());
        }
        std::printf("StudentT %s\n", bits(EntryAs<IntEntry>("StudentT")(static_cast<int32_t>(seed * 37))).c_str());
        std::printf("RandNorm %s\n", bits(EntryAs<NoArgEntry>("RandNorm")()).c_str());
        std::printf("RandDist %s\n", bits(EntryAs<DoubleDoubleEntry>("RandDist")(q, 1.5)).c_str());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string summaryPath;
    bool answers = false;
    int32_t repetitions = 5;
    std::vector<char*> passOn = {argv[0]};
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--copying-host") BorrowArrays = false;
        else if (arg == "--answers") answers = true;
        else if (arg.rfind("--summary=", 0) == 0) summaryPath = arg.substr(10);
        else if (arg.rfind("--repetitions=", 0) == 0) repetitions = std::stoi(arg.substr(14));
        else passOn.push_back(argv[a]);
    }

    SubstituteHost& host = BenchHost();
    std::string error;
    if (!host.Load(quorin_host::DefaultModulePath(), &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    host.Open();
    InstallExcelHandler({&BenchHandler, &host});
    if (answers) {
        PrintAnswers();
        return 0;
    }

    RegisterAll(repetitions);
    int passCount = static_cast<int>(passOn.size());
    benchmark::Initialize(&passCount, passOn.data());
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    FILE* out = summaryPath.empty() ? stdout : std::fopen(summaryPath.c_str(), "w");
    if (out == nullptr) return 1;
    WriteSummary(reporter, out);
    if (out != stdout) std::fclose(out);
    return 0;
}
