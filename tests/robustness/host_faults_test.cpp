// host_faults_test.cpp - the host refusing or deferring each range argument's coercion, at every
// position of every worksheet function: the call answers the failure, reads nothing further, and
// releases exactly the records the host filled before the refusal.
#include <climits>

#include "tests/module_fixture.h"

namespace quorin_test {
namespace {

using quorin_host::Area;

// Ranges on the sheet: x in A1:A8, y in B1:B8, constraints in D1:E2, a 4 x 4 table in G1:J4.
constexpr Area XCells{0, 7, 0, 0};
constexpr Area YCells{0, 7, 1, 1};
constexpr Area XcCells{0, 1, 3, 3};
constexpr Area YcCells{0, 1, 4, 4};
constexpr Area TableCells{0, 3, 6, 9};

struct CallSite {
    const char* function;
    std::vector<Value> arguments;
    std::vector<Area> ranges;  // the range arguments in argument order, as the function reads them
};

Value Ref(const Area& a) { return Value::Reference({a}); }
Value N(double v) { return Value::Number(v); }

std::vector<CallSite> CallSites()
{
    return {
        {"CountBetween", {Ref(XCells), N(1), N(4)}, {XCells}},
        {"Interp1", {Ref(XCells), Ref(YCells), N(2.3), N(0)}, {XCells, YCells}},
        {"Interp2", {Ref(TableCells), N(2.2), N(15), N(1)}, {TableCells}},
        {"Lagrange", {Ref(XCells), Ref(YCells), N(2.9)}, {XCells, YCells}},
        {"Spline", {Ref(XCells), Ref(YCells), N(2.9)}, {XCells, YCells}},
        {"Polynomial", {Ref(YCells), N(0.7)}, {YCells}},
        {"LLSQ", {Ref(XCells), Ref(YCells), N(3)}, {XCells, YCells}},
        {"LLSQLC", {Ref(XCells), Ref(YCells), N(4), Ref(XcCells), Ref(YcCells)}, {XCells, YCells, XcCells, YcCells}},
    };
}

class HostFaultTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        for (uint32_t r = 0; r < 8; ++r) {
            host.sheet.Set(r, 0, N(0.75 * r + 0.125 * (r % 3)));
            host.sheet.Set(r, 1, N(2.385 + 0.5 * (r % 5) - 0.03125 * r));
        }
        host.sheet.Set(0, 3, N(0.0));
        host.sheet.Set(1, 3, N(5.25));
        host.sheet.Set(0, 4, N(2.0));
        host.sheet.Set(1, 4, N(-1.0));
        for (uint32_t r = 0; r < 4; ++r) {
            for (uint16_t c = 0; c < 4; ++c) {
                const double v = (r == 0) ? 10.0 * c : (c == 0) ? 1.5 * r : 0.25 * r * c + r % 3;
                host.sheet.Set(r, static_cast<uint16_t>(6 + c), N(v));
            }
        }
    }

    // The answer and what the host saw, starting from cleared records.
    Value CallCounted(const CallSite& site)
    {
        host.ResetRecords();
        return Call(site.function, site.arguments);
    }

    void ExpectStoppedAt(int32_t position)
    {
        EXPECT_EQ(host.callbackCounts[xlCoerce], position) << "no range is read after the refused one";
        EXPECT_EQ(host.callbackCounts[xlFree], position - 1) << "each earlier range's record released once";
        EXPECT_EQ(host.Outstanding(), 0u);
        EXPECT_EQ(host.releaseViolations, 0);
    }
};

// Every non-zero code the host could answer: uncalculated, failed, the others it defines, and nonsense.
constexpr int RefusalCodes[] = {64, 32, 1, 2, 4, 8, 16, 128, 256, -1, INT_MIN, INT_MAX};

TEST_F(HostFaultTest, RefusedCoercionOfAnyRangeArgumentAnswersTheFailure)
{
    for (const CallSite& site : CallSites()) {
        SCOPED_TRACE(site.function);
        const Value undisturbed = CallCounted(site);
        ASSERT_FALSE(IsFailure(undisturbed)) << "the call succeeds on its own";
        for (int32_t position = 1; position <= static_cast<int32_t>(site.ranges.size()); ++position) {
            for (int code : RefusalCodes) {
                SCOPED_TRACE("range " + std::to_string(position) + ", code " + std::to_string(code));
                host.faults.coerceFailAt = position;
                host.faults.coerceAnswer = code;
                EXPECT_TRUE(IsFailure(CallCounted(site)));
                ExpectStoppedAt(position);
                host.faults = quorin_host::Faults{};
                const Value again = CallCounted(site);
                EXPECT_EQ(quorin_host::FormatValue(again), quorin_host::FormatValue(undisturbed));
                if (again.kind == Kind::Number) {
                    EXPECT_SAME_DOUBLE(again.number, undisturbed.number);
                }
            }
        }
    }
}

TEST_F(HostFaultTest, UncalculatedCellInAnyRangeArgumentAnswersTheFailure)
{
    for (const CallSite& site : CallSites()) {
        SCOPED_TRACE(site.function);
        for (int32_t position = 1; position <= static_cast<int32_t>(site.ranges.size()); ++position) {
            SCOPED_TRACE("range " + std::to_string(position));
            const Area& a = site.ranges[static_cast<size_t>(position - 1)];
            // The last cell, so that the host has filled most of the array before it gives up.
            const Value kept = host.sheet.Get(a.rowLast, a.columnLast);
            host.sheet.Set(a.rowLast, a.columnLast, Value::Uncalculated());
            EXPECT_TRUE(IsFailure(CallCounted(site)));
            ExpectStoppedAt(position);
            host.sheet.Set(a.rowLast, a.columnLast, kept);
            EXPECT_FALSE(IsFailure(CallCounted(site)));
        }
    }
}

TEST_F(HostFaultTest, CoercionAnsweringAnythingButAnArrayIsReleasedAndRefused)
{
    XLOPER number = {};
    number.xltype = xltypeNum;
    number.val.num = 4.0;
    XLOPER error = {};
    error.xltype = xltypeErr;
    error.val.err = 42;
    for (const XLOPER* answer : {&number, &error}) {
        host.faults.coerceVerbatim = answer;
        for (const CallSite& site : CallSites()) {
            SCOPED_TRACE(site.function);
            EXPECT_TRUE(IsFailure(CallCounted(site)));
            EXPECT_EQ(host.callbackCounts[xlCoerce], 1) << "no range is read after the refused one";
            EXPECT_EQ(host.callbackCounts[xlFree], 1) << "the unexpected record goes back to the host";
            EXPECT_EQ(host.releaseViolations, 0);
        }
    }
}

}  // namespace
}  // namespace quorin_test
