// On-disk layout of the ODS-2 structures the volume builder writes: the home block,
// the file header with its identification area, and the reserved file numbers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace volbuild {

inline constexpr std::size_t BLOCK_SIZE = 512;
inline constexpr std::uint16_t STRUCTURE_LEVEL = 0x0201; // structure level 2, version 1

// Reserved file numbers; the volume's own files start at FIRST_USER_FILE_NUMBER.
inline constexpr std::uint32_t INDEX_FILE_NUMBER = 1;  // INDEXF.SYS
inline constexpr std::uint32_t BITMAP_FILE_NUMBER = 2; // BITMAP.SYS, the storage bitmap
inline constexpr std::uint32_t BADBLK_FILE_NUMBER = 3; // BADBLK.SYS
inline constexpr std::uint32_t MFD_FILE_NUMBER = 4;    // 000000.DIR, the master file directory
inline constexpr std::uint32_t CORIMG_FILE_NUMBER = 5; // CORIMG.SYS
inline constexpr std::uint32_t FIRST_USER_FILE_NUMBER = 6;
inline constexpr std::uint32_t MAX_FILE_NUMBER = 0xFFFFFF; // 16 bits plus 8 extension bits

// Home block, LBN 1. Little-endian throughout.
inline constexpr std::uint64_t HOME_LBN = 1;
inline constexpr std::size_t HB_HOME_LBN = 0;         // u32: LBN of this home block
inline constexpr std::size_t HB_ALT_HOME_LBN = 4;     // u32: LBN of the alternate home block
inline constexpr std::size_t HB_ALT_INDEX_LBN = 8;    // u32: LBN of the backup index file header
inline constexpr std::size_t HB_STRUCTURE_LEVEL = 12; // u16: structure level and version
inline constexpr std::size_t HB_CLUSTER = 14;         // u16: storage bitmap cluster factor
inline constexpr std::size_t HB_HOME_VBN = 16;      // u16: VBN of the home block in the index file
inline constexpr std::size_t HB_ALT_HOME_VBN = 18;  // u16: VBN of the alternate home block
inline constexpr std::size_t HB_ALT_INDEX_VBN = 20; // u16: VBN of the backup index file header
inline constexpr std::size_t HB_IBMAP_VBN = 22;     // u16: VBN of the first index file bitmap block
inline constexpr std::size_t HB_IBMAP_LBN = 24;     // u32: LBN of the first index file bitmap block
inline constexpr std::size_t HB_MAX_FILES = 28;     // u32: most files the volume can hold
inline constexpr std::size_t HB_IBMAP_SIZE = 32;    // u16: index file bitmap blocks
inline constexpr std::size_t HB_RESERVED_FILES = 34;    // u16: number of reserved files
inline constexpr std::size_t HB_DEVICE_TYPE = 36;       // u16: disk device type
inline constexpr std::size_t HB_RVN = 38;               // u16: relative volume number, 0 alone
inline constexpr std::size_t HB_SET_COUNT = 40;         // u16: volumes in the set
inline constexpr std::size_t HB_VOLUME_CHAR = 42;       // u16: volume characteristics
inline constexpr std::size_t HB_OWNER_MEMBER = 44;      // u16: volume owner UIC, member
inline constexpr std::size_t HB_OWNER_GROUP = 46;       // u16: volume owner UIC, group
inline constexpr std::size_t HB_VOLUME_PROTECTION = 52; // u16: volume protection
inline constexpr std::size_t HB_FILE_PROTECTION = 54;   // u16: default file protection
inline constexpr std::size_t HB_CHECKSUM1 = 58;         // u16: sum of the 29 words before it
inline constexpr std::size_t HB_CREATION_DATE = 60;     // u64: creation time
inline constexpr std::size_t HB_WINDOW = 68;            // u8: default window size
inline constexpr std::size_t HB_LRU_LIMIT = 69;         // u8: directory cache limit
inline constexpr std::size_t HB_EXTEND = 70;            // u16: default file extension
inline constexpr std::size_t HB_REVISION_DATE = 88;     // u64: revision time
inline constexpr std::size_t HB_SERIAL_NUMBER = 456;    // u32: pack serial number
inline constexpr std::size_t HB_STRUCTURE_NAME = 460;   // 12 bytes: volume set name, blank
inline constexpr std::size_t HB_VOLUME_NAME = 472;      // 12 bytes: volume label, blank-padded
inline constexpr std::size_t HB_OWNER_NAME = 484;       // 12 bytes: volume owner, blank-padded
inline constexpr std::size_t HB_FORMAT = 496;           // 12 bytes: "DECFILE11B  "
inline constexpr std::size_t HB_CHECKSUM2 = 510;        // u16: sum of the 255 words before it
inline constexpr std::size_t HB_TEXT_FIELD = 12;        // width of the text fields
inline constexpr std::size_t HB_CHECKSUM1_WORDS = HB_CHECKSUM1 / 2;
static_assert(HB_IBMAP_LBN == HB_IBMAP_VBN + 2 && HB_IBMAP_SIZE == HB_MAX_FILES + 4);
static_assert(HB_FORMAT + HB_TEXT_FIELD + 2 == HB_CHECKSUM2);

