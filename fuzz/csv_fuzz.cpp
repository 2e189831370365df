// csv_fuzz.cpp - the CSV reader on arbitrary bytes: it never fails but for a quote left open, and
// what it reads, written back field by field, reads back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/csv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    quorin_host::CsvRows rows, again;
    std::string error;
    if (!quorin_host::ReadCsv(text, &rows, &error)) {
        if (error.find("quoted field never ends") == std::string::npos) std::abort();
        return 0;
    }
    std::string written;
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) written += (c > 0 ? "," : "") + quorin_host::CsvField(row[c]);
        written += "\n";
    }
    // A first row whose first field is only a byte-order mark is not one the writer can keep apart.
    if (!rows.empty() && !rows[0].empty() && rows[0][0].compare(0, 3, "\xEF\xBB\xBF") == 0) return 0;
    if (!quorin_host::ReadCsv(written, &again, &error) || again != rows) {
        std::fprintf(stderr, "CSV written back does not read back the same\n");
        std::abort();
    }
    return 0;
}
