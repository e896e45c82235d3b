// Directory path walk, header reads by file number and the protection rule.
#include "ods2/walk.hpp"

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "diag/report.hpp"
#include "frontend/filespec.hpp"
#include "frontend/options.hpp"
#include "ods2/directory.hpp"
#include "ods2/volume.hpp"

file_header current_dir;
bool dir_resolved = false;

namespace {

// The length of the component at text, or 0 when it holds a character that no
// component may hold or is empty or too long.
[[nodiscard]] std::size_t component_length(const char* text)
{
    std::size_t n = 0;
    for (; text[n] != '\0' && text[n] != '.'; ++n) {
        if (!is_name_char(text[n]))
            return 0;
    }
    return n <= DIR_COMPONENT_MAX ? n : 0;
}

// Every directory is the file NAME.DIR;1 in the directory above it.
void make_directory_key(const char* component, std::size_t length, lookup_key& key)
{
    std::memcpy(key.text, component, length);
    std::memcpy(key.text + length, ".DIR", 5);
    key.version = 1;
}

// One level: find the component in level and read its header back into level.
[[nodiscard]] int enter_level(file_header& level, const char* path, std::size_t component,
                              std::size_t length)
{
    const std::size_t cut = component + length;
    lookup_key key;
    make_directory_key(path + component, length, key);
    const std::uint32_t n = find_entry(level, key);
    if (n == 0) {
        report_upto("Directory [%s] does not exist", path, cut);
        return 0;
    }
    if (!read_file_header(n, level)) {
        report_upto("Can't get file header for directory [%s]", path, cut);
        return 0;
    }
    if (!may_read(level)) {
        report_upto("No access privilege for directory [%s]", path, cut);
        return 0;
    }
    return 1;
}

} // namespace

int walk_directory()
{
    const char* path = filespec.directory;
    file_header level = volume.mfd_header; // each level is read here; current_dir only at the end
    for (std::size_t start = 0;;) {
        const std::size_t length = component_length(path + start);
        if (length == 0) {
            report("Invalid directory ([%s])", path);
            return 0;
        }
        if (!enter_level(level, path, start, length))
            return 0;
        start += length;
        if (path[start] == '\0')
            break;
        ++start;
    }
    current_dir = level;
    dir_resolved = true;
    return 1;
}

int enter_master_directory()
{
    if (!may_read(volume.mfd_header)) {
        report("No access privilege for directory [000000]");
        return 0;
    }
    current_dir = volume.mfd_header;
    dir_resolved = true;
    return 1;
}

void forget_current_directory()
{
    dir_resolved = false;
}

int get_file_header(std::uint32_t file_number, file_header& slot)
{
    if (!read_file_header(file_number, slot))
        return 0;
    return may_read(slot) ? 1 : -1;
}

bool may_read(const file_header& header)
{
    const std::uint16_t prot = protection(header);
    if ((prot & PROT_WORLD_NOREAD) == 0)
        return true;
    if (::getuid() == 0)
        return true;
    const auto gid = static_cast<std::int32_t>(::getgid());
    return gid_to_group(gid) == owner_group(header) && (prot & PROT_GROUP_NOREAD) == 0;
}

std::int32_t gid_to_group(std::int32_t gid)
{
    return (gid / 100) * 64 + ((gid / 10) % 10) * 8 + (gid % 10);
}

void report_upto(const char* format, const char* text, std::size_t position)
{
    char cut[MAX_FILESPEC + 1];
    const std::size_t n = std::min(position, sizeof cut - 1);
    std::memcpy(cut, text, n);
    cut[n] = '\0';
    report(format, cut);
}
