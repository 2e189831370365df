// writer.cpp - a copy of a workbook with new cached values, written beside its destination and renamed into place.
#include "xlsx/writer.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <string_view>
#include <vector>

#include "engine/text_file.h"
#include "xlsx/archive.h"
#include "xlsx/deflate.h"
#include "xlsx/sheet_stream.h"

namespace quorin_host {

namespace {

using Position = std::pair<uint32_t, uint16_t>;

// The error values a cell may store; a file with any other fails to open in the spreadsheet.
constexpr const char* StorableErrors[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};

// A part deflated here, handed to libzip as an entry's stored bytes: raw deflate, and the size and
// CRC-32 of what it inflates to.
struct DeflatedPart {
    DeflatedPart() { zip_error_init(&error); }
    ~DeflatedPart() { zip_error_fini(&error); }
    DeflatedPart(const DeflatedPart&) = delete;
    DeflatedPart& operator=(const DeflatedPart&) = delete;
    std::string name;
    std::string bytes;
    uint64_t size = 0;
    uint32_t crc = 0;
    uint64_t offset = 0;  // libzip's reading position
    zip_error_t error;
};

// libzip reads a deflated part through this: its stat says the bytes are deflated already, so they
// are written as they are, not inflated and deflated again.
zip_int64_t ReadDeflated(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    DeflatedPart& part = *static_cast<DeflatedPart*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN: part.offset = 0; return 0;
    case ZIP_SOURCE_READ: {
        const zip_uint64_t n = std::min<zip_uint64_t>(length, part.bytes.size() - part.offset);
        std::memcpy(data, part.bytes.data() + part.offset, static_cast<size_t>(n));
        part.offset += n;
        return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE: case ZIP_SOURCE_FREE: return 0;
    case ZIP_SOURCE_STAT: {
        zip_stat_t* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->size = part.size;
        stat->comp_size = part.bytes.size();
        stat->comp_method = ZIP_CM_DEFLATE;
        stat->crc = part.crc;
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&part.error, data, length);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
                                              ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&part.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// The shortest text that reads back as the same double, as a spreadsheet writes it.
std::string NumberText(double number)
{
    char text[32];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, number);
    return std::string(text, result.ptr);
}

// An element named like the cell, so that a part binding the main namespace to a prefix keeps it.
std::string SiblingName(const std::string& cellName, const char* localName)
{
    const size_t colon = cellName.find(':');
    return (colon == std::string::npos ? std::string() : cellName.substr(0, colon + 1)) + localName;
}

void AppendEscaped(std::string* out, const std::string& text, bool attribute)
{
    for (const char c : text) {
        switch (c) {
        case '&': *out += "&amp;"; break;
        case '<': *out += "&lt;"; break;
        case '>': *out += "&gt;"; break;
        case '"': *out += attribute ? "&quot;" : "\""; break;
        // The parser gave these to an attribute as they were; only references keep them so.
        case '\t': *out += attribute ? "&#9;" : "\t"; break;
        case '\n': *out += attribute ? "&#10;" : "\n"; break;
        case '\r': *out += "&#13;"; break;
        default: *out += c;
        }
    }
}

// The cell's element with the update's stored value: its other attributes keep their order and t=
// follows them; its formula and every other child keep their bytes; the new <v> takes the old one's
// place, or follows <f>, or opens the content; an inline string, the old stored value, goes.
std::string RewrittenCell(const CellMarkup& cell, std::string_view raw, const CachedUpdate& update)
{
    std::string type;
    std::string text;
    switch (update.kind) {
    case CachedKind::Number:
        if (std::isfinite(update.number)) {
            text = NumberText(update.number);
        } else {
            type = "e";
            text = "#NUM!";
        }
        break;
    case CachedKind::Error:
        type = "e";
        text = StoredErrorText(update.text);
        break;
    case CachedKind::Boolean:
        type = "b";
        text = update.boolean ? "1" : "0";
        break;
    case CachedKind::String:
        type = "str";
        text = update.text;
        break;
    }
    std::string element = "<" + cell.name;
    for (const auto& attribute : cell.attributes) {
        if (attribute.first == "t") continue;
        element += " " + attribute.first + "=\"";
        AppendEscaped(&element, attribute.second, true);
        element += "\"";
    }
    if (!type.empty()) element += " t=\"" + type + "\"";
    element += ">";
    const uint64_t at = cell.hasValue ? cell.valueBegin : (cell.hasFormula ? cell.formulaEnd : cell.contentBegin);
    const std::string valueName = SiblingName(cell.name, "v");
    std::string value = "<" + valueName + ">";
    AppendEscaped(&value, text, false);
    value += "</" + valueName + ">";
    // The content is what lies between the start tag and the end tag, "</c>" or "</x:c >".
    const uint64_t contentEnd = cell.emptyElement ? cell.end : cell.begin + raw.rfind('<');
    for (uint64_t offset = cell.contentBegin; offset < contentEnd;) {
        if (offset == at) element += value;
        if (cell.hasValue && offset == cell.valueBegin) {
            offset = cell.valueEnd;
        } else if (cell.hasInline && offset == cell.inlineBegin) {
            offset = cell.inlineEnd;
        } else {
            element += raw[static_cast<size_t>(offset - cell.begin)];
            ++offset;
        }
    }
    if (at == contentEnd) element += value;
    element += "</" + cell.name + ">";
    return element;
}

bool EditSheet(zip_t* archive, const std::string& part, std::vector<const CachedUpdate*> updates, const XlsxLimits& limits,
               uint64_t* budget, DeflatedPart* edited, std::string* error)
{
    // Cells come in document order, which need not be the sheet's: each is looked up.
    std::stable_sort(updates.begin(), updates.end(), [](const CachedUpdate* a, const CachedUpdate* b) {
        return Position(a->row, a->column) < Position(b->row, b->column);
    });
    std::vector<bool> done(updates.size(), false);
    edited->name = part;
    PartDeflater deflater(&edited->bytes);
    std::string copy;
    const bool streamed = StreamSheetCells(archive, part, limits, budget,
        [&](const CellMarkup& cell, std::string_view raw, std::string* replacement, std::string*) {
            const Position position(cell.row, cell.column);
            auto update = std::upper_bound(updates.begin(), updates.end(), position, [](const Position& p, const CachedUpdate* u) {
                return p < Position(u->row, u->column);
            });
            // The last update given for a cell is the one written.
            if (update == updates.begin() || Position((*(update - 1))->row, (*(update - 1))->column) != position) return true;
            --update;
            *replacement = RewrittenCell(cell, raw, **update);
            for (auto same = update; ; --same) {
                done[static_cast<size_t>(same - updates.begin())] = true;
                if (same == updates.begin() || Position((*(same - 1))->row, (*(same - 1))->column) != position) break;
            }
            return true;
        },
        &copy, [&](std::string* copied, bool) { deflater.Add(copied->data(), copied->size()), copied->clear(); }, error);
    if (!streamed) return false;
    deflater.Finish();
    edited->size = deflater.Size();
    edited->crc = deflater.Crc();
    const auto missing = std::find(done.begin(), done.end(), false);
    if (missing != done.end()) {
        const CachedUpdate& update = *updates[static_cast<size_t>(missing - done.begin())];
        *error = part + ": cell " + CellName(update.row, update.column) + ": not in the sheet, so it has no cached value to replace";
        return false;
    }
    return true;
}

bool CopyFile(const std::string& from, FILE* to, std::string* error)
{
    FILE* source = OpenFile(from, "rb");
    if (source == nullptr) {
        *error = from + ": cannot open: " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    char chunk[64 * 1024];
    for (size_t got; ok && (got = std::fread(chunk, 1, sizeof chunk, source)) > 0;) {
        if (std::fwrite(chunk, 1, got, to) != got) {
            *error = std::string("cannot write the copy: ") + std::strerror(errno);
            ok = false;
        }
    }
    if (ok && std::ferror(source)) {
        *error = from + ": cannot read: " + std::strerror(errno);
        ok = false;
    }
    std::fclose(source);
    return ok;
}

// Replaces the edited parts, deflated, in the copy at path; the rest of its entries are kept as stored.
bool ReplaceParts(const std::string& path, std::vector<DeflatedPart>& parts, std::string* error)
{
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), 0, &code);
    if (archive == nullptr) {
        *error = "cannot reopen the copy: " + ZipErrorText(code);
        return false;
    }
    for (DeflatedPart& part : parts) {
        const zip_int64_t index = LocatePart(archive, part.name);
        zip_source_t* bytes = zip_source_function(archive, ReadDeflated, &part);
        // The part keeps its recorded time, so that recalculating twice gives the same bytes; the copy's
        // entry is still the source's until replaced, so the time is read from it.
        zip_stat_t original;
        zip_stat_init(&original);
        const bool timed = index >= 0 && zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &original) == 0 &&
                           (original.valid & ZIP_STAT_MTIME);
        const bool replaced = index >= 0 && bytes != nullptr &&
                              zip_file_replace(archive, static_cast<zip_uint64_t>(index), bytes, 0) == 0;
        if (!replaced) {
            if (bytes != nullptr) zip_source_free(bytes);
            *error = part.name + ": cannot replace in the copy: " + zip_strerror(archive);
            zip_discard(archive);
            return false;
        }
        if (timed) zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), original.mtime, 0);
        // The default method takes the source's own, deflate, even where the entry was stored.
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFAULT, 0);
    }
    const bool closed = zip_close(archive) == 0;
    if (!closed) {
        *error = std::string("cannot write the copy: ") + zip_strerror(archive);
        zip_discard(archive);
    }
    return closed;
}

