// sheet_stream.cpp - worksheet cells from an XML parser's events as the part inflates, and the part
// copied around the cells that are rewritten.
#include "xlsx/sheet_stream.h"

#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "engine/formula.h"
#include "xlsx/archive.h"

namespace quorin_host {

namespace {

struct ParserFree {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
struct ContextFree {
    // A document type declaring an entity gets a document of its own to hold it, which is the
    // caller's to free, even with no tree asked for.
    void operator()(xmlParserCtxt* context) const
    {
        if (context->myDoc != nullptr) xmlFreeDoc(context->myDoc);
        xmlFreeParserCtxt(context);
    }
};

bool Named(const char* local, const char* localName) { return std::strcmp(local, localName) == 0; }

// An element's attributes as either parser hands them: expat's name and value pairs (names as
// written, prefix and all), or libxml2's quintuples of local name, prefix, namespace, value and the
// value's end. Only an unprefixed attribute is ever looked up, as a prefixed one is another attribute.
class Attributes {
public:
    explicit Attributes(const char** pairs) : pairs_(pairs) {}
    Attributes(const xmlChar** quintuples, int count) : quintuples_(quintuples), count_(count) {}

    bool Find(const char* name, std::string_view* value) const
    {
        if (pairs_ != nullptr) {
            for (const char** a = pairs_; *a != nullptr; a += 2) {
                if (std::strcmp(a[0], name) == 0) return *value = a[1], true;
            }
            return false;
        }
        for (int k = 0; k < count_; ++k) {
            const xmlChar* const* a = quintuples_ + 5 * k;
            if (a[1] != nullptr || std::strcmp(reinterpret_cast<const char*>(a[0]), name) != 0) continue;
            *value = std::string_view(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3]));
            return true;
        }
        return false;
    }

    // The pairs as written: a copy, which needs them, is always made through expat.
    const char** Pairs() const { return pairs_; }

private:
    const char** pairs_ = nullptr;
    const xmlChar** quintuples_ = nullptr;
    int count_ = 0;
};

// The element depths that matter: <worksheet> is 1, so <sheetData> 2, <row> 3, <c> 4, its <f>, <v>
// and <is> 5, a string item's <t> and <r> 6, a run's <t> 7.
enum Depth : int { SheetDataDepth = 2, RowDepth = 3, CellDepth = 4, CellChildDepth = 5, ItemChildDepth = 6, RunChildDepth = 7 };

// libxml2 keeps state of its own that must be set up once, before any thread parses.
void StartLibxml2()
{
    static const bool started = (xmlInitParser(), true);
    (void)started;
}

// Where a sheet read on a thread of its own takes its bytes: up to size of them into out, 0 at the
// part's end, -1 once the read is to stop.
using SheetSource = std::function<int(char* out, int size)>;

// One read of one part: the parser's callbacks land here. Offsets count from the part's first byte.
// A copy is read with expat, the one parser that tells each event's bytes; a sheet read for its
// cells alone, with libxml2's SAX parser, which takes a quarter fewer instructions over the same
// bytes when pushed them as they inflate, a third fewer when it pulls them from a source.
class SheetReader {
public:
    // Pushed the part's pieces through Feed: copied with expat, or read with libxml2.
    SheetReader(const std::string& part, const CellMarkupVisitor& visit, std::string* copy)
        : part_(part), visit_(visit), copy_(copy)
    {
        if (copy_ != nullptr) {
            expat_.reset(XML_ParserCreate(nullptr));
            if (!expat_) throw std::bad_alloc();
            XML_SetUserData(expat_.get(), this);
            XML_SetElementHandler(expat_.get(), &SheetReader::OnStart, &SheetReader::OnEnd);
            XML_SetCharacterDataHandler(expat_.get(), &SheetReader::OnText);
            XML_SetEntityDeclHandler(expat_.get(), &SheetReader::OnEntity);
            return;
        }
        xmlSAXHandler events = Events();
        sax_.reset(xmlCreatePushParserCtxt(&events, this, nullptr, 0, nullptr));
        Configure();
    }

    // Pulling the whole part from source through Read, on the thread that calls it.
    SheetReader(const std::string& part, const CellMarkupVisitor& visit, SheetSource source)
        : part_(part), visit_(visit), copy_(nullptr), source_(std::move(source))
    {
        xmlSAXHandler events = Events();
        sax_.reset(xmlCreateIOParserCtxt(&events, this, &SheetReader::OnRead, nullptr, this, XML_CHAR_ENCODING_NONE));
        Configure();
    }

