// student_t_test.cpp - the critical-value polynomial against its reference table, bit for bit.
#include "stats/student_t.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

uint64_t Bits(double value) { uint64_t bits = 0; std::memcpy(&bits, &value, sizeof bits); return bits; }

struct StudentTCase { int32_t dof; double expected; const char* source; };
constexpr StudentTCase StudentTCases[] = {
    {-5,        999.0,              "guard: non-positive DOF answers a number, not an error"},
    {0,         999.0,              "guard: zero DOF must not divide by zero"},
    {INT32_MIN, 999.0,              "guard: most negative DOF"},
    {1,         12.706150300808995, "reference table"},
    {2,         4.302655726745257,  "reference table"},
    {3,         3.182449214762066,  "reference table"},
    {10,        2.2281411036749326, "reference table"},
    {30,        2.042272073214101,  "reference table"},
    {1000,      1.96233798786865,   "reference table"},
};

}  // namespace

TEST(StudentTCritical, MatchesReferenceTableExactly)
{
    for (const StudentTCase& c : StudentTCases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(Bits(StudentTCritical(c.dof)), Bits(c.expected)) << c.dof;  // fixed order: exact on purpose
    }
}
