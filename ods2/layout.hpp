// On-disk layouts of the ODS-2 structures odscp reads: the home block, file
// headers and their retrieval pointers, directory records and entries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Every read from the device is one whole block; LBN n starts at byte n * 512.
inline constexpr std::size_t BLOCK_SIZE = 512;
using block = std::array<std::uint8_t, BLOCK_SIZE>;

// True when len bytes at off lie inside a buffer of size; off + len is never formed.
[[nodiscard]] constexpr bool fits(std::size_t size, std::size_t off, std::size_t len)
{
    return off <= size && len <= size - off;
}

// Field readers. The caller has checked with fits() that the field lies in the buffer.
[[nodiscard]] constexpr std::uint8_t get_u8(std::span<const std::uint8_t> b, std::size_t off)
{
    return b[off];
}

[[nodiscard]] constexpr std::uint16_t get_u16_le(std::span<const std::uint8_t> b, std::size_t off)
{
    return static_cast<std::uint16_t>(b[off] | static_cast<unsigned>(b[off + 1]) << 8);
}

[[nodiscard]] constexpr std::uint32_t get_u32_le(std::span<const std::uint8_t> b, std::size_t off)
{
    return static_cast<std::uint32_t>(get_u16_le(b, off)) |
           static_cast<std::uint32_t>(get_u16_le(b, off + 2)) << 16;
}

// Home block (LBN 1). Only the index file bitmap's position is interpreted: it
// locates the index file header and, through ibmap_vbn, every other header.
inline constexpr std::uint64_t HOME_LBN = 1;
inline constexpr std::size_t HB_IBMAP_VBN = 22;  // u16: VBN of the bitmap in the index file
inline constexpr std::size_t HB_IBMAP_LBN = 24;  // u32: LBN of the bitmap's first block
inline constexpr std::size_t HB_IBMAP_SIZE = 32; // u16: blocks in the bitmap
inline constexpr std::size_t HB_CLUSTER = 14;    // u16: blocks per cluster of the storage bitmap
static_assert(HB_IBMAP_LBN == HB_IBMAP_VBN + 2);

// The first headers of the index file lie in consecutive blocks right after the
// bitmap: file 1 (the index file itself) first, file 4 (the MFD) three further on.
inline constexpr std::uint32_t INDEX_FILE_NUMBER = 1;
inline constexpr std::uint32_t MFD_FILE_NUMBER = 4;
// The storage bitmap, BITMAP.SYS: VBN 1 is its control block, the bitmap
// follows from VBN 2, one bit per cluster from LBN 0, a set bit a free cluster.
inline constexpr std::uint32_t BITMAP_FILE_NUMBER = 2;
inline constexpr std::int64_t BITMAP_FIRST_VBN = 2;

// File header (one 512-byte block). Multi-byte fields are little-endian,
// except efblk, whose two 16-bit words are stored high word first.
inline constexpr std::size_t FH_MAP_OFFSET = 1; // u8: map area start, in 16-bit words
inline constexpr std::size_t FH_EXT_FILE_NUMBER =
    14; // u16: extension header's file number, bits 15-0
inline constexpr std::size_t FH_EXT_FILE_NUMBER_HIGH = 19; // u8: extension file number, bits 23-16
inline constexpr std::size_t FH_EFBLK_HIGH = 28;           // u16: end-of-file block, bits 31-16
inline constexpr std::size_t FH_EFBLK_LOW = 30;            // u16: end-of-file block, bits 15-0
inline constexpr std::size_t FH_FFBYTE = 32;      // u16: bytes used in the end-of-file block
inline constexpr std::size_t FH_MAP_IN_USE = 58;  // u8: map words holding retrieval pointers
inline constexpr std::size_t FH_OWNER_GROUP = 62; // u16: UIC group of the owner
inline constexpr std::size_t FH_PROTECTION = 64;  // u16: system, owner, group, world nibbles
static_assert(FH_EFBLK_LOW == FH_EFBLK_HIGH + 2);
static_assert(FH_FFBYTE == FH_EFBLK_LOW + 2);
static_assert(FH_PROTECTION == FH_OWNER_GROUP + 2);

// Protection: a set bit denies the access. Only the read bits of group and world count.
inline constexpr std::uint16_t PROT_GROUP_NOREAD = 0x0100;
inline constexpr std::uint16_t PROT_WORLD_NOREAD = 0x1000;

// Retrieval pointer: 1 to 4 words; bits 15-14 of word 0 give the format, and
// the format fixes the size (format + 1 words).
//   format 0: placement word, maps nothing
//   format 1: count - 1 in bits 7-0; LBN bits 21-16 in bits 13-8, word 1 = LBN bits 15-0
//   format 2: count - 1 in bits 13-0; words 1-2 = LBN, low word first
//   format 3: count - 1 = bits 13-0 << 16 | word 1; words 2-3 = LBN, low word first
inline constexpr unsigned RP_FORMAT_SHIFT = 14;
inline constexpr std::size_t RP_MAX_WORDS = 4;

// Directory block: records packed from byte 0. A size word of 0xFFFF where a
// record would start says the block holds no further records.
inline constexpr std::uint16_t DIR_END_MARK = 0xFFFF;

// Directory record.
inline constexpr std::size_t DR_SIZE = 0;       // u16: bytes of the record after this word
inline constexpr std::size_t DR_NAME_COUNT = 5; // u8: bytes of NAME.TYPE
inline constexpr std::size_t DR_NAME = 6;       // name bytes, padded to an even length
static_assert(DR_NAME == DR_NAME_COUNT + 1);

// Directory entry: one per version, highest version first.
inline constexpr std::size_t DE_VERSION = 0;         // u16: version number
inline constexpr std::size_t DE_FILE_NUMBER = 2;     // u16: file number, bits 15-0
inline constexpr std::size_t DE_FILE_SEQUENCE = 4;   // u16: file sequence number
inline constexpr std::size_t DE_FILE_RVN = 6;        // u8: relative volume number
inline constexpr std::size_t DE_FILE_NUMBER_EXT = 7; // u8: file number, bits 23-16
inline constexpr std::size_t DIR_ENTRY_SIZE = 8;
static_assert(DE_FILE_NUMBER_EXT < DIR_ENTRY_SIZE);
