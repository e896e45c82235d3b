// Reading a file's blocks in long runs and writing them out, converted or not.
#include "odstar/content.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "diag/report.hpp"
#include "ods2/layout.hpp"
#include "odstar/progress.hpp"
#include "output/convert.hpp"

namespace odstar {

namespace {

// One run buffer for reading and one for converted output, made once.
constexpr std::size_t RUN_BLOCKS = 1024; // 512 KiB
constexpr std::size_t OUT_BYTES = std::size_t{512} * 1024;

std::uint8_t* run_buffer()
{
    static std::vector<std::uint8_t> buffer(RUN_BLOCKS * BLOCK_SIZE);
    return buffer.data();
}

std::uint8_t* out_buffer()
{
    static std::vector<std::uint8_t> buffer(OUT_BYTES);
    return buffer.data();
}

[[nodiscard]] bool write_all(int fd, const std::uint8_t* data, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            report("write error: %s", w < 0 ? std::strerror(errno) : "nothing written");
            return false;
        }
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Feeds bytes of the file's stream to the conversion, writing what comes out.
[[nodiscard]] bool convert_piece(record_converter& c, const std::uint8_t* in, std::size_t n, int fd)
{
    while (n > 0) {
        std::size_t consumed = 0;
        const std::size_t out = convert_bytes(c, in, n, consumed, out_buffer(), OUT_BYTES);
        if (out > 0 && !write_all(fd, out_buffer(), out))
            return false;
        in += consumed;
        n -= consumed;
        if (consumed == 0 && out == 0)
            return true; // nothing taken and nothing given: no progress is possible
    }
    return true;
}

[[nodiscard]] bool finish(record_converter& c, int fd)
{
    for (int i = 0; i < 1024; ++i) {
        const std::size_t out = finish_conversion(c, out_buffer(), OUT_BYTES);
        if (out > 0 && !write_all(fd, out_buffer(), out))
            return false;
        if (out < OUT_BYTES)
            break;
    }
    if (c.truncated)
        report("the end of file falls inside a record; the last record was written as far "
               "as it goes");
    return true; // reported, and the status says so; what the file held is kept
}

} // namespace

std::uint64_t volume_bytes(const file_attributes& a, content mode)
{
    return mode == content::blocks ? std::uint64_t{a.highest_block} * BLOCK_SIZE : a.size_bytes;
}

bool write_contents(const file_header& h, const file_attributes& a, content mode, int fd,
                    progress* shown)
{
    const std::uint64_t total = volume_bytes(a, mode);
    const std::uint64_t blocks = (total + BLOCK_SIZE - 1) / BLOCK_SIZE;
    record_converter c;
    if (mode == content::convert)
        start_conversion(c, a, CONVERT_AUTO);
    map_cursor cursor{};
    std::uint64_t done = 0;
    for (std::uint64_t vbn = 1; vbn <= blocks;) {
        const std::uint64_t before = report_count;
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(RUN_BLOCKS, blocks - vbn + 1));
        const std::size_t got =
            read_vblocks(static_cast<std::int64_t>(vbn), want, run_buffer(), h, cursor);
        if (got == 0) {
            if (report_count == before)
                report("the file's map ends at block %llu, before its end of file (block %llu)",
                       static_cast<unsigned long long>(vbn),
                       static_cast<unsigned long long>(blocks));
            return false;
        }
        const std::size_t bytes =
            static_cast<std::size_t>(std::min<std::uint64_t>(got * BLOCK_SIZE, total - done));
        const bool ok = mode == content::convert ? convert_piece(c, run_buffer(), bytes, fd)
                                                 : write_all(fd, run_buffer(), bytes);
        if (!ok)
            return false;
        done += bytes;
        vbn += got;
        if (shown != nullptr)
            shown->add_bytes(bytes);
    }
    return mode != content::convert || finish(c, fd);
}

} // namespace odstar
