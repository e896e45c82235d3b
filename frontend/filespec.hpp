// File specifications: DEVICE:[DIR.SUB]NAME.TYPE;VERSION split in place, and the
// key with which a directory is searched.
#pragma once

#include "frontend/options.hpp"

#include <cstddef>
#include <cstdint>

// Presence bits of filespec.flags, set as the items are found.
inline constexpr std::int32_t FS_DEVICE = 1;
inline constexpr std::int32_t FS_DIRECTORY = 2;
inline constexpr std::int32_t FS_NAME = 4;
inline constexpr std::int32_t FS_TYPE = 8;
inline constexpr std::int32_t FS_VERSION = 16;

// The longest name and type a directory entry can hold.
inline constexpr std::size_t MAX_NAME = 9;
inline constexpr std::size_t MAX_TYPE = 3;

// The parsed file specification. The texts point into buffer (or at a constant empty
// text) and stay valid until the next file specification is copied in.
struct filespec_record {
    char buffer[MAX_FILESPEC + 1] = {};
    std::int32_t flags = 0;
    const char* device = "";
    char* directory = nullptr; // upper-cased in place
    const char* name = "";
    const char* type = "";
    const char* version = "";
};

extern filespec_record filespec;

// NAME.TYPE upper-cased, and the version wanted (0: the highest).
struct lookup_key {
    char text[MAX_NAME + 1 + MAX_TYPE + 1] = {};
    std::uint16_t version = 0;
};

// The characters of a name, type, version, device or directory component:
// letters of either case, digits, "$", "-" and "_".
[[nodiscard]] bool is_name_char(char c);

// c with a-z made A-Z; anything else as it is.
[[nodiscard]] char to_upper(char c);

// Splits filespec.buffer into its items; 1, or 0 after reporting.
[[nodiscard]] int parse_filespec();

// Builds the key from name, type and version texts; 1, or 0 after reporting.
[[nodiscard]] int make_key(const char* name, const char* type, const char* version,
                           lookup_key& key);
