// Names of the mounted tree from directory entries, and the walk that hides
// the entries a tree cannot show.
#include "odsfs/names.hpp"

#include <algorithm>

#include <cstring>

#include "ods2/layout.hpp"

namespace odsfs {

namespace {

constexpr const char DIR_TYPE[] = ".DIR";
constexpr std::size_t DIR_TYPE_LENGTH = sizeof DIR_TYPE - 1;
constexpr std::uint32_t MFD = MFD_FILE_NUMBER;

std::string stored_name(const dir_entry& e)
{
    return std::string(e.name, e.name_length);
}

// A directory file: NAME.DIR;1, NAME not empty.
bool names_directory(const dir_entry& e)
{
    return e.version == 1 && e.name_length > DIR_TYPE_LENGTH &&
           std::memcmp(e.name + e.name_length - DIR_TYPE_LENGTH, DIR_TYPE, DIR_TYPE_LENGTH) == 0;
}

bool host_name_allowed(const std::string& n)
{
    return !n.empty() && n != "." && n != ".." && n.find('/') == std::string::npos &&
           n.find('\0') == std::string::npos;
}

std::string lowered(std::string n)
{
    std::transform(n.begin(), n.end(), n.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return n;
}

} // namespace

std::size_t shown_names(const dir_entry& entry, bool newest, bool versions, bool lower,
                        shown_name (&out)[2])
{
    std::size_t count = 0;
    const std::string name = stored_name(entry);
    auto add = [&](std::string n, bool directory) {
        if (!host_name_allowed(n))
            return;
        if (lower)
            n = lowered(std::move(n));
        out[count].name = std::move(n);
        out[count].directory = directory;
        ++count;
    };
    if (names_directory(entry)) {
        add(name.substr(0, name.size() - DIR_TYPE_LENGTH), true);
        return count;
    }
    if (newest)
        add(name, false);
    if (versions)
        add(name + ";" + std::to_string(entry.version), false);
    return count;
}

std::string lookup_key_of(const char* name, std::size_t length)
{
    std::string key(name, length);
    std::transform(key.begin(), key.end(), key.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return key;
}

void start_walk(dir_walk& w, const file_header& dir)
{
    w.dir = dir;
    w.at = dir_entry_cursor{};
    w.previous.clear();
}

bool next_walk_entry(dir_walk& w, dir_entry& entry, bool& newest)
{
    while (next_dir_entry(w.scan, w.dir, w.at, entry)) {
        std::string name = stored_name(entry);
        newest = name != w.previous;
        w.previous = std::move(name);
        const bool loops = entry.fid.number == MFD || entry.fid.number == w.dir.file_number;
        if (names_directory(entry) && loops)
            continue;
        return true;
    }
    return false;
}

std::string child_spec(const std::string& parent, const dir_entry& entry, bool directory)
{
    const std::string name = stored_name(entry);
    if (!directory)
        return parent + name + ";" + std::to_string(entry.version);
    const std::string dir = name.substr(0, name.size() - DIR_TYPE_LENGTH);
    if (parent == "[000000]")
        return "[" + dir + "]";
    return parent.substr(0, parent.size() - 1) + "." + dir + "]";
}

} // namespace odsfs