// File header, one block. Little-endian, except that hiblk and efblk are stored as
// two 16-bit words, high word first. A file identification is 6 bytes: number bits
// 15-0, sequence, relative volume, number bits 23-16.
inline constexpr std::size_t FH_IDENT_OFFSET = 0;    // u8: identification area start, in words
inline constexpr std::size_t FH_MAP_OFFSET = 1;      // u8: map area start, in words
inline constexpr std::size_t FH_ACL_OFFSET = 2;      // u8: access control list start, in words
inline constexpr std::size_t FH_RESERVED_OFFSET = 3; // u8: reserved area start, in words
inline constexpr std::size_t FH_SEGMENT = 4; // u16: 0 for the primary header, 1, 2, ... after
inline constexpr std::size_t FH_STRUCTURE_LEVEL = 6;    // u16: structure level and version
inline constexpr std::size_t FH_FILE_NUMBER = 8;        // u16: this header's file number, bits 15-0
inline constexpr std::size_t FH_FILE_SEQUENCE = 10;     // u16: file sequence number
inline constexpr std::size_t FH_FILE_RVN = 12;          // u8: relative volume number
inline constexpr std::size_t FH_FILE_NUMBER_HIGH = 13;  // u8: file number bits 23-16
inline constexpr std::size_t FH_EXT_FILE_NUMBER = 14;   // u16: extension header's file number, 15-0
inline constexpr std::size_t FH_EXT_FILE_SEQUENCE = 16; // u16: extension header's sequence number
inline constexpr std::size_t FH_EXT_FILE_RVN = 18;      // u8: extension header's relative volume
inline constexpr std::size_t FH_EXT_FILE_NUMBER_HIGH =
    19; // u8: extension header's file number, 23-16
// The record attribute area, 32 bytes from FH_RECORD_AREA: how the file's records are
// laid out and where its data ends.
inline constexpr std::size_t FH_RECORD_AREA = 20;      // start of the record attribute area
inline constexpr std::size_t FH_RECORD_AREA_SIZE = 32; // its bytes
inline constexpr std::size_t FH_RTYPE = 20;            // u8: record format, RT_*
inline constexpr std::size_t FH_RATTRIB = 21;          // u8: record attributes, RA_*
inline constexpr std::size_t FH_RSIZE = 22;            // u16: record size
inline constexpr std::size_t FH_HIBLK_HIGH = 24;       // u16: blocks allocated, bits 31-16
inline constexpr std::size_t FH_HIBLK_LOW = 26;        // u16: blocks allocated, bits 15-0
inline constexpr std::size_t FH_EFBLK_HIGH = 28;       // u16: end-of-file block, bits 31-16
inline constexpr std::size_t FH_EFBLK_LOW = 30;        // u16: end-of-file block, bits 15-0
inline constexpr std::size_t FH_FFBYTE = 32;           // u16: bytes used in the end-of-file block
inline constexpr std::size_t FH_BKTSIZE = 34;          // u8: bucket size, 0 for sequential files
inline constexpr std::size_t FH_VFCSIZE = 35;          // u8: fixed control bytes of a VFC record
inline constexpr std::size_t FH_MAXREC = 36;           // u16: longest record
inline constexpr std::size_t FH_DEFEXT = 38;           // u16: default extension quantity
inline constexpr std::size_t FH_FILE_CHAR = 52;        // u32: file characteristics
inline constexpr std::size_t FH_MAP_IN_USE = 58;       // u8: words of the map area in use
inline constexpr std::size_t FH_OWNER_MEMBER = 60;     // u16: owner UIC, member
inline constexpr std::size_t FH_OWNER_GROUP = 62;      // u16: owner UIC, group
inline constexpr std::size_t FH_PROTECTION = 64;       // u16: protection, a set bit denies
inline constexpr std::size_t FH_BACKLINK = 66;         // 6 bytes: file id of the directory above
inline constexpr std::size_t FH_HIGHWATER = 76;        // u32: highest block written, plus 1
inline constexpr std::size_t FH_CHECKSUM = 510;        // u16: sum of the 255 words before it
static_assert(FH_EFBLK_LOW == FH_EFBLK_HIGH + 2 && FH_FFBYTE == FH_EFBLK_LOW + 2);
static_assert(FH_EXT_FILE_NUMBER == FH_FILE_NUMBER + 6 && FH_RTYPE == FH_EXT_FILE_NUMBER + 6);
static_assert(FH_RTYPE == FH_RECORD_AREA && FH_RECORD_AREA + FH_RECORD_AREA_SIZE == FH_FILE_CHAR);
static_assert(FH_VFCSIZE == FH_RECORD_AREA + 15 && FH_MAXREC == FH_RECORD_AREA + 16);

