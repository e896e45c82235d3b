// The variable-length record stream of text files: per record a 16-bit length,
// the data, and a pad byte after an odd length.
#pragma once

#include <array>
#include <cstdint>
#include <string>
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

} // namespace volbuild
