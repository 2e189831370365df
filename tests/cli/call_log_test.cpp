// call_log_test.cpp - an add-in call as the JSON line other doors' tests replay.
#include "cli/call_log.h"

#include <gtest/gtest.h>

#include "host/sheet.h"

namespace quorin_test {
namespace {

using quorin_host::Area;
using quorin_host::Value;

Value Cells(uint32_t rowFirst, uint16_t columnFirst, uint32_t rowLast, uint16_t columnLast)
{
    Area area;
    area.rowFirst = rowFirst;
    area.rowLast = rowLast;
    area.columnFirst = columnFirst;
    area.columnLast = columnLast;
    return Value::Reference({area});
}

TEST(CallJson, ArgumentsReadAsACustomFunctionReceivesThem)
{
    quorin_host::Sheet sheet;
    sheet.Set(9, 26, Value::Number(0.1));                  // AA10
    sheet.Set(10, 26, Value::Text("say \"x\"\\\n"));       // AA11
    sheet.Set(11, 26, Value::Error(quorin_host::xlerrDiv0));           // AA12
    sheet.Set(9, 27, Value::Boolean(true));                // AB10, AB11 and AB12 left empty
    Value missing;
    missing.missing = true;
    struct Case { std::vector<Value> arguments; const char* typeText; const char* expected; const char* fault; };
    const Case cases[] = {
        {{Cells(9, 26, 11, 27), Value::Number(2.5), missing}, "QRBJ",
         R"({"function":"Interp1","arguments":[[[0.10000000000000001,true],["say \"x\"\\\u000a",null],[{"error":"#DIV/0!"},null]],2.5,{"missing":true}],"addresses":["'My data'!$AA$10:$AB$12",null,null],"answer":["7"]})",
         "digits that read back, escapes, errors, empty cells, a quoted sheet name, columns past Z"},
        {{Cells(9, 26, 9, 26), Cells(9, 26, 9, 26)}, "QRB",
         R"({"function":"Interp1","arguments":[[[0.10000000000000001]],0.10000000000000001],"addresses":["'My data'!$AA$10","'My data'!$AA$10"],"answer":["7"]})",
         "one cell is rows for a range, its value for a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(quorin_host::CallJson(sheet, "My data", c.typeText, "Interp1", c.arguments, Value::Number(7)),
                  std::string(c.expected) + "\n");
    }
}

}  // namespace
}  // namespace quorin_test