bool WriteCopy(const std::string& in, const std::string& out, std::vector<DeflatedPart>& parts, std::string* error)
{
    std::string temporary;
    FILE* copy = CreateBeside(out, &temporary, error);
    if (copy == nullptr) {
        *error = out + ": " + *error;
        return false;
    }
#if !defined(_WIN32)
    // The copy gets the source's permissions, not the private ones of a temporary file.
    struct stat inStatus;
    if (::stat(in.c_str(), &inStatus) == 0) fchmod(fileno(copy), inStatus.st_mode & 0777);
#endif
    bool ok = CopyFile(in, copy, error);
    if (std::fclose(copy) != 0 && ok) {
        *error = std::string("cannot write the copy: ") + std::strerror(errno);
        ok = false;
    }
    // Durable before it takes the destination's name: a crash leaves the old file or the new one.
    ok = ok && ReplaceParts(temporary, parts, error) && SyncFile(temporary, error);
    if (ok && !RenameOver(temporary, out, error)) {
        *error = out + ": " + *error;
        ok = false;
    }
    if (!ok) {
        std::error_code ignored;
        std::filesystem::remove(FilePath(temporary), ignored);
    }
    return ok;
}

}  // namespace

std::string StoredErrorText(const std::string& shownError)
{
    for (const char* known : StorableErrors) {
        if (shownError == known) return shownError;
    }
    return "#N/A";
}

