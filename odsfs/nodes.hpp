// The files of the mounted volume as the file system shows them: inode numbers
// from file ids, a bounded cache of what was read about each file, stat and
// extended attributes, and the volume's space.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <time.h>

#include "ods2/attributes.hpp"
#include "ods2/directory.hpp"
#include "ods2/file_header.hpp"

namespace odsfs {

// What the mount was asked for.
struct mount_settings {
    bool versions = false; // every version as NAME.TYPE;N as well
    bool lower = false;    // names in lower case
    bool text = false;     // record files converted to text
    uid_t uid = 0;         // owner of every file
    gid_t gid = 0;
    struct timespec mount_time {}; // the access time of every file
};

extern mount_settings settings;

// The inode number of the root, the MFD.
inline constexpr std::uint64_t ROOT_INODE = 1;

// Inode numbers are file ids: number in bits 0-23, sequence in 24-39, relative
// volume in 40-47, and bit 48 for a directory file shown as a directory.
[[nodiscard]] std::uint64_t inode_of(const file_id& fid, bool directory);
[[nodiscard]] bool inode_is_directory(std::uint64_t inode);

// What is known of one file: its header, attributes, the size it shows (its
// bytes, or its converted text with -o text) and its file specification for messages.
struct node {
    std::uint64_t inode = 0;
    file_header header;
    file_attributes attributes;
    bool directory = false;
    bool text = false; // read through the converter
    std::uint64_t size = 0;
    std::string spec;
};

// The node for inode from the cache, else read from the volume (spec names it
// in messages; empty: the header's own name). nullptr after a failure has been
// reported. The pointer is valid until the next call.
node* find_node(std::uint64_t inode, const std::string& spec = {});

// Makes the report subject name the file.
void report_about(const std::string& spec);

void fill_stat(const node& n, struct stat& st);

// The extended attribute name of n into value; false when there is no such name.
[[nodiscard]] bool vms_attribute(const node& n, const char* name, std::string& value);
// Every extended attribute name, each followed by a NUL.
[[nodiscard]] std::string vms_attribute_names();

// Reads the volume's size and free space (from the storage bitmap) once.
void measure_volume();
void fill_statvfs(struct statvfs& st);

} // namespace odsfs
