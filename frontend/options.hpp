// The run-wide options that the copy and the record decoder follow, and the
// longest file specification: data only, no part of the run loop.
#pragma once

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
