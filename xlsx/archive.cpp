// archive.cpp - the package layer of the .xlsx reader and writer: bounded part reads, parsing, cell positions.
#include "xlsx/archive.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "engine/text_file.h"
#include "xlsx/pipe.h"

namespace quorin_host {

namespace {

std::string SizeText(uint64_t bytes)
{
    return (bytes % (uint64_t{1} << 20)) == 0 ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes) + " bytes";
}

// Two entries under one part name (names compare without case, either slash) make a package that
// readers see differently: one takes the first, another the last. Such an archive is refused whole.
ZipArchive WithoutDuplicateEntries(ZipArchive archive, std::string* error)
{
    if (archive == nullptr) return archive;
    std::set<std::string> names;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t k = 0; k < count; ++k) {
        const char* entry = zip_get_name(archive.get(), static_cast<zip_uint64_t>(k), ZIP_FL_ENC_RAW);
        if (entry == nullptr) continue;
        std::string name = entry;
        for (char& c : name) c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!names.insert(name).second) {
            *error = "not a readable zip archive: entry " + std::string(entry) + " appears twice";
            return nullptr;
        }
    }
    return archive;
}

// A password-protected workbook, or one in the binary format, is a compound document rather than a
// zip; saying so tells the user what to do instead of blaming the archive.
bool IsCompoundDocument(const std::string& path)
{
    static const unsigned char Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    unsigned char head[8] = {};
    FILE* file = OpenFile(path, "rb");
    if (file == nullptr) return false;
    const bool read = std::fread(head, 1, sizeof head, file) == sizeof head;
    std::fclose(file);
    return read && std::memcmp(head, Signature, sizeof head) == 0;
}

// A part's bytes a piece at a time, inflated here or, ahead, on a thread of its own: on a sheet,
// inflating costs a fifth of what parsing does, and a second core is otherwise idle.
class PieceSource {
public:
    PieceSource(zip_file_t* file, size_t pieceBytes, bool ahead) : file_(file)
    {
        if (ahead) {
            for (size_t k = 0; k < Ring; ++k) pipe_.Buffer(k).bytes.resize(pieceBytes);
            ahead_ = pipe_.Start([this] {
                for (Piece* piece; (piece = pipe_.Fill()) != nullptr;) {
                    piece->size = zip_fread(file_, piece->bytes.data(), piece->bytes.size());
                    const bool end = piece->size <= 0;
                    pipe_.Send();
                    if (end) return;
                }
            });
        }
        if (!ahead_) piece_.resize(pieceBytes);
    }

    // The next piece's size, with *data its bytes (valid until the next call); 0 at the end of the
    // part, negative when it does not inflate (zip_file_strerror then says why).
    zip_int64_t Next(const char** data)
    {
        if (!ahead_) {
            *data = piece_.data();
            return zip_fread(file_, piece_.data(), piece_.size());
        }
        const Piece* piece = pipe_.Next();
        if (piece == nullptr) return 0;
        *data = piece->bytes.data();
        return piece->size;
    }

private:
    static constexpr size_t Ring = 4;
    struct Piece {
        std::vector<char> bytes;
        zip_int64_t size = 0;
    };
    zip_file_t* file_;
    bool ahead_ = false;
    std::vector<char> piece_;
    Pipe<Piece, Ring> pipe_;
};

}  // namespace

std::string ZipErrorText(int code)
{
    zip_error_t zipError;
    zip_error_init_with_code(&zipError, code);
    std::string text = zip_error_strerror(&zipError);
    zip_error_fini(&zipError);
    return text;
}

// No ZIP_CHECKCONS: it refuses archives that other readers open (a local header's time unlike the
// directory's, bytes after the end record), while a damaged entry still fails its CRC when read.
ZipArchive OpenArchive(const std::string& path, std::string* error)
{
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (archive == nullptr) {
        *error = (code == ZIP_ER_NOZIP && IsCompoundDocument(path))
                     ? "not a readable zip archive: an encrypted workbook or one in the binary format; save it as an "
                       "unprotected .xlsx"
                     : "not a readable zip archive: " + ZipErrorText(code);
    }
    return WithoutDuplicateEntries(ZipArchive(archive), error);
}