// The identification area, at FH_IDENT_OFFSET words: names and dates of the file.
inline constexpr std::uint8_t DEFAULT_IDENT_OFFSET = 40; // words: byte 80
inline constexpr std::uint8_t DEFAULT_MAP_OFFSET = 100;  // words: byte 200, after the ident area
inline constexpr std::uint8_t NO_ACL_OFFSET = 255;       // words: no access control list
inline constexpr std::size_t FI_FILENAME = 0;            // 20 bytes: "NAME.TYPE;VERSION", blanks
inline constexpr std::size_t FI_REVISION = 20;           // u16: revision count
inline constexpr std::size_t FI_CREDATE = 22;            // u64: creation time
inline constexpr std::size_t FI_REVDATE = 30;            // u64: revision time
inline constexpr std::size_t FI_EXPDATE = 38;            // u64: expiration time
inline constexpr std::size_t FI_BAKDATE = 46;            // u64: backup time
inline constexpr std::size_t FI_FILENAMEXT = 54;         // 66 bytes: the name's continuation
inline constexpr std::size_t FI_FILENAME_LEN = 20;
inline constexpr std::size_t FI_FILENAMEXT_LEN = 66;
inline constexpr std::size_t FI_SIZE = 120;
static_assert(DEFAULT_IDENT_OFFSET * 2 + FI_SIZE == DEFAULT_MAP_OFFSET * 2);
static_assert(FI_FILENAMEXT + FI_FILENAMEXT_LEN == FI_SIZE);

// Words a map may use: from the map offset up to the checksum word.
inline constexpr std::size_t HEADER_WORDS_BEFORE_CHECKSUM = FH_CHECKSUM / 2;

// Record formats and attributes of the file attribute area.
inline constexpr std::uint8_t RT_UNDEFINED = 0;  // no records: the bytes
inline constexpr std::uint8_t RT_FIXED = 1;      // fixed-length records, odd ones padded
inline constexpr std::uint8_t RT_VARIABLE = 2;   // u16 length, the data, a pad byte when odd
inline constexpr std::uint8_t RT_VFC = 3;        // variable with fixed control: FH_VFCSIZE bytes
inline constexpr std::uint8_t RT_STREAM = 4;     // bytes; CR LF (also LF, FF, VT) ends a record
inline constexpr std::uint8_t RT_STREAM_LF = 5;  // bytes; LF ends a record
inline constexpr std::uint8_t RT_STREAM_CR = 6;  // bytes; CR ends a record
inline constexpr std::uint8_t RA_FORTRAN = 0x01; // Fortran carriage control: first data byte
inline constexpr std::uint8_t RA_CR = 0x02;      // implied carriage return around each record
inline constexpr std::uint8_t RA_PRINT = 0x04;   // print-file carriage control in the VFC bytes
inline constexpr std::uint8_t RA_NOSPAN = 0x08;  // records do not cross blocks
inline constexpr std::uint8_t PRINT_NEW_LINE = 0x01;   // the usual VFC prefix: one new line
inline constexpr std::uint8_t PRINT_RETURN = 0x8D;     // the usual VFC postfix: carriage return
inline constexpr std::uint32_t FCH_DIRECTORY = 0x2000; // the file is a directory

// Protection: four 4-bit fields, system, owner, group, world from bit 0 up; in each
// field read, write, execute, delete from its bit 0 up. A set bit denies.
inline constexpr std::uint16_t PROT_GROUP_NOREAD = 0x0100;
inline constexpr std::uint16_t PROT_WORLD_NOREAD = 0x1000;
inline constexpr std::uint16_t PROT_DEFAULT = 0xAA00; // S:RWED,O:RWED,G:RE,W:RE
inline constexpr std::uint16_t PROT_SYSTEM = 0xAA88;  // S:RWE,O:RWE,G:RE,W:RE

// Directory records: u16 size, u16 version limit, u8 flags, u8 name count, the name,
// a pad byte when the count is odd, then 8-byte entries.
inline constexpr std::size_t DR_SIZE = 0;            // u16: record bytes after this word
inline constexpr std::size_t DR_VERSION_LIMIT = 2;   // u16
inline constexpr std::size_t DR_FLAGS = 4;           // u8
inline constexpr std::size_t DR_NAME_COUNT = 5;      // u8
inline constexpr std::size_t DR_NAME = 6;            // name_count bytes
inline constexpr std::size_t DE_VERSION = 0;         // u16
inline constexpr std::size_t DE_FILE_NUMBER = 2;     // u16: file number bits 15-0
inline constexpr std::size_t DE_FILE_SEQUENCE = 4;   // u16
inline constexpr std::size_t DE_FILE_RVN = 6;        // u8
inline constexpr std::size_t DE_FILE_NUMBER_EXT = 7; // u8: file number bits 23-16
inline constexpr std::size_t DIR_ENTRY_SIZE = 8;
inline constexpr std::uint16_t DIR_END_MARK = 0xFFFF;

} // namespace volbuild
