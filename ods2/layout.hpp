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
// What says a volume is ODS-2; only the diagnosis of a volume reads these.
inline constexpr std::size_t HB_STRUCTURE_LEVEL = 12; // u16: level in the high byte
inline constexpr std::size_t HB_FORMAT = 496;         // 12 bytes: "DECFILE11B", blank-padded
inline constexpr char HB_FORMAT_TEXT[] = "DECFILE11B";
inline constexpr std::uint8_t STRUCTURE_LEVEL_ODS2 = 2;
inline constexpr std::uint8_t STRUCTURE_LEVEL_ODS5 = 5;

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

// The rest of the file header's fixed area. A file id is 6 bytes: number bits
// 15-0, sequence, relative volume, number bits 23-16.
inline constexpr std::size_t FH_IDENT_OFFSET = 0;     // u8: identification area start, in words
inline constexpr std::size_t FH_FILE_NUMBER = 8;      // u16: this header's file number, bits 15-0
inline constexpr std::size_t FH_FILE_SEQUENCE = 10;   // u16: file sequence number
inline constexpr std::size_t FH_FILE_RVN = 12;        // u8: relative volume number
inline constexpr std::size_t FH_FILE_NUMBER_HIGH = 13; // u8: file number, bits 23-16
// The record attribute area, 32 bytes from byte 20.
inline constexpr std::size_t FH_RECORD_TYPE = 20;  // u8: bits 3-0 format, bits 7-4 organization
inline constexpr std::size_t FH_RECORD_ATTRIBUTES = 21; // u8: carriage control, no span
inline constexpr std::size_t FH_RECORD_SIZE = 22;       // u16: record size (fixed: every record)
inline constexpr std::size_t FH_HIBLK_HIGH = 24;        // u16: blocks allocated, bits 31-16
inline constexpr std::size_t FH_HIBLK_LOW = 26;         // u16: blocks allocated, bits 15-0
inline constexpr std::size_t FH_BUCKET_SIZE = 34;       // u8: bucket size (relative, indexed)
inline constexpr std::size_t FH_VFC_SIZE = 35;          // u8: VFC fixed header bytes, 0 for 2
inline constexpr std::size_t FH_MAX_RECORD = 36;        // u16: longest record
inline constexpr std::size_t FH_DEFAULT_EXTEND = 38;    // u16: default extension, in blocks
inline constexpr std::size_t FH_GLOBAL_BUFFERS = 40;    // u16: global buffer count
inline constexpr std::size_t FH_VERSIONS = 50;          // u16: version limit
inline constexpr std::size_t FH_FILE_CHARACTERISTICS = 52; // u32: FCH_* bits
inline constexpr std::size_t FH_OWNER_MEMBER = 60;         // u16: UIC member of the owner
inline constexpr std::size_t FH_BACK_LINK = 66;            // 6 bytes: file id of the directory
inline constexpr std::size_t FH_FIXED_AREA_END = 80;       // the variable areas start at or after
inline constexpr std::size_t FH_CHECKSUM = 510;            // u16: sum of the 255 words before it
inline constexpr std::size_t FID_NUMBER = 0;               // in a file id: u16, bits 15-0
inline constexpr std::size_t FID_SEQUENCE = 2;             // u16
inline constexpr std::size_t FID_RVN = 4;                  // u8
inline constexpr std::size_t FID_NUMBER_HIGH = 5;          // u8: bits 23-16
inline constexpr std::size_t FID_SIZE = 6;
static_assert(FH_FILE_NUMBER_HIGH == FH_FILE_NUMBER + FID_NUMBER_HIGH);
static_assert(FH_EXT_FILE_NUMBER == FH_FILE_NUMBER + FID_SIZE);
static_assert(FH_EXT_FILE_NUMBER_HIGH == FH_EXT_FILE_NUMBER + FID_NUMBER_HIGH);
static_assert(FH_RECORD_TYPE == FH_EXT_FILE_NUMBER + FID_SIZE);
static_assert(FH_HIBLK_LOW == FH_HIBLK_HIGH + 2 && FH_EFBLK_HIGH == FH_HIBLK_LOW + 2);
static_assert(FH_OWNER_GROUP == FH_OWNER_MEMBER + 2);
static_assert(FH_BACK_LINK == FH_PROTECTION + 2);
inline constexpr std::uint8_t FH_RECORD_FORMAT_MASK = 0x0F;
inline constexpr unsigned FH_ORGANIZATION_SHIFT = 4;
inline constexpr std::uint32_t FCH_DIRECTORY = 0x2000; // the file is a directory

// The identification area, at FH_IDENT_OFFSET words: the name and dates.
inline constexpr std::size_t FI_NAME = 0;          // 20 bytes: "NAME.TYPE;VERSION", blank-padded
inline constexpr std::size_t FI_NAME_LENGTH = 20;
inline constexpr std::size_t FI_REVISION = 20;     // u16: revision count
inline constexpr std::size_t FI_CREATED = 22;      // u64: creation time
inline constexpr std::size_t FI_REVISED = 30;      // u64: revision time
inline constexpr std::size_t FI_EXPIRES = 38;      // u64: expiration time
inline constexpr std::size_t FI_BACKUP = 46;       // u64: backup time
inline constexpr std::size_t FI_NAME_EXT = 54;     // 66 bytes: the name's continuation
inline constexpr std::size_t FI_NAME_EXT_LENGTH = 66;
inline constexpr std::size_t FI_SIZE = 120;
static_assert(FI_REVISION == FI_NAME + FI_NAME_LENGTH);
static_assert(FI_NAME_EXT + FI_NAME_EXT_LENGTH == FI_SIZE);

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