    // Reads the part from the source; false with the error set.
    bool Read(std::string* error)
    {
        xmlParseDocument(sax_.get());
        return Outcome(error);
    }

    // The record the next cell is read into, from its start on (the reader's own until then): a
    // visit that keeps records saves copying each.
    void Into(CellMarkup* record) { cell_ = record; }

    // One inflated piece (last: the end of the part); false with the error set.
    bool Feed(const char* data, size_t size, bool last, std::string* error)
    {
        if (sax_) return FeedSax(data, size, last, error);
        // The cells a copy writes are UTF-8: spliced into a sheet stored in UTF-16 (a byte order
        // mark, or '<' as two bytes), they would break it.
        if (head_.size() < 2) {
            head_.append(data, std::min(size, 2 - head_.size()));
            if (head_ == "\xFF\xFE" || head_ == "\xFE\xFF" || head_ == std::string("<\0", 2) || head_ == std::string("\0<", 2)) {
                *error = part_ + ": stored in UTF-16, which a copy cannot write its cells into (UTF-8 only)";
                return false;
            }
        }
        pending_.append(data, size);
        const XML_Status status = XML_Parse(expat_.get(), data, static_cast<int>(size), last ? XML_TRUE : XML_FALSE);
        if (failure_) std::rethrow_exception(failure_);
        if (status != XML_STATUS_OK) {
            if (!refusal_.empty()) {
                *error = refusal_;
            } else {
                const XML_Error code = XML_GetErrorCode(expat_.get());
                if (code == XML_ERROR_NO_MEMORY) throw std::bad_alloc();
                *error = Malformed(static_cast<uint64_t>(XML_GetCurrentByteIndex(expat_.get())), XML_ErrorString(code));
            }
            return false;
        }
        CopyUpTo(last ? pendingStart_ + pending_.size() : (inCell_ ? cell_->begin : settled_));
        // Only what is copied is let go of, and only between pieces: erasing at every cell would
        // move the rest of the piece each time.
        pending_.erase(0, static_cast<size_t>(flushed_ - pendingStart_));
        pendingStart_ = flushed_;
        return true;
    }

private:
    static xmlSAXHandler Events()
    {
        StartLibxml2();
        xmlSAXHandler events{};
        events.initialized = XML_SAX2_MAGIC;
        events.startElementNs = &SheetReader::OnStartNs;
        events.endElementNs = &SheetReader::OnEndNs;
        events.characters = events.cdataBlock = events.ignorableWhitespace = &SheetReader::OnCharacters;
        events.entityDecl = &SheetReader::OnEntityDeclared;
        events.serror = &SheetReader::OnError;  // kept in the context, never printed
        return events;
    }

    void Configure()
    {
        if (!sax_) throw std::bad_alloc();
        // Nothing fetched from outside, no entity expanded, no tree kept: events only.
        xmlCtxtUseOptions(sax_.get(), XML_PARSE_NONET | XML_PARSE_NOCDATA);
    }

    static int OnRead(void* self, char* out, int size) { return static_cast<SheetReader*>(self)->source_(out, size); }

    bool FeedSax(const char* data, size_t size, bool last, std::string* error)
    {
        xmlParseChunk(sax_.get(), data, static_cast<int>(size), last ? 1 : 0);
        return Outcome(error);
    }

    // How libxml2's parse went: a failure thrown again, a refusal of ours, or malformed markup.
    bool Outcome(std::string* error)
    {
        if (failure_) std::rethrow_exception(failure_);
        if (!refusal_.empty()) {
            *error = refusal_;
            return false;
        }
        // A namespace error (an undeclared prefix) is not one of form: names are read by their local
        // part, as expat reads them.
        if (sax_->wellFormed) return true;
        const xmlError* fault = xmlCtxtGetLastError(sax_.get());
        if (fault != nullptr && fault->code == XML_ERR_NO_MEMORY) throw std::bad_alloc();
        std::string what = fault != nullptr && fault->message != nullptr ? fault->message : "not well-formed";
        while (!what.empty() && what.back() == '\n') what.pop_back();
        *error = Malformed(static_cast<uint64_t>(xmlByteConsumed(sax_.get())), what);
        return false;
    }

