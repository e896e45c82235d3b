// The walk over the host tree: names, kinds of file, and names that would clash.
#include "mkvolume/tree.hpp"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "mkvolume/names.hpp"

namespace fs = std::filesystem;

namespace mkvolume {

namespace {

// The files the volume keeps in its MFD for itself, whatever the version.
const std::set<std::string> RESERVED_IN_MFD = {"INDEXF.SYS", "BITMAP.SYS", "BADBLK.SYS",
                                               "000000.DIR", "CORIMG.SYS"};

// One directory's names so far, each with the host path that took it.
struct name_table {
    bool is_mfd = false;
    std::map<std::string, std::string> taken{}; // "NAME.TYPE;VERSION" -> host path
    std::vector<std::string>* problems = nullptr;

    void problem(const std::string& path, const std::string& why) const
    {
        problems->push_back(path + ": " + why);
    }

    // Takes the name for path; false, with the problem noted, when it is not free.
    bool take(const std::string& path, const std::string& name_type, std::uint16_t version)
    {
        if (is_mfd && RESERVED_IN_MFD.count(name_type) != 0) {
            problem(path, name_type + " is the name of a file the volume keeps in its MFD");
            return false;
        }
        const std::string key = name_type + ";" + std::to_string(version);
        const auto [it, fresh] = taken.emplace(key, path);
        if (!fresh)
            problem(path, "becomes " + key + ", as " + it->second + " does");
        return fresh;
    }
};

std::vector<fs::directory_entry> sorted_entries(const std::string& path,
                                                std::vector<std::string>& problems)
{
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(*it);
    if (ec)
        problems.push_back(path + ": cannot read the directory: " + ec.message());
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    return entries;
}

host_directory scan_directory(const std::string& path, const std::string& relative,
                              const std::string& name, bool is_mfd,
                              std::vector<std::string>& problems);

std::string below(const host_directory& dir, const std::string& host_name)
{
    return dir.relative.empty() ? host_name : dir.relative + "/" + host_name;
}

void add_directory(host_directory& into, name_table& names, const std::string& path,
                   const std::string& host_name)
{
    const directory_name d = directory_name_of(host_name);
    if (!d.error.empty()) {
        names.problem(path, d.error);
        return;
    }
    if (names.take(path, d.name + ".DIR", 1))
        into.directories.push_back(
            scan_directory(path, below(into, host_name), d.name, false, *names.problems));
}

void add_file(host_directory& into, name_table& names, const std::string& path,
              const std::string& host_name)
{
    const file_name f = file_name_of(host_name);
    if (!f.error.empty())
        names.problem(path, f.error);
    else if (names.take(path, f.name_type, f.version))
        into.files.push_back({path, below(into, host_name), f.name_type, f.version});
}

void add_entry(host_directory& into, name_table& names, const fs::directory_entry& entry)
{
    const std::string path = entry.path().string();
    const std::string host_name = entry.path().filename().string();
    std::error_code ec;
    const fs::file_status status = entry.symlink_status(ec);
    if (ec)
        names.problem(path, ec.message());
    else if (fs::is_symlink(status))
        names.problem(path, "a symbolic link; copy what it points at instead");
    else if (fs::is_directory(status))
        add_directory(into, names, path, host_name);
    else if (fs::is_regular_file(status))
        add_file(into, names, path, host_name);
    else
        names.problem(path, "neither a regular file nor a directory");
}

host_directory scan_directory(const std::string& path, const std::string& relative,
                              const std::string& name, bool is_mfd,
                              std::vector<std::string>& problems)
{
    host_directory dir{path, relative, name, {}, {}};
    name_table names{is_mfd, {}, &problems};
    for (const fs::directory_entry& entry : sorted_entries(path, problems))
        add_entry(dir, names, entry);
    return dir;
}

} // namespace

host_directory scan_tree(const std::string& root, std::vector<std::string>& problems)
{
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        problems.push_back(root + ": not a directory");
        return {};
    }
    return scan_directory(root, "", "", true, problems);
}

} // namespace mkvolume
