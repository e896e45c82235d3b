// The volume made from a scanned host tree, and its image written in one piece.
#pragma once

#include <string>
#include <vector>

#include "mkvolume/tree.hpp"
#include "volume_builder/volume_builder.hpp"

namespace mkvolume {

struct volume_settings {
    std::string label = "USERS";
    bool all_bytes = false; // store every file as bytes, text or not
};

// Lays out the volume: directories as directory files, text files as variable-length
// records, the rest as fixed 512-byte records; every file world-readable. Each entry
// adds "path -> NAME.TYPE;VERSION (how)" to stored; a file that cannot be read adds
// "path: reason" to problems.
[[nodiscard]] volbuild::built_volume make_volume(const host_directory& root,
                                                 const volume_settings& settings,
                                                 std::vector<std::string>& stored,
                                                 std::vector<std::string>& problems);

// Writes the image to a new file beside path and renames it to path, so that path
// holds either the whole image or what it held before. Empty on success, else why not.
[[nodiscard]] std::string write_image(const volbuild::built_volume& volume,
                                      const std::string& path);

} // namespace mkvolume
