// File headers, their retrieval pointers, and reading a file's virtual blocks
// through its map (continued in extension headers).
#pragma once

#include "ods2/layout.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

struct file_header {
    block bytes{};
    // The file number it was read as, so that a map continuing through
    // extension headers can tell when it comes back to this one; 0 when not
    // read by number.
    std::uint32_t file_number = 0;
};

// A map continues through at most this many extension headers.
constexpr int MAX_EXTENSION_HEADERS = 1024;

// Reads the header of file_number through the index file's map. 1 when read;
// 0 when the index file has no such block or the read failed (reported).
[[nodiscard]] int read_file_header(std::uint32_t file_number, file_header& into);

[[nodiscard]] std::uint8_t map_offset(const file_header& h);
[[nodiscard]] std::uint32_t efblk(const file_header& h);
[[nodiscard]] std::uint16_t ffbyte(const file_header& h);
[[nodiscard]] std::uint8_t map_in_use(const file_header& h);
[[nodiscard]] std::uint16_t owner_group(const file_header& h);
[[nodiscard]] std::uint16_t protection(const file_header& h);
// The file number of the header that continues this one's map; 0 when none.
[[nodiscard]] std::uint32_t extension_file_number(const file_header& h);

// One map entry, its words as stored; only the first format + 1 words count.
struct retrieval_pointer {
    std::array<std::uint16_t, RP_MAX_WORDS> word{};
};

[[nodiscard]] unsigned pointer_format(const retrieval_pointer& p);
[[nodiscard]] std::uint32_t pointer_count(const retrieval_pointer& p);
[[nodiscard]] std::uint32_t pointer_lbn(const retrieval_pointer& p);

// Where a VBN lies: its LBN and how many blocks from it on the same pointer
// maps consecutively (at least 1).
struct block_run {
    std::uint64_t lbn = 0;
    std::uint64_t count = 0;
};

// How far a walk through one file's map has got: the header whose pointers are
// being walked (the primary one, or a copy of an extension header) and the VBN
// its first pointer maps. A file read from VBN 1 onwards through one cursor has
// each of its extension headers read once, not once per block. The file
// numbers followed are kept: a chain that comes back to a header it has
// already walked (a loop, on a damaged volume) ends the map there.
struct map_cursor {
    const file_header* primary = nullptr;
    bool in_extension = false;
    file_header extension;
    std::uint64_t first_vbn = 1;
    int links = 0; // extension headers followed
    std::array<std::uint32_t, MAX_EXTENSION_HEADERS> followed{};
};

// Finds the run holding vbn. True when mapped; false when the file has no such
// block (a failed read of an extension header has been reported). The cursor
// starts where an earlier call for the same header left it, when vbn lies there
// or later.
[[nodiscard]] bool map_vblock(std::int64_t vbn, const file_header& header, block_run& run,
                              map_cursor& cursor);

// The logical blocks a walk through a map has read, as separate ranges, so
// that a map naming a block a second time shows. Exact while the ranges do not
// merge into more than MAX_RANGES; past that, a range that merges with none is
// counted whole each time, so `distinct` is then an upper bound.
struct block_tally {
    static constexpr std::size_t MAX_RANGES = 256;
    struct range {
        std::uint64_t first = 0; // [first, end)
        std::uint64_t end = 0;
    };
    std::array<range, MAX_RANGES> ranges{};
    std::size_t count = 0;
    std::uint64_t distinct = 0; // blocks read, each counted once
};

// Adds the n blocks from lbn on to the tally.
void tally_blocks(block_tally& tally, std::uint64_t lbn, std::uint64_t n);

// How many of the n blocks from lbn on come before the first one the tally
// holds: n when none of them has been read, 0 when lbn itself has.
[[nodiscard]] std::uint64_t untallied_blocks(const block_tally& tally, std::uint64_t lbn,
                                             std::uint64_t n);

// Reads virtual block vbn (the first is 1) of the file into buffer. 1 when read;
// 0 when the file has no such block (no message) or the read failed (reported).
[[nodiscard]] int read_vblock(std::int64_t vbn, block& buffer, const file_header& header);

// Reads virtual blocks from vbn on, as many as one retrieval pointer maps
// consecutively and at most max_blocks, into buffer with one system call.
// Returns the number of blocks read; 0 exactly where read_vblock would give 0
// for vbn, with the same message. A block of the run that could not be read
// ends the run before it, so the next call starts there and reports it.
[[nodiscard]] std::size_t read_vblocks(std::int64_t vbn, std::size_t max_blocks,
                                       std::uint8_t* buffer, const file_header& header,
                                       map_cursor& cursor);