bool WriteRecalculated(const std::string& in, const std::string& out, const std::vector<CachedUpdate>& updates,
                       std::string* error, const XlsxLimits& limits)
{
    // The sheets are found first, and an edited sheet is checked as it is rewritten; parts not edited are
    // copied as stored, so the caller reads the workbook (and refuses one that does not read) first.
    ZipArchive source = OpenArchive(in, error);
    if (source == nullptr) return false;
    XlsxBook book;
    if (!ReadXlsxSheets(source.get(), &book, error)) return false;
    std::map<size_t, std::vector<const CachedUpdate*>> bySheet;
    for (const CachedUpdate& update : updates) {
        if (update.sheet >= book.sheets.size() || book.sheets[update.sheet].part.empty()) {
            *error = "no worksheet number " + std::to_string(update.sheet + 1) + " in the workbook";
            return false;
        }
        bySheet[update.sheet].push_back(&update);
    }
    uint64_t budget = limits.maxTotalBytes;
    std::vector<DeflatedPart> parts(bySheet.size());
    size_t next = 0;
    for (auto& sheet : bySheet) {
        if (!EditSheet(source.get(), book.sheets[sheet.first].part, std::move(sheet.second), limits, &budget, &parts[next++], error)) {
            return false;
        }
    }
    // Closed first: Windows does not replace a file that is open, and out may be in.
    source.reset();
    return WriteCopy(in, out, parts, error);
}

}  // namespace quorin_host
