// Directory scanning: records and their version entries, read through the
// directory file's map a run of blocks at a time, on a scan state the caller owns.
#include "ods2/directory.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ods2/volume.hpp"

dir_scan_state dir_scan;

namespace {

// Reads block s.vbn into s.block, from the run read ahead when it holds it,
// else by reading the run that starts there.
[[nodiscard]] bool read_directory_block(dir_scan_state& s, const file_header& dir)
{
    std::int64_t index = s.vbn - s.run_first;
    if (s.run_blocks == 0 || index < 0 || index >= static_cast<std::int64_t>(s.run_blocks)) {
        // A sound directory's map names each of its blocks once: a walk
        // that comes to a block it has read already is going round, and ends.
        block_run where;
        const std::uint64_t fresh =
            map_vblock(s.vbn, dir, where, s.run_cursor)
                ? untallied_blocks(s.tally, where.lbn,
                                   std::min<std::uint64_t>(where.count, DIR_RUN_BLOCKS))
                : 0;
        s.run_blocks = fresh == 0 ? 0
                                  : read_vblocks(s.vbn, static_cast<std::size_t>(fresh),
                                                 s.run_buffer.data(), dir, s.run_cursor);
        s.run_first = s.vbn;
        if (s.run_blocks == 0)
            return false;
        tally_blocks(s.tally, where.lbn, s.run_blocks);
        index = 0;
    }
    std::memcpy(s.block.data(), s.run_buffer.data() + static_cast<std::size_t>(index) * BLOCK_SIZE,
                BLOCK_SIZE);
    return true;
}

std::uint16_t record_size(const dir_scan_state& s, std::size_t record)
{
    return get_u16_le(s.block, record + DR_SIZE);
}

std::size_t name_count(const dir_scan_state& s, std::size_t record)
{
    return get_u8(s.block, record + DR_NAME_COUNT);
}

// Entries start after the name, padded to an even length.
std::size_t first_entry(const dir_scan_state& s, std::size_t record)
{
    const std::size_t n = name_count(s, record);
    return record + DR_NAME + n + (n & 1);
}

// Entries are used while all 8 bytes lie before the record's end and the data's.
std::size_t entries_end(const dir_scan_state& s, std::size_t record)
{
    return std::min(record + record_size(s, record) + 2, s.data_end);
}

[[nodiscard]] bool entry_fits(std::size_t entry, std::size_t end)
{
    return fits(end, entry, DIR_ENTRY_SIZE);
}

// A record is used only when its size word, fixed part and name bytes lie
// before the end of the data; anything else ends the records of the block.
[[nodiscard]] bool record_usable(const dir_scan_state& s, std::size_t record)
{
    if (!fits(s.data_end, record, 2) || record_size(s, record) == DIR_END_MARK)
        return false;
    return fits(s.data_end, record, DR_NAME) &&
           fits(s.data_end, record + DR_NAME, name_count(s, record));
}

[[nodiscard]] std::optional<std::size_t> next_block(dir_scan_state& s, const file_header& dir)
{
    for (;;) {
        ++s.vbn;
        // A sound directory holds no more blocks than its device: a walk past
        // that many is going round blocks its map names again, and ends.
        if (volume.device_blocks != 0 && static_cast<std::uint64_t>(s.vbn) > volume.device_blocks)
            return std::nullopt;
        // A sound directory ends with ffbyte 0 in its end-of-file block; once
        // reached, that limit holds for any later block of the walk too.
        if (s.vbn == s.eof_vbn)
            s.data_end = std::min<std::size_t>(ffbyte(dir), BLOCK_SIZE);
        if (!read_directory_block(s, dir))
            return std::nullopt;
        if (get_u16_le(s.block, 0) == DIR_END_MARK || s.data_end == 0)
            return std::nullopt;
        s.cursor = 0;
        if (record_usable(s, 0))
            return 0;
    }
}

std::uint16_t entry_version(const dir_scan_state& s, std::size_t entry)
{
    return get_u16_le(s.block, entry + DE_VERSION);
}

std::uint32_t entry_file_number(const dir_scan_state& s, std::size_t entry)
{
    return static_cast<std::uint32_t>(get_u8(s.block, entry + DE_FILE_NUMBER_EXT)) << 16 |
           get_u16_le(s.block, entry + DE_FILE_NUMBER);
}

[[nodiscard]] bool name_matches(const dir_scan_state& s, std::size_t record, const lookup_key& key)
{
    const std::size_t n = std::strlen(key.text);
    return name_count(s, record) == n &&
           std::memcmp(s.block.data() + record + DR_NAME, key.text, n) == 0;
}

// Entries are stored highest version first: the search stops at the first
// version below the one wanted. Version 0 asks for the highest.
std::uint32_t pick_version(const dir_scan_state& s, std::size_t record, std::uint16_t wanted)
{
    const std::size_t end = entries_end(s, record);
    for (std::size_t e = first_entry(s, record); entry_fits(e, end); e += DIR_ENTRY_SIZE) {
        const std::uint16_t version = entry_version(s, e);
        if (wanted == 0 || version == wanted)
            return entry_file_number(s, e);
        if (version < wanted)
            return 0;
    }
    return 0;
}

// The entry's file identification: number (with its high byte), sequence, RVN.
file_id entry_file_id(const dir_scan_state& s, std::size_t entry)
{
    return {entry_file_number(s, entry), get_u16_le(s.block, entry + DE_FILE_SEQUENCE),
            get_u8(s.block, entry + DE_FILE_RVN)};
}

// Moves the cursor to the first entry of the next record that has one; false
// when the walk has ended.
[[nodiscard]] bool next_record_with_entries(dir_scan_state& s, const file_header& dir,
                                            dir_entry_cursor& at)
{
    for (auto r = next_record(s, dir, !at.started); r; r = next_record(s, dir, false)) {
        at.started = true;
        at.entry = first_entry(s, *r);
        at.entries_end = entries_end(s, *r);
        if (entry_fits(at.entry, at.entries_end))
            return true;
    }
    at.started = true;
    return false;
}

} // namespace

