// The command line: run-wide options, the argument being processed, option
// letters, the per-argument work and the one diagnostic writer.
#pragma once

#include "diag/report.hpp"

#include <cstddef>
#include <cstdint>

// Copy modes, chosen by -t/-T, -i, -I and -b.
inline constexpr std::int32_t MODE_TEXT = 0;
inline constexpr std::int32_t MODE_IMAGE = 1;
inline constexpr std::int32_t MODE_BLOCKS = 2;
inline constexpr std::int32_t MODE_BINARY = 3;

// The longest file specification accepted, in characters.
inline constexpr std::size_t MAX_FILESPEC = 100;

struct run_options {
    std::uint8_t list_count = 0;   // list mode while nonzero
    std::int32_t mode = MODE_TEXT; // how a file is copied
    std::int32_t drop_control = 0; // text mode drops two leading bytes per record while nonzero
    std::int32_t to_stdout = 0;    // 1: copies go to standard output
};

extern run_options options;

// Writes the usage line with the program name as invoked and exits with status 255.
[[noreturn]] void show_usage();

namespace odscp {
// The text after the last "/" of path, or path itself; points into path. (In a
// namespace of its own: the C library declares a function of the same name.)
[[nodiscard]] const char* basename(const char* path);
} // namespace odscp

// Applies the option letters of the current argument.
void parse_options();

// Handles the current argument as one file specification.
void process_filespec();
