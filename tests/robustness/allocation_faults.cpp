// allocation_faults.cpp - every block the module asks for is refused in turn: the call answers the
// failure (xlAutoOpen: 0 and its alert), releases every host record, leaks no block, and the next
// ordinary call answers what it would have answered anyway.
#include <cstdio>

#include "tests/robustness/counted_module.h"
#include "tests/support/test_host.h"

namespace quorin_test {
namespace {

struct AllocationCase {
    const char* function;
    std::vector<Value> warmUp;     // called first when not empty, so that the call under test grows buffers
    std::vector<Value> arguments;
    int32_t requests;              // blocks the call under test asks for, in order
    const char* sites;
};

std::vector<Value> Pair(int32_t n, std::vector<Value> rest)
{
    std::vector<Value> arguments{Column(PointsX(n)), Column(PointsY(n))};
    for (Value& v : rest) arguments.push_back(std::move(v));
    return arguments;
}

Value N(double v) { return Value::Number(v); }

// Small ranges are a buffer's first read (capacity 1024); 1500 values outgrow it.
constexpr int32_t Small = 8;
constexpr int32_t Large = 1500;

std::vector<AllocationCase> Cases()
{
    const std::vector<Value> none;
    return {
        {"CountBetween", none, {Column(PointsX(Small)), N(1), N(4)}, 1, "X first read"},
        {"CountBetween", {Column(PointsX(Small)), N(1), N(4)}, {Column(PointsX(Large)), N(1), N(400)}, 1, "X grows"},
        {"Interp1", none, Pair(Small, {N(2.3), N(0)}), 2, "X, Y first reads"},
        {"Interp1", Pair(Small, {N(2.3), N(0)}), Pair(Large, {N(700.1), N(1)}), 2, "X, Y grow"},
        {"Interp2", none, {Table(4, 4), N(2.2), N(15), N(0)}, 1, "Z first read"},
        {"Interp2", {Table(4, 4), N(2.2), N(15), N(0)}, {Table(40, 40), N(31.1), N(125), N(1)}, 1, "Z grows"},
        {"Lagrange", none, Pair(Small, {N(2.9)}), 2, "X, Y first reads"},
        {"Lagrange", Pair(Small, {N(2.9)}), Pair(Large, {N(0.4)}), 2, "X, Y grow"},
        {"Spline", none, Pair(Small, {N(2.9)}), 4, "X, Y first reads; point copy; coefficients"},
        {"Spline", Pair(Small, {N(2.9)}), Pair(Large, {N(800.3)}), 4, "X, Y grow; point copy; coefficients"},
        {"Polynomial", none, {Column(PointsY(Small)), N(0.7)}, 1, "coefficients' first read"},
        {"Polynomial", {Column(PointsY(Small)), N(0.7)}, {Column(PointsY(Large)), N(-0.999)}, 1, "coefficients grow"},
        {"LLSQ", none, Pair(Small, {N(3)}), 5, "X, Y first reads; right-hand side; matrix; column order"},
        {"LLSQ", Pair(Small, {N(3)}), Pair(Large, {N(20)}), 5, "X, Y grow; right-hand side; matrix; column order"},
        {"LLSQLC", none, Pair(Small, {N(4), Column({0.0, 5.25}), Column({2.0, -1.0})}), 7,
         "X, Y, Xc, Yc first reads; right-hand side; matrix; column order"},
        {"LLSQLC", Pair(Small, {N(4), Column({0.0, 5.25}), Column({2.0, -1.0})}),
         Pair(Large, {N(6), Column({0.0, 5.25}), Column({2.0, -1.0})}), 5, "X, Y grow; right-hand side; matrix; column order"},
        // More constraints than points: the fit refuses after every buffer has grown.
        {"LLSQLC", Pair(Small, {N(4), Column({0.0, 5.25}), Column({2.0, -1.0})}),
         Pair(1050, {N(2), Column(PointsX(1100)), Column(PointsY(1100))}), 4, "X, Y, Xc, Yc grow"},
        {"StudentT", none, {N(7)}, 0, "none"},
        {"RandNorm", none, {}, 0, "none"},
        {"RandDist", none, {N(10), N(2)}, 0, "none"},
    };
}

struct Footprint {
    size_t blocks, bytes;
    bool operator==(const Footprint& o) const { return blocks == o.blocks && bytes == o.bytes; }
};

Footprint Live() { return {AllocationCounter::LiveBlocks(), AllocationCounter::LiveBytes()}; }

class AllocationFailure : public ::testing::Test {
protected:
    SubstituteHost& host = quorin_test::TestHost();
    void TearDown() override { UnloadModule(host); }

    Value Call(const char* function, const std::vector<Value>& arguments)
    {
        std::string error;
        Value answer = host.Call(function, arguments, &error);
        EXPECT_TRUE(error.empty()) << error;
        return answer;
    }

