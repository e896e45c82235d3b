// Directory files: walking their records block by block, finding one name and
// version, listing every name and version, and handing out entries as data.
#pragma once

#include "frontend/filespec.hpp"
#include "ods2/file_header.hpp"
#include "ods2/layout.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// Blocks a scan reads ahead with one call, within one walk of one directory.
inline constexpr std::size_t DIR_RUN_BLOCKS = 64;

// One scan of one directory: where it is, the block being walked and the run
// of blocks read ahead. Searching and listing in odscp share dir_scan; a
// program that walks several directories at once owns one state for each.
struct dir_scan_state {
    std::int64_t vbn = 0;                         // VBN of the block held in block
    std::int64_t eof_vbn = 0;                     // the directory's end-of-file block
    std::size_t data_end = 0;                     // end of the valid data in block
    std::array<std::uint8_t, BLOCK_SIZE> block{}; // the directory block being walked
    std::size_t cursor = 0;                       // start of the current record in block
    // Blocks are read ahead a run at a time within one walk, never kept from
    // one walk to the next.
    std::int64_t run_first = 0; // VBN of the first block read ahead
    std::size_t run_blocks = 0; // blocks read ahead
    map_cursor run_cursor;      // where the walk is in the directory's map
    block_tally tally;          // the blocks read, so that one named again shows
    std::array<std::uint8_t, DIR_RUN_BLOCKS * BLOCK_SIZE> run_buffer{};
};

extern dir_scan_state dir_scan;

// The record after the current one, or the first when reset is set; none when
// the walk has ended. The record's fixed part and name lie inside the data.
[[nodiscard]] std::optional<std::size_t> next_record(dir_scan_state& scan, const file_header& dir,
                                                     bool reset);
// The same on dir_scan.
[[nodiscard]] std::optional<std::size_t> next_record(const file_header& dir, bool reset);

// The file number of the entry for key in the directory; 0 when there is none.
[[nodiscard]] std::uint32_t find_entry(const file_header& dir, const lookup_key& key);

// Prints NAME.TYPE;VERSION for every entry of dir to standard output.
void list_directory(const file_header& dir);

// One listing line: the record's name as stored, ";", the entry's version.
void print_entry(std::size_t record, std::size_t entry);

// A directory entry as data. The name is the record's NAME.TYPE exactly as
// stored: a damaged volume may put any byte there, NUL included, so its length
// is name_length; a NUL follows it.
inline constexpr std::size_t MAX_ENTRY_NAME = 255;

struct file_id {
    std::uint32_t number = 0;   // 24 bits: the high byte from the extension field
    std::uint16_t sequence = 0; // reuse count of the header slot
    std::uint8_t rvn = 0;       // relative volume number, 0 on a volume alone
};

struct dir_entry {
    char name[MAX_ENTRY_NAME + 1] = {};
    std::size_t name_length = 0;
    std::uint16_t version = 0;
    file_id fid;
};

// Where a walk through a directory's entries is: reset it (value-initialize)
// to start from the first.
struct dir_entry_cursor {
    bool started = false;
    bool ended = false;
    std::size_t entry = 0; // offset in scan.block of the entry handed out last
    std::size_t entries_end = 0;
};

// The next entry of dir in directory order into out; false when the walk has
// ended. Blocks and records are bounded exactly as for a listing, which is
// built on it.
[[nodiscard]] bool next_dir_entry(dir_scan_state& scan, const file_header& dir,
                                  dir_entry_cursor& at, dir_entry& out);
