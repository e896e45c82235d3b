// Host files into the volume builder, and the image onto the host's disk.
#include "mkvolume/make_volume.hpp"

#include <cerrno>
#include <cstring>
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

volbuild::file_options stored_as(const std::string& bytes, bool text)
{
    volbuild::file_options f = text ? volbuild::text_file(lines_of(bytes))
                                    : volbuild::binary_file({bytes.begin(), bytes.end()});
    f.protection = volbuild::PROT_DEFAULT; // world: read and execute
    return f;
}

void add_files(volbuild::volume_builder& builder, std::uint32_t directory,
               const host_directory& host, const volume_settings& settings,
               std::vector<std::string>& stored, std::vector<std::string>& problems)
{
    for (const host_file& file : host.files) {
        std::string bytes;
        if (!read_whole(file.path, bytes)) {
            problems.push_back(file.path + ": cannot read: " + std::strerror(errno));
            continue;
        }
        const bool text = !settings.all_bytes && is_text(bytes);
        volbuild::file_options f = stored_as(bytes, text);
        f.version = file.version;
        builder.add_file(directory, file.name_type, std::move(f));
        stored.push_back(file.path + " -> " + file.name_type + ";" + std::to_string(file.version) +
                         (text ? " (text)" : " (bytes)"));
    }
    for (const host_directory& sub : host.directories) {
        const std::uint32_t number = builder.add_directory(directory, sub.name);
        stored.push_back(sub.path + " -> " + sub.name + ".DIR;1 (directory)");
        add_files(builder, number, sub, settings, stored, problems);
    }
}

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
    add_files(builder, volbuild::MFD_FILE_NUMBER, root, settings, stored, problems);
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
