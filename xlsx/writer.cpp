// writer.cpp - a copy of a workbook with new cached values, written beside its destination and renamed into place.
#include "xlsx/writer.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "engine/text_file.h"
#include "xlsx/archive.h"

namespace quorin_host {

namespace {

using Position = std::pair<uint32_t, uint16_t>;

// The error values a cell may store; a file with any other fails to open in the spreadsheet.
constexpr const char* StorableErrors[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};

struct EditedPart {
    std::string name;
    std::string bytes;
};

struct StringWriter : pugi::xml_writer {
    std::string* bytes;
    explicit StringWriter(std::string* target) : bytes(target) {}
    void write(const void* data, size_t size) override { bytes->append(static_cast<const char*>(data), size); }
};

// The shortest text that reads back as the same double, as a spreadsheet writes it.
std::string NumberText(double number)
{
    char text[32];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, number);
    return std::string(text, result.ptr);
}

// An element named like its sibling, so that a part binding the main namespace to a prefix keeps it.
std::string SiblingName(const pugi::xml_node& cell, const char* localName)
{
    const std::string name = cell.name();
    const size_t colon = name.find(':');
    return (colon == std::string::npos ? std::string() : name.substr(0, colon + 1)) + localName;
}

void SetCachedValue(pugi::xml_node cell, const CachedUpdate& update)
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
    cell.remove_attribute("t");
    if (!type.empty()) cell.append_attribute("t").set_value(type.c_str());
    // An inline string is the stored value of a cell without <v>; the new value replaces it.
    cell.remove_child(ChildElement(cell, "is"));
    pugi::xml_node value = ChildElement(cell, "v");
    if (!value) {
        // <v> follows <f> and precedes everything else a cell holds.
        const pugi::xml_node formula = ChildElement(cell, "f");
        const std::string name = SiblingName(cell, "v");
        value = formula ? cell.insert_child_after(name.c_str(), formula) : cell.prepend_child(name.c_str());
    }
    while (value.first_child()) value.remove_child(value.first_child());
    value.append_child(pugi::node_pcdata).set_value(text.c_str());
}

// Where a cell element lies in the part's bytes: from its '<' to past its end tag, or past "/>" when
// empty. offset is pugixml's record of where the element's name starts. No element nests in a cell's
// children that could hold its end tag, and quoted attributes may hold '>'. False when the bytes
// there are not that cell's, so that the caller keeps to a whole save.
bool CellExtent(const std::string& bytes, ptrdiff_t offset, const std::string& name, size_t* begin, size_t* end)
{
    if (offset < 1 || static_cast<size_t>(offset) + name.size() > bytes.size() || bytes[static_cast<size_t>(offset) - 1] != '<' ||
        bytes.compare(static_cast<size_t>(offset), name.size(), name) != 0) {
        return false;
    }
    char quote = 0;
    size_t at = static_cast<size_t>(offset) + name.size();
    for (; at < bytes.size(); ++at) {
        if (quote != 0) {
            if (bytes[at] == quote) quote = 0;
        } else if (bytes[at] == '"' || bytes[at] == '\'') {
            quote = bytes[at];
        } else if (bytes[at] == '>') {
            break;
        }
    }
    if (at >= bytes.size()) return false;
    size_t close = at + 1;
    if (bytes[at - 1] != '/') {
        const size_t tag = bytes.find("</" + name, at);
        close = tag == std::string::npos ? std::string::npos : bytes.find('>', tag);
        if (close == std::string::npos) return false;
        ++close;
    }
    *begin = static_cast<size_t>(offset) - 1;
    *end = close;
    return true;
}

