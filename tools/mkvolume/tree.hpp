// The host directory tree as it will lie on the volume: every directory and file with
// its ODS-2 name, checked before anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mkvolume {

struct host_file {
    std::string path{};      // on the host, as reached from the source directory
    std::string relative{};  // below the source directory, '/' between the names
    std::string name_type{}; // "NAME.TYPE"
    std::uint16_t version = 1;
};

struct host_directory {
    std::string path{};
    std::string relative{}; // below the source directory; empty for the top
    std::string name{};     // empty for the top, which becomes the MFD
    std::vector<host_directory> directories{};
    std::vector<host_file> files{};
};

// Reads the tree below root, in name order. Every entry that cannot go on the volume
// adds one line "path: reason" to problems; the tree is usable only when none did.
[[nodiscard]] host_directory scan_tree(const std::string& root, std::vector<std::string>& problems);

} // namespace mkvolume
