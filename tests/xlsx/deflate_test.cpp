// A part deflated in blocks on several threads is one raw deflate stream of the same bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>

#include "xlsx/deflate.h"

using quorin_host::PartDeflater;

namespace {

std::string Inflated(const std::string& deflated, size_t size)
{
    std::string out(size + 1, '\0');
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, -MAX_WBITS), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    stream.avail_in = static_cast<uInt>(deflated.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END) << "the joined blocks are not one finished stream";
    out.resize(out.size() - stream.avail_out);
    inflateEnd(&stream);
    return out;
}

}  // namespace

// Sizes at, around and across block boundaries, handed over in uneven pieces; without threads (a
// machine of one core) as with them, to the same bytes.
TEST(PartDeflater, BlocksJoinIntoOneStreamOfTheSameBytesWhateverTheThreads)
{
    const size_t block = PartDeflater::BlockBytes;
    for (const size_t size : {size_t{0}, size_t{1000}, block, block + 1, 3 * block + 12345}) {
        std::string part;
        for (size_t k = 0; part.size() < size; ++k) part += "<c r=\"A" + std::to_string(k) + "\"><v>" + std::to_string(k * 7919 % 104729) + "</v></c>";
        part.resize(size);
        std::string first;
        for (const size_t threads : {size_t{1}, size_t{3}}) {
            SCOPED_TRACE(std::to_string(size) + " bytes on " + std::to_string(threads) + " threads");
            std::string deflated;
            PartDeflater deflater(&deflated, threads);
            for (size_t at = 0; at < size; at += 70001) deflater.Add(part.data() + at, std::min<size_t>(70001, size - at));
            deflater.Finish();
            EXPECT_EQ(deflater.Size(), size);
            EXPECT_EQ(deflater.Crc(), crc32(0L, reinterpret_cast<const Bytef*>(part.data()), static_cast<uInt>(size)));
            EXPECT_EQ(Inflated(deflated, size), part);
            if (threads == 1) first = deflated;
            else EXPECT_EQ(deflated, first) << "the bytes depend on the threads";
        }
    }
}