ZipArchive OpenArchiveBuffer(const void* data, size_t size, std::string* error)
{
    zip_error_t zipError;
    zip_error_init(&zipError);
    zip_t* archive = nullptr;
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &zipError);
    if (source != nullptr) {
        archive = zip_open_from_source(source, ZIP_RDONLY, &zipError);
        if (archive == nullptr) zip_source_free(source);
    }
    if (archive == nullptr) *error = std::string("not a readable zip archive: ") + zip_error_strerror(&zipError);
    zip_error_fini(&zipError);
    return WithoutDuplicateEntries(ZipArchive(archive), error);
}

zip_int64_t LocatePart(zip_t* archive, const std::string& part)
{
    const zip_int64_t index = zip_name_locate(archive, part.c_str(), ZIP_FL_NOCASE);
    if (index >= 0 || part.find('/') == std::string::npos) return index;
    std::string backslashed = part;
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    return zip_name_locate(archive, backslashed.c_str(), ZIP_FL_NOCASE);
}

// The sizes the archive declares for its entry index, inflated (UINT64_MAX when unknown) and compressed.
struct EntrySizes {
    uint64_t inflated = UINT64_MAX, compressed = 0;
};
static EntrySizes DeclaredSizes(zip_t* archive, zip_int64_t index)
{
    EntrySizes sizes;
    zip_stat_t stat;
    if (index < 0 || zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0) return sizes;
    if ((stat.valid & ZIP_STAT_SIZE) != 0) sizes.inflated = stat.size;
    if ((stat.valid & ZIP_STAT_COMP_SIZE) != 0) sizes.compressed = stat.comp_size;
    return sizes;
}

static uint64_t DeclaredSize(zip_t* archive, zip_int64_t index)
{
    const uint64_t size = DeclaredSizes(archive, index).inflated;
    return size == UINT64_MAX ? 0 : size;
}

// Whether inflating to size bytes from the entry's compressed bytes makes a bomb (see XlsxLimits).
static bool Bomb(uint64_t size, const EntrySizes& sizes, const XlsxLimits& limits)
{
    return size > limits.bombFloorBytes && size / std::max<uint64_t>(sizes.compressed, 1) >= limits.bombRatio;
}

// how: "would inflate to" (as declared) or "inflates past" (as read).
static std::string BombText(const std::string& part, const char* how, uint64_t size, const EntrySizes& sizes, const XlsxLimits& limits)
{
    return part + ": an archive bomb: " + how + " " + std::to_string(size) + " bytes from " + std::to_string(sizes.compressed) +
           " (past " + SizeText(limits.bombFloorBytes) + ", at least " + std::to_string(limits.bombRatio) + " times its compressed size)";
}

uint64_t DeclaredSize(zip_t* archive, const std::string& part) { return DeclaredSize(archive, LocatePart(archive, part)); }

bool StreamPart(zip_t* archive, const std::string& part, const XlsxLimits& limits, uint64_t* budget,
                const PartConsumer& consume, std::string* error, bool* refused)
{
    if (refused != nullptr) *refused = false;
    const zip_int64_t index = LocatePart(archive, part);
    if (index < 0) {
        *error = part + ": part missing from the archive";
        return false;
    }
    // What the entry declares is judged before the entry is even opened: a bomb costs nothing to refuse.
    const EntrySizes declared = DeclaredSizes(archive, index);
    if (Bomb(declared.inflated, declared, limits)) {
        *error = BombText(part, "would inflate to", declared.inflated, declared, limits);
        return false;
    }
    const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> opened(zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0),
                                                                  zip_fclose);
    zip_file_t* file = opened.get();
    if (file == nullptr) {
        *error = part + ": cannot open: " + zip_strerror(archive);
        return false;
    }
    const uint64_t bound = std::min(limits.maxPartBytes, *budget);
    uint64_t size = 0;
    bool inflated = true;
    bool consumed = true;
    std::string refusal;
    PieceSource pieces(file, std::max<size_t>(limits.pieceBytes, 1), declared.inflated >= limits.aheadFrom);
    for (;;) {
        const char* chunk = nullptr;
        const zip_int64_t got = pieces.Next(&chunk);
        if (got < 0) {
            *error = part + ": cannot inflate: " + zip_file_strerror(file);
            inflated = false;
            break;
        }
        if (got == 0) break;
        // A part that inflates past what its entry declares, or to a bomb's size, is refused at once
        // rather than at its CRC, after inflating all of it.
        const uint64_t grown = size + static_cast<uint64_t>(got);
        if (grown > declared.inflated || Bomb(grown, declared, limits)) {
            *error = grown > declared.inflated ? part + ": inflates past the " + std::to_string(declared.inflated) +
                                                     " bytes its archive entry declares"
                                               : BombText(part, "inflates past", size, declared, limits);
            inflated = false;
            break;
        }
        if (grown > bound) {
            *error = part + ": inflates past " +
                     (bound == limits.maxPartBytes ? SizeText(bound) + " (the bound on one part)"
                                                   : "the " + SizeText(limits.maxTotalBytes) + " bound on the workbook");
            inflated = false;
            break;
        }
        size += static_cast<uint64_t>(got);
        // Once the consumer refuses, the rest is still inflated: a damaged or oversized part is the
        // cause to report, not the malformed text it inflated to.
        if (consumed) consumed = consume(chunk, static_cast<size_t>(got), false, &refusal);
    }
    if (inflated && consumed) consumed = consume(nullptr, 0, true, &refusal);
    if (inflated && !consumed) *error = refusal;
    if (refused != nullptr) *refused = inflated && !consumed;
    if (!inflated || !consumed) return false;
    *budget -= size;
    return true;
}

