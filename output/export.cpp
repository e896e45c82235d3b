// Exporting a file: runs of blocks read through one map cursor, each run
// converted into a fixed output buffer that is handed to the sink when full.
#include "output/export.hpp"

#include <algorithm>

#include "diag/report.hpp"
#include "ods2/layout.hpp"
#include "output/convert.hpp"

namespace {

constexpr std::size_t EXPORT_RUN_BLOCKS = 32; // blocks read with one call at most
constexpr std::size_t EXPORT_OUTPUT = 16384;  // converted bytes handed over at once

// Only the companion programs export files, so their manuals list these; odscp never prints them.
constexpr const char* RECORD_CUT_SHORT = "Last record cut short by the end of file";
constexpr const char* MAP_ENDS_EARLY = "File ends at block %lld, before its end-of-file block %lld";

struct export_job {
    const file_header* header = nullptr;
    export_sink sink = nullptr;
    void* context = nullptr;
    record_converter converter;
    std::uint8_t out[EXPORT_OUTPUT];
    std::size_t held = 0; // bytes in out not yet handed over
};

int hand_over(export_job& job)
{
    if (job.held == 0)
        return 1;
    const std::size_t n = job.held;
    job.held = 0;
    return job.sink(job.context, job.out, n);
}

// Converts n bytes of the file, handing out to the sink whenever it fills.
int convert_piece(export_job& job, const std::uint8_t* bytes, std::size_t n)
{
    while (n > 0) {
        std::size_t consumed = 0;
        job.held += convert_bytes(job.converter, bytes, n, consumed, job.out + job.held,
                                  EXPORT_OUTPUT - job.held);
        bytes += consumed;
        n -= consumed;
        if ((job.held == EXPORT_OUTPUT || n > 0) && !hand_over(job))
            return 0;
    }
    return 1;
}

int finish_job(export_job& job)
{
    for (;;) {
        const std::size_t room = EXPORT_OUTPUT - job.held;
        const std::size_t w = finish_conversion(job.converter, job.out + job.held, room);
        job.held += w;
        if (!hand_over(job))
            return 0;
        if (w < room)
            break;
    }
    if (job.converter.truncated) {
        report("%s", RECORD_CUT_SHORT);
        return 0;
    }
    return 1;
}

// Reads blocks from vbn into buffer, at most max; 0 at the map's end or a
// read error, which read_vblocks has reported: reported tells them apart.
std::size_t read_run(const export_job& job, std::int64_t vbn, std::size_t max, std::uint8_t* buffer,
                     map_cursor& cursor, bool& reported)
{
    const std::uint64_t reports_before = report_count;
    const std::size_t n = read_vblocks(vbn, max, buffer, *job.header, cursor);
    reported = report_count != reports_before;
    return n;
}

int export_blocks(export_job& job)
{
    std::uint8_t buffer[EXPORT_RUN_BLOCKS * BLOCK_SIZE];
    map_cursor cursor;
    for (std::int64_t vbn = 1;;) {
        bool reported = false;
        const std::size_t n = read_run(job, vbn, EXPORT_RUN_BLOCKS, buffer, cursor, reported);
        if (n == 0)
            return reported ? 0 : 1;
        if (!job.sink(job.context, buffer, n * BLOCK_SIZE))
            return 0;
        vbn += static_cast<std::int64_t>(n);
    }
}

// VBN 1 to the end-of-file block, the last up to its first free byte.
int export_to_end_of_file(export_job& job, const file_attributes& a)
{
    std::uint8_t buffer[EXPORT_RUN_BLOCKS * BLOCK_SIZE];
    map_cursor cursor;
    const std::int64_t eof_vbn = a.eof_block;
    for (std::int64_t vbn = 1; vbn <= eof_vbn;) {
        const auto left = static_cast<std::uint64_t>(eof_vbn - vbn) + 1;
        const auto max = static_cast<std::size_t>(std::min<std::uint64_t>(left, EXPORT_RUN_BLOCKS));
        bool reported = false;
        const std::size_t n = read_run(job, vbn, max, buffer, cursor, reported);
        if (n == 0) {
            if (!reported)
                report(MAP_ENDS_EARLY, static_cast<long long>(vbn - 1),
                       static_cast<long long>(eof_vbn));
            static_cast<void>(hand_over(job));
            return 0;
        }
        const std::int64_t last = vbn + static_cast<std::int64_t>(n) - 1;
        std::size_t bytes = n * BLOCK_SIZE;
        if (last == eof_vbn)
            bytes = (n - 1) * BLOCK_SIZE + std::min<std::size_t>(a.first_free_byte, BLOCK_SIZE);
        if (!convert_piece(job, buffer, bytes))
            return 0;
        vbn = last + 1;
    }
    return finish_job(job);
}

} // namespace

int export_file(const file_header& h, std::int32_t mode, export_sink sink, void* context)
{
    export_job job;
    job.header = &h;
    job.sink = sink;
    job.context = context;
    if (mode == EXPORT_BLOCKS)
        return export_blocks(job);
    file_attributes a;
    read_file_attributes(h, a);
    start_conversion(job.converter, a, mode);
    return export_to_end_of_file(job, a);
}
