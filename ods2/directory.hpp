// Directory files: walking their records block by block, finding one name and
// version, and listing every name and version.
#pragma once

#include "frontend/filespec.hpp"
#include "ods2/file_header.hpp"
#include "ods2/layout.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// The one scan in progress; searching and listing share it.
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
};

extern dir_scan_state dir_scan;

// The record after the current one, or the first when reset is set; none when
// the walk has ended. The record's fixed part and name lie inside the data.
std::optional<std::size_t> next_record(const file_header& dir, bool reset);

// The file number of the entry for key in the directory; 0 when there is none.
[[nodiscard]] std::uint32_t find_entry(const file_header& dir, const lookup_key& key);

// Prints NAME.TYPE;VERSION for every entry of the current directory to standard output.
void list_directory();

// One listing line: the record's name as stored, ";", the entry's version.
void print_entry(std::size_t record, std::size_t entry);
