// callbacks.cpp - the host's side of every callback the module makes: its name, coercion, release of
// what the host filled in, registration and alerts; with the tracking of every record the host fills
// and the faults a test can ask it to answer with.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/substitute_host.h"
#include "host/xlcall32.h"

namespace quorin_host {

// Arrays this large are kept for reuse when released; smaller ones cost less than the bookkeeping,
// and a fresh address for each keeps a second release of a small array plain to see.
constexpr size_t SpareFrom = 4096;

// What a filled-in record is tracked by until released: its text or its elements; nullptr for a
// record that holds nothing of the host's.
static const void* TrackedKey(const XLOPER& record)
{
    const uint16_t type = record.xltype & 0x0FFF;
    if (type == xltypeStr) return record.val.str;
    if (type == xltypeMulti) return record.val.array.lparray;
    return nullptr;
}

char* SubstituteHost::TrackString(const std::string& text)
{
    Owned owned;
    XLOPER record{};
    ScalarRecord(Value::Text(text), &record, &owned.strings);
    char* counted = owned.strings.back().data();
    outstanding_[counted] = std::move(owned);
    return counted;
}

XLOPER* SubstituteHost::TrackArray(size_t count)
{
    Owned owned;
    if (spare_.elements != nullptr && spare_.count >= count && spare_.count / 2 <= count) {
        owned.elements = std::move(spare_.elements);
        owned.count = spare_.count;
    } else {
        owned.count = std::max<size_t>(count, 1);
        owned.elements.reset(new XLOPER[owned.count]);
    }
    XLOPER* elements = owned.elements.get();
    outstanding_[elements] = std::move(owned);
    return elements;
}

void SubstituteHost::Release(XLOPER* record)
{
    if (record == nullptr) {
        ++releaseViolations;
        return;
    }
    const void* key = TrackedKey(*record);
    if (key == nullptr) return;
    auto found = outstanding_.find(key);
    if (found == outstanding_.end()) {
        ++releaseViolations;
        return;
    }
    if (found->second.lent > 1) {
        --found->second.lent;
        return;
    }
    // The array's string elements live in the same ownership record.
    if (found->second.count >= SpareFrom) spare_.elements = std::move(found->second.elements), spare_.count = found->second.count;
    outstanding_.erase(found);
}

int SubstituteHost::CoerceToArray(const Value& source, XLOPER* result)
{
    uint32_t rows = 1, columns = 1;
    const Area* area = nullptr;
    if (source.kind == Kind::Reference) {
        // Only one rectangle can become an array.
        if (source.areas.size() != 1) return xlretFailed;
        area = &source.areas[0];
        if (area->rowLast < area->rowFirst || area->columnLast < area->columnFirst) return xlretFailed;
        const uint64_t areaRows = uint64_t{area->rowLast} - area->rowFirst + 1;
        const uint64_t areaColumns = uint64_t{area->columnLast} - area->columnFirst + 1;
        if (areaRows > MaxRecordCount || areaColumns > MaxRecordCount) {
            refusal_ = "a range of " + std::to_string(areaRows) + " rows and " + std::to_string(areaColumns) +
                       " columns cannot be passed: the host's array record counts rows and columns in 16 bits, at most 65,535 each";
            return xlretFailed;
        }
        rows = static_cast<uint32_t>(areaRows);
        columns = static_cast<uint32_t>(areaColumns);
    } else if (source.kind == Kind::Array) {
        rows = static_cast<uint32_t>(source.rows);
        columns = static_cast<uint32_t>(source.columns);
    }

    const size_t count = static_cast<size_t>(rows) * columns;
    const CellSource& cells = Cells();
    size_t stride = 0;
    bool lasting = false;
    const XLOPER* block = (area != nullptr) ? cells.Records(*area, &stride, &lasting) : nullptr;
    const auto answer = [&](XLOPER* elements) {
        result->xltype = xltypeMulti;
        result->val.array.lparray = elements;
        result->val.array.rows = static_cast<uint16_t>(rows);
        result->val.array.columns = static_cast<uint16_t>(columns);
        return xlretSuccess;
    };
    if (block != nullptr && lasting && stride == columns) {
        // Lent, not copied: released, it is only no longer counted as outstanding.
        ++outstanding_[block].lent;
        return answer(const_cast<XLOPER*>(block));
    }
    XLOPER* elements = TrackArray(count);
    Owned& owned = outstanding_[elements];
    if (area != nullptr) {
        // A source that keeps records hands them over whole; only text needs a copy of its own.
        if (block != nullptr) {
            // Copied a cache-sized piece at a time, each looked through for text while it is at hand.
            constexpr size_t Piece = 1024;
            const auto copy = [&](XLOPER* out, const XLOPER* in, size_t n) {
                std::memcpy(out, in, n * sizeof(XLOPER));
                for (size_t k = 0; k < n; ++k) {
                    if ((out[k].xltype & 0x0FFF) != xltypeStr) continue;
                    const char* text = out[k].val.str;
                    owned.strings.emplace_back(text, text + 1 + static_cast<unsigned char>(text[0]));
                    out[k].val.str = owned.strings.back().data();
                }
            };
            if (stride == columns) {
                for (size_t k = 0; k < count; k += Piece) copy(elements + k, block + k, std::min(Piece, count - k));
            } else {
                for (uint32_t r = 0; r < rows; ++r) copy(elements + static_cast<size_t>(r) * columns, block + r * stride, columns);
            }
        } else if (!cells.RecordsInto(*area, elements, &owned.strings)) {
            owned.strings.clear();
            for (uint32_t r = 0; r < rows; ++r) {
                XLOPER* out = elements + static_cast<size_t>(r) * columns;
                for (uint32_t c = 0; c < columns; ++c) {
                    const Value& v = cells.CellAt(area->sheet, area->rowFirst + r, static_cast<uint16_t>(area->columnFirst + c));
                    if (!ScalarRecord(v, &out[c], &owned.strings)) {
                        outstanding_.erase(elements);
                        return xlretUncalced;
                    }
                }
            }
        }
    } else {
        for (size_t k = 0; k < count; ++k) {
            const Value* v = &source;
            if (source.kind == Kind::Array) v = (k < source.elements.size()) ? &source.elements[k] : nullptr;
            if (v == nullptr || v->kind == Kind::Array || v->kind == Kind::Reference) {
                elements[k].xltype = xltypeNil;
            } else if (!ScalarRecord(*v, &elements[k], &owned.strings)) {
                outstanding_.erase(elements);
                return xlretUncalced;
            }
        }
    }
    return answer(elements);
}

int SubstituteHost::Coerce(XLOPER* source, XLOPER* target, XLOPER* result)
{
    ++coercionsSeen_;
    if (faults.coerceFailAlways || coercionsSeen_ == faults.coerceFailAt) return faults.coerceAnswer;
    if (source == nullptr || target == nullptr || result == nullptr) return xlretFailed;
    if (faults.coerceVerbatim != nullptr) {
        *result = *faults.coerceVerbatim;
        if (const void* key = TrackedKey(*result)) outstanding_[key] = Owned{};
        return xlretSuccess;
    }
    const int targetType = (target->xltype & 0x0FFF) == xltypeInt ? target->val.w
                           : (target->xltype & 0x0FFF) == xltypeNum ? static_cast<int>(target->val.num)
                                                                     : 0;
    const Value value = ValueOfArgument(source);
    if (targetType == xltypeMulti) return CoerceToArray(value, result);

    if (value.kind == Kind::Reference && value.areas.size() == 1) {
        const Area& a = value.areas[0];
        if (Cells().CellAt(a.sheet, a.rowFirst, a.columnFirst).kind == Kind::Uncalculated) return xlretUncalced;
    }
    double number = 0.0;
    if (!NumberArgument(value, Cells(), &number)) return xlretFailed;
    if (targetType == xltypeNum) {
        result->xltype = xltypeNum;
        result->val.num = number;
        return xlretSuccess;
    }
    if (targetType == xltypeInt) {
        const double rounded = std::round(number);
        if (!(std::fabs(rounded) <= 32767.0)) return xlretFailed;
        result->xltype = xltypeInt;
        result->val.w = static_cast<int16_t>(rounded);
        return xlretSuccess;
    }
    return xlretFailed;
}

int SubstituteHost::RegisterFunction(XLOPER* result, int count, XLOPER* opers[])
{
    Registration registration;
    for (int a = 0; a < count; ++a) {
        const XLOPER* r = opers[a];
        registration.texts.push_back((r != nullptr && (r->xltype & 0x0FFF) == xltypeStr) ? CountedText(r->val.str) : std::string("<not a string>"));
    }
    ++registrationsSeen_;
    // Like the real host, refuse a procedure the module does not export.
    if (registration.texts.size() > 1) registration.procedure = Procedure(registration.texts[1].c_str());
    registration.accepted = registration.procedure != nullptr && registrationsSeen_ != faults.refuseRegistration;
    registrations.push_back(registration);
    if (result != nullptr) {
        result->xltype = registration.accepted ? xltypeNum : xltypeErr;
        if (registration.accepted) result->val.num = static_cast<double>(registrationsSeen_);
        else result->val.err = xlerrValue;
    }
    return registration.accepted ? xlretSuccess : xlretFailed;
}

int SubstituteHost::Handle(int xlfn, XLOPER* operRes, int count, XLOPER* opers[])
{
    ++callbackCounts[xlfn];
    switch (xlfn) {
    case xlFree:
        for (int a = 0; a < count; ++a) Release(opers[a]);
        return xlretSuccess;
    case xlCoerce:
        if (count < 1) return xlretFailed;
        return Coerce(opers[0], count > 1 ? opers[1] : nullptr, operRes);
    case xlGetName:
        if (faults.failGetName || operRes == nullptr) return xlretFailed;
        operRes->xltype = xltypeStr;
        operRes->val.str = TrackString(ModulePath());
        return xlretSuccess;
    case xlfRegister:
        return RegisterFunction(operRes, count, opers);
    case xlcAlert: {
        Alert alert;
        if (count > 0 && opers[0] != nullptr && (opers[0]->xltype & 0x0FFF) == xltypeStr) alert.message = CountedText(opers[0]->val.str);
        if (count > 1 && opers[1] != nullptr && (opers[1]->xltype & 0x0FFF) == xltypeInt) alert.style = opers[1]->val.w;
        alerts.push_back(alert);
        return xlretSuccess;
    }
    default:
        return xlretInvXlfn;
    }
}

}  // namespace quorin_host
