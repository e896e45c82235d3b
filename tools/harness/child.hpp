// The forked child's side of a run: namespace, private /dev, working directory, ids, exec.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace harness {

enum class isolation { none, mount_ns, user_ns };

// A private mount namespace and the /dev inside it: a tmpfs holding the host's null, zero and
// full and a symbolic link link_paths[i] -> link_targets[i] for each link.
struct namespace_plan {
    isolation mode = isolation::none;
    std::string uid_map{}; // user namespace maps, "inside outside 1"
    std::string gid_map{};
    std::vector<std::string> link_paths{};   // /dev/vmsNAME
    std::vector<std::string> link_targets{}; // image paths
};

// A set-up step that failed: its errno, and the step with what it acted on.
struct setup_failure {
    int error = 0;
    char step[252] = {};
};

// Enters the planned namespace (nothing for isolation::none) and builds its /dev. Makes only
// system calls, so a forked child may call it; on failure fills failure and returns false,
// and the caller ends the process.
[[nodiscard]] bool enter_private_namespace(const namespace_plan& plan, setup_failure& failure);

// Everything the child needs, built by the parent before fork so that the child only makes
// system calls.
struct child_plan {
    namespace_plan space{};
    std::string workdir{};
    std::string tmpfs_options{}; // nonempty: mount a tmpfs with these options on workdir
    bool change_ids = false;
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t umask = 022;
    bool stdout_to_full = false;
    bool stdout_to_closed_pipe = false;
    bool close_stdout = false;
    bool close_stderr = false;
    const char* binary = nullptr;
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    int out_fd = -1;     // write end of the standard output pipe
    int err_fd = -1;     // write end of the standard error pipe
    int report_fd = -1;  // close-on-exec pipe: errno and the failed step, if set-up fails
    int dir_socket = -1; // the working directory's descriptor is sent here before exec
};

// Sets up and execs as planned; on any failure reports through report_fd and exits 127.
[[noreturn]] void run_child(const child_plan& plan);

// Sets up a namespace as a run would, without exec; exits 0 on success, otherwise reports
// through report_fd and exits 127.
[[noreturn]] void probe_child(const namespace_plan& plan, int report_fd);

} // namespace harness
