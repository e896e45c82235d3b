// The walk of a whole volume: every directory from the MFD down, each entered
// once, in directory order, each entry handed to a visitor with its header
// and attributes. Memory stays bounded whatever the volume holds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ods2/attributes.hpp"
#include "ods2/directory.hpp"
#include "ods2/file_header.hpp"

namespace odstar {

// Directories nested deeper than this below the MFD are not entered (VMS
// itself makes at most 8 levels; the rest is room for volumes made elsewhere).
inline constexpr std::size_t MAX_DIRECTORY_DEPTH = 32;

struct walk_item {
    const std::vector<std::string>* directories = nullptr; // as stored, from the MFD down
    const std::string* directory_text = nullptr;           // "[A.B]", "[000000]" for the MFD
    const dir_entry* entry = nullptr;
    bool newest = false; // the first (highest) version of its name in the directory
    const file_header* header = nullptr;
    const file_attributes* attributes = nullptr;
    // The entry names a directory (NAME.DIR;1 whose header says so); entered
    // after this item unless already entered or refused.
    bool is_directory = false;
    const std::string* subject = nullptr; // "[A.B]NAME.TYPE;N", escaped for messages
};

class walk_visitor {
  public:
    virtual ~walk_visitor() = default;
    // Every entry whose header was read. False for a directory: do not enter it.
    virtual bool file(const walk_item& item) = 0;
    // Around the contents of a directory entered; item is the one file() saw.
    virtual void enter(const walk_item& item) { (void)item; }
    virtual void leave(const walk_item& item) { (void)item; }
    // Whether the walk should enter a directory with this path (patterns).
    virtual bool wanted_below(const std::vector<std::string>& directories)
    {
        (void)directories;
        return true;
    }
};

struct walk_settings {
    bool enforce_protection = false; // -d: directories the rule refuses are not entered
};

// Walks the mounted volume from the MFD. Failures are reported as they are met
// (report_count counts them) and the walk goes on with the next entry.
void walk_volume(const walk_settings& settings, walk_visitor& visitor);

// "[A.B]" for the path, "[000000]" for the MFD: the names as stored.
[[nodiscard]] std::string directory_text(const std::vector<std::string>& directories);

} // namespace odstar