    std::string Malformed(uint64_t at, const std::string& what) const
    {
        return part_ + ": malformed XML at byte " + std::to_string(at) + ": " + what;
    }

    static void OnStart(void* self, const char* name, const char** attributes)
    {
        static_cast<SheetReader*>(self)->Guarded([&](SheetReader& r) { r.Start(LocalPart(name), name, Attributes(attributes)); });
    }
    static void OnEnd(void* self, const char*)
    {
        static_cast<SheetReader*>(self)->Guarded([&](SheetReader& r) { r.End(); });
    }
    static void OnText(void* self, const char* text, int length)
    {
        SheetReader& r = *static_cast<SheetReader*>(self);
        r.Guarded([&](SheetReader&) {
            if (r.capture_ != nullptr) r.capture_->append(text, static_cast<size_t>(length));
            r.settled_ = r.EventEnd();
        });
    }
    static void OnEntity(void* self, const char*, int, const char*, int, const char*, const char*, const char*, const char*)
    {
        static_cast<SheetReader*>(self)->RefuseEntity();
    }

    static void OnStartNs(void* self, const xmlChar* local, const xmlChar*, const xmlChar*, int, const xmlChar**, int count,
                          int, const xmlChar** attributes)
    {
        static_cast<SheetReader*>(self)->Guarded(
            [&](SheetReader& r) { r.Start(reinterpret_cast<const char*>(local), nullptr, Attributes(attributes, count)); });
    }
    static void OnEndNs(void* self, const xmlChar*, const xmlChar*, const xmlChar*)
    {
        static_cast<SheetReader*>(self)->Guarded([&](SheetReader& r) { r.End(); });
    }
    static void OnCharacters(void* self, const xmlChar* text, int length)
    {
        SheetReader& r = *static_cast<SheetReader*>(self);
        if (r.capture_ != nullptr) r.Guarded([&](SheetReader&) { r.capture_->append(reinterpret_cast<const char*>(text), static_cast<size_t>(length)); });
    }
    static void OnEntityDeclared(void* self, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*)
    {
        static_cast<SheetReader*>(self)->RefuseEntity();
    }
    static void OnError(void*, xmlError*) {}

    void RefuseEntity() { Stop(part_ + ": declares an entity; a worksheet has none to expand"); }

    // An exception must not cross the parser's frames: it is kept, the parse stopped, and thrown after.
    template <typename Step> void Guarded(Step step)
    {
        if (stopped_) return;
        try {
            step(*this);
        } catch (...) {
            failure_ = std::current_exception();
            Halt();
        }
    }

    void Stop(std::string refusal)
    {
        refusal_ = std::move(refusal);
        Halt();
    }

    void Halt()
    {
        stopped_ = true;
        if (sax_) xmlStopParser(sax_.get());
        else XML_StopParser(expat_.get(), XML_FALSE);
    }

    // Where the bytes lie matters only to a copy: read for its cells, a sheet asks for none.
    uint64_t EventBegin() const { return copy_ == nullptr ? 0 : static_cast<uint64_t>(XML_GetCurrentByteIndex(expat_.get())); }
    uint64_t EventEnd() const { return copy_ == nullptr ? 0 : EventBegin() + static_cast<uint64_t>(XML_GetCurrentByteCount(expat_.get())); }

    // Names are compared without their namespace prefix: local is the element's name past it; name,
    // as written, is wanted only for a copy.
    void Start(const char* local, const char* name, const Attributes& attributes)
    {
        ++depth_;
        settled_ = EventEnd();
        std::string_view found;
        if (depth_ == SheetDataDepth) {
            inSheetData_ = Named(local, "sheetData");
        } else if (depth_ == RowDepth && inSheetData_ && Named(local, "row")) {
            inRow_ = attributes.Find("r", &found) ? StartRow(&found) : StartRow(nullptr);
        } else if (depth_ == CellDepth && inRow_ && Named(local, "c")) {
            StartCell(name, attributes);
        } else if (depth_ == CellChildDepth && inCell_) {
            StartCellChild(local, attributes);
        } else if (depth_ == ItemChildDepth && inInline_) {
            if (Named(local, "t")) Capture(&text_);
            inRun_ = Named(local, "r");
        } else if (depth_ == RunChildDepth && inRun_ && Named(local, "t")) {
            Capture(&text_);
        }
    }

