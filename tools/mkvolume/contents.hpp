// How a host file's bytes are stored: as text (variable-length records, one per line)
// or as bytes (fixed 512-byte records).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mkvolume {

inline constexpr std::size_t MAX_RECORD = 65535; // a record's length is a 16-bit word

// A file is text when it holds no NUL byte, is empty or ends with a newline, and has
// no line over MAX_RECORD bytes (newline not counted). Such a file, stored as one
// record per line, comes back byte for byte from a text-mode copy, which ends every
// record with a newline. Everything else is stored as bytes.
[[nodiscard]] bool is_text(std::string_view bytes);

// The lines of a text file, without their newlines.
[[nodiscard]] std::vector<std::string> lines_of(std::string_view bytes);

} // namespace mkvolume
