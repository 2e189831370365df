// reader.cpp - the workbook record from a .xlsx package: relationships, workbook, strings, sheets.
#include "xlsx/reader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <deque>
#include <map>
#include <unordered_map>

#include "rules/number.h"
#include "xlsx/archive.h"
#include "xlsx/sheet_stream.h"

namespace quorin_host {

namespace {

struct Relationship {
    std::string type;
    std::string target;  // the part's name in the archive, resolved against the source's folder
};
using Relationships = std::map<std::string, Relationship>;

struct SharedMaster {
    uint32_t row;
    uint16_t column;
    std::string formula;
};

// The state of one read: the archive, what it may still inflate, and the strings every sheet uses.
struct BookReader {
    zip_t* archive;
    const XlsxLimits& limits;
    uint64_t budget;
    std::vector<std::string> sharedStrings;
    size_t cells = 0;
    const XlsxCellSink* sink = nullptr;  // takes the sheets' cells instead of XlsxSheet::cells
    XlsxBook* book = nullptr;            // where what was tolerated is counted
    bool again = false;                  // a sheet read a second time: nothing is counted twice
};

// Counts one more of kind; where it was met is written out only the first time.
template <typename Where> void Tolerate(BookReader& reader, XlsxTolerance kind, Where where)
{
    if (reader.again) return;
    std::vector<XlsxTolerated>& tolerated = reader.book->tolerated;
    auto met = std::find_if(tolerated.begin(), tolerated.end(), [&](const XlsxTolerated& t) { return t.kind == kind; });
    if (met == tolerated.end()) met = tolerated.insert(tolerated.end(), XlsxTolerated{kind, 0, where()});
    ++met->count;
}

// Where a cell of a sheet is, once asked.
auto CellPlace(const XlsxSheet& sheet, const XlsxCell& cell)
{
    return [&] { return SheetCellName(sheet.name, cell.row, cell.column); };
}

// Text without the XML whitespace around it.
std::string_view Trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return std::string_view();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool EndsWith(const std::string& text, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

std::string FolderOf(const std::string& part)
{
    const size_t slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// A relationship's target is relative to its source part's folder, or absolute from the package root.
std::string ResolveTarget(const std::string& folder, const std::string& target)
{
    const std::string joined = (!target.empty() && target[0] == '/') ? target.substr(1) : folder + target;
    std::vector<std::string> segments;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t slash = joined.find('/', start);
        if (slash == std::string::npos) slash = joined.size();
        const std::string segment = joined.substr(start, slash - start);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = slash + 1;
    }
    std::string resolved;
    for (const std::string& segment : segments) resolved += (resolved.empty() ? "" : "/") + segment;
    return resolved;
}

bool ReadXmlPart(BookReader& reader, const std::string& part, pugi::xml_document* document, std::string* error)
{
    std::string bytes;
    return ReadPart(reader.archive, part, reader.limits, &reader.budget, &bytes, error) &&
           ParseXml(part, bytes, document, error);
}

// A part other readers leave out when its markup does not parse: that is tolerated as kind and
// *parsed is false; false only for what the archive cannot give.
bool ReadXmlPartOrTolerate(BookReader& reader, const std::string& part, XlsxTolerance kind, pugi::xml_document* document,
                           bool* parsed, std::string* error)
{
    std::string bytes;
    if (!ReadPart(reader.archive, part, reader.limits, &reader.budget, &bytes, error)) return false;
    *parsed = ParseXml(part, bytes, document, error);
    if (!*parsed) {
        Tolerate(reader, kind, [&] { return *error; });
        error->clear();
    }
    return true;
}

// Where the relationships of sourcePart are kept: _rels/NAME.rels beside it.
std::string RelationshipsPart(const std::string& sourcePart)
{
    const std::string folder = FolderOf(sourcePart);
    return folder + "_rels/" + sourcePart.substr(folder.size()) + ".rels";
}

// The relationships of sourcePart; external targets are left out.
bool ReadRelationships(BookReader& reader, const std::string& sourcePart, Relationships* relationships,
                       std::string* error)
{
    const std::string folder = FolderOf(sourcePart);
    const std::string part = RelationshipsPart(sourcePart);
    pugi::xml_document document;
    if (!ReadXmlPart(reader, part, &document, error)) return false;
    const pugi::xml_node root = document.document_element();
    for (pugi::xml_node node = ChildElement(root, "Relationship"); node; node = NextElement(node, "Relationship")) {
        if (std::strcmp(node.attribute("TargetMode").value(), "External") == 0) continue;
        (*relationships)[node.attribute("Id").value()] =
            Relationship{node.attribute("Type").value(), ResolveTarget(folder, node.attribute("Target").value())};
    }
    return true;
}

const Relationship* FindByType(const Relationships& relationships, const char* typeSuffix)
{
    for (const auto& entry : relationships) {
        if (EndsWith(entry.second.type, typeSuffix)) return &entry.second;
    }
    return nullptr;
}

// A string item (<si> or <is>): plain <t>, or rich-text runs <r><t>; phonetic runs are not its text.
std::string StringItemText(const pugi::xml_node& item)
{
    std::string text;
    for (pugi::xml_node child = item.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        if (std::strcmp(LocalName(child), "t") == 0) text += DecodeText(child.text().get());
        if (std::strcmp(LocalName(child), "r") == 0) text += DecodeText(ChildElement(child, "t").text().get());
    }
    return text;
}

bool ReadSharedStrings(BookReader& reader, const std::string& part, std::string* error)
{
    pugi::xml_document document;
    if (!ReadXmlPart(reader, part, &document, error)) return false;
    const pugi::xml_node root = document.document_element();
    for (pugi::xml_node item = ChildElement(root, "si"); item; item = NextElement(item, "si")) {
        reader.sharedStrings.push_back(StringItemText(item));
    }
    return true;
}

bool CellFault(const std::string& part, const XlsxCell& cell, const std::string& what, std::string* error)
{
    *error = part + ": cell " + CellName(cell.row, cell.column) + ": " + what;
    return false;
}

// A number (a value or a string index) as other readers take it: spaces around it are no fault of the number.
template <typename Where, typename Read> bool ReadSpaced(BookReader& reader, Where where, const std::string& text, Read read)
{
    if (read(std::string_view(text))) return true;
    const std::string_view trimmed = Trimmed(text);
    if (trimmed.size() == text.size() || trimmed.empty() || !read(trimmed)) return false;
    Tolerate(reader, XlsxTolerance::SpacedNumber, where);
    return true;
}

bool ReadStoredValue(BookReader& reader, const std::string& part, const XlsxSheet& sheet, const CellMarkup& markup,
                     XlsxCell* cell, std::string* error)
{
    const auto where = CellPlace(sheet, *cell);
    const std::string& type = markup.type;
    if (type == "inlineStr") {
        if (!markup.hasInline) return true;
        cell->kind = XlsxKind::InlineString;
        cell->text = markup.inlineText;
        cell->hasCached = true;
        return true;
    }
    const char* text = markup.value.c_str();
    // An empty <v/> stores nothing, except as a formula's cached string, where it is the empty text.
    if (!markup.hasValue || (*text == '\0' && type != "str")) return true;
    cell->hasCached = true;
    if (type.empty() || type == "n") {
        cell->kind = XlsxKind::Number;
        const bool read = ReadSpaced(reader, where, markup.value, [&](std::string_view v) { return ParseNumber(v, &cell->number) == NumberRead::Ok; });
        // Unreadable, the cell is #REF! to what reads it; a formula over it is left as stored, never
        // recomputed or rewritten, since what it last showed is not known.
        if (!read) {
            Tolerate(reader, XlsxTolerance::TextForNumber, where);
            cell->kind = XlsxKind::Error;
            cell->text = "#REF!";
            cell->hasFormula = false;
            cell->formula.clear();
            cell->shiftRows = cell->shiftColumns = 0;  // a shared formula's follower moved by nothing now
            cell->arrayFormula = cell->dataTable = false;
        }
    } else if (type == "s") {
        cell->kind = XlsxKind::SharedString;
        uint32_t index = 0;
        const bool read = ReadSpaced(reader, where, markup.value, [&](std::string_view v) {
            return std::from_chars(v.data(), v.data() + v.size(), index).ptr == v.data() + v.size();
        });
        if (!read || index >= reader.sharedStrings.size()) {
            Tolerate(reader, XlsxTolerance::NoSuchString, where);
            cell->kind = XlsxKind::Empty;
            cell->hasCached = false;
            return true;
        }
        cell->text = reader.sharedStrings[index];
    } else if (type == "str") {
        cell->kind = XlsxKind::FormulaString;
        cell->text = DecodeText(text);
    } else if (type == "b") {
        cell->kind = XlsxKind::Boolean;
        if (std::strcmp(text, "1") != 0 && std::strcmp(text, "0") != 0) {
            return CellFault(part, *cell, std::string("not a boolean: \"") + text + "\"", error);
        }
        cell->boolean = text[0] == '1';
    } else if (type == "e") {
        cell->kind = XlsxKind::Error;
        cell->text = text;
    } else if (type == "d") {
        cell->kind = XlsxKind::Date;
        cell->text = text;
    } else {
        return CellFault(part, *cell, "stored value of type t=\"" + type + "\" is not read", error);
    }
    return true;
}

void FollowMaster(const SharedMaster& master, XlsxCell* cell)
{
    cell->formula = master.formula;
    cell->shiftRows = static_cast<int32_t>(cell->row) - static_cast<int32_t>(master.row);
    cell->shiftColumns = int32_t{cell->column} - int32_t{master.column};
}

// A shared formula is written once, in its master cell; followers name it by si= and shift its
// relative references by their own offset from the master.
bool ReadFormula(const std::string& part, const CellMarkup& markup, std::unordered_map<std::string, SharedMaster>* shared,
                 XlsxCell* cell, std::string* error)
{
    const std::string& type = markup.formulaType;
    cell->hasFormula = true;
    cell->formula = markup.formulaText;
    if (type.empty() || type == "normal") return true;
    if (type == "shared") {
        const std::string& index = markup.formulaShared;
        if (!cell->formula.empty()) {
            (*shared)[index] = SharedMaster{cell->row, cell->column, cell->formula};
            return true;
        }
        // A follower written before its master keeps no text here; the sheet resolves it once read.
        const auto master = shared->find(index);
        if (master != shared->end()) FollowMaster(master->second, cell);
        return true;
    }
    if (type != "dataTable" && type != "array") return CellFault(part, *cell, "formula of type t=\"" + type + "\" is not read", error);
    Area area;
    const bool read = ParseCellArea(markup.formulaRef.c_str(), &area);
    cell->rowFirst = area.rowFirst;
    cell->rowLast = area.rowLast;
    cell->columnFirst = area.columnFirst;
    cell->columnLast = area.columnLast;
    // A data table's cells are filled by the spreadsheet's what-if analysis, not by a formula; one
    // whose area does not read is a value.
    if (type == "dataTable") {
        cell->formula.clear();
        cell->dataTable = read;
        return true;
    }
    // An array area that does not start at its cell cannot be filled as the spreadsheet would: the
    // cell keeps its cached value, as any formula the engine does not compute.
    cell->arrayFormula = read && cell->rowFirst == cell->row && cell->columnFirst == cell->column;
    if (!cell->arrayFormula) cell->formula.clear();
    return true;
}

// How a sheet's read ended: read, or its markup damaged (a sheet other readers leave out, whose cells
// are dropped), or failed as the whole workbook fails (a damaged archive, a bomb, a bound).
enum class SheetRead { Read, Unreadable, Failed };

SheetRead ReadSheet(BookReader& reader, size_t index, XlsxSheet* sheet, std::string* error)
{
    const std::string& part = sheet->part;
    // The <dimension> is a writer's hint, often stale or in a form of its own ("1:4"): not read.
    std::unordered_map<std::string, SharedMaster> shared;
    std::vector<std::pair<size_t, std::string>> early;  // followers met before their master, by si
    // (row << 14 | column) << 1 | formula, of every cell in reading order, for finding one written twice.
    // Gathered only when the cells came out of order, on a second read: a sheet in order (what writers
    // write) cannot have a cell twice, and holds none of it.
    std::deque<uint64_t> positions;
    uint64_t last = 0;
    bool ordered = true, any = false, bounded = false;
    uint64_t budget = reader.budget;
    const auto visit = [&](const CellMarkup& markup, std::string_view, std::string*, std::string* fault) {
            if (reader.again) {
                XlsxCell cell;
                cell.row = markup.row;
                cell.column = markup.column;
                if (markup.hasFormula && !ReadFormula(part, markup, &shared, &cell, fault)) return false;
                if (!ReadStoredValue(reader, part, *sheet, markup, &cell, fault)) return false;
                positions.push_back((((uint64_t{cell.row} << 14) | cell.column) << 1) | (cell.hasFormula ? 1 : 0));
                return true;
            }
            if (++reader.cells > reader.limits.maxCells) {
                *fault = part + ": more than " + std::to_string(reader.limits.maxCells) + " cells in the workbook";
                bounded = true;
                return false;
            }
            XlsxCell cell;
            cell.row = markup.row;
            cell.column = markup.column;
            if (markup.outsideRow) Tolerate(reader, XlsxTolerance::OutsideRow, CellPlace(*sheet, cell));
            if (markup.hasFormula && !ReadFormula(part, markup, &shared, &cell, fault)) return false;
            if (!ReadStoredValue(reader, part, *sheet, markup, &cell, fault)) return false;
            const uint64_t position = (uint64_t{cell.row} << 14) | cell.column;
            ordered = ordered && (!any || last < position);
            any = true;
            last = position;
            const bool waits = cell.hasFormula && cell.formula.empty() && markup.formulaType == "shared";
            if (waits) early.emplace_back(sheet->cells.size(), markup.formulaShared);
            // Handed over at once, the cell is never held here; one waiting for its master is, until the end.
            if (reader.sink != nullptr && !waits) (*reader.sink)(index, cell);
            else sheet->cells.push_back(std::move(cell));
            return true;
        };
    bool refused = false;
    const auto failed = [&] { return refused && !bounded ? SheetRead::Unreadable : SheetRead::Failed; };
    if (!StreamSheetCells(reader.archive, part, reader.limits, &reader.budget, visit, nullptr, error, &refused)) return failed();
    // The count is known only now; the record outlives the reading, so it gives back its spare room.
    sheet->cells.shrink_to_fit();
    // A follower whose master never comes keeps its cached value, as a cell of an array does.
    for (const auto& [at, si] : early) {
        const auto master = shared.find(si);
        if (master != shared.end()) FollowMaster(master->second, &sheet->cells[at]);
    }
    if (reader.sink != nullptr) {
        for (const XlsxCell& cell : sheet->cells) (*reader.sink)(index, cell);
        sheet->cells = std::vector<XlsxCell>();
    }
    if (ordered) return SheetRead::Read;
    reader.again = true;
    shared.clear();
    const bool again = StreamSheetCells(reader.archive, part, reader.limits, &budget, visit, nullptr, error, &refused);
    reader.again = false;
    if (!again) return failed();
    // Of a cell written twice the last stands (values do so in the engine; its formulas are told).
    std::stable_sort(positions.begin(), positions.end(), [](uint64_t a, uint64_t b) { return (a >> 1) < (b >> 1); });
    for (size_t k = 1; k < positions.size(); ++k) {
        if ((positions[k] >> 1) != (positions[k - 1] >> 1)) continue;
        const bool lastOfRun = k + 1 == positions.size() || (positions[k + 1] >> 1) != (positions[k] >> 1);
        if (!lastOfRun) continue;
        const uint32_t row = static_cast<uint32_t>(positions[k] >> 15);
        const uint16_t column = static_cast<uint16_t>((positions[k] >> 1) & 0x3FFF);
        Tolerate(reader, XlsxTolerance::WrittenTwice, [&] { return SheetCellName(sheet->name, row, column); });
        reader.book->writtenTwice.push_back({index, row, column, (positions[k] & 1) != 0});
    }
    return SheetRead::Read;
}

// The tables of a worksheet, through its relationships; a sheet with no relationships part has none.
bool ReadTables(BookReader& reader, size_t sheet, const std::string& part, std::vector<XlsxTable>* tables, std::string* error)
{
    if (LocatePart(reader.archive, RelationshipsPart(part)) < 0) return true;
    Relationships relationships;
    if (!ReadRelationships(reader, part, &relationships, error)) return false;
    for (const auto& entry : relationships) {
        if (!EndsWith(entry.second.type, "/table")) continue;
        pugi::xml_document document;
        bool parsed = false;
        if (!ReadXmlPartOrTolerate(reader, entry.second.target, XlsxTolerance::UnreadableTable, &document, &parsed, error)) return false;
        // Left out, as other readers leave it: formulas naming it answer as for no such table.
        if (!parsed) continue;
        const pugi::xml_node root = document.document_element();
        XlsxTable table;
        table.name = root.attribute("displayName") ? root.attribute("displayName").value() : root.attribute("name").value();
        table.sheet = sheet;
        table.headerRows = root.attribute("headerRowCount").as_uint(1);
        table.totalsRows = root.attribute("totalsRowCount").as_uint(0);
        Area area;
        // A table whose area does not read is left out: formulas naming it answer #REF!.
        if (!ParseCellArea(root.attribute("ref").value(), &area)) continue;
        table.rowFirst = area.rowFirst;
        table.rowLast = area.rowLast;
        table.columnFirst = area.columnFirst;
        table.columnLast = area.columnLast;
        const pugi::xml_node columns = ChildElement(root, "tableColumns");
        for (pugi::xml_node column = ChildElement(columns, "tableColumn"); column; column = NextElement(column, "tableColumn")) {
            table.columns.push_back(DecodeText(column.attribute("name").value()));
        }
        tables->push_back(std::move(table));
    }
    return true;
}

// The cells a link's part cached from the other workbook. Their t= is the cell's, except that text is
// held in <v> itself.
bool ReadLink(BookReader& reader, const std::string& part, XlsxLink* link, std::string* error)
{
    pugi::xml_document document;
    bool parsed = false;
    if (!ReadXmlPartOrTolerate(reader, part, XlsxTolerance::UnreadableLink, &document, &parsed, error)) return false;
    // Its place in the count is kept, with no cells, as for a link whose part is missing.
    if (!parsed) return true;
    const pugi::xml_node book = ChildElement(document.document_element(), "externalBook");
    const pugi::xml_node names = ChildElement(book, "sheetNames");
    for (pugi::xml_node name = ChildElement(names, "sheetName"); name; name = NextElement(name, "sheetName")) {
        link->sheets.push_back({name.attribute("val").value(), {}});
    }
    const pugi::xml_node data = ChildElement(book, "sheetDataSet");
    for (pugi::xml_node sheet = ChildElement(data, "sheetData"); sheet; sheet = NextElement(sheet, "sheetData")) {
        const size_t index = sheet.attribute("sheetId").as_uint(0);
        if (index >= link->sheets.size()) continue;
        for (pugi::xml_node row = ChildElement(sheet, "row"); row; row = NextElement(row, "row")) {
            for (pugi::xml_node node = ChildElement(row, "cell"); node; node = NextElement(node, "cell")) {
                XlsxCell cell;
                const pugi::xml_node value = ChildElement(node, "v");
                if (!value || !ParseCellName(node.attribute("r").value(), &cell.row, &cell.column)) continue;
                const std::string type = node.attribute("t").value();
                const char* text = value.text().get();
                cell.hasCached = true;
                if (type == "b") {
                    cell.kind = XlsxKind::Boolean;
                    cell.boolean = text[0] == '1';
                } else if (type == "e") {
                    cell.kind = XlsxKind::Error;
                    cell.text = text;
                } else if (type.empty() || type == "n") {
                    cell.kind = XlsxKind::Number;
                    if (ParseNumber(text, &cell.number) != NumberRead::Ok) continue;
                } else {
                    cell.kind = XlsxKind::FormulaString;
                    cell.text = DecodeText(text);
                }
                link->sheets[index].cells.push_back(std::move(cell));
            }
        }
    }
    return true;
}

// withCells false: the sheets' names and parts and the defined names alone.
bool ReadBook(zip_t* archive, const XlsxLimits& limits, bool withCells, XlsxBook* book, std::string* error,
              const XlsxCellSink* sink = nullptr)
{
    *book = XlsxBook();
    BookReader reader{archive, limits, limits.maxTotalBytes, {}, 0, sink, book};
    Relationships packageRelationships;
    if (!ReadRelationships(reader, "", &packageRelationships, error)) return false;
    const Relationship* office = FindByType(packageRelationships, "/officeDocument");
    if (office == nullptr) {
        *error = "_rels/.rels: no officeDocument relationship (not a workbook)";
        return false;
    }
    const std::string workbookPart = office->target;
    Relationships relationships;
    pugi::xml_document workbook;
    if (!ReadRelationships(reader, workbookPart, &relationships, error) ||
        !ReadXmlPart(reader, workbookPart, &workbook, error)) {
        return false;
    }
    const pugi::xml_node root = workbook.document_element();
    const pugi::xml_node sheets = ChildElement(root, "sheets");
    // Worksheets, and those lost (missing, named by no relationship, unreadable): the workbook is
    // refused, naming the first, only when every one is.
    size_t worksheets = 0, lost = 0;
    std::string firstLost;
    const auto lose = [&](std::string why) {
        if (lost++ == 0) firstLost = std::move(why);
    };
    for (pugi::xml_node node = ChildElement(sheets, "sheet"); node; node = NextElement(node, "sheet")) {
        XlsxSheet sheet;
        sheet.name = node.attribute("name").value();
        const std::string id = RelationshipId(node);
        // A sheet with an empty id (a macro sheet some writers leave so) keeps its place in the order
        // with no cells, as other readers open it; an id that names nothing is still a broken package.
        if (id.empty()) {
            book->sheets.push_back(std::move(sheet));
            continue;
        }
        const auto relationship = relationships.find(id);
        // A sheet whose relationship is not there is read as a missing worksheet: empty, in its place.
        if (relationship == relationships.end()) {
            Tolerate(reader, XlsxTolerance::MissingSheet, [&] { return sheet.name + ", relationship " + id + " not found"; });
            ++worksheets;
            lose(workbookPart + ": sheet \"" + sheet.name + "\": relationship \"" + id + "\" not found");
            book->sheets.push_back(std::move(sheet));
            continue;
        }
        // Chart sheets keep their place in the order (names count sheets by it) but hold no cells.
        if (EndsWith(relationship->second.type, "/worksheet")) sheet.part = relationship->second.target;
        book->sheets.push_back(std::move(sheet));
    }
    const pugi::xml_node definedNames = ChildElement(root, "definedNames");
    for (pugi::xml_node node = ChildElement(definedNames, "definedName"); node; node = NextElement(node, "definedName")) {
        // An add-in's function is declared by an empty name with function="true" (both spreadsheets
        // save one per _xll. function called): it names no formula, so it is not a name to read.
        if (node.attribute("function").as_bool()) continue;
        XlsxName name;
        name.name = node.attribute("name").value();
        name.text = node.text().get();
        const pugi::xml_attribute local = node.attribute("localSheetId");
        if (local) {
            const int32_t index = local.as_int(-1);
            if (index < 0 || static_cast<size_t>(index) >= book->sheets.size()) {
                *error = workbookPart + ": defined name \"" + name.name + "\": no sheet " + local.value();
                return false;
            }
            name.localSheet = index;
        }
        book->names.push_back(std::move(name));
    }
    if (!withCells) return true;
    const Relationship* strings = FindByType(relationships, "/sharedStrings");
    if (strings != nullptr && LocatePart(archive, strings->target) < 0) {
        Tolerate(reader, XlsxTolerance::MissingStrings, [&] { return strings->target; });
    } else if (strings != nullptr && !ReadSharedStrings(reader, strings->target, error)) {
        return false;
    }
    // A worksheet whose part is missing is an empty sheet, and one whose markup is damaged holds no
    // cells, unless no worksheet is there to read.
    for (size_t s = 0; s < book->sheets.size(); ++s) {
        XlsxSheet& sheet = book->sheets[s];
        if (sheet.part.empty()) continue;
        ++worksheets;
        if (LocatePart(archive, sheet.part) < 0) {
            lose(sheet.part + ": part missing from the archive");
            Tolerate(reader, XlsxTolerance::MissingSheet, [&] { return sheet.name + ", " + sheet.part; });
            continue;
        }
        const SheetRead read = ReadSheet(reader, s, &sheet, error);
        if (read == SheetRead::Failed) return false;
        if (read == SheetRead::Unreadable) {
            lose(*error);
            Tolerate(reader, XlsxTolerance::UnreadableSheet, [&] { return sheet.name + ": " + *error; });
            sheet.unreadable = std::move(*error);
            error->clear();
            sheet.cells = std::vector<XlsxCell>();
        }
        // A damaged sheet's tables are read still, so that a formula naming one is known to read it.
        if (!ReadTables(reader, s, sheet.part, &book->tables, error)) return false;
    }
    if (worksheets > 0 && lost == worksheets) {
        *error = firstLost + (worksheets == 1 ? "" : "; no other worksheet can be read either");
        return false;
    }
    // A link whose part is not there keeps its place in the count, with no cells.
    const pugi::xml_node externals = ChildElement(root, "externalReferences");
    for (pugi::xml_node node = ChildElement(externals, "externalReference"); node; node = NextElement(node, "externalReference")) {
        XlsxLink link;
        const auto relationship = relationships.find(RelationshipId(node));
        if (relationship != relationships.end() && LocatePart(archive, relationship->second.target) >= 0 &&
            !ReadLink(reader, relationship->second.target, &link, error)) {
            return false;
        }
        book->links.push_back(std::move(link));
    }
    return true;
}

}  // namespace

std::vector<std::string> ToleratedLines(const XlsxBook& book)
{
    std::vector<std::string> lines;
    for (const XlsxTolerated& t : book.tolerated) {
        const char* what = "";
        switch (t.kind) {
        case XlsxTolerance::MissingStrings: lines.push_back("shared strings " + t.first + " missing from the archive, read as none"); continue;
        case XlsxTolerance::NoSuchString: what = "cells naming no shared string, read as empty"; break;
        case XlsxTolerance::SpacedNumber: what = "numbers written with spaces around them, read as the number"; break;
        case XlsxTolerance::OutsideRow: what = "cells outside their row, taken at their own reference"; break;
        case XlsxTolerance::WrittenTwice: what = "cells written twice, read as written last"; break;
        case XlsxTolerance::TextForNumber: what = "numeric cells holding text, read as #REF! (a formula there kept as stored)"; break;
        case XlsxTolerance::MissingSheet: what = "worksheets missing from the archive, read as empty"; break;
        case XlsxTolerance::UnreadableSheet:
            what = "worksheets whose markup cannot be read, left without cells (formulas of ours reading them kept as stored)";
            break;
        case XlsxTolerance::UnreadableTable:
            what = "tables whose markup cannot be read, left out (formulas of ours naming a table not found kept as stored)";
            break;
        case XlsxTolerance::UnreadableLink: what = "linked workbooks' caches whose markup cannot be read, read as none"; break;
        }
        lines.push_back(what + (": " + std::to_string(t.count)) + " (first " + t.first + ")");
    }
    return lines;
}

bool ReadXlsx(const std::string& path, XlsxBook* book, std::string* error, const XlsxLimits& limits)
{
    const ZipArchive archive = OpenArchive(path, error);
    return archive != nullptr && ReadBook(archive.get(), limits, true, book, error);
}

bool ReadXlsx(const std::string& path, XlsxBook* book, const XlsxCellSink& sink, std::string* error, const XlsxLimits& limits)
{
    const ZipArchive archive = OpenArchive(path, error);
    return archive != nullptr && ReadBook(archive.get(), limits, true, book, error, &sink);
}

bool ReadXlsxSheets(zip_t* archive, XlsxBook* book, std::string* error)
{
    return ReadBook(archive, XlsxLimits(), false, book, error);
}

bool ReadXlsxBuffer(const void* data, size_t size, XlsxBook* book, std::string* error, const XlsxLimits& limits)
{
    const ZipArchive archive = OpenArchiveBuffer(data, size, error);
    return archive != nullptr && ReadBook(archive.get(), limits, true, book, error);
}

}  // namespace quorin_host