    void End()
    {
        // An empty-element tag's end is an event of no bytes of its own.
        const bool empty = copy_ != nullptr && XML_GetCurrentByteCount(expat_.get()) == 0;
        const uint64_t end = empty ? settled_ : EventEnd();
        settled_ = end;
        if (depth_ == CellChildDepth && inCell_) {
            if (formulaOpen_) cell_->formulaEnd = end;
            if (valueOpen_) cell_->valueEnd = end;
            if (inInline_) cell_->inlineEnd = end;
            formulaOpen_ = valueOpen_ = inInline_ = false;
            capture_ = nullptr;
        } else if ((depth_ == ItemChildDepth || depth_ == RunChildDepth) && capture_ == &text_) {
            cell_->inlineText += DecodeText(text_.c_str());
            capture_ = nullptr;
        }
        if (depth_ == ItemChildDepth) inRun_ = false;
        if (depth_ == CellDepth && inCell_) EndCell(end, empty);
        if (depth_ == RowDepth) inRow_ = false;
        if (depth_ == SheetDataDepth) inSheetData_ = false;
        --depth_;
    }

    void Capture(std::string* target)
    {
        target->clear();
        capture_ = target;
    }

    bool StartRow(const std::string_view* number)
    {
        if (number != nullptr) {
            if (!ParseRowName(*number, &row_)) {
                Stop(part_ + ": row \"" + std::string(*number) + "\": not a row number from 1 to 1048576");
                return false;
            }
        } else if (anyRow_) {
            if (row_ + 1 >= MaxSheetRows) {
                Stop(part_ + ": a row without r= past the sheet's last row");
                return false;
            }
            ++row_;
        }
        anyRow_ = true;
        anyCell_ = false;
        return true;
    }

    void StartCell(const char* name, const Attributes& attributes)
    {
        std::string_view reference, type;
        const bool referenced = attributes.Find("r", &reference);
        const bool typed = attributes.Find("t", &type);
        uint32_t cellRow = row_;
        if (referenced) {
            if (!ParseCellName(reference, &cellRow, &column_)) {
                return Stop(part_ + ": cell \"" + std::string(reference) + "\": not a cell within A1:XFD1048576");
            }
        } else if (anyCell_) {
            if (uint32_t{column_} + 1 >= MaxSheetColumns) {
                return Stop(part_ + ": a cell without r= past column XFD in row " + std::to_string(row_ + 1));
            }
            ++column_;
        } else {
            column_ = 0;
        }
        anyCell_ = true;
        inCell_ = true;
        // The record is reused: its strings keep their capacity, so a sheet costs no allocation per cell.
        // A reference in another row places the cell there, as other readers take it; the row goes on.
        cell_->row = cellRow;
        cell_->outsideRow = cellRow != row_;
        cell_->column = column_;
        // Only a copy rewrites the element, from its name and attributes.
        if (copy_ != nullptr) cell_->name = name;
        size_t n = 0;
        for (const char** a = attributes.Pairs(); copy_ != nullptr && *a != nullptr; a += 2, ++n) {
            if (n == cell_->attributes.size()) cell_->attributes.emplace_back();
            cell_->attributes[n].first = a[0];
            cell_->attributes[n].second = a[1];
        }
        cell_->attributes.resize(n);
        cell_->type.assign(typed ? type : std::string_view());
        cell_->hasFormula = cell_->hasValue = cell_->hasInline = false;
        cell_->formulaType.clear();
        cell_->formulaRef.clear();
        cell_->formulaShared.clear();
        cell_->formulaText.clear();
        cell_->value.clear();
        cell_->inlineText.clear();
        cell_->begin = EventBegin();
        cell_->contentBegin = cell_->end = EventEnd();
        cell_->valueBegin = cell_->valueEnd = cell_->inlineBegin = cell_->inlineEnd = cell_->formulaEnd = 0;
        cell_->emptyElement = false;
    }

    void StartCellChild(const char* local, const Attributes& attributes)
    {
        if (Named(local, "f") && !cell_->hasFormula) {
            cell_->hasFormula = true;
            // Each left empty when absent.
            std::string_view type, ref, shared;
            attributes.Find("t", &type);
            attributes.Find("ref", &ref);
            attributes.Find("si", &shared);
            cell_->formulaType.assign(type);
            cell_->formulaRef.assign(ref);
            cell_->formulaShared.assign(shared);
            formulaOpen_ = true;
            Capture(&cell_->formulaText);
        } else if (Named(local, "v") && !cell_->hasValue) {
            cell_->hasValue = true;
            cell_->valueBegin = EventBegin();
            valueOpen_ = true;
            Capture(&cell_->value);
        } else if (Named(local, "is") && !cell_->hasInline) {
            cell_->hasInline = true;
            cell_->inlineBegin = EventBegin();
            inInline_ = true;
        }
    }

