// The forked child's side of a run: namespace, private /dev, working directory, ids, exec.
#include "harness/child.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harness {
namespace {

constexpr int SETUP_FAILED = 127;

// The device nodes a program may reasonably open besides the volumes.
constexpr const char* DEV_NODES[] = {"null", "zero", "full"};
constexpr std::size_t DEV_NODE_COUNT = sizeof DEV_NODES / sizeof DEV_NODES[0];

// Appends text to buf (of size BUF) at *len, truncating; no allocation.
template <std::size_t BUF> void append(char (&buf)[BUF], std::size_t& len, const char* text)
{
    for (; *text != '\0' && len + 1 < BUF; ++text)
        buf[len++] = *text;
    buf[len] = '\0';
}

// Records errno and the failed step in failure; returns false for the caller to pass on.
bool record_failure(setup_failure& failure, const char* step, const char* detail = "")
{
    failure.error = errno;
    std::size_t len = 0;
    failure.step[0] = '\0';
    append(failure.step, len, step);
    if (*detail != '\0') {
        append(failure.step, len, " ");
        append(failure.step, len, detail);
    }
    return false;
}

// Reports a failed step through report_fd (errno as raw bytes, then text) and exits.
[[noreturn]] void report_failure(int report_fd, const setup_failure& failure)
{
    char msg[sizeof failure.error + sizeof failure.step];
    std::memcpy(msg, &failure.error, sizeof failure.error);
    const std::size_t len = std::strlen(failure.step);
    std::memcpy(msg + sizeof failure.error, failure.step, len);
    [[maybe_unused]] ssize_t n = write(report_fd, msg, sizeof failure.error + len);
    _exit(SETUP_FAILED);
}

[[noreturn]] void fail(int report_fd, const char* step, const char* detail = "")
{
    setup_failure failure;
    record_failure(failure, step, detail);
    report_failure(report_fd, failure);
}

bool write_text(const char* path, const std::string& text)
{
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = write(fd, text.data(), text.size());
    close(fd);
    return n == static_cast<ssize_t>(text.size());
}

// A user namespace maps only the caller's own ids; supplementary groups cannot be kept.
bool map_own_ids(const namespace_plan& plan, setup_failure& failure)
{
    if (!write_text("/proc/self/setgroups", "deny"))
        return record_failure(failure, "write /proc/self/setgroups");
    if (!write_text("/proc/self/uid_map", plan.uid_map))
        return record_failure(failure, "write /proc/self/uid_map");
    if (!write_text("/proc/self/gid_map", plan.gid_map))
        return record_failure(failure, "write /proc/self/gid_map");
    return true;
}

// Leaves the host's mount namespace; no mount made afterwards propagates back.
bool enter_namespace(const namespace_plan& plan, setup_failure& failure)
{
    if (plan.mode == isolation::mount_ns && unshare(CLONE_NEWNS) != 0)
        return record_failure(failure, "unshare(CLONE_NEWNS)");
    if (plan.mode == isolation::user_ns) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return record_failure(failure, "unshare(CLONE_NEWUSER|CLONE_NEWNS)");
        if (!map_own_ids(plan, failure))
            return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return record_failure(failure, "make / private");
    return true;
}

// Writes "/dev/<node>" into path.
void dev_path(char (&path)[32], const char* node)
{
    std::size_t len = 0;
    append(path, len, "/dev/");
    append(path, len, node);
}

// Writes "/proc/self/fd/<fd>", the link through which a held descriptor can be bind-mounted.
void fd_link(char (&path)[32], int fd)
{
    std::size_t len = 0;
    append(path, len, "/proc/self/fd/");
    char digits[12];
    std::size_t n = 0;
    for (int v = fd; v > 0 || n == 0; v /= 10)
        digits[n++] = static_cast<char>('0' + v % 10);
    while (n > 0 && len + 1 < sizeof path)
        path[len++] = digits[--n];
    path[len] = '\0';
}

// Bind-mounts the node held open as held onto a new file at path, and closes held.
bool bind_node(int held, const char* path, setup_failure& failure)
{
    const int fd = open(path, O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        record_failure(failure, "create", path);
        close(held);
        return false;
    }
    close(fd);
    char source[32];
    fd_link(source, held);
    const bool bound = mount(source, path, nullptr, MS_BIND, nullptr) == 0;
    if (!bound)
        record_failure(failure, "bind-mount", path);
    close(held);
    return bound;
}

// Closes the first count descriptors of held (after a failure, whose errno is kept).
void close_held(const int* held, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        close(held[i]);
}

// A tmpfs replaces /dev; the host's null, zero and full are bind-mounted into it through
// descriptors opened before the tmpfs hid them. That needs no mknod, so it also works in a
// user namespace.
bool build_dev(setup_failure& failure)
{
    int held[DEV_NODE_COUNT];
    for (std::size_t i = 0; i < DEV_NODE_COUNT; ++i) {
        char path[32];
        dev_path(path, DEV_NODES[i]);
        held[i] = open(path, O_PATH | O_CLOEXEC);
        if (held[i] < 0) {
            record_failure(failure, "open", path);
            close_held(held, i);
            return false;
        }
    }
    if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755,size=64k") != 0) {
        record_failure(failure, "mount tmpfs on /dev");
        close_held(held, DEV_NODE_COUNT);
        return false;
    }
    for (std::size_t i = 0; i < DEV_NODE_COUNT; ++i) {
        char path[32];
        dev_path(path, DEV_NODES[i]);
        if (!bind_node(held[i], path, failure)) {
            close_held(held + i + 1, DEV_NODE_COUNT - i - 1);
            return false;
        }
    }
    return true;
}

