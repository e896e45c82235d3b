// Every attribute of a file that its header records: identification, record
// format and attributes, sizes, owner and protection, dates, the stored name;
// and their usual text forms.
#pragma once

#include "ods2/directory.hpp"
#include "ods2/file_header.hpp"

#include <cstddef>
#include <cstdint>

// Record formats (the record attribute area's first byte, bits 3-0).
inline constexpr std::uint8_t RECFMT_UNDEFINED = 0;
inline constexpr std::uint8_t RECFMT_FIXED = 1;
inline constexpr std::uint8_t RECFMT_VARIABLE = 2;
inline constexpr std::uint8_t RECFMT_VFC = 3;
inline constexpr std::uint8_t RECFMT_STREAM = 4;
inline constexpr std::uint8_t RECFMT_STREAM_LF = 5;
inline constexpr std::uint8_t RECFMT_STREAM_CR = 6;

// Record attributes (the area's second byte).
inline constexpr std::uint8_t RECATTR_FORTRAN = 0x01;    // first byte: Fortran carriage control
inline constexpr std::uint8_t RECATTR_IMPLIED_CR = 0x02; // each record a line
inline constexpr std::uint8_t RECATTR_PRINT = 0x04;      // VFC header: print-file carriage control
inline constexpr std::uint8_t RECATTR_NO_SPAN = 0x08;    // records do not cross blocks

// A VMS time: 100 ns units since 1858-11-17 00:00 UTC. known is false when the
// stored value is zero or lies outside the years 1858-9999.
struct vms_time {
    bool known = false;
    std::uint64_t ticks = 0;
    std::int64_t unix_seconds = 0; // since 1970-01-01 UTC, when known
    std::uint32_t nanoseconds = 0;
};

struct uic {
    std::uint16_t group = 0;
    std::uint16_t member = 0;
};

// Longest file name the identification area holds (name, type and version).
inline constexpr std::size_t MAX_IDENT_NAME = 86;

struct file_attributes {
    file_id fid;       // from the header itself
    file_id back_link; // the directory that holds the file
    std::uint8_t record_format = RECFMT_UNDEFINED;
    std::uint8_t record_attributes = 0;
    std::uint8_t organization = 0; // bits 7-4 of the record type byte: 0 sequential
    std::uint16_t record_size = 0;
    std::uint8_t vfc_size = 0;         // VFC fixed header bytes (0 stands for 2)
    std::uint32_t highest_block = 0;   // blocks allocated, as the header records
    std::uint32_t eof_block = 0;       // end-of-file block
    std::uint16_t first_free_byte = 0; // bytes used in the end-of-file block
    std::uint64_t size_bytes = 0;      // bytes to the end of file
    std::uint32_t blocks_used = 0;     // blocks up to the end of file
    std::uint32_t file_characteristics = 0;
    bool directory = false; // the header marks the file a directory
    uic owner;
    std::uint16_t protection = 0; // system, owner, group, world nibbles; a set bit denies
    // The identification area: known is false when it lies outside the header.
    bool ident_known = false;
    char name[MAX_IDENT_NAME + 1] = {}; // as stored, trailing blanks and NULs removed
    std::size_t name_length = 0;
    std::uint16_t revision_count = 0;
    vms_time created;
    vms_time revised;
    vms_time expires;
    vms_time backup;
};

// Reads every attribute from the header; fields that cannot be trusted are
// left unknown, never used unchecked. Reads nothing from the device.
void read_file_attributes(const file_header& h, file_attributes& out);

// Text forms, NUL-terminated in out (at least the size given):
// "(RWED,RWED,RE,)": system, owner, group, world; the letters allowed.
inline constexpr std::size_t PROTECTION_TEXT = 24;
void format_protection(std::uint16_t protection, char (&out)[PROTECTION_TEXT]);
// "[1,4]": group and member in octal, as VMS shows them.
inline constexpr std::size_t UIC_TEXT = 16;
void format_uic(uic owner, char (&out)[UIC_TEXT]);
// "VAR CR", "FIX 512", "STMLF", "VFC 2 PRN", "UDF", "VAR FTN NOSPAN"...; a
// file that is not sequential adds its organization ("VAR CR IDX").
inline constexpr std::size_t RECORD_FORMAT_TEXT = 40;
void format_record_format(const file_attributes& a, char (&out)[RECORD_FORMAT_TEXT]);
// "2026-12-10T11:51:00Z" (with ".25" when a fraction of a second), or "unknown".
inline constexpr std::size_t TIME_TEXT = 32;
void format_time(const vms_time& t, char (&out)[TIME_TEXT]);
