// manager_test.cpp - the add-in manager's entry points as the host calls them.
#include <regex>

#include "module_fixture.h"

namespace quorin_test {
namespace {

using ManagerTest = ModuleTest;

struct ManagerInfoCase {
    Value action;
    bool answersTitle;
    const char* source;
};

TEST_F(ManagerTest, ManagerInfoAnswersTheTitleForActionOneOnly)
{
    const ManagerInfoCase cases[] = {
        {Value::Number(1), true, "the manager asks for the title"},
        {Value::Number(1.2), true, "the host rounds when it coerces to an integer"},
        {Value::Text("1"), true, "text the host can coerce"},
        {Value::Boolean(true), true, "TRUE coerces to 1"},
        {Value::Number(0), false, "other actions"},
        {Value::Number(2), false, "other actions"},
        {Value::Number(65537), false, "beyond 16 bits the host refuses the coercion"},
        {Value::Text("one"), false, "the host cannot coerce: never read the unfilled record"},
        {Value::Error(42), false, "an error value cannot be coerced"},
    };
    for (const ManagerInfoCase& c : cases) {
        SCOPED_TRACE(c.source);
        const Value answer = host.ManagerInfo(c.action);
        if (c.answersTitle) {
            EXPECT_EQ(answer.kind, Kind::Text);
            EXPECT_EQ(answer.text, "Quorin V1.00");
        } else {
            EXPECT_EQ(answer.kind, Kind::Error);
            EXPECT_EQ(answer.error, xlerrValue);
        }
    }
}

TEST_F(ManagerTest, ManagerInfoAnswersTheErrorWhenTheHostRefusesEveryCoercion)
{
    // A stale 1 in the coerced record must not be mistaken for an answer.
    EXPECT_EQ(host.ManagerInfo(Value::Number(1)).kind, Kind::Text);
    host.faults.coerceFailAlways = true;
    for (int answer : {quorin_host::xlretFailed, xlretUncalced, 1}) {
        host.faults.coerceAnswer = answer;
        const Value v = host.ManagerInfo(Value::Number(1));
        EXPECT_EQ(v.kind, Kind::Error);
        EXPECT_EQ(v.error, xlerrValue);
    }
}

TEST_F(ManagerTest, AutoRegisterAnswersValueErrorForAnyName)
{
    for (const char* name : {"StudentT", "LLSQ", "NoSuchFunction", ""}) {
        const Value v = host.AutoRegister(name);
        EXPECT_EQ(v.kind, Kind::Error);
        EXPECT_EQ(v.error, xlerrValue);
    }
    EXPECT_TRUE(host.registrations.size() == CatalogueFunctionCount()) << "nothing new registered";
}

TEST_F(ManagerTest, AddAndRemoveShowTheTitleAndTheBuildStamp)
{
    EXPECT_EQ(host.Add(), 1);
    EXPECT_EQ(host.Remove(), 1);
    ASSERT_EQ(host.alerts.size(), 2u);
    const std::string stamp = "\nbuilt on [A-Z][a-z]{2} [ 123][0-9] [0-9]{4} at [0-2][0-9]:[0-5][0-9]:[0-6][0-9]";
    EXPECT_TRUE(std::regex_match(host.alerts[0].message, std::regex("Quorin V1\\.00 Loaded!" + stamp))) << host.alerts[0].message;
    EXPECT_TRUE(std::regex_match(host.alerts[1].message, std::regex("Quorin V1\\.00 Removed!" + stamp))) << host.alerts[1].message;
    EXPECT_EQ(host.alerts[0].style, 2);
    EXPECT_EQ(host.alerts[1].style, 2);
    EXPECT_EQ(host.alerts[0].message.substr(20), host.alerts[1].message.substr(21)) << "one build stamp";
}

TEST_F(ManagerTest, CloseAndRemoveLeaveTheFunctionsWorking)
{
    EXPECT_EQ(host.Close(), 1);
    EXPECT_EQ(host.Remove(), 1);
    EXPECT_SAME_DOUBLE(Number("CountBetween", {Column({1, 2, 3}), Value::Number(2), Value::Number(9)}), 2.0);
    EXPECT_EQ(host.callbackCounts[xlfRegister], 0);
}

}  // namespace
}  // namespace quorin_test