std::optional<std::size_t> next_record(dir_scan_state& s, const file_header& dir, bool reset)
{
    if (reset) {
        s.vbn = 0;
        s.eof_vbn = efblk(dir);
        s.data_end = BLOCK_SIZE;
        s.run_blocks = 0;
        s.run_cursor = map_cursor{};
        s.tally.count = 0;
        s.tally.distinct = 0;
        return next_block(s, dir);
    }
    s.cursor += std::size_t{record_size(s, s.cursor)} + 2;
    if (record_usable(s, s.cursor))
        return s.cursor;
    return next_block(s, dir);
}

std::optional<std::size_t> next_record(const file_header& dir, bool reset)
{
    return next_record(dir_scan, dir, reset);
}

std::uint32_t find_entry(const file_header& dir, const lookup_key& key)
{
    for (auto r = next_record(dir, true); r; r = next_record(dir, false)) {
        if (name_matches(dir_scan, *r, key))
            return pick_version(dir_scan, *r, key.version);
    }
    return 0;
}

bool next_dir_entry(dir_scan_state& scan, const file_header& dir, dir_entry_cursor& at,
                    dir_entry& out)
{
    if (at.ended)
        return false;
    if (at.started)
        at.entry += DIR_ENTRY_SIZE;
    if (!at.started || !entry_fits(at.entry, at.entries_end)) {
        if (!next_record_with_entries(scan, dir, at)) {
            at.ended = true;
            return false;
        }
    }
    const std::size_t record = scan.cursor;
    out.name_length = name_count(scan, record);
    std::memcpy(out.name, scan.block.data() + record + DR_NAME, out.name_length);
    out.name[out.name_length] = '\0';
    out.version = entry_version(scan, at.entry);
    out.fid = entry_file_id(scan, at.entry);
    return true;
}

void list_directory(const file_header& dir)
{
    dir_entry_cursor at;
    dir_entry e;
    while (next_dir_entry(dir_scan, dir, at, e)) {
        std::fwrite(e.name, 1, e.name_length, stdout);
        std::printf(";%u\n", static_cast<unsigned>(e.version));
    }
}

void print_entry(std::size_t record, std::size_t entry)
{
    std::fwrite(dir_scan.block.data() + record + DR_NAME, 1, name_count(dir_scan, record), stdout);
    std::printf(";%u\n", static_cast<unsigned>(entry_version(dir_scan, entry)));
}
