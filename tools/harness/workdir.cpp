// The working directory of a run: a fresh temporary one, and the files a run leaves in it.
#include "harness/workdir.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harness {
namespace {

std::string os_error(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

std::string read_all(int fd)
{
    std::string text;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buf, static_cast<std::size_t>(n));
    }
}

} // namespace

std::string make_temp_workdir(mode_t mode, const std::optional<identity>& owner, std::string& why)
{
    char templ[] = "/tmp/odscp-run-XXXXXX";
    if (mkdtemp(templ) == nullptr) {
        why = os_error("mkdtemp /tmp/odscp-run-XXXXXX");
        return {};
    }
    std::string path = templ;
    if (owner && chown(templ, owner->uid, owner->gid) != 0) {
        why = os_error("chown " + path);
        remove_workdir(path);
        return {};
    }
    if (chmod(templ, mode) != 0) {
        why = os_error("chmod " + path);
        remove_workdir(path);
        return {};
    }
    return path;
}

std::map<std::string, file> collect_files(int dirfd)
{
    std::map<std::string, file> files;
    const int fd = fcntl(dirfd, F_DUPFD_CLOEXEC, 3);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0)
            close(fd);
        return files;
    }
    rewinddir(dir);
    while (const dirent* entry = readdir(dir)) {
        struct stat st {};
        if (fstatat(dirfd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        file f;
        f.mode = st.st_mode & 07777;
        f.uid = st.st_uid;
        f.gid = st.st_gid;
        const int in = openat(dirfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (in >= 0) {
            f.contents = read_all(in);
            close(in);
        }
        files.emplace(entry->d_name, std::move(f));
    }
    closedir(dir);
    return files;
}

void remove_workdir(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    // A read-only directory of the caller's own cannot be emptied until it is writable again.
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

} // namespace harness
