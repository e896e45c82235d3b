// How a host file's bytes are stored: as text (variable-length records, one per line)
// or as bytes (fixed 512-byte records) by default, or in the record format and with
// the carriage control the manifest names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "mkvolume/manifest.hpp"
#include "volume_builder/volume_builder.hpp"

namespace mkvolume {

inline constexpr std::size_t MAX_RECORD = 65535; // a record's length is a 16-bit word

// A file is text when it holds no NUL byte, is empty or ends with a newline, and has
// no line over MAX_RECORD bytes (newline not counted). Such a file, stored as one
// record per line, comes back byte for byte from a text-mode copy, which ends every
// record with a newline. Everything else is stored as bytes.
[[nodiscard]] bool is_text(std::string_view bytes);

// The lines of a text file, without their newlines.
[[nodiscard]] std::vector<std::string> lines_of(std::string_view bytes);

// A file's contents in its record format, with the header fields that describe them.
struct stored_contents {
    volbuild::file_options file{}; // data, record type, attributes, sizes
    std::string how{};             // "text", "bytes", "vfc 2, print", ...
    std::string error{};           // why the bytes cannot be stored so; then nothing else
};

// Encodes bytes as the settings ask, so that converting the records back by their
// format gives the bytes exactly. all_bytes is -b: the automatic choice is bytes.
[[nodiscard]] stored_contents encode_contents(std::string_view bytes, const file_settings& settings,
                                              bool all_bytes);

} // namespace mkvolume
