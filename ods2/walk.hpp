// The current directory, the walk of a bracketed directory path from the MFD
// down, header reads by file number, and the protection rule.
#pragma once

#include "ods2/file_header.hpp"

#include <cstddef>
#include <cstdint>

// The longest directory name component accepted.
inline constexpr std::size_t DIR_COMPONENT_MAX = 9;

// The header of the current directory, valid while dir_resolved is set; it
// always belongs to the mounted volume and passed the protection rule.
extern file_header current_dir;
extern bool dir_resolved;

// Resolves filespec.directory level by level from the MFD; the last level
// becomes the current directory only when the whole path resolved. 1, or 0
// after reporting.
[[nodiscard]] int walk_directory();

// Makes the MFD the current directory, as for [000000]. 1, or 0 after reporting.
[[nodiscard]] int enter_master_directory();

// Forgets the current directory; done whenever another volume is to be mounted.
void forget_current_directory();

// Reads the header of file number n into slot: 1 read and readable, 0 not
// read, -1 read but the protection rule refuses it. Reports nothing itself.
[[nodiscard]] int get_file_header(std::uint32_t file_number, file_header& slot);

// The protection rule: world read, the superuser, or the owner's group with
// group read.
[[nodiscard]] bool may_read(const file_header& header);

// The UIC group a host group id stands for: its decimal digits read as octal,
// everything above the last two digits taken whole as the multiple of 64.
[[nodiscard]] std::int32_t gid_to_group(std::int32_t gid);

// Reports format with text cut at position (a "%s" in format shows the cut text).
void report_upto(const char* format, const char* text, std::size_t position);
