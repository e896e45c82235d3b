// A file's contents read from the volume and written to a host descriptor:
// converted by record format, its bytes to the end of file, or every block.
#pragma once

#include <cstdint>

#include "ods2/attributes.hpp"
#include "ods2/file_header.hpp"
#include "odstar/options.hpp"

namespace odstar {

class progress;

// Writes the file's contents in mode to fd. True when all of it was written;
// false after reporting why not (a read error, a map that ends before the end
// of file, a write error). Bytes read from the volume go to progress.
[[nodiscard]] bool write_contents(const file_header& h, const file_attributes& a, content mode,
                                  int fd, progress* shown);

// Bytes the file's contents take on the volume in mode, for the progress total.
[[nodiscard]] std::uint64_t volume_bytes(const file_attributes& a, content mode);

} // namespace odstar
