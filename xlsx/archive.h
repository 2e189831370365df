// archive.h - the package layer the .xlsx reader and writer share: opening the archive, reading
// a part with a bound on its inflated size (whole, or in pieces as it inflates), and parsing it.
// Internal to quorin_xlsx; callers use xlsx_reader.h and xlsx_writer.h.
#pragma once

#include <zip.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <pugixml.hpp>

#include "engine/formula.h"
#include "xlsx/reader.h"

namespace quorin_host {

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipCloser>;

// libzip's message for an error code zip_open gave back.
std::string ZipErrorText(int code);

// Opens a file (a UTF-8 name), or bytes the caller keeps alive, read-only; nullptr and a message
// naming the fault. Each entry's CRC is still checked as it is read.
ZipArchive OpenArchive(const std::string& path, std::string* error);
ZipArchive OpenArchiveBuffer(const void* data, size_t size, std::string* error);

// The index of the entry holding a part, or -1. Names compare without case in a package, and some
// writers separate folders with a backslash, which the format's other readers accept.
zip_int64_t LocatePart(zip_t* archive, const std::string& part);

// The inflated bytes of one part, counted against limits.maxPartBytes and against *budget (what
// the workbook may still inflate in all). The archive's declared size is not trusted: the part is
// read in chunks and refused at the bound. False, naming the part, when missing, corrupt or too big.
bool ReadPart(zip_t* archive, const std::string& part, const XlsxLimits& limits, uint64_t* budget,
              std::string* bytes, std::string* error);

// The inflated size the archive declares for a part (0 when unknown): a hint, never a bound.
uint64_t DeclaredSize(zip_t* archive, const std::string& part);

// The same read handed over in pieces as it inflates: consume(data, size, false, refusal) for each
// piece, then consume(nullptr, 0, true, refusal) at the end; false from it stops the read with its
// refusal as the error, unless the part itself then proves damaged or too big, which is reported first.
// *refused, when given, says whether the error is the consumer's refusal of a sound part.
using PartConsumer = std::function<bool(const char* data, size_t size, bool last, std::string* refusal)>;
bool StreamPart(zip_t* archive, const std::string& part, const XlsxLimits& limits, uint64_t* budget,
                const PartConsumer& consume, std::string* error, bool* refused = nullptr);

// Parses a part's bytes. Running out of memory throws std::bad_alloc, as any allocation does, rather
// than passing for malformed XML.
bool ParseXml(const std::string& part, const std::string& bytes, pugi::xml_document* document, std::string* error);

// An element's name without its namespace prefix: writers may bind the main namespace to one.
const char* LocalPart(const char* name);
const char* LocalName(const pugi::xml_node& node);
// The first child element, or the next sibling element after node, with this local name; an empty
// node when there is none, so that `for (n = ChildElement(p, x); n; n = NextElement(n, x))` walks them.
pugi::xml_node ChildElement(const pugi::xml_node& parent, const char* localName);
pugi::xml_node NextElement(const pugi::xml_node& node, const char* localName);
// The value of node's id attribute in the relationships namespace, whatever prefix binds it there
// (on node or an ancestor); empty when it has none.
std::string RelationshipId(const pugi::xml_node& node);

// The open archive's sheet names and parts and its defined names alone: no sheet is read, every sheet
// has no cells (what a copy needs to find the parts it edits).
bool ReadXlsxSheets(zip_t* archive, XlsxBook* book, std::string* error);

}  // namespace quorin_host
