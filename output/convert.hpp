// Conversion of a file's byte stream (its bytes to the end of file) by its
// record format into what a Unix user expects: lines for record files, the
// bytes for the others. Streaming, in fixed memory, resumable at any point.
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
    std::uint32_t pending = 0;   // output owed but not yet given (line ends, controls)
    std::uint8_t pending_byte = 0;
    bool at_line_start = true;
    bool truncated = false; // the end of file fell inside a record, or a length ran past it
};

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
