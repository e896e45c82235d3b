// Runs a program (normally odscp) in a private mount namespace whose /dev holds only the
// volume images a test attaches, and collects everything the run left behind.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace harness {

// One volume: odscp maps device NAME to /dev/vmsNAME, which becomes a symbolic link to path.
// The name is used as given ("users", "DKA100", "DISK$USERS", or "" for /dev/vms).
struct image {
    std::string device{};
    std::string path{}; // made absolute against the caller's working directory
};

struct identity {
    uid_t uid = 0;
    gid_t gid = 0;
};

// What to run and how. Every field has a default, so designated initializers may name any
// subset (in this order).
struct request {
    std::vector<image> images{};        // the only vms devices that exist during the run
    std::vector<std::string> args{};    // argv[1..]
    std::string program_name = "odscp"; // argv[0], e.g. "lsods" or "ldir/odscp"
    bool empty_argv = false;            // run with argc 0 (argv = {NULL}); ignores the above two
    std::string binary{};               // the file executed
    std::string workdir{};              // empty: a fresh temporary directory, removed afterwards
    std::size_t workdir_tmpfs_kib = 0;  // nonzero: a tmpfs of this size is the working directory
    bool workdir_read_only = false;     // working directory mode 0555 instead of 0755
    std::optional<identity> user{};     // real and effective ids to run as (groups dropped)
    bool make_images_readable = false;  // add read permission for all to each image file
    bool stdout_to_full = false;        // standard output is /dev/full instead of a pipe
    bool stdout_to_closed_pipe = false; // standard output is a pipe whose reader has gone
    bool close_stdout = false;          // start with descriptor 1 closed (out stays empty)
    bool close_stderr = false;          // start with descriptor 2 closed (err stays empty)
    mode_t umask = 022;
    std::chrono::milliseconds time_limit{30000}; // then the process group is killed
    bool force_user_namespace = false;           // use the unprivileged set-up even when root
};

struct file {
    std::string contents{};
    mode_t mode = 0; // permission bits only
    uid_t uid = 0;
    gid_t gid = 0;
};

struct result {
    std::string setup_error{}; // nonempty: the program did not run as asked, and why
    int exit_status = -1;      // when the program exited
    int term_signal = 0;       // when a signal ended it
    bool timed_out = false;
    std::string out{}; // standard output (empty when it went to /dev/full)
    std::string err{};
    std::map<std::string, file> files{}; // regular files left in the working directory
    std::string workdir{};               // where the program ran
    bool images_unchanged = false;
    std::vector<std::string> changed_images{}; // device names whose image bytes differ
};

// True when this host can isolate a run in a mount namespace; otherwise why holds the reason.
bool available(std::string& why);

// True when req can be honoured as asked on this host; otherwise why holds the reason.
bool can_run(const request& req, std::string& why);

// Runs req to completion or to its time limit. A request that cannot be honoured is not run:
// its result carries the reason in setup_error.
result run(const request& req);

// A one-line account of how the run ended, for failure messages.
std::string describe(const result& r);

} // namespace harness
