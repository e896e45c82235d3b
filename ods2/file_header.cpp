// File header fields, retrieval pointer decoding and the VBN-to-LBN map walk.
#include "ods2/file_header.hpp"

#include <algorithm>

#include "diag/report.hpp"
#include "ods2/volume.hpp"

std::uint8_t map_offset(const file_header& h)
{
    return get_u8(h.bytes, FH_MAP_OFFSET);
}

std::uint32_t efblk(const file_header& h)
{
    return static_cast<std::uint32_t>(get_u16_le(h.bytes, FH_EFBLK_HIGH)) << 16 |
           get_u16_le(h.bytes, FH_EFBLK_LOW);
}

std::uint16_t ffbyte(const file_header& h)
{
    return get_u16_le(h.bytes, FH_FFBYTE);
}

std::uint8_t map_in_use(const file_header& h)
{
    return get_u8(h.bytes, FH_MAP_IN_USE);
}

std::uint16_t owner_group(const file_header& h)
{
    return get_u16_le(h.bytes, FH_OWNER_GROUP);
}

std::uint16_t protection(const file_header& h)
{
    return get_u16_le(h.bytes, FH_PROTECTION);
}

std::uint32_t extension_file_number(const file_header& h)
{
    return static_cast<std::uint32_t>(get_u8(h.bytes, FH_EXT_FILE_NUMBER_HIGH)) << 16 |
           get_u16_le(h.bytes, FH_EXT_FILE_NUMBER);
}

unsigned pointer_format(const retrieval_pointer& p)
{
    return p.word[0] >> RP_FORMAT_SHIFT;
}

std::uint32_t pointer_count(const retrieval_pointer& p)
{
    const std::uint32_t w0 = p.word[0];
    switch (pointer_format(p)) {
    case 1:
        return (w0 & 0xFFu) + 1;
    case 2:
        return (w0 & 0x3FFFu) + 1;
    case 3:
        return ((w0 & 0x3FFFu) << 16 | p.word[1]) + 1;
    default:
        return 0; // placement information only
    }
}

std::uint32_t pointer_lbn(const retrieval_pointer& p)
{
    switch (pointer_format(p)) {
    case 1:
        return ((p.word[0] >> 8) & 0x3Fu) << 16 | p.word[1];
    case 2:
        return static_cast<std::uint32_t>(p.word[2]) << 16 | p.word[1];
    case 3:
        return static_cast<std::uint32_t>(p.word[3]) << 16 | p.word[2];
    default:
        return 0;
    }
}

namespace {

// Extension headers are read through the index file's map, which may itself
// continue in extension headers; nesting and the total number of header reads
// per lookup are bounded so that no volume can make a lookup run away.
constexpr int MAX_MAP_DEPTH = 4;
constexpr int EXTENSION_READ_BUDGET = 8 * MAX_EXTENSION_HEADERS;

int map_depth = 0;
int extension_reads_left = 0;

// Looks for vbn in the map of one header, whose first pointer maps first_vbn.
// When not found, first_vbn is moved past the blocks this header maps. Only
// pointers wholly inside the 512 bytes are used: a map area or a pointer that
// reaches past the header ends the map.
[[nodiscard]] bool find_in_header(const file_header& h, std::uint64_t vbn, std::uint64_t& first_vbn,
                                  block_run& run)
{
    const std::size_t start = std::size_t{map_offset(h)} * 2;
    const std::size_t end = std::min(start + std::size_t{map_in_use(h)} * 2, BLOCK_SIZE);
    for (std::size_t pos = start; pos < end;) {
        if (!fits(BLOCK_SIZE, pos, 2))
            return false;
        retrieval_pointer p;
        p.word[0] = get_u16_le(h.bytes, pos);
        const std::size_t words = pointer_format(p) + 1;
        if (!fits(BLOCK_SIZE, pos, words * 2))
            return false;
        for (std::size_t i = 1; i < words; ++i)
            p.word[i] = get_u16_le(h.bytes, pos + 2 * i);
        const std::uint64_t count = pointer_count(p);
        if (vbn < first_vbn + count) {
            run.lbn = pointer_lbn(p) + (vbn - first_vbn);
            run.count = first_vbn + count - vbn;
            return true;
        }
        first_vbn += count;
        pos += words * 2;
    }
    return false;
}

[[nodiscard]] bool read_extension_header(std::uint32_t file_number, file_header& into)
{
    if (map_depth >= MAX_MAP_DEPTH)
        return false;
    ++map_depth;
    --extension_reads_left;
    const int ok = read_file_header(file_number, into);
    --map_depth;
    return ok != 0;
}

[[nodiscard]] bool already_walked(const file_header& primary, const map_cursor& cursor,
                                  std::uint32_t file_number)
{
    const auto followed = cursor.followed.begin();
    return file_number == primary.file_number ||
           std::find(followed, followed + cursor.links, file_number) != followed + cursor.links;
}

// A map that goes on past the headers a walk may follow is cut there, and
// says so: the file is longer than what is read of it.
bool map_too_long(const map_cursor& cursor)
{
    if (cursor.links < MAX_EXTENSION_HEADERS && extension_reads_left > 0)
        return false;
    report("File map too long");
    return true;
}

// Moves the cursor on to the extension header that continues h's map; false
// when there is none, the chain is too long or loops, or it cannot be read.
[[nodiscard]] bool follow_extension(const file_header& h, const file_header& primary,
                                    map_cursor& cursor)
{
    const std::uint32_t next = extension_file_number(h);
    if (next == 0 || already_walked(primary, cursor, next) || map_too_long(cursor) ||
        !read_extension_header(next, cursor.extension))
        return false;
    cursor.in_extension = true;
    cursor.followed[static_cast<std::size_t>(cursor.links)] = next;
    ++cursor.links;
    return true;
}

} // namespace