    void EndCell(uint64_t end, bool empty)
    {
        inCell_ = false;
        cell_->end = end;
        cell_->emptyElement = empty;
        if (empty) cell_->contentBegin = end;
        replacement_.clear();
        std::string_view raw;
        if (copy_ != nullptr) raw = std::string_view(pending_).substr(cell_->begin - pendingStart_, end - cell_->begin);
        std::string refusal;
        if (!visit_(*cell_, raw, &replacement_, &refusal)) return Stop(refusal);
        if (replacement_.empty() || copy_ == nullptr) return;
        CopyUpTo(cell_->begin);
        copy_->append(replacement_);
        flushed_ = end;
    }

    // Copies the bytes after the last copied (or replaced) ones up to offset.
    void CopyUpTo(uint64_t offset)
    {
        if (offset <= flushed_) return;
        copy_->append(pending_, static_cast<size_t>(flushed_ - pendingStart_), static_cast<size_t>(offset - flushed_));
        flushed_ = offset;
    }

    const std::string& part_;
    const CellMarkupVisitor& visit_;
    std::string* copy_;
    std::unique_ptr<XML_ParserStruct, ParserFree> expat_;  // a copy's parser
    std::unique_ptr<xmlParserCtxt, ContextFree> sax_;      // or a read's
    SheetSource source_;                                   // a pulled read's bytes
    std::exception_ptr failure_;
    std::string refusal_;
    bool stopped_ = false;

    int depth_ = 0;
    bool inSheetData_ = false, inRow_ = false, inCell_ = false, inInline_ = false, inRun_ = false;
    bool formulaOpen_ = false, valueOpen_ = false;
    bool anyRow_ = false, anyCell_ = false;
    uint32_t row_ = 0;
    uint16_t column_ = 0;
    CellMarkup own_;
    CellMarkup* cell_ = &own_;  // the record the cell being read goes into
    std::string* capture_ = nullptr;  // where character data goes, when it is wanted
    std::string text_;                // a string item's <t> being read
    std::string replacement_;
    // The copy: bytes from pendingStart_ are held until copied; everything before flushed_ is copied.
    // settled_ ends the last event expat reported; bytes after it may belong to a cell not yet seen.
    std::string pending_;
    uint64_t pendingStart_ = 0, flushed_ = 0, settled_ = 0;
    std::string head_;  // the part's first two bytes, which tell UTF-16
};

// A large sheet read for its cells on two threads: this one inflates the part and visits the cells,
// another parses. Pieces go to the parser and batches of cells come back, each through a ring of a
// few, so that neither side allocates to hand over and each waits only when the other is behind.
// Parsing costs more than inflating and visiting together, so it has the thread to itself. What is
// reported is what reading on one thread reports: a refusal of visit, unless the part then proves
// damaged or too big; malformed markup, if met before any refusal.
class CellRelay {
public:
    explicit CellRelay(const CellMarkupVisitor& visit)
        : visit_(visit), relay_([this](const CellMarkup& cell, std::string_view, std::string*, std::string* refusal) { return Relay(cell, refusal); })
    {
    }

    ~CellRelay()
    {
        if (!parser_.joinable()) return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        forParser_.notify_all();
        parser_.join();
    }

    // *started is false when no thread is to be had: nothing was read.
    bool Read(zip_t* archive, const std::string& part, const XlsxLimits& limits, uint64_t* budget, std::string* error, bool* started,
              bool* refused)
    {
        for (size_t k = 0; k < Ring; ++k) pieces_[k].bytes.resize(std::max<size_t>(limits.pieceBytes, 1)), batches_[k].cells.resize(CellsPerBatch);
        try {
            parser_ = std::thread([this, &part] { Parse(part); });
        } catch (const std::system_error&) {
            *started = false;
            return false;
        }
        *started = true;
        XlsxLimits here = limits;
        here.aheadFrom = UINT64_MAX;  // inflated on this thread, between visits
        return StreamPart(archive, part, here, budget,
            [this](const char* data, size_t size, bool last, std::string* refusal) { return Consume(data, size, last, refusal); }, error,
            refused);
    }

private:
    static constexpr size_t Ring = 4;
    static constexpr size_t CellsPerBatch = 4096;
    struct Piece {
        std::vector<char> bytes;
        size_t size = 0;
        bool last = false;
    };
    struct CellBatch {
        std::vector<CellMarkup> cells;
        size_t count = 0;
    };

