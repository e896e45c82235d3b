// The record formats' byte streams: variable-length records (per record a 16-bit
// length, the data, a pad byte after an odd length), VFC records, fixed-length
// records and the stream formats.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace volbuild {

struct record_options {
    bool control_bytes = false;                      // two leading bytes per record, counted
    std::array<std::uint8_t, 2> control{0x01, 0x8D}; // their values
    std::uint8_t pad = 0;                            // the byte after an odd-length record
};

// One record per line. Throws std::invalid_argument for a record over 65535 bytes.
[[nodiscard]] std::vector<std::uint8_t> encode_records(const std::vector<std::string>& lines,
                                                       const record_options& options = {});

// Variable-length records, each led by the same fixed control bytes (none for plain
// variable-length records; a VFC file's FH_VFCSIZE bytes), the length counting them.
[[nodiscard]] std::vector<std::uint8_t>
encode_variable(const std::vector<std::string>& records,
                std::span<const std::uint8_t> fixed_control = {}, std::uint8_t pad = 0);

// Fixed-length records of size bytes, each followed by a pad byte when size is odd.
// Throws std::invalid_argument for a record of another length.
[[nodiscard]] std::vector<std::uint8_t> encode_fixed(const std::vector<std::string>& records,
                                                     std::size_t size, std::uint8_t pad = 0);

// Stream records: each record followed by the terminator ("\r\n", "\n" or "\r").
[[nodiscard]] std::vector<std::uint8_t> encode_stream(const std::vector<std::string>& records,
                                                      std::string_view terminator);

} // namespace volbuild