bool map_vblock(std::int64_t vbn, const file_header& header, block_run& run, map_cursor& cursor)
{
    if (vbn < 1)
        return false;
    if (map_depth == 0)
        extension_reads_left = EXTENSION_READ_BUDGET;
    const auto wanted = static_cast<std::uint64_t>(vbn);
    if (cursor.primary != &header || wanted < cursor.first_vbn) {
        cursor = map_cursor{};
        cursor.primary = &header;
    }
    for (;;) {
        const file_header& h = cursor.in_extension ? cursor.extension : header;
        std::uint64_t next_first = cursor.first_vbn;
        if (find_in_header(h, wanted, next_first, run))
            return true;
        if (!follow_extension(h, header, cursor)) {
            cursor = map_cursor{}; // the walk starts afresh next time
            return false;
        }
        cursor.first_vbn = next_first;
    }
}

void tally_blocks(block_tally& tally, std::uint64_t lbn, std::uint64_t n)
{
    const std::uint64_t first = lbn;
    const std::uint64_t end = lbn + n;
    std::uint64_t fresh = n;
    block_tally::range merged{first, end};
    std::size_t keep = 0;
    for (std::size_t i = 0; i < tally.count; ++i) {
        const block_tally::range r = tally.ranges[i];
        if (r.end < first || r.first > end) {
            tally.ranges[keep++] = r;
            continue;
        }
        // the ranges kept are separate, so their overlaps with this one are too
        const std::uint64_t lo = std::max(r.first, first);
        const std::uint64_t hi = std::min(r.end, end);
        if (hi > lo)
            fresh -= hi - lo;
        merged.first = std::min(merged.first, r.first);
        merged.end = std::max(merged.end, r.end);
    }
    tally.count = keep;
    if (tally.count < block_tally::MAX_RANGES)
        tally.ranges[tally.count++] = merged;
    tally.distinct += fresh;
}

std::uint64_t untallied_blocks(const block_tally& tally, std::uint64_t lbn, std::uint64_t n)
{
    std::uint64_t fresh = n;
    for (std::size_t i = 0; i < tally.count; ++i) {
        const block_tally::range& r = tally.ranges[i];
        if (r.first <= lbn && lbn < r.end)
            return 0;
        if (r.first > lbn)
            fresh = std::min(fresh, r.first - lbn);
    }
    return fresh;
}

int read_file_header(std::uint32_t file_number, file_header& into)
{
    if (!read_vblock(static_cast<std::int64_t>(header_vbn(file_number)), into.bytes,
                     volume.index_header))
        return 0;
    into.file_number = file_number;
    return 1;
}

int read_vblock(std::int64_t vbn, block& buffer, const file_header& header)
{
    map_cursor cursor;
    return read_vblocks(vbn, 1, buffer.data(), header, cursor) == 1 ? 1 : 0;
}

std::size_t read_vblocks(std::int64_t vbn, std::size_t max_blocks, std::uint8_t* buffer,
                         const file_header& header, map_cursor& cursor)
{
    block_run run;
    if (max_blocks == 0 || !map_vblock(vbn, header, run, cursor))
        return 0;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(run.count, max_blocks));
    const std::size_t whole = read_lblocks(run.lbn, wanted, buffer);
    if (whole > 0)
        return whole;
    // The first block did not come back whole: read it alone, so that its
    // failure is reported exactly as for a single block.
    return read_lblock(run.lbn, std::span<std::uint8_t, BLOCK_SIZE>(buffer, BLOCK_SIZE)) ? 1 : 0;
}
