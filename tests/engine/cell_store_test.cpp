// cell_store_test.cpp - the compact cell store: order, repeats, blanks and values set after sealing.
#include "engine/cell_store.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <tuple>

#include "engine/workbook.h"
#include "host/marshal.h"

namespace quorin_test {
namespace {

using quorin_host::CellStore;
using quorin_host::FormatValue;
using quorin_host::Value;

TEST(CellStore, FindsWhatWasAddedInAnyOrder)
{
    CellStore store;
    store.SetSheets(2);
    store.Add(0, 5, 2, Value::Number(-0.0));
    store.Add(0, 0, 7, Value::Text("first"));
    store.Add(1, 3, 0, Value::Boolean(true));
    store.Add(0, 5, 1, Value::Number(1.5));
    store.Add(0, 5, 1, Value::Number(2.5));  // the same cell again: the last stands
    store.Add(0, 9, 3, Value{}, true);       // blank: formatting only
    store.Add(0, 8, 0, Value{});             // a formula never calculated
    store.Seal();
    const struct { uint32_t sheet, row; uint16_t column; const char* shown; bool there; const char* fault; } cases[] = {
        {0, 5, 1, "2.5", true, "a cell added twice kept its first value"},
        {0, 0, 7, "first", true, "a cell added after later rows not found (no sort)"},
        {1, 3, 0, "TRUE", true, "a cell of the second sheet not found"},
        {0, 9, 3, "", true, "a blank cell not there for the copy"},
        {0, 8, 0, "", true, "an empty formula cell not there"},
        {0, 5, 0, "", false, "a cell never added found"},
        {0, 1048575, 16383, "", false, "a cell past the last row read out of the row index"},
        {2, 0, 0, "", false, "a sheet past the last found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(store.Has(c.sheet, c.row, c.column), c.there);
        EXPECT_EQ(FormatValue(store.Get(c.sheet, c.row, c.column)), c.shown);
    }
    const double zero = store.Get(0, 5, 2).number;
    EXPECT_TRUE(std::signbit(zero)) << "a number's bits not kept as they are";
    EXPECT_EQ(store.RowsOf(0), 9u) << "a blank cell counted as holding something";
    EXPECT_EQ(store.ColumnsOf(0), 8u);
}

TEST(CellStore, SetChangesKindsAndAddsCellsNeverAdded)
{
    CellStore store;
    store.SetSheets(1);
    store.Add(0, 0, 0, Value::Text("text"));
    store.Add(0, 0, 1, Value::Number(1.0));
    store.Seal();
    store.Set(0, 0, 0, Value::Number(3.0));
    store.Set(0, 0, 1, Value::Error(quorin_host::xlerrNA));
    store.Set(0, 0, 0, Value::Text("again"));
    store.Set(0, 4, 20, Value::Number(7.0));
    EXPECT_EQ(FormatValue(store.Get(0, 0, 0)), "again") << "a value set over a number lost";
    EXPECT_EQ(FormatValue(store.Get(0, 0, 1)), "#N/A") << "an error set over a number lost";
    EXPECT_EQ(FormatValue(store.Get(0, 4, 20)), "7") << "a cell set that was never added lost";
    EXPECT_EQ(store.RowsOf(0), 5u) << "a cell set outside the added ones not spanned";
    EXPECT_EQ(store.ColumnsOf(0), 21u);
    store.Add(0, 2, 3, Value::Number(9.0));
    EXPECT_FALSE(store.Sealed());
    store.Seal();
    EXPECT_EQ(FormatValue(store.Get(0, 2, 3)), "9") << "a cell added after sealing not found once sealed again";
    EXPECT_EQ(FormatValue(store.Get(0, 0, 0)), "again") << "sealing again lost a cell";
}

// A text is kept once however many cells hold it, and a copy shares the values it was made with (a
// workbook's text is not held twice by its evaluation); what either changes after stays its own.
TEST(CellStore, ACopySharesItsValuesButNotItsChanges)
{
    CellStore book;
    book.SetSheets(1);
    book.Add(0, 0, 0, Value::Text("cached"));
    book.Add(0, 0, 1, Value::Text("cached"));  // one text in two cells, kept once
    book.Seal();
    CellStore evaluation = book;
    evaluation.Set(0, 0, 0, Value::Text("computed"));
    evaluation.Set(0, 0, 0, Value::Text("again"));
    EXPECT_EQ(FormatValue(book.Get(0, 0, 0)), "cached") << "a copy's change written into the values it shares";
    EXPECT_EQ(FormatValue(evaluation.Get(0, 0, 0)), "again");
    EXPECT_EQ(FormatValue(evaluation.Get(0, 0, 1)), "cached") << "a change to one cell of a text kept once changed the other";
    evaluation.Add(0, 1, 0, Value::Text("added"));
    evaluation.Seal();
    EXPECT_EQ(FormatValue(evaluation.Get(0, 0, 0)), "again") << "a value stored after copying lost when sealed again";
    EXPECT_EQ(FormatValue(evaluation.Get(0, 1, 0)), "added");
}

// A shared formula's cells, met one after another, keep one copy of the text; every formula still
// reads back its own text.
TEST(Workbook, FormulasShareTheTextTheyRepeat)
{
    quorin_host::Workbook book;
    book.AddSheet("S");
    const char* texts[] = {"StudentT(A1)", "StudentT(A1)", "Polynomial(B1:C1,A1)", "StudentT(A1)", "StudentT(A2)", "Polynomial(B1:C1,A1)"};
    uint32_t row = 0;
    for (const char* text : texts) {
        quorin_host::WorkbookFormula formula;
        formula.text = text;
        book.SetFormula(0, row++, 4, formula);
    }
    ASSERT_EQ(book.formulas.size(), 6u);
    for (size_t k = 0; k < book.formulas.size(); ++k) EXPECT_EQ(book.TextOf(book.formulas[k]), texts[k]) << "formula " << k;
    EXPECT_EQ(book.formulaTexts.size(), 3u) << "a repeated text kept again";
}

// A row's records are found with one search and walked along: a cell skipped, one read twice, one set
// after the seal or one never added would give another record than the cell-by-cell copy gives.
TEST(CellStore, RecordsOfAnAreaAreThoseOfItsCellsOneByOne)
{
    CellStore store;
    store.SetSheets(1);
    store.Add(0, 2, 1, Value::Number(2.385));
    store.Add(0, 2, 3, Value::Text("beside"));
    store.Add(0, 3, 2, Value::Error(7));
    store.Add(0, 4, 1, Value{}, true);
    store.Add(0, 4, 4, Value::Number(-0.0));
    store.Seal();
    store.Set(0, 3, 1, Value::Number(9.75));   // never added: kept apart from the sealed rows
    store.Set(0, 2, 3, Value::Boolean(true));  // added: changed where it lies
    const quorin_host::Area area{1, 5, 1, 4, 0};  // rows 1 to 5 (row 5 past the last), columns B to E
    std::vector<XLOPER> records(20);
    std::vector<std::vector<char>> strings, oneByOne;
    ASSERT_TRUE(store.Records(0, area, records.data(), &strings));
    for (uint32_t row = 1; row <= 5; ++row) {
        for (uint16_t column = 1; column <= 4; ++column) {
            XLOPER expected{};
            ASSERT_TRUE(quorin_host::ScalarRecord(store.Copy(0, row, column), &expected, &oneByOne));
            const XLOPER& got = records[(row - 1) * 4 + (column - 1)];
            EXPECT_EQ(FormatValue(quorin_host::ValueOfRecord(&got)), FormatValue(quorin_host::ValueOfRecord(&expected)))
                << "row " << row << " column " << column;
            EXPECT_EQ(got.xltype, expected.xltype) << "row " << row << " column " << column;
        }
    }
    store.Set(0, 1, 2, Value::Uncalculated());
    EXPECT_FALSE(store.Records(0, area, records.data(), &strings)) << "an uncalculated cell handed over as a value";
}

// Numbers in consecutive rows of a column are kept apart from other cells. Against a map of the last
// value each place was given: a run not giving way to a cell added or set again in its rows, a stale
// entry beside a run read instead of it, a run's rows not counted in the sheet's extent, a copy's
// change reaching the store it was copied from, or an area straddling runs and entries read wrongly.
TEST(CellStore, NumbersInRunsReadAsTheLastValueEachCellWasGiven)
{
    constexpr uint32_t Rows = 48;
    constexpr uint16_t Columns = 4;
    using Place = std::pair<uint32_t, uint16_t>;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        const auto draw = [&](uint32_t bound) { return static_cast<uint32_t>(random() % bound); };
        const auto kindOf = [&](uint32_t n) {
            const uint32_t pick = draw(12);
            return pick < 9 ? Value::Number(n + 0.5) : pick == 9 ? Value::Text("t" + std::to_string(n)) : pick == 10 ? Value::Error(7) : Value{};
        };
        CellStore store;
        store.SetSheets(1);
        std::map<Place, std::pair<Value, bool>> last;  // value, blank
        // Mostly reading order, so that runs form, with cells added again, out of order or ahead of
        // their row (where a run then reaches them).
        uint32_t n = 0;
        const uint32_t gap = 17 + draw(12);
        for (uint32_t row = 0; row < Rows; ++row) {
            // Column A numbers all the way, alone in the last row: the sheet's extent is its run's.
            // Column B numbers but for one gap: a run either side. C and D anything, mostly short runs.
            for (uint16_t column = 0; column < (row + 1 < Rows ? Columns : 1); ++column) {
                if (column > 1 ? draw(16) == 0 : column == 1 && row == gap) continue;
                const bool blank = column > 1 && draw(20) == 0;
                const Value v = blank ? Value{} : column < 2 ? Value::Number(++n) : kindOf(++n);
                store.Add(0, row, column, v, blank);
                last[{row, column}] = {v, blank};
            }
            if (draw(6) == 0) {
                const Place again(draw(row + 2), static_cast<uint16_t>(draw(Columns)));
                const Value v = kindOf(++n);
                store.Add(0, again.first, again.second, v);
                last[again] = {v, false};
            }
        }
        store.Seal();
        const CellStore before = store;
        const auto oracleBefore = last;
        CellStore copy = store;
        for (int k = 0; k < 6; ++k) {
            const Place at(draw(Rows + 2), static_cast<uint16_t>(draw(Columns)));
            const Value v = kindOf(++n);
            copy.Set(0, at.first, at.second, v);
            last[at] = {v, false};
        }
        const auto expectSame = [&](const CellStore& got, const std::map<Place, std::pair<Value, bool>>& want, const char* which) {
            SCOPED_TRACE(std::string(which) + ", seed " + std::to_string(seed));
            uint32_t rows = 0, columns = 0;
            for (const auto& [place, cell] : want) {
                if (!cell.second) rows = std::max(rows, place.first + 1), columns = std::max<uint32_t>(columns, place.second + 1u);
            }
            EXPECT_EQ(got.RowsOf(0), rows);
            EXPECT_EQ(got.ColumnsOf(0), columns);
            std::vector<XLOPER> records((Rows + 2) * Columns);
            std::vector<std::vector<char>> strings;
            ASSERT_TRUE(got.Records(0, quorin_host::Area{0, Rows + 1, 0, Columns - 1, 0}, records.data(), &strings));
            for (uint32_t row = 0; row < Rows + 2; ++row) {
                for (uint16_t column = 0; column < Columns; ++column) {
                    const auto found = want.find({row, column});
                    const Value expected = found == want.end() ? Value{} : found->second.first;
                    bool there = false;
                    EXPECT_EQ(FormatValue(got.Copy(0, row, column, &there)), FormatValue(expected)) << row << "," << column;
                    EXPECT_EQ(there, found != want.end()) << row << "," << column;
                    EXPECT_EQ(FormatValue(quorin_host::ValueOfRecord(&records[row * Columns + column])), FormatValue(expected))
                        << "record " << row << "," << column;
                }
            }
            // Column A alone is copied from its run, with no walk over the entries after to mend it.
            std::vector<XLOPER> alone(Rows + 2);
            ASSERT_TRUE(got.Records(0, quorin_host::Area{0, Rows + 1, 0, 0, 0}, alone.data(), &strings));
            for (uint32_t row = 0; row < Rows + 2; ++row) {
                EXPECT_EQ(FormatValue(quorin_host::ValueOfRecord(&alone[row])), FormatValue(quorin_host::ValueOfRecord(&records[row * Columns])))
                    << "column A alone, row " << row;
            }
        };
        expectSame(copy, last, "the copy set");
        expectSame(store, oracleBefore, "the store copied");
        expectSame(before, oracleBefore, "a copy made before");
    }
}

}  // namespace
}  // namespace quorin_test