    // The parsing thread: pieces in, cells out, until the last piece, a fault or a stop.
    void Parse(const std::string& part)
    {
        std::exception_ptr failure;
        std::string fault;
        try {
            SheetReader reader(part, relay_, [this](char* out, int size) { return Pull(out, size); });
            reader_ = &reader;
            std::string why;
            if (!NextRecord() || !reader.Read(&why)) fault = why.empty() ? "stopped" : why;
            if (filling_ != nullptr) Send();  // the last batch, part full
            reader_ = nullptr;
        } catch (...) {
            failure = std::current_exception();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        failure_ = failure;
        fault_ = fault;
        parsed_ = true;
        forReader_.notify_all();
    }

    // On the parsing thread, as the parser asks for bytes: the pieces in turn, each let go of once
    // used up, until size bytes are given (libxml2 takes a short read for the end of its input), or
    // the last piece is; -1 once stopped.
    int Pull(char* out, int size)
    {
        int given = 0;
        while (given < size && !pulledLast_) {
            if (pulling_ == nullptr) {
                std::unique_lock<std::mutex> lock(mutex_);
                ParserWaits(lock, [this] { return stop_ || piecesSent_ > piecesTaken_; });
                if (stop_) return -1;
                pulling_ = &pieces_[piecesTaken_ % Ring];
                pulled_ = 0;
            }
            const size_t n = std::min(pulling_->size - pulled_, static_cast<size_t>(size - given));
            std::memcpy(out + given, pulling_->bytes.data() + pulled_, n);
            pulled_ += n;
            given += static_cast<int>(n);
            if (pulled_ < pulling_->size) break;
            pulledLast_ = pulling_->last;
            pulling_ = nullptr;
            const std::lock_guard<std::mutex> lock(mutex_);
            ++piecesTaken_;
            WakeReader();
        }
        return given;
    }

    // On the parsing thread: the reader read each cell into the next record of the batch being
    // filled; once a batch is full it goes, and the next is waited for. False once stopped.
    bool Relay(const CellMarkup&, std::string* refusal)
    {
        if (++filling_->count < CellsPerBatch) {
            reader_->Into(&filling_->cells[filling_->count]);
            return true;
        }
        Send();
        if (NextRecord()) return true;
        *refusal = "stopped by its reader";  // visit refused a cell before: never reported
        return false;
    }

    bool NextRecord()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ParserWaits(lock, [this] { return stop_ || batchesSent_ - batchesTaken_ < Ring; });
        if (stop_) return false;
        filling_ = &batches_[batchesSent_ % Ring];
        filling_->count = 0;
        reader_->Into(&filling_->cells[0]);
        return true;
    }

    void Send()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++batchesSent_;
        filling_ = nullptr;
        WakeReader();
    }

    template <typename Ready> void ParserWaits(std::unique_lock<std::mutex>& lock, Ready ready)
    {
        parserWaits_ = true;
        forParser_.wait(lock, ready);
        parserWaits_ = false;
    }
    void WakeParser()
    {
        if (parserWaits_) forParser_.notify_one();
    }
    void WakeReader()
    {
        if (readerWaits_) forReader_.notify_one();
    }

