// The volume made from a scanned host tree, and its image written in one piece.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mkvolume/manifest.hpp"
#include "mkvolume/tree.hpp"
#include "volume_builder/volume_builder.hpp"

namespace mkvolume {

struct volume_settings {
    std::string label = "USERS";
    bool all_bytes = false;                    // store every file as bytes, text or not
    std::optional<owner_uic> owner{};          // -o: every entry's owner; default [1,1]
    std::optional<std::uint16_t> protection{}; // -p: every entry's; default S:RWED,O:RWED,G:RE,W:RE
    std::map<std::string, file_settings> manifest{}; // by path below the source directory
};

// Lays out the volume: directories as directory files, text files as variable-length
// records, the rest as fixed 512-byte records, unless the manifest says otherwise;
// every file world-readable unless -p or the manifest say otherwise; each file's dates
// from the host's (revision: modification time; creation: birth time where the host
// keeps one, else modification time). Each entry adds "path -> NAME.TYPE;VERSION
// (how)" to stored; a file that cannot be read or stored as the manifest asks, or a
// manifest path that names nothing in the tree, adds a line to problems.
[[nodiscard]] volbuild::built_volume make_volume(const host_directory& root,
                                                 const volume_settings& settings,
                                                 std::vector<std::string>& stored,
                                                 std::vector<std::string>& problems);

// Writes the image to a new file beside path and renames it to path, so that path
// holds either the whole image or what it held before. Empty on success, else why not.
[[nodiscard]] std::string write_image(const volbuild::built_volume& volume,
                                      const std::string& path);

} // namespace mkvolume
