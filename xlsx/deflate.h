// deflate.h - a part deflated as its bytes are made, in blocks on every core: raw deflate for an
// archive entry, with the size and CRC-32 of what it inflates to. Internal to quorin_xlsx.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorin_host {

// The part is cut into blocks of BlockBytes, each deflated on its own, primed with the 32 KiB before
// it and ended on a byte boundary (as parallel gzip tools do), so that the blocks join into one
// stream. A block depends only on the bytes, never on which thread deflated it or when: the same
// part always deflates to the same bytes. Out of memory (zlib's only failure here) throws
// std::bad_alloc on the calling thread.
class PartDeflater {
public:
    static constexpr size_t BlockBytes = size_t{1} << 20;

    // The threads a part is deflated on: the cores, at most 8 (one block deflates in a few
    // milliseconds; more threads would wait for the bytes).
    static size_t Cores();

    // deflated: where the stream goes, in order, as the blocks are done; with fewer than two
    // threads, each block is deflated as it is handed over.
    explicit PartDeflater(std::string* deflated, size_t threads = Cores());
    ~PartDeflater();
    PartDeflater(const PartDeflater&) = delete;
    PartDeflater& operator=(const PartDeflater&) = delete;

    // Takes the bytes; a full block goes to the threads, a few wait at most.
    void Add(const char* data, size_t size);
    // Deflates what is left as the stream's end and waits for every block.
    void Finish();

    uint64_t Size() const { return size_; }
    uint32_t Crc() const { return crc_; }

private:
    struct Block {
        std::string dictionary, input, output;
        size_t inputBytes = 0;
        uint32_t crc = 0;
        bool last = false, done = false;
    };

    void Dispatch(bool last);
    // Appends the finished blocks at the front; with wait, first waits for the front one.
    void Collect(std::unique_lock<std::mutex>& lock, bool wait);
    void Work();
    static void DeflateBlock(Block* block);

    std::string* deflated_;
    std::string pending_;  // the block being filled
    std::string previous_; // the last 32 KiB given to a block, its successor's dictionary
    uint64_t size_ = 0;
    uint32_t crc_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Block>> blocks_;  // dispatched, in order, not yet appended
    size_t nextToTake_ = 0;                      // index in blocks_ of the first no thread has taken
    bool stop_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> workers_;
};

}  // namespace quorin_host