bool EditSheet(zip_t* archive, const std::string& part, const std::map<Position, const CachedUpdate*>& updates,
               uint64_t* budget, EditedPart* edited, std::string* error)
{
    std::string bytes;
    pugi::xml_document document;
    if (!ReadPart(archive, part, XlsxLimits(), budget, &bytes, error) || !ParseXml(part, bytes, true, &document, error)) {
        return false;
    }
    std::map<Position, const CachedUpdate*> missing = updates;
    // Each edited cell's place in the bytes, found before any edit (pugixml's offsets hold only until then).
    struct Splice {
        size_t begin, end;
        pugi::xml_node cell;
    };
    std::vector<Splice> splices;
    bool spliced = true;
    const pugi::xml_node sheetData = ChildElement(document.document_element(), "sheetData");
    const bool visited = VisitCells(part, sheetData,
        [&](const pugi::xml_node& cell, uint32_t row, uint16_t column, std::string*) {
            const auto update = missing.find(Position(row, column));
            if (update != missing.end()) {
                Splice splice{0, 0, cell};
                spliced = spliced && CellExtent(bytes, cell.offset_debug(), cell.name(), &splice.begin, &splice.end) &&
                          (splices.empty() || splices.back().end <= splice.begin);
                splices.push_back(splice);
                SetCachedValue(cell, *update->second);
                missing.erase(update);
            }
            return true;
        },
        error);
    if (!visited) return false;
    if (!missing.empty()) {
        *error = part + ": cell " + CellName(missing.begin()->first.first, missing.begin()->first.second) +
                 ": not in the sheet, so it has no cached value to replace";
        return false;
    }
    edited->name = part;
    StringWriter writer(&edited->bytes);
    if (!spliced) {
        document.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
        return true;
    }
    // Only the edited cells are written anew: every other byte of the part, its declaration, byte
    // order mark, quoting and spacing included, is the file's own.
    size_t kept = 0;
    for (const Splice& splice : splices) {
        edited->bytes.append(bytes, kept, splice.begin - kept);
        splice.cell.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
        kept = splice.end;
    }
    edited->bytes.append(bytes, kept, std::string::npos);
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

// Replaces the edited parts in the copy at path; the rest of its entries are kept as stored.
bool ReplaceParts(const std::string& path, const std::vector<EditedPart>& parts, std::string* error)
{
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), 0, &code);
    if (archive == nullptr) {
        *error = "cannot reopen the copy: " + ZipErrorText(code);
        return false;
    }
    for (const EditedPart& part : parts) {
        const zip_int64_t index = LocatePart(archive, part.name);
        zip_source_t* bytes = zip_source_buffer(archive, part.bytes.data(), part.bytes.size(), 0);
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
    }
    if (zip_close(archive) != 0) {
        *error = std::string("cannot write the copy: ") + zip_strerror(archive);
        zip_discard(archive);
        return false;
    }
    return true;
}

bool WriteCopy(const std::string& in, const std::string& out, const std::vector<EditedPart>& parts, std::string* error)
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
                       std::string* error)
{
    // The whole source is read first: a workbook that does not read is not copied.
    XlsxBook book;
    if (!ReadXlsx(in, &book, error)) return false;
    std::map<size_t, std::map<Position, const CachedUpdate*>> bySheet;
    for (const CachedUpdate& update : updates) {
        if (update.sheet >= book.sheets.size() || book.sheets[update.sheet].part.empty()) {
            *error = "no worksheet number " + std::to_string(update.sheet + 1) + " in the workbook";
            return false;
        }
        bySheet[update.sheet][Position(update.row, update.column)] = &update;
    }
    ZipArchive source = OpenArchive(in, error);
    if (source == nullptr) return false;
    uint64_t budget = XlsxLimits().maxTotalBytes;
    std::vector<EditedPart> parts(bySheet.size());
    size_t next = 0;
    for (const auto& sheet : bySheet) {
        if (!EditSheet(source.get(), book.sheets[sheet.first].part, sheet.second, &budget, &parts[next++], error)) {
            return false;
        }
    }
    // Closed first: Windows does not replace a file that is open, and out may be in.
    source.reset();
    return WriteCopy(in, out, parts, error);
}

}  // namespace quorin_host