    // On this thread, for each inflated piece: hands it to the parser, visiting the cells that came
    // back while the parser is behind; at the last, visits the rest. False once visit refused or the
    // parser met a fault, with what it was.
    bool Consume(const char* data, size_t size, bool last, std::string* refusal)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (bool handed = false;;) {
            if (!handed && !parsed_ && piecesSent_ - piecesTaken_ < Ring) {
                Piece& piece = pieces_[piecesSent_ % Ring];
                if (size > 0) std::memcpy(piece.bytes.data(), data, size);
                piece.size = size;
                piece.last = last;
                ++piecesSent_;
                WakeParser();
                handed = true;
                if (!last) return true;
            }
            if (batchesSent_ > batchesTaken_) {
                const CellBatch& batch = batches_[batchesTaken_ % Ring];
                lock.unlock();
                for (size_t n = 0; n < batch.count && refusal_.empty(); ++n) {
                    std::string fault;
                    if (!visit_(batch.cells[n], std::string_view(), &replacement_, &fault)) refusal_ = fault.empty() ? "refused" : fault;
                }
                lock.lock();
                ++batchesTaken_;
                WakeParser();
                if (!refusal_.empty()) {
                    stop_ = true;
                    *refusal = refusal_;
                    return false;
                }
                continue;
            }
            if (parsed_) break;
            readerWaits_ = true;
            forReader_.wait(lock);
            readerWaits_ = false;
        }
        // The parser is done, and every cell it sent was visited.
        if (failure_) std::rethrow_exception(failure_);
        if (!fault_.empty()) {
            *refusal = fault_;
            return false;
        }
        return true;
    }

    const CellMarkupVisitor& visit_;
    const CellMarkupVisitor relay_;
    std::mutex mutex_;
    // Each side is woken only while it waits: a wake-up costs a system call, and a sheet of millions
    // of cells is handed over in thousands of pieces and batches.
    std::condition_variable forParser_, forReader_;
    bool parserWaits_ = false, readerWaits_ = false;
    Piece pieces_[Ring];
    CellBatch batches_[Ring];
    uint64_t piecesSent_ = 0, piecesTaken_ = 0;    // by this thread, by the parser
    uint64_t batchesSent_ = 0, batchesTaken_ = 0;  // by the parser, by this thread
    bool stop_ = false;    // parse no further
    bool parsed_ = false;  // the parser is done: fault_ or failure_ say why, if it failed
    std::string fault_;
    std::exception_ptr failure_;
    CellBatch* filling_ = nullptr;  // the parser's
    const Piece* pulling_ = nullptr;  // the parser's: the piece it takes bytes from, pulled_ of them so far
    size_t pulled_ = 0;
    bool pulledLast_ = false;
    SheetReader* reader_ = nullptr;
    std::string refusal_, replacement_;  // this thread's
    std::thread parser_;
};

}  // namespace

bool StreamSheetCells(zip_t* archive, const std::string& part, const XlsxLimits& limits, uint64_t* budget,
                      const CellMarkupVisitor& visit, std::string* copy, std::string* error, bool* refused)
{
    if (copy == nullptr && DeclaredSize(archive, part) >= limits.aheadFrom) {
        CellRelay relay(visit);
        bool started = false;
        const bool read = relay.Read(archive, part, limits, budget, error, &started, refused);
        if (started) return read;
    }
    return StreamSheetCells(archive, part, limits, budget, visit, copy, CopyDrain(), error, refused);
}

bool StreamSheetCells(zip_t* archive, const std::string& part, const XlsxLimits& limits, uint64_t* budget,
                      const CellMarkupVisitor& visit, std::string* copy, const CopyDrain& copied, std::string* error,
                      bool* refused)
{
    SheetReader reader(part, visit, copy);
    return StreamPart(archive, part, limits, budget,
        [&](const char* data, size_t size, bool last, std::string* refusal) {
            if (!reader.Feed(data, size, last, refusal)) return false;
            if (copied) copied(copy, last);
            return true;
        },
        error, refused);
}

std::string DecodeText(const char* text)
{
    std::string decoded;
    for (const char* p = text; *p != '\0';) {
        unsigned code = 0;
        // Each byte is tested before the next is read, so no escape is looked for past the text's end.
        if (p[0] == '_' && p[1] == 'x' && p[2] != '\0' && p[3] != '\0' && p[4] != '\0' && p[5] != '\0' && p[6] == '_' &&
            std::from_chars(p + 2, p + 6, code, 16).ptr == p + 6) {
            if (code < 0x80) {
                decoded += static_cast<char>(code);
            } else if (code < 0x800) {
                decoded += static_cast<char>(0xC0 | (code >> 6));
                decoded += static_cast<char>(0x80 | (code & 0x3F));
            } else {
                decoded += static_cast<char>(0xE0 | (code >> 12));
                decoded += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                decoded += static_cast<char>(0x80 | (code & 0x3F));
            }
            p += 7;
        } else {
            decoded += *p++;
        }
    }
    return decoded;
}

}  // namespace quorin_host