    void ExpectHostRecordsReleased()
    {
        EXPECT_EQ(host.Outstanding(), 0u) << "records the module did not release";
        EXPECT_EQ(host.releaseViolations, 0) << "records released twice or never filled";
    }
};

TEST_F(AllocationFailure, EveryWorksheetAllocationFailsCleanlyAndTheNextCallRecovers)
{
    int32_t scenarios = 0;
    for (const AllocationCase& c : Cases()) {
        SCOPED_TRACE(std::string(c.function) + ": " + c.sites);
        // The undisturbed run fixes the answers and the blocks the module keeps afterwards.
        LoadFreshModule(host);
        if (!c.warmUp.empty()) Call(c.function, c.warmUp);
        AllocationCounter::Arm(0);
        const Value first = Call(c.function, c.arguments);
        ASSERT_EQ(AllocationCounter::Requests(), c.requests) << "a fresh module's call asks for these blocks";
        const Value again = Call(c.function, c.arguments);
        const Footprint kept = Live();
        ExpectHostRecordsReleased();

        for (int32_t k = 1; k <= c.requests; ++k) {
            SCOPED_TRACE("refused request " + std::to_string(k));
            LoadFreshModule(host);
            if (!c.warmUp.empty()) Call(c.function, c.warmUp);
            host.ResetRecords();
            AllocationCounter::Arm(k);
            const Value failed = Call(c.function, c.arguments);
            AllocationCounter::Disarm();
            EXPECT_TRUE(AllocationCounter::Refused());
            EXPECT_TRUE(IsFailure(failed)) << quorin_host::FormatValue(failed);
            ExpectHostRecordsReleased();
            // The first call after the failure runs as the undisturbed run's first call did.
            EXPECT_TRUE(SameValue(Call(c.function, c.arguments), first)) << "the call after the failure";
            EXPECT_TRUE(SameValue(Call(c.function, c.arguments), again));
            EXPECT_TRUE(Live() == kept) << "blocks kept " << Live().blocks << " (" << Live().bytes << " bytes), undisturbed "
                                        << kept.blocks << " (" << kept.bytes << " bytes)";
            ExpectHostRecordsReleased();
            ++scenarios;
        }
    }
    std::printf("worksheet scenarios: %d; distinct call sites refused so far: %zu\n", scenarios,
                AllocationCounter::RefusedSites().size());
    // Argument buffer growth, the spline's copy and coefficients, the fits' right-hand side and
    // matrix, the solver's column order: six sites at least (more where the compiler inlines).
    EXPECT_GE(AllocationCounter::RefusedSites().size(), 6u);
}

TEST_F(AllocationFailure, EveryOpenAllocationFailsWithItsAlertAndTheNextOpenRegistersAll)
{
    LoadFreshModule(host, false);
    AllocationCounter::Arm(0);
    ASSERT_EQ(host.Open(), 1);
    const int32_t requests = AllocationCounter::Requests();
    const size_t functions = host.registrations.size();
    ASSERT_EQ(host.Open(), 1);
    const Footprint kept = Live();
    const Value studentT = Call("StudentT", {N(10)});
    ASSERT_GT(requests, 0);

    for (int32_t k = 1; k <= requests; ++k) {
        SCOPED_TRACE("refused request " + std::to_string(k));
        LoadFreshModule(host, false);
        AllocationCounter::Arm(k);
        EXPECT_EQ(host.Open(), 0);
        AllocationCounter::Disarm();
        EXPECT_TRUE(AllocationCounter::Refused());
        ASSERT_EQ(host.alerts.size(), 1u);
        const std::string& message = host.alerts[0].message;
        EXPECT_TRUE(message == "Error: can't build function params!" || message == "Error: Failed to register the XLL!")
            << message;
        if (message == "Error: can't build function params!") {
            EXPECT_TRUE(host.registrations.empty());
        }
        for (const quorin_host::Registration& r : host.registrations) EXPECT_TRUE(r.accepted) << "no refused request reaches the host";
        ExpectHostRecordsReleased();

        host.ResetRecords();
        EXPECT_EQ(host.Open(), 1);
        EXPECT_EQ(host.registrations.size(), functions);
        EXPECT_TRUE(Live() == kept) << "blocks kept " << Live().blocks << ", undisturbed " << kept.blocks;
        EXPECT_TRUE(SameValue(Call("StudentT", {N(10)}), studentT));
        ExpectHostRecordsReleased();
    }
    std::printf("xlAutoOpen scenarios: %d; distinct call sites refused: %zu\n", requests,
                AllocationCounter::RefusedSites().size());
    // The list, its texts, the registration records and pointers, and the counted strings.
    EXPECT_GE(AllocationCounter::RefusedSites().size(), 5u);
}

}  // namespace
}  // namespace quorin_test
