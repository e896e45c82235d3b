// Directory scanning: records and their version entries, read through the
// directory file's map a run of blocks at a time.
#include "ods2/directory.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ods2/volume.hpp"
#include "ods2/walk.hpp"

dir_scan_state dir_scan;

namespace {

constexpr std::size_t DIR_RUN_BLOCKS = 64;
std::uint8_t run_buffer[DIR_RUN_BLOCKS * BLOCK_SIZE];
map_cursor run_cursor; // where the walk is in the directory's map

// Reads block dir_scan.vbn into dir_scan.block, from the run read ahead when
// it holds it, else by reading the run that starts there.
bool read_directory_block(const file_header& dir)
{
    std::int64_t index = dir_scan.vbn - dir_scan.run_first;
    if (dir_scan.run_blocks == 0 || index < 0 ||
        index >= static_cast<std::int64_t>(dir_scan.run_blocks)) {
        dir_scan.run_blocks =
            read_vblocks(dir_scan.vbn, DIR_RUN_BLOCKS, run_buffer, dir, run_cursor);
        dir_scan.run_first = dir_scan.vbn;
        if (dir_scan.run_blocks == 0)
            return false;
        index = 0;
    }
    std::memcpy(dir_scan.block.data(), run_buffer + static_cast<std::size_t>(index) * BLOCK_SIZE,
                BLOCK_SIZE);
    return true;
}

std::uint16_t record_size(std::size_t record)
{
    return get_u16_le(dir_scan.block, record + DR_SIZE);
}

std::size_t name_count(std::size_t record)
{
    return get_u8(dir_scan.block, record + DR_NAME_COUNT);
}

// Entries start after the name, padded to an even length.
std::size_t first_entry(std::size_t record)
{
    const std::size_t n = name_count(record);
    return record + DR_NAME + n + (n & 1);
}

// Entries are used while all 8 bytes lie before the record's end and the data's.
std::size_t entries_end(std::size_t record)
{
    return std::min(record + record_size(record) + 2, dir_scan.data_end);
}

bool entry_fits(std::size_t entry, std::size_t end)
{
    return fits(end, entry, DIR_ENTRY_SIZE);
}

// A record is used only when its size word, fixed part and name bytes lie
// before the end of the data; anything else ends the records of the block.
bool record_usable(std::size_t record)
{
    if (!fits(dir_scan.data_end, record, 2) || record_size(record) == DIR_END_MARK)
        return false;
    return fits(dir_scan.data_end, record, DR_NAME) &&
           fits(dir_scan.data_end, record + DR_NAME, name_count(record));
}

std::optional<std::size_t> next_block(const file_header& dir)
{
    for (;;) {
        ++dir_scan.vbn;
        // A sound directory holds no more blocks than its device: a walk past
        // that many is going round blocks its map names again, and ends.
        if (volume.device_blocks != 0 &&
            static_cast<std::uint64_t>(dir_scan.vbn) > volume.device_blocks)
            return std::nullopt;
        // A sound directory ends with ffbyte 0 in its end-of-file block; once
        // reached, that limit holds for any later block of the walk too.
        if (dir_scan.vbn == dir_scan.eof_vbn)
            dir_scan.data_end = std::min<std::size_t>(ffbyte(dir), BLOCK_SIZE);
        if (!read_directory_block(dir))
            return std::nullopt;
        if (get_u16_le(dir_scan.block, 0) == DIR_END_MARK || dir_scan.data_end == 0)
            return std::nullopt;
        dir_scan.cursor = 0;
        if (record_usable(0))
            return 0;
    }
}

std::uint16_t entry_version(std::size_t entry)
{
    return get_u16_le(dir_scan.block, entry + DE_VERSION);
}

std::uint32_t entry_file_number(std::size_t entry)
{
    return static_cast<std::uint32_t>(get_u8(dir_scan.block, entry + DE_FILE_NUMBER_EXT)) << 16 |
           get_u16_le(dir_scan.block, entry + DE_FILE_NUMBER);
}

bool name_matches(std::size_t record, const lookup_key& key)
{
    const std::size_t n = std::strlen(key.text);
    return name_count(record) == n &&
           std::memcmp(dir_scan.block.data() + record + DR_NAME, key.text, n) == 0;
}

// Entries are stored highest version first: the search stops at the first
// version below the one wanted. Version 0 asks for the highest.
std::uint32_t pick_version(std::size_t record, std::uint16_t wanted)
{
    const std::size_t end = entries_end(record);
    for (std::size_t e = first_entry(record); entry_fits(e, end); e += DIR_ENTRY_SIZE) {
        const std::uint16_t version = entry_version(e);
        if (wanted == 0 || version == wanted)
            return entry_file_number(e);
        if (version < wanted)
            return 0;
    }
    return 0;
}

} // namespace

std::optional<std::size_t> next_record(const file_header& dir, bool reset)
{
    if (reset) {
        dir_scan.vbn = 0;
        dir_scan.eof_vbn = efblk(dir);
        dir_scan.data_end = BLOCK_SIZE;
        dir_scan.run_blocks = 0;
        run_cursor = map_cursor{};
        return next_block(dir);
    }
    dir_scan.cursor += std::size_t{record_size(dir_scan.cursor)} + 2;
    if (record_usable(dir_scan.cursor))
        return dir_scan.cursor;
    return next_block(dir);
}

std::uint32_t find_entry(const file_header& dir, const lookup_key& key)
{
    for (auto r = next_record(dir, true); r; r = next_record(dir, false)) {
        if (name_matches(*r, key))
            return pick_version(*r, key.version);
    }
    return 0;
}

void list_directory()
{
    for (auto r = next_record(current_dir, true); r; r = next_record(current_dir, false)) {
        const std::size_t end = entries_end(*r);
        for (std::size_t e = first_entry(*r); entry_fits(e, end); e += DIR_ENTRY_SIZE)
            print_entry(*r, e);
    }
}

void print_entry(std::size_t record, std::size_t entry)
{
    std::fwrite(dir_scan.block.data() + record + DR_NAME, 1, name_count(record), stdout);
    std::printf(";%u\n", static_cast<unsigned>(entry_version(entry)));
}
