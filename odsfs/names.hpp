// How directory entries appear in the mounted tree: which names an entry is
// shown under, which entries are hidden, and the keys lookups compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ods2/directory.hpp"

namespace odsfs {

// One name an entry is shown under: NAME for a directory file NAME.DIR;1,
// NAME.TYPE for the newest version of a file, NAME.TYPE;N for any version.
struct shown_name {
    std::string name;
    bool directory = false;
};

// The names entry is shown under (at most two), in the order listed; newest
// is set for the first (highest) version of its name. Entries whose names
// cannot be host names (empty, ".", "..", holding '/' or NUL) give none.
std::size_t shown_names(const dir_entry& entry, bool newest, bool versions, bool lower,
                        shown_name (&out)[2]);

// The key a lookup compares: the name with a-z upper-cased.
[[nodiscard]] std::string lookup_key_of(const char* name, std::size_t length);

// Walks one directory's entries in order, telling each entry's newest flag
// and hiding the entries that would make the tree loop: any directory file
// naming the MFD (its entry for itself) or the directory being walked.
struct dir_walk {
    file_header dir;
    dir_scan_state scan;
    dir_entry_cursor at{};
    std::string previous; // name of the entry handed out last
};

// Starts w over dir from its first entry.
void start_walk(dir_walk& w, const file_header& dir);

// The next shown entry; false when the walk has ended.
[[nodiscard]] bool next_walk_entry(dir_walk& w, dir_entry& entry, bool& newest);

// The VMS file specification of a child, for messages: a directory's is its
// bracketed path ("[A.B]"), a file's the path and NAME.TYPE;N.
[[nodiscard]] std::string child_spec(const std::string& parent, const dir_entry& entry,
                                     bool directory);

} // namespace odsfs
