// Resolution of one file specification: the volume it names, its directory,
// and in copy mode the header of the file it names.
#pragma once

#include "ods2/file_header.hpp"

#include <cstdint>

// The device tried when the first file specification of a run names none.
inline constexpr const char* DEFAULT_DEVICE = "disk$users";

// File specifications resolved so far, failed ones included.
extern std::int32_t filespec_count;

// The header of the file to copy, filled by a successful resolution in copy mode.
extern file_header target_header;

// 1 when the file specification may be listed (list mode) or copied (copy mode,
// target_header filled); 0 after a reported failure.
[[nodiscard]] int resolve_filespec();
