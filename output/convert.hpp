// Conversion of a file's byte stream (its bytes to the end of file) by its
// record format into what a Unix user expects: lines for record files, the
// bytes for the others. Streaming, in fixed memory, resumable at any point.
//
// What CONVERT_AUTO gives, by record format (sequential files; any other
// organization gives its bytes):
//  - variable (VAR) and VFC: records of a little-endian length word and that
//    many bytes, each starting at an even offset (a pad byte follows an odd
//    length); a length of 0xFFFF says the rest of its block holds no records.
//    VFC records lose their fixed header (vfc_size bytes, 0 standing for 2).
//  - fixed (FIX): records of record_size bytes, each at an even offset, none
//    crossing a block when records do not span; without carriage control
//    (implied carriage return or Fortran) or with a record size of 0, the bytes.
//  - stream (STM): CR LF becomes LF; every other byte stays, LF, FF, VT and a
//    lone CR included. Stream-LF (STMLF): the bytes. Stream-CR (STMCR): CR
//    becomes LF. Nothing is added at the end.
//  - undefined (UDF) and any other format: the bytes.
// Every record is written as the printer would see it: its leading control,
// its data, its trailing control. The controls come from the VFC header with
// print-file carriage control (prefix byte, then postfix byte: 0 nothing; bit
// 7 clear: that many line feeds; bits 7-6 = 10: the C0 character in bits
// 4-0; bits 7-6 = 11: one line feed), from the first data byte with Fortran
// carriage control (space: LF before, CR after; "0": two LF before, CR after;
// "1": FF before, CR after; "+": CR after only; "$": LF before only; NUL:
// none; anything else as a space), and otherwise are LF before, CR after. A
// control byte that a record is too short to hold counts as LF before, CR
// after. Each line feed becomes "\n"; a carriage return is held: the line
// feed that follows it takes it in (CR LF is one "\n"), a form feed or other
// character after it makes it a line end ("\n\f"), and data or another CR
// after it stay on the line ("\r": overprinting). The very first line feed
// of a file is dropped (the page starts there), so a file of usual records
// (LF before, CR after) becomes one line per record with no blank line
// first; a file of record data ends with "\n" whatever its last controls
// were. A record cut short by the end of file keeps the bytes it had, and
// sets truncated.
#pragma once

#include "ods2/attributes.hpp"

#include <cstddef>
#include <cstdint>

// What a conversion gives.
inline constexpr std::int32_t CONVERT_AUTO = 0; // by record format and attributes
inline constexpr std::int32_t CONVERT_RAW = 1;  // the bytes to the end of file, any format

// The whole state of one conversion; copyable, so that a reader can keep the
// position of a conversion and go on from it later.
struct record_converter {
    std::int32_t mode = CONVERT_AUTO;
    std::uint8_t record_format = RECFMT_UNDEFINED;
    std::uint8_t record_attributes = 0;
    std::uint16_t record_size = 0;
    std::uint8_t vfc_size = 0;
    std::int32_t state = 0;      // where in a record the next byte falls
    std::uint32_t remaining = 0; // bytes of the current part still to come
    std::uint64_t in_offset = 0; // bytes of the file consumed
    std::uint8_t carry[4] = {};  // bytes held while a field is incomplete
    std::uint8_t carry_count = 0;
    std::uint32_t pending = 0; // output owed but not yet given (line ends, controls)
    std::uint8_t pending_byte = 0;
    bool at_line_start = true;
    bool truncated = false; // the end of file fell inside a record, or a length ran past it
    // How the bytes are taken (set by start_conversion from the above).
    std::uint8_t kind = 0;
    std::uint16_t record_length = 0; // of the record being converted
    std::uint8_t header_left = 0;    // VFC header bytes still to come
    std::uint8_t header_seen = 0;    // VFC header bytes taken (the first two kept in carry)
    std::uint8_t postfix = 0;        // control to write after the record's data
    bool has_pending_byte = false;   // pending_byte follows the pending line ends
    bool owed_cr = false;            // a carriage return not yet written
    bool produced = false;           // anything has been written or is owed
};

// Whether CONVERT_AUTO gives the file as text (records become lines; a stream
// format's lines end in LF) rather than its bytes as they are.
[[nodiscard]] bool converts_to_text(const file_attributes& a);

// Starts a conversion of a file with these attributes.
void start_conversion(record_converter& c, const file_attributes& a, std::int32_t mode);

// Converts bytes of the file's stream, in order: consumes up to n bytes of in
// and writes up to capacity bytes to out. Returns the bytes written; consumed
// is set to the bytes taken. A call may take fewer than n bytes only when out
// is full: call again with the rest.
[[nodiscard]] std::size_t convert_bytes(record_converter& c, const std::uint8_t* in, std::size_t n,
                                        std::size_t& consumed, std::uint8_t* out,
                                        std::size_t capacity);

// Ends the conversion at the end of file: writes what is still owed (a last
// line end) into out and returns its length; sets truncated when the file
// ended inside a record. Call again while it returns capacity.
[[nodiscard]] std::size_t finish_conversion(record_converter& c, std::uint8_t* out,
                                            std::size_t capacity);