bool link_images(const namespace_plan& plan, setup_failure& failure)
{
    for (std::size_t i = 0; i < plan.link_paths.size(); ++i)
        if (symlink(plan.link_targets[i].c_str(), plan.link_paths[i].c_str()) != 0)
            return record_failure(failure, "symlink", plan.link_paths[i].c_str());
    return true;
}

// Sends the working directory's descriptor to the parent, which reads the files left there
// after the run, also from a tmpfs that only this namespace can see.
void send_workdir(int socket_fd, int report_fd)
{
    const int dir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        fail(report_fd, "open working directory");
    char byte = 'd';
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &dir, sizeof dir);
    if (sendmsg(socket_fd, &msg, 0) != 1)
        fail(report_fd, "send working directory");
    close(dir);
}

void prepare_workdir(const child_plan& plan)
{
    if (!plan.tmpfs_options.empty() && mount("tmpfs", plan.workdir.c_str(), "tmpfs",
                                             MS_NOSUID | MS_NODEV, plan.tmpfs_options.c_str()) != 0)
        fail(plan.report_fd, "mount tmpfs on", plan.workdir.c_str());
    if (chdir(plan.workdir.c_str()) != 0)
        fail(plan.report_fd, "chdir", plan.workdir.c_str());
    send_workdir(plan.dir_socket, plan.report_fd);
}

void change_ids(const child_plan& plan)
{
    if (setgroups(0, nullptr) != 0)
        fail(plan.report_fd, "setgroups");
    if (setgid(plan.gid) != 0)
        fail(plan.report_fd, "setgid");
    if (setuid(plan.uid) != 0)
        fail(plan.report_fd, "setuid");
}

void move_fd(int from, int to, int report_fd)
{
    if (from != to && dup2(from, to) < 0)
        fail(report_fd, "dup2");
}

// Standard input is /dev/null; output goes to the pipes or /dev/full. Every other inherited
// descriptor is closed at exec (the report pipe stays usable until then).
void connect_stdio(const child_plan& plan)
{
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0)
        fail(plan.report_fd, "open /dev/null");
    move_fd(in, 0, plan.report_fd);
    if (plan.stdout_to_full) {
        const int full = open("/dev/full", O_WRONLY);
        if (full < 0)
            fail(plan.report_fd, "open /dev/full");
        move_fd(full, 1, plan.report_fd);
    } else if (plan.stdout_to_closed_pipe) {
        int ends[2];
        if (pipe(ends) != 0)
            fail(plan.report_fd, "pipe");
        close(ends[0]);
        move_fd(ends[1], 1, plan.report_fd);
    } else {
        move_fd(plan.out_fd, 1, plan.report_fd);
    }
    move_fd(plan.err_fd, 2, plan.report_fd);
    if (plan.close_stdout)
        close(1);
    if (plan.close_stderr)
        close(2);
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0)
        fail(plan.report_fd, "close_range");
}

// Signals start as a freshly started program's would, whatever the caller had set.
void reset_signals()
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
}

} // namespace

bool enter_private_namespace(const namespace_plan& plan, setup_failure& failure)
{
    if (plan.mode == isolation::none)
        return true;
    return enter_namespace(plan, failure) && build_dev(failure) && link_images(plan, failure);
}

void run_child(const child_plan& plan)
{
    setpgid(0, 0);
    reset_signals();
    setup_failure failure;
    if (!enter_private_namespace(plan.space, failure))
        report_failure(plan.report_fd, failure);
    prepare_workdir(plan);
    if (plan.change_ids)
        change_ids(plan);
    umask(plan.umask);
    connect_stdio(plan);
    execve(plan.binary, plan.argv, plan.envp);
    fail(plan.report_fd, "execve", plan.binary);
}

void probe_child(const namespace_plan& plan, int report_fd)
{
    setup_failure failure;
    if (!enter_private_namespace(plan, failure))
        report_failure(report_fd, failure);
    _exit(0);
}

} // namespace harness
