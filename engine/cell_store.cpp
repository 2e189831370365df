// cell_store.cpp - cells as sorted sixteen-byte entries with a per-row index.
#include "engine/cell_store.h"

#include <algorithm>
#include <cstring>

#include "host/marshal.h"

namespace quorin_host {

namespace {

constexpr uint64_t PlaceBits = (uint64_t{1} << 56) - 1;
constexpr int ColumnBits = 14;

uint64_t Place(uint32_t row, uint16_t column) { return (uint64_t{row} << ColumnBits) | column; }
uint32_t RowOf(uint64_t key) { return static_cast<uint32_t>((key & PlaceBits) >> ColumnBits); }
uint16_t ColumnOf(uint64_t key) { return static_cast<uint16_t>(key & ((uint64_t{1} << ColumnBits) - 1)); }
uint8_t TagOf(uint64_t key) { return static_cast<uint8_t>(key >> 56); }

const Value& NoValue()
{
    static const Value none;
    return none;
}

const Value& UncalculatedValue()
{
    static const Value uncalculated = Value::Uncalculated();
    return uncalculated;
}

}  // namespace

void CellStore::SetSheets(size_t count)
{
    const size_t had = sheets_.size();
    sheets_.resize(count);
    for (size_t k = had; k < count; ++k) sheets_[k] = std::make_shared<Sheet>();
}

void CellStore::ClearSheet(uint32_t sheet)
{
    if (sheet < sheets_.size()) sheets_[sheet] = std::make_shared<Sheet>();
}

CellStore::Sheet& CellStore::Own(uint32_t sheet)
{
    std::shared_ptr<Sheet>& s = sheets_[sheet];
    if (s.use_count() > 1) s = std::make_shared<Sheet>(*s);
    return *s;
}

void CellStore::Store(Entry* entry, uint64_t place, const Value& value, bool blank)
{
    const uint8_t old = TagOf(entry->key);
    uint8_t tag = blank ? Blank : Empty;
    if (value.kind == Kind::Number) {
        tag = Number;
        std::memcpy(&entry->bits, &value.number, sizeof entry->bits);
    } else if (value.kind == Kind::Uncalculated) {
        // Every formula to compute is marked so at once: the mark takes no room beside.
        tag = Uncalculated;
    } else if (value.kind == Kind::Text && !sealed_) {
        tag = Other;
        const auto found = interned_.find(value.text);
        if (found != interned_.end()) {
            entry->bits = found->second;
        } else {
            entry->bits = own_.size() | OwnBit;
            own_.push_back(value);
            interned_.emplace(own_.back().text, entry->bits);
        }
    } else if (value.kind != Kind::Empty || value.missing) {
        tag = Other;
        // An interned text may stand in other cells too: it is never written over.
        if (old == Other && (entry->bits & OwnBit) != 0 && own_[entry->bits & ~OwnBit].kind != Kind::Text) {
            own_[entry->bits & ~OwnBit] = value;
        } else {
            entry->bits = own_.size() | OwnBit;
            own_.push_back(value);
        }
    }
    entry->key = (uint64_t{tag} << 56) | place;
}

void CellStore::Add(uint32_t sheet, uint32_t row, uint16_t column, const Value& value, bool blank)
{
    Sheet& s = Own(sheet);
    sealed_ = false;
    if (column < RunColumns) {
        if (column >= s.runs.size() && value.kind == Kind::Number) s.runs.resize(size_t{column} + 1);
        if (column < s.runs.size()) {
            std::vector<Run>& runs = s.runs[column];
            size_t at = 0;
            if (const Run* run = s.RunAt(row, column, &at)) {
                // Added again: a number takes its place in the run; anything else stands after the
                // run's numbers, made entries.
                if (value.kind == Kind::Number) {
                    runs[at].numbers[row - run->first] = value.number;
                    return;
                }
                Spill(s, column, at);
            } else if (value.kind == Kind::Number) {
                if (!runs.empty() && row == runs.back().End()) {
                    runs.back().numbers.push_back(value.number);
                    return;
                }
                if (runs.empty() || row > runs.back().End()) {
                    if (!runs.empty() && runs.back().numbers.size() < ShortestRun) Spill(s, column, runs.size() - 1);
                    runs.push_back(Run{row, {value.number}});
                    return;
                }
                // Above the column's last run (added out of order): an entry.
            }
        }
    }
    s.entries.push_back(Entry{0, 0});
    Store(&s.entries.back(), Place(row, column), value, blank);
}

void CellStore::Seal()
{
    if (sealed_) return;
    for (uint32_t sheet = 0; sheet < sheets_.size(); ++sheet) {
        Sheet& s = Own(sheet);
        for (uint16_t column = 0; column < s.runs.size(); ++column) {
            std::vector<Run>& runs = s.runs[column];
            for (size_t k = runs.size(); k-- > 0;) {
                if (runs[k].numbers.size() < ShortestRun) Spill(s, column, k);
                else runs[k].numbers.shrink_to_fit();
            }
        }
    }
    sealed_ = true;
    // The values stored so far join the shared ones, so that a copy made now shares them.
    if (!own_.empty()) {
        auto merged = std::make_shared<std::vector<Value>>();
        if (shared_) *merged = *shared_;
        const uint64_t base = merged->size();
        merged->reserve(base + own_.size());
        for (Value& v : own_) merged->push_back(std::move(v));
        own_ = std::deque<Value>();
        interned_ = std::unordered_map<std::string_view, uint64_t>();
        for (uint32_t k = 0; k < sheets_.size(); ++k) {
            for (Entry& e : Own(k).entries) {
                if (TagOf(e.key) == Other && (e.bits & OwnBit) != 0) e.bits = base + (e.bits & ~OwnBit);
            }
        }
        shared_ = std::move(merged);
    }
    for (uint32_t sheet = 0; sheet < sheets_.size(); ++sheet) {
        Order(Own(sheet));
    }
}

void CellStore::Order(Sheet& s)
{
    std::vector<Entry>& entries = s.entries;
    const auto before = [](const Entry& a, const Entry& b) { return (a.key & PlaceBits) < (b.key & PlaceBits); };
    // Reading order needs no sort; any other order is sorted, the last of a cell added twice kept.
    bool strictly = true;
    for (size_t k = 1; k < entries.size() && strictly; ++k) strictly = before(entries[k - 1], entries[k]);
    if (!strictly) {
        std::stable_sort(entries.begin(), entries.end(), before);
        size_t kept = 0;
        for (size_t k = 0; k < entries.size(); ++k) {
            if (kept > 0 && !before(entries[kept - 1], entries[k])) --kept;
            entries[kept++] = entries[k];
        }
        entries.resize(kept);
    }
    entries.shrink_to_fit();
    s.rowStart.clear();
    const uint32_t rows = entries.empty() ? 0 : RowOf(entries.back().key) + 1;
    s.rowStart.assign(size_t{rows} + 1, 0);
    size_t at = 0;
    for (uint32_t r = 0; r <= rows; ++r) {
        while (at < entries.size() && RowOf(entries[at].key) < r) ++at;
        s.rowStart[r] = static_cast<uint32_t>(at);
    }
}

const CellStore::Run* CellStore::Sheet::RunAt(uint32_t row, uint16_t column, size_t* at) const
{
    if (column >= runs.size() || runs[column].empty()) return nullptr;
    const std::vector<Run>& list = runs[column];
    // The last run whose first row is row or one above it.
    const auto after = std::upper_bound(list.begin(), list.end(), row, [](uint32_t r, const Run& run) { return r < run.first; });
    if (after == list.begin() || !(after - 1)->Holds(row)) return nullptr;
    if (at != nullptr) *at = static_cast<size_t>(after - 1 - list.begin());
    return &*(after - 1);
}

void CellStore::Spill(Sheet& s, uint16_t column, size_t at)
{
    std::vector<Run>& runs = s.runs[column];
    const Run& run = runs[at];
    s.entries.reserve(s.entries.size() + run.numbers.size());
    for (size_t k = 0; k < run.numbers.size(); ++k) {
        Entry e{(uint64_t{Number} << 56) | Place(run.first + static_cast<uint32_t>(k), column), 0};
        std::memcpy(&e.bits, &run.numbers[k], sizeof e.bits);
        s.entries.push_back(e);
    }
    runs.erase(runs.begin() + static_cast<ptrdiff_t>(at));
    // Appended after every entry, the run's numbers are kept over any entry of the same place, which
    // was added before them.
    if (sealed_) Order(s);
}

const CellStore::Entry* CellStore::Find(uint32_t sheet, uint32_t row, uint16_t column) const
{
    if (sheet >= sheets_.size()) return nullptr;
    const Sheet& s = *sheets_[sheet];
    if (size_t{row} + 1 >= s.rowStart.size()) return nullptr;
    const Entry* first = s.entries.data() + s.rowStart[row];
    const Entry* last = s.entries.data() + s.rowStart[row + 1];
    const uint64_t place = Place(row, column);
    const Entry* at = std::lower_bound(first, last, place, [](const Entry& e, uint64_t p) { return (e.key & PlaceBits) < p; });
    return (at != last && (at->key & PlaceBits) == place) ? at : nullptr;
}

CellStore::Entry* CellStore::Find(uint32_t sheet, uint32_t row, uint16_t column)
{
    // Only a cell there is changed: a shared sheet is made this store's own then, not on every look.
    if (static_cast<const CellStore*>(this)->Find(sheet, row, column) == nullptr) return nullptr;
    Own(sheet);
    return const_cast<Entry*>(static_cast<const CellStore*>(this)->Find(sheet, row, column));
}

bool CellStore::Has(uint32_t sheet, uint32_t row, uint16_t column) const
{
    bool there = false;
    Get(sheet, row, column, &there);
    return there;
}

const Value& CellStore::Get(uint32_t sheet, uint32_t row, uint16_t column, bool* there) const
{
    if (const double* number = NumberAt(sheet, row, column)) {
        if (there != nullptr) *there = true;
        scratch_ = Value::Number(*number);
        return scratch_;
    }
    const Entry* e = Find(sheet, row, column);
    if (there != nullptr) *there = e != nullptr;
    if (e != nullptr) {
        switch (TagOf(e->key)) {
        case Number: {
            scratch_ = Value{};
            scratch_.kind = Kind::Number;
            std::memcpy(&scratch_.number, &e->bits, sizeof scratch_.number);
            return scratch_;
        }
        case Other: return (e->bits & OwnBit) != 0 ? own_[e->bits & ~OwnBit] : (*shared_)[e->bits];
        case Uncalculated: return UncalculatedValue();
        default: return NoValue();
        }
    }
    if (sheet >= sheets_.size() || sheets_[sheet]->added.empty()) return NoValue();
    const auto& added = sheets_[sheet]->added;
    const auto found = added.find(Place(row, column));
    if (there != nullptr) *there = found != added.end();
    return found == added.end() ? NoValue() : found->second;
}

Value CellStore::Copy(uint32_t sheet, uint32_t row, uint16_t column, bool* there) const
{
    if (const double* number = NumberAt(sheet, row, column)) {
        if (there != nullptr) *there = true;
        return Value::Number(*number);
    }
    const Entry* e = Find(sheet, row, column);
    if (e == nullptr || TagOf(e->key) != Number) return Get(sheet, row, column, there);
    if (there != nullptr) *there = true;
    double number = 0.0;
    std::memcpy(&number, &e->bits, sizeof number);
    return Value::Number(number);
}

void CellStore::Set(uint32_t sheet, uint32_t row, uint16_t column, Value value)
{
    if (NumberAt(sheet, row, column) != nullptr) {
        Sheet& s = Own(sheet);
        size_t at = 0;
        s.RunAt(row, column, &at);
        Run& run = s.runs[column][at];
        if (value.kind == Kind::Number) {
            run.numbers[row - run.first] = value.number;
            return;
        }
        Spill(s, column, at);  // the cell is an entry now, set below
    }
    if (Entry* e = Find(sheet, row, column)) {
        Store(e, Place(row, column), value, false);
        return;
    }
    Own(sheet).added[Place(row, column)] = std::move(value);
}

bool CellStore::Records(uint32_t sheet, const Area& area, XLOPER* out, std::vector<std::vector<char>>* strings) const
{
    const size_t columns = size_t{area.columnLast} - area.columnFirst + 1;
    const Sheet* s = sheet < sheets_.size() ? sheets_[sheet].get() : nullptr;
    // Held here: the records written could otherwise be taken to change the sheet's vectors, which
    // would then be read again for every cell.
    const Entry* const entries = s != nullptr ? s->entries.data() : nullptr;
    const uint32_t* const rowStart = s != nullptr ? s->rowStart.data() : nullptr;
    const size_t rowsIndexed = s != nullptr ? s->rowStart.size() : 0;
    // A column of the area whose run holds all its rows is copied straight from the run (the walk
    // below writes the same records over it); an area of such columns alone needs no walk.
    bool walk = false;
    for (size_t c = 0; c < columns; ++c) {
        const size_t column = area.columnFirst + c;
        const Run* run = s != nullptr ? s->RunAt(area.rowFirst, static_cast<uint16_t>(column)) : nullptr;
        if (run == nullptr || !run->Holds(area.rowLast)) {
            walk = true;
            continue;
        }
        const double* from = run->numbers.data() + (area.rowFirst - run->first);
        XLOPER* to = out + c;
        for (uint32_t r = area.rowFirst; r <= area.rowLast; ++r, ++from, to += columns) {
            to->val.num = *from;
            to->xltype = xltypeNum;
        }
    }
    if (!walk) return true;
    for (uint32_t row = area.rowFirst; row <= area.rowLast; ++row) {
        XLOPER* line = out + size_t{row - area.rowFirst} * columns;
        const Entry *at = nullptr, *last = nullptr;
        if (size_t{row} + 1 < rowsIndexed) {
            const Entry* first = entries + rowStart[row];
            last = entries + rowStart[row + 1];
            // A row filled without gaps has its cell where its column says: no search.
            const ptrdiff_t guess = first < last ? ptrdiff_t{area.columnFirst} - ColumnOf(first->key) : -1;
            if (guess >= 0 && guess < last - first && (first[guess].key & PlaceBits) == Place(row, area.columnFirst)) {
                at = first + guess;
            } else {
                at = std::lower_bound(first, last, Place(row, area.columnFirst), [](const Entry& e, uint64_t p) { return (e.key & PlaceBits) < p; });
            }
        }
        for (size_t c = 0; c < columns; ++c) {
            const uint16_t column = static_cast<uint16_t>(area.columnFirst + c);
            const uint64_t key = at != last ? at->key : 0;
            const bool there = at != last && (key & PlaceBits) == Place(row, column);
            if (const double* number = s != nullptr ? s->Number(row, column) : nullptr) {
                line[c].val.num = *number;
                line[c].xltype = xltypeNum;
                at += there;  // an entry of the same place was added before the run's number
                continue;
            }
            if (there && TagOf(key) == Number) {
                double number = 0.0;
                std::memcpy(&number, &at->bits, sizeof number);
                line[c].val.num = number;
                line[c].xltype = xltypeNum;
                ++at;
                continue;
            }
            at += there;
            // Anything else (text, an error, a cell set since the seal or none) as Copy has it.
            if (!ScalarRecord(Copy(sheet, row, column), &line[c], strings)) return false;
        }
    }
    return true;
}

uint32_t CellStore::RowsOf(uint32_t sheet) const
{
    if (sheet >= sheets_.size()) return 0;
    const Sheet& s = *sheets_[sheet];
    uint32_t rows = 0;
    for (auto e = s.entries.rbegin(); e != s.entries.rend(); ++e) {
        if (TagOf(e->key) == Blank) continue;
        rows = RowOf(e->key) + 1;
        break;
    }
    for (const auto& entry : s.added) rows = std::max(rows, RowOf(entry.first) + 1);
    for (const std::vector<Run>& runs : s.runs) {
        if (!runs.empty()) rows = std::max(rows, runs.back().End());
    }
    return rows;
}

uint16_t CellStore::ColumnsOf(uint32_t sheet) const
{
    if (sheet >= sheets_.size()) return 0;
    uint32_t columns = 0;
    for (const Entry& e : sheets_[sheet]->entries) {
        if (TagOf(e.key) != Blank) columns = std::max<uint32_t>(columns, uint32_t{ColumnOf(e.key)} + 1);
    }
    for (const auto& entry : sheets_[sheet]->added) columns = std::max<uint32_t>(columns, uint32_t{ColumnOf(entry.first)} + 1);
    const std::vector<std::vector<Run>>& runs = sheets_[sheet]->runs;
    for (size_t c = runs.size(); c > columns; --c) {
        if (!runs[c - 1].empty()) columns = static_cast<uint32_t>(c);
    }
    return static_cast<uint16_t>(std::min<uint32_t>(columns, 65535));
}

}  // namespace quorin_host
