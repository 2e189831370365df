// xlsx_fuzz.cpp - the .xlsx reader on arbitrary archives, and on arbitrary parts packed into a sound
// archive: input starting with "PK" is read as the archive itself; any other input is a list of parts,
// each "@@@ NAME" on a line of its own followed by its bytes, stored uncompressed so that mutations
// reach the XML rather than stopping at the archive's checksums.
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "xlsx/reader.h"

namespace {

constexpr char PartMark[] = "@@@ ";

[[noreturn]] void Broken(const char* rule)
{
    std::fprintf(stderr, "the reader broke a rule: %s\n", rule);
    std::abort();
}

// The parts in text, packed by libzip into an archive in memory; empty when libzip refuses them.
std::vector<char> PackParts(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> parts;
    for (size_t at = 0; at < text.size();) {
        size_t next = text.find(std::string("\n") + PartMark, at);
        if (next == std::string::npos) next = text.size();
        const std::string piece = text.substr(at, next - at);
        at = next + 1;
        if (piece.compare(0, sizeof PartMark - 1, PartMark) != 0) continue;
        const size_t line = piece.find('\n');
        parts.emplace_back(piece.substr(sizeof PartMark - 1, line == std::string::npos ? std::string::npos : line - (sizeof PartMark - 1)),
                           line == std::string::npos ? std::string() : piece.substr(line + 1));
    }
    std::vector<char> bytes;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_error_fini(&error);
    if (buffer == nullptr) return bytes;
    zip_source_keep(buffer);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, nullptr);
    if (archive != nullptr) {
        for (const auto& part : parts) {
            zip_source_t* source = zip_source_buffer(archive, part.second.data(), part.second.size(), 0);
            if (source == nullptr) continue;
            const zip_int64_t index = zip_file_add(archive, part.first.c_str(), source, ZIP_FL_OVERWRITE);
            if (index < 0) {
                zip_source_free(source);
                continue;
            }
            zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
        }
        if (zip_close(archive) != 0) zip_discard(archive);
    }
    zip_stat_t size;
    if (zip_source_stat(buffer, &size) == 0 && (size.valid & ZIP_STAT_SIZE) && zip_source_open(buffer) == 0) {
        bytes.resize(size.size);
        if (zip_source_read(buffer, bytes.data(), size.size) != static_cast<zip_int64_t>(size.size)) bytes.clear();
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    return bytes;
}

void CheckBook(const quorin_host::XlsxBook& book)
{
    for (const quorin_host::XlsxSheet& sheet : book.sheets) {
        for (const quorin_host::XlsxCell& cell : sheet.cells) {
            if (cell.row >= 1048576 || cell.column >= 16384) Broken("a cell past the sheet's bounds");
            if (cell.arrayFormula && (cell.rowFirst != cell.row || cell.columnFirst != cell.column ||
                                      cell.rowLast < cell.rowFirst || cell.columnLast < cell.columnFirst)) {
                Broken("an array formula whose area does not start at its cell");
            }
            if (!cell.hasFormula && (cell.shiftRows != 0 || cell.shiftColumns != 0)) Broken("an offset without a formula");
        }
    }
    for (const quorin_host::XlsxName& name : book.names) {
        if (name.localSheet < -1 || name.localSheet >= static_cast<int32_t>(book.sheets.size())) Broken("a name's sheet out of range");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Bounds small enough that each input runs in milliseconds, large enough for a deflated bomb.
    quorin_host::XlsxLimits limits;
    limits.maxPartBytes = 4u << 20;
    limits.maxTotalBytes = 16u << 20;
    limits.maxCells = 100000;
    std::vector<char> packed;
    const void* archive = data;
    size_t archiveSize = size;
    if (size < 2 || data[0] != 'P' || data[1] != 'K') {
        packed = PackParts(std::string(reinterpret_cast<const char*>(data), size));
        archive = packed.data();
        archiveSize = packed.size();
    }
    quorin_host::XlsxBook book;
    std::string error;
    if (quorin_host::ReadXlsxBuffer(archive, archiveSize, &book, &error, limits)) {
        CheckBook(book);
    } else if (error.empty()) {
        Broken("a refusal without a message");
    }
    return 0;
}
