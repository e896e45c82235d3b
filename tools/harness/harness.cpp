// Runs a program in a private mount namespace with only the attached volumes in /dev, and
// collects its exit, output, the files it left and whether it wrote to any image.
#include "harness/harness.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness/child.hpp"
#include "harness/image_hash.hpp"
#include "harness/workdir.hpp"

namespace harness {
namespace {

using steady = std::chrono::steady_clock;

// How long stray processes of a run may keep its pipes open once it has been killed.
constexpr std::chrono::milliseconds KILL_GRACE{2000};

// The environment of every run: nothing of the caller's but the sanitizers' settings.
constexpr const char* PASSED_ENV[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"};

std::string os_error(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Moves a descriptor above 2, so that the child's dup2 onto 0..2 cannot clobber it even when
// the caller was started with standard descriptors closed.
int above_stdio(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

bool make_pipe(int (&fds)[2])
{
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    fds[0] = above_stdio(fds[0]);
    fds[1] = above_stdio(fds[1]);
    return fds[0] >= 0 && fds[1] >= 0;
}

void close_fd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Descriptors shared between parent and child; index 0 is the parent's end.
struct channels {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int report[2] = {-1, -1};
    int dir[2] = {-1, -1};

    bool open()
    {
        if (!make_pipe(out) || !make_pipe(err) || !make_pipe(report))
            return false;
        if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, dir) != 0)
            return false;
        dir[0] = above_stdio(dir[0]);
        dir[1] = above_stdio(dir[1]);
        return dir[0] >= 0 && dir[1] >= 0;
    }
    void close_child_ends()
    {
        close_fd(out[1]);
        close_fd(err[1]);
        close_fd(report[1]);
        close_fd(dir[1]);
    }
    ~channels()
    {
        for (int* fd :
             {&out[0], &out[1], &err[0], &err[1], &report[0], &report[1], &dir[0], &dir[1]})
            close_fd(*fd);
    }
};

bool needs_namespace(const request& req)
{
    return !req.images.empty() || req.workdir_tmpfs_kib > 0 || req.user || req.force_user_namespace;
}

isolation preferred_isolation(const request& req)
{
    return geteuid() == 0 && !req.force_user_namespace ? isolation::mount_ns : isolation::user_ns;
}

std::string own_id_map(unsigned id)
{
    return std::to_string(id) + " " + std::to_string(id) + " 1";
}

// Turns what a failed child wrote to its report pipe (errno, then the step) into text.
std::string decode_report(const std::string& report)
{
    int err = 0;
    if (report.size() < sizeof err)
        return "the child ended before it could run the program";
    std::memcpy(&err, report.data(), sizeof err);
    return report.substr(sizeof err) + ": " + std::strerror(err);
}

std::string read_available(int fd)
{
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    return text;
}

// Forks a child that sets up a namespace of this kind as a run would, and reports whether it
// could.
bool probe(isolation mode, std::string& why)
{
    channels ch;
    if (!ch.open()) {
        why = os_error("pipe");
        return false;
    }
    namespace_plan plan;
    plan.mode = mode;
    plan.uid_map = own_id_map(geteuid());
    plan.gid_map = own_id_map(getegid());
    const pid_t pid = fork();
    if (pid < 0) {
        why = os_error("fork");
        return false;
    }
    if (pid == 0)
        probe_child(plan, ch.report[1]);
    ch.close_child_ends();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    const char* kind = mode == isolation::user_ns ? "user namespace" : "mount namespace";
    why = std::string("cannot isolate a run in a ") + kind + ": " +
          decode_report(read_available(ch.report[0]));
    return false;
}

// Probes each kind of namespace once per process.
bool isolation_works(isolation mode, std::string& why)
{
    struct outcome {
        bool tried = false;
        bool ok = false;
        std::string why;
    };
    static outcome outcomes[2];
    outcome& o = outcomes[mode == isolation::user_ns ? 1 : 0];
    if (!o.tried) {
        o.ok = probe(mode, o.why);
        o.tried = true;
    }
    why = o.why;
    return o.ok;
}

bool request_is_well_formed(const request& req, std::string& why)
{
    if (req.binary.empty())
        why = "no binary to run";
    for (const image& img : req.images) {
        if (img.device.find('/') != std::string::npos)
            why = "device name \"" + img.device + "\" contains a /";
        if (img.path.empty())
            why = "no image file for device \"" + img.device + "\"";
        if (std::filesystem::absolute(img.path).string().rfind("/dev/", 0) == 0)
            why = "image " + img.path + " lies under /dev, which the run replaces";
    }
    if (!req.workdir.empty() && req.workdir_read_only)
        why = "a given working directory keeps its own mode; set it beforehand";
    return why.empty();
}

// Picks how to isolate req, or explains why it cannot be honoured here.
bool choose_isolation(const request& req, isolation& mode, std::string& why)
{
    if (!request_is_well_formed(req, why))
        return false;
    mode = preferred_isolation(req);
    std::string probe_why;
    if (!isolation_works(mode, probe_why)) {
        if (needs_namespace(req)) {
            why = probe_why;
            return false;
        }
        mode = isolation::none;
        return true;
    }
    if (mode == isolation::user_ns && req.user &&
        (req.user->uid != geteuid() || req.user->gid != getegid())) {
        why = "running as uid " + std::to_string(req.user->uid) + " gid " +
              std::to_string(req.user->gid) +
              " needs root; a user namespace maps only this process's own ids";
        return false;
    }
    return true;
}

// Owns the texts and the NULL-terminated pointer array that execve takes.
struct text_vector {
    std::vector<std::string> texts{};
    std::vector<char*> pointers{};

    char* const* data()
    {
        pointers.clear();
        for (std::string& t : texts)
            pointers.push_back(t.data());
        pointers.push_back(nullptr);
        return pointers.data();
    }
};

text_vector argument_vector(const request& req)
{
    text_vector v;
    if (req.empty_argv)
        return v;
    v.texts.push_back(req.program_name);
    v.texts.insert(v.texts.end(), req.args.begin(), req.args.end());
    return v;
}

// Whether the binary has the set-user-id or set-group-id bit.
bool is_set_id(const std::string& binary)
{
    struct stat s {};
    return stat(binary.c_str(), &s) == 0 && (s.st_mode & (S_ISUID | S_ISGID)) != 0;
}

// A set-id program that has given up its ids cannot be traced by LeakSanitizer
// (it is not dumpable), so leak checks are off for it.
text_vector environment(const request& req)
{
    text_vector v;
    v.texts = {"PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin", "LC_ALL=C"};
    const bool set_id = is_set_id(req.binary);
    for (const char* name : PASSED_ENV) {
        const char* value = std::getenv(name);
        std::string text = value != nullptr ? value : "";
        if (set_id && std::string(name) == "ASAN_OPTIONS")
            text += text.empty() ? "detect_leaks=0" : ":detect_leaks=0";
        if (!text.empty())
            v.texts.push_back(std::string(name) + "=" + text);
    }
    return v;
}

std::string tmpfs_options(const request& req)
{
    if (req.workdir_tmpfs_kib == 0)
        return {};
    std::string opts = "size=" + std::to_string(req.workdir_tmpfs_kib) + "k";
    opts += req.workdir_read_only ? ",mode=0555" : ",mode=0755";
    if (req.user)
        opts += ",uid=" + std::to_string(req.user->uid) + ",gid=" + std::to_string(req.user->gid);
    return opts;
}

// The run's state in the parent, from before the fork until everything is collected.
struct run_state {
    const request& req;
    result& res;
    isolation mode = isolation::none;
    bool temporary_workdir = false;
    std::vector<std::string> image_paths{};
    std::vector<image_state> images_before{};
    text_vector argv{};
    text_vector envp{};
    channels ch{};
};

bool prepare_workdir(run_state& st)
{
    if (!st.req.workdir.empty()) {
        st.res.workdir = std::filesystem::absolute(st.req.workdir).string();
        return true;
    }
    const mode_t mode = st.req.workdir_read_only ? 0555 : 0755;
    st.res.workdir = make_temp_workdir(mode, st.req.user, st.res.setup_error);
    st.temporary_workdir = !st.res.workdir.empty();
    return st.temporary_workdir;
}

void prepare_images(run_state& st)
{
    for (const image& img : st.req.images) {
        const std::string path = std::filesystem::absolute(img.path).string();
        struct stat s {};
        if (st.req.make_images_readable && stat(path.c_str(), &s) == 0)
            chmod(path.c_str(), (s.st_mode & 07777) | S_IRUSR | S_IRGRP | S_IROTH);
        st.image_paths.push_back(path);
        st.images_before.push_back(fingerprint(path));
    }
}

child_plan make_plan(run_state& st)
{
    child_plan plan;
    plan.space.mode = st.mode;
    for (std::size_t i = 0; i < st.req.images.size(); ++i) {
        plan.space.link_paths.push_back("/dev/vms" + st.req.images[i].device);
        plan.space.link_targets.push_back(st.image_paths[i]);
    }
    plan.space.uid_map = own_id_map(geteuid());
    plan.space.gid_map = own_id_map(getegid());
    plan.workdir = st.res.workdir;
    plan.tmpfs_options = tmpfs_options(st.req);
    plan.change_ids = st.req.user.has_value() && st.mode != isolation::user_ns;
    if (st.req.user) {
        plan.uid = st.req.user->uid;
        plan.gid = st.req.user->gid;
    }
    plan.umask = st.req.umask;
    plan.stdout_to_full = st.req.stdout_to_full;
    plan.stdout_to_closed_pipe = st.req.stdout_to_closed_pipe;
    plan.close_stdout = st.req.close_stdout;
    plan.close_stderr = st.req.close_stderr;
    plan.binary = st.req.binary.c_str();
    plan.argv = st.argv.data();
    plan.envp = st.envp.data();
    plan.out_fd = st.ch.out[1];
    plan.err_fd = st.ch.err[1];
    plan.report_fd = st.ch.report[1];
    plan.dir_socket = st.ch.dir[1];
    return plan;
}

// Reads whatever is ready on fd into text; closes fd at end of file.
void drain(int& fd, std::string& text)
{
    char buf[65536];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0)
        text.append(buf, static_cast<std::size_t>(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        close_fd(fd);
}

// True once the child has ended; it stays a zombie, so its process group cannot be reused.
bool has_ended(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// A descriptor that polls readable when the child ends; -1 where the kernel has none.
int open_pidfd(pid_t pid)
{
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

void kill_group(pid_t pid)
{
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
}

// Reads the child's output until it has ended and its pipes are closed, killing its process
// group at the time limit. Processes that outlive the child get a short grace.
void supervise(run_state& st, pid_t pid, std::string& report)
{
    const int pidfd = open_pidfd(pid);
    auto deadline = steady::now() + st.req.time_limit;
    bool killed = false;
    int* fds[] = {&st.ch.out[0], &st.ch.err[0], &st.ch.report[0]};
    std::string* texts[] = {&st.res.out, &st.res.err, &report};
    for (;;) {
        const bool ended = has_ended(pid);
        const bool open = st.ch.out[0] >= 0 || st.ch.err[0] >= 0 || st.ch.report[0] >= 0;
        if (ended && !open)
            break;
        if (steady::now() >= deadline || (ended && !killed)) {
            if (killed)
                break;
            st.res.timed_out = !ended;
            kill_group(pid);
            killed = true;
            deadline = steady::now() + KILL_GRACE;
        }
        pollfd p[4];
        nfds_t n = 0;
        for (int* fd : fds)
            p[n++] = {*fd, POLLIN, 0};
        p[n++] = {ended ? -1 : pidfd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
        const long wait_ms = pidfd < 0 ? std::min<long>(left.count(), 20) : left.count();
        poll(p, n, static_cast<int>(std::max<long>(wait_ms, 0)));
        for (std::size_t i = 0; i < 3; ++i)
            if (*fds[i] >= 0 && (p[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                drain(*fds[i], *texts[i]);
    }
    if (pidfd >= 0)
        close(pidfd);
}

void reap(pid_t pid, result& res)
{
    kill(-pid, SIGKILL); // whatever the run left behind in its process group
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        res.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        res.term_signal = WTERMSIG(status);
}

// The working directory's descriptor, as the child sent it before exec; -1 if it did not.
int receive_workdir(int socket_fd)
{
    char byte;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (recvmsg(socket_fd, &msg, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) != 1)
        return -1;
    const cmsghdr* c = CMSG_FIRSTHDR(&msg);
    if (c == nullptr || c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
        return -1;
    int fd;
    std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
    return fd;
}

void collect(run_state& st, const std::string& report)
{
    if (!report.empty())
        st.res.setup_error = decode_report(report);
    const int dirfd = receive_workdir(st.ch.dir[0]);
    if (dirfd >= 0) {
        st.res.files = collect_files(dirfd);
        close(dirfd);
    }
    st.res.images_unchanged = true;
    for (std::size_t i = 0; i < st.image_paths.size(); ++i) {
        if (fingerprint(st.image_paths[i]) == st.images_before[i])
            continue;
        st.res.images_unchanged = false;
        st.res.changed_images.push_back(st.req.images[i].device);
    }
}

void fork_and_supervise(run_state& st)
{
    const child_plan plan = make_plan(st);
    const pid_t pid = fork();
    if (pid < 0) {
        st.res.setup_error = os_error("fork");
        return;
    }
    if (pid == 0)
        run_child(plan);
    setpgid(pid, pid); // also done by the child; whichever runs first wins the race
    st.ch.close_child_ends();
    std::string report;
    supervise(st, pid, report);
    reap(pid, st.res);
    collect(st, report);
}

} // namespace

bool available(std::string& why)
{
    return isolation_works(geteuid() == 0 ? isolation::mount_ns : isolation::user_ns, why);
}

bool can_run(const request& req, std::string& why)
{
    isolation mode;
    return choose_isolation(req, mode, why);
}

result run(const request& req)
{
    result res;
    run_state st{req, res};
    if (!choose_isolation(req, st.mode, res.setup_error) || !prepare_workdir(st))
        return res;
    prepare_images(st);
    st.argv = argument_vector(req);
    st.envp = environment(st.req);
    if (st.ch.open())
        fork_and_supervise(st);
    else
        res.setup_error = os_error("pipe");
    if (st.temporary_workdir)
        remove_workdir(res.workdir);
    return res;
}

std::string describe(const result& r)
{
    std::string text;
    if (!r.setup_error.empty())
        text = "not run as asked (" + r.setup_error + ")";
    else if (r.timed_out)
        text = "timed out and killed";
    else if (r.term_signal != 0)
        text = std::string("killed by signal ") + strsignal(r.term_signal);
    else
        text = "exit status " + std::to_string(r.exit_status);
    if (!r.err.empty())
        text += "; standard error: " + r.err;
    return text;
}

} // namespace harness