bool ReadPart(zip_t* archive, const std::string& part, const XlsxLimits& limits, uint64_t* budget,
              std::string* bytes, std::string* error)
{
    bytes->clear();
    const bool read = StreamPart(archive, part, limits, budget,
        [&](const char* data, size_t size, bool, std::string*) {
            bytes->append(data, size);
            return true;
        },
        error);
    if (!read) {
        bytes->clear();
        bytes->shrink_to_fit();
    }
    return read;
}

bool ParseXml(const std::string& part, const std::string& bytes, pugi::xml_document* document, std::string* error)
{
    // Whitespace alone in <t> is text (xml:space="preserve"); no entity beyond the five predefined
    // ones is ever expanded, so nothing in a part can grow while parsed.
    const pugi::xml_parse_result result =
        document->load_buffer(bytes.data(), bytes.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
    // Running out of memory says nothing about the part: it is the command's to report, for the file.
    if (result.status == pugi::status_out_of_memory) throw std::bad_alloc();
    if (!result) {
        *error = part + ": malformed XML at byte " + std::to_string(result.offset) + ": " + result.description();
        return false;
    }
    return true;
}

const char* LocalPart(const char* name)
{
    const char* colon = std::strchr(name, ':');
    return colon != nullptr ? colon + 1 : name;
}

const char* LocalName(const pugi::xml_node& node)
{
    return LocalPart(node.name());
}

static pugi::xml_node ElementFrom(pugi::xml_node node, const char* localName)
{
    for (; node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && std::strcmp(LocalName(node), localName) == 0) return node;
    }
    return pugi::xml_node();
}

pugi::xml_node ChildElement(const pugi::xml_node& parent, const char* localName)
{
    return ElementFrom(parent.first_child(), localName);
}

pugi::xml_node NextElement(const pugi::xml_node& node, const char* localName)
{
    return ElementFrom(node.next_sibling(), localName);
}

std::string RelationshipId(const pugi::xml_node& node)
{
    for (const pugi::xml_attribute attribute : node.attributes()) {
        const char* name = attribute.name();
        const char* colon = std::strchr(name, ':');
        if (colon == nullptr || std::strcmp(colon + 1, "id") != 0) continue;
        const std::string declaration = "xmlns:" + std::string(name, colon);
        // The nearest declaration of the prefix is the one in force.
        for (pugi::xml_node scope = node; scope; scope = scope.parent()) {
            const pugi::xml_attribute bound = scope.attribute(declaration.c_str());
            if (!bound) continue;
            const std::string space = bound.value();
            const std::string suffix = "/relationships";
            if (space.size() >= suffix.size() && space.compare(space.size() - suffix.size(), suffix.size(), suffix) == 0) {
                return attribute.value();
            }
            break;
        }
    }
    return std::string();
}

}  // namespace quorin_host
