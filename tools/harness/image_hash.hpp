// Content fingerprints of volume image files, which may be large and sparse, so that a run
// that wrote to an image is noticed.
#pragma once

#include <cstdint>
#include <string>

#include <sys/types.h>

namespace harness {

struct image_state {
    bool exists = false;
    off_t size = 0;
    std::uint64_t hash = 0; // of the bytes as read; holes count as zero bytes

    bool operator==(const image_state&) const = default;
};

// Reads the file at path, skipping the I/O for holes.
image_state fingerprint(const std::string& path);

} // namespace harness
