// Opening the device a volume is read from, with the set-id privilege of an
// installation that has one held only around the open.
#include "ods2/device.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The effective ids found at the start, when they differ from the real ones.
bool privileged = false;
uid_t privileged_uid = 0;
gid_t privileged_gid = 0;

// The group first, while the user id may still change it.
bool act_as_caller()
{
    return ::setegid(::getgid()) == 0 && ::seteuid(::getuid()) == 0;
}

// The user id first, which lets the group change.
void act_privileged()
{
    if (privileged)
        static_cast<void>(::seteuid(privileged_uid) == 0 && ::setegid(privileged_gid) == 0);
}

// Back to the caller's ids after an open; a process that cannot give the
// privilege up again must not go on.
void return_to_caller()
{
    if (privileged && !act_as_caller()) {
        std::fprintf(stderr, "Can't give up set-id privileges\n");
        std::_Exit(255);
    }
}

bool holds_blocks(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 &&
           (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode));
}

bool clear_nonblock(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

} // namespace

bool give_up_privilege()
{
    if (::geteuid() == ::getuid() && ::getegid() == ::getgid())
        return true;
    privileged = true;
    privileged_uid = ::geteuid();
    privileged_gid = ::getegid();
    return act_as_caller();
}

int open_device(const char* path)
{
    act_privileged();
    int fd = ::open(path, O_RDONLY | O_NONBLOCK);
    return_to_caller();
    if (fd >= 0 && (!holds_blocks(fd) || !clear_nonblock(fd))) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}
