// Host files into the volume builder, and the image onto the host's disk.
#include "mkvolume/make_volume.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mkvolume/contents.hpp"

namespace mkvolume {

namespace {

// Reads the whole file into bytes; false, with errno set, when that fails.
bool read_whole(const std::string& path, std::string& bytes)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(got));
    const int read_errno = errno;
    close(fd);
    errno = read_errno;
    return got == 0;
}

namespace vb = volbuild;

// The host's times of path as VMS dates: revision the modification time, creation the
// birth time where the file system keeps one, else the modification time.
vb::file_dates host_dates(const std::string& path)
{
    struct statx st {};
    vb::file_dates dates;
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MTIME | STATX_BTIME, &st) != 0 ||
        (st.stx_mask & STATX_MTIME) == 0)
        return dates;
    dates.revision = vb::vms_time(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    dates.creation = (st.stx_mask & STATX_BTIME) != 0
                         ? vb::vms_time(st.stx_btime.tv_sec, st.stx_btime.tv_nsec)
                         : dates.revision;
    return dates;
}

// Walks the tree into the builder, taking each entry's settings from the manifest.
class volume_filler {
  public:
    volume_filler(vb::volume_builder& builder, const volume_settings& settings,
                  std::vector<std::string>& stored, std::vector<std::string>& problems)
        : builder_(builder), settings_(settings), stored_(stored), problems_(problems)
    {
    }

    void add_files(std::uint32_t directory, const host_directory& host)
    {
        for (const host_file& file : host.files)
            add_file(directory, file);
        for (const host_directory& sub : host.directories)
            add_directory(directory, sub);
    }

    // Manifest lines that named nothing in the tree.
    void report_unused() const
    {
        for (const auto& [path, s] : settings_.manifest)
            if (used_.count(path) == 0)
                problems_.push_back(s.where + ": " + path +
                                    ": no such file or directory below the source directory");
    }

  private:
    const file_settings& settings_of(const std::string& relative)
    {
        const auto it = settings_.manifest.find(relative);
        if (it == settings_.manifest.end())
            return none_;
        used_.insert(relative);
        return it->second;
    }

    owner_uic owner_of(const file_settings& s) const
    {
        return s.owner.value_or(settings_.owner.value_or(owner_uic{}));
    }

    std::uint16_t protection_of(const file_settings& s) const
    {
        return s.protection.value_or(settings_.protection.value_or(vb::PROT_DEFAULT));
    }

    static void place(vb::file_options& f, const file_settings& s)
    {
        if (s.extents <= 1 && s.headers <= 1)
            return;
        f.place.kind = vb::layout::fragmented;
        f.place.fragments = s.extents;
        f.allocated_blocks = std::max<std::uint32_t>(
            s.extents, static_cast<std::uint32_t>((f.data.size() + 511) / 512));
        if (s.headers > 1) {
            f.place.format = 3; // one 4-word pointer per extent: the count is exact
            f.place.headers = s.headers;
        }
    }

    static std::string extents_said(const file_settings& s)
    {
        if (s.extents <= 1 && s.headers <= 1)
            return "";
        std::string said = ", " + std::to_string(s.extents) + " extents";
        if (s.headers > 1)
            said += " in " + std::to_string(s.headers) + " headers";
        return said;
    }

    void add_file(std::uint32_t directory, const host_file& file)
    {
        std::string bytes;
        if (!read_whole(file.path, bytes)) {
            problems_.push_back(file.path + ": cannot read: " + std::strerror(errno));
            return;
        }
        const file_settings& s = settings_of(file.relative);
        stored_contents c = encode_contents(bytes, s, settings_.all_bytes);
        if (!c.error.empty()) {
            problems_.push_back(s.where + ": " + file.relative + ": " + c.error);
            return;
        }
        vb::file_options& f = c.file;
        f.version = file.version;
        const owner_uic owner = owner_of(s);
        f.owner_group = owner.group;
        f.owner_member = owner.member;
        f.protection = protection_of(s);
        f.dates = host_dates(file.path);
        place(f, s);
        builder_.add_file(directory, file.name_type, std::move(f));
        stored_.push_back(file.path + " -> " + file.name_type + ";" + std::to_string(file.version) +
                          " (" + c.how + extents_said(s) + ")");
    }

    void add_directory(std::uint32_t parent, const host_directory& sub)
    {
        const file_settings& s = settings_of(sub.relative);
        if (!s.only_owner_and_protection())
            problems_.push_back(s.where + ": " + sub.relative +
                                ": a directory takes owner= and protection= only");
        const owner_uic owner = owner_of(s);
        const std::uint32_t number = builder_.add_directory(parent, sub.name,
                                                            {.owner_group = owner.group,
                                                             .owner_member = owner.member,
                                                             .protection = protection_of(s),
                                                             .dates = host_dates(sub.path)});
        stored_.push_back(sub.path + " -> " + sub.name + ".DIR;1 (directory)");
        add_files(number, sub);
    }

    vb::volume_builder& builder_;
    const volume_settings& settings_;
    std::vector<std::string>& stored_;
    std::vector<std::string>& problems_;
    std::set<std::string> used_{};
    const file_settings none_{};
};

mode_t creation_mode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace

volbuild::built_volume make_volume(const host_directory& root, const volume_settings& settings,
                                   std::vector<std::string>& stored,
                                   std::vector<std::string>& problems)
{
    volbuild::volume_builder builder({.volume_name = settings.label, .owner_name = "MKVOLUME"});
    volume_filler filler(builder, settings, stored, problems);
    filler.add_files(volbuild::MFD_FILE_NUMBER, root);
    filler.report_unused();
    return builder.build();
}

std::string write_image(const volbuild::built_volume& volume, const std::string& path)
{
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return "cannot create a file beside it: " + std::string(std::strerror(errno));
    close(fd);
    try {
        volume.write_to(temp);
    } catch (const std::system_error& e) {
        unlink(temp.c_str());
        return e.what();
    }
    if (chmod(temp.c_str(), creation_mode()) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        unlink(temp.c_str());
        return why;
    }
    return "";
}

} // namespace mkvolume
