// Tests of the namespace harness itself, mostly with /bin/sh and a small argv-printing program
// standing in for odscp.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "harness/harness.hpp"
#include "harness_support.hpp"

namespace {

class harness_run : public end_to_end {};

harness::request shell(const std::string& script)
{
    harness::request req;
    req.binary = "/bin/sh";
    req.program_name = "sh";
    req.args = {"-c", script};
    return req;
}

// Every entry of the host's /dev with what it is (type, and target for links).
std::set<std::string> host_dev()
{
    namespace fs = std::filesystem;
    std::set<std::string> entries;
    for (const fs::directory_entry& e : fs::directory_iterator("/dev")) {
        std::string text = e.path().filename().string() + " " +
                           std::to_string(static_cast<int>(e.symlink_status().type()));
        if (e.is_symlink())
            text += " -> " + fs::read_symlink(e.path()).string();
        entries.insert(text);
    }
    return entries;
}

bool process_alive(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pid_field, comm, state;
    if (!(stat >> pid_field >> comm >> state))
        return false;
    return state != "Z" && state != "X";
}

// Inside the run /dev holds the attached links and null, zero and full, nothing else; the
// host's /dev is as it was before.
void check_private_dev(bool user_namespace)
{
    scratch_dir scratch;
    harness::request req = shell("ls -A /dev; for f in /dev/vms*; do echo \"$f -> $(readlink "
                                 "\"$f\")\"; done; cat /dev/vmsDKA100; echo x >/dev/null && "
                                 "head -c 2 /dev/zero | od -An -tx1 && test -c /dev/full && "
                                 "echo nodes");
    req.images = {{"users", scratch.write("u.img", "U")},
                  {"DKA100", scratch.write("d.img", "DKA100 bytes\n")},
                  {"DISK$USERS", scratch.write("du.img", "")},
                  {"", scratch.write("e.img", "")}};
    req.force_user_namespace = user_namespace;
    SKIP_UNLESS_HARNESS_CAN_RUN(req);
    const std::set<std::string> before = host_dev();
    const harness::result r = harness::run(req);
    EXPECT_EQ(r.setup_error, "");
    EXPECT_EQ(r.exit_status, 0) << harness::describe(r);
    EXPECT_EQ(r.out, "full\nnull\nvms\nvmsDISK$USERS\nvmsDKA100\nvmsusers\nzero\n"
                     "/dev/vms -> " +
                         scratch.path("e.img") +
                         "\n"
                         "/dev/vmsDISK$USERS -> " +
                         scratch.path("du.img") +
                         "\n"
                         "/dev/vmsDKA100 -> " +
                         scratch.path("d.img") +
                         "\n"
                         "/dev/vmsusers -> " +
                         scratch.path("u.img") +
                         "\n"
                         "DKA100 bytes\n 00 00\nnodes\n");
    EXPECT_TRUE(r.images_unchanged);
    EXPECT_EQ(host_dev(), before);
    EXPECT_FALSE(std::filesystem::exists(r.workdir)) << r.workdir;
}

TEST_F(harness_run, dev_holds_only_the_attached_volumes)
{
    check_private_dev(false);
}

TEST_F(harness_run, dev_holds_only_the_attached_volumes_in_a_user_namespace)
{
    check_private_dev(true);
}

TEST_F(harness_run, passes_the_argument_vector_as_given)
{
    struct {
        const char* program;
        std::vector<std::string> args;
        bool empty;
        const char* want;
    } cases[] = {
        {"odscp", {}, false, "argc=1\nodscp\n"},
        {"lsods", {"-l", "[mail]"}, false, "argc=3\nlsods\n-l\n[mail]\n"},
        {"ldir/odscp", {"", "DISK$USERS:x.y"}, false, "argc=3\nldir/odscp\n\nDISK$USERS:x.y\n"},
        {"/x/l/odscp", {"a b"}, false, "argc=2\n/x/l/odscp\na b\n"},
        // Linux since 5.18 gives a program started with no arguments at all one empty one.
        {"odscp", {"ignored"}, true, "argc=1\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const harness::result r = harness::run({.args = c.args,
                                                .program_name = c.program,
                                                .empty_argv = c.empty,
                                                .binary = HARNESS_ARGV_PROBE});
        if (!(c.empty && r.out == "argc=0\n")) { // older kernels pass argc 0 through
            EXPECT_EQ(r.out, c.want) << harness::describe(r);
        }
        EXPECT_EQ(r.exit_status, 0);
    }
}

TEST_F(harness_run, captures_output_exactly_and_honours_dev_full)
{
    struct {
        const char* what;
        const char* script;
        bool to_full;
        std::string out;
        std::string err;
    } cases[] = {
        {"binary bytes", "printf 'a\\000\\377'; printf 'e\\n' >&2", false, {"a\0\377", 3}, "e\n"},
        {"write to /dev/full fails", "printf hi 2>/dev/null; echo \"status $?\" >&2", true, "",
         "status 1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        harness::request req = shell(c.script);
        req.stdout_to_full = c.to_full;
        const harness::result r = harness::run(req);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
    // Both pipes filled far past their buffers at once must not deadlock the run.
    const harness::result big =
        harness::run(shell("head -c 300000 /dev/zero >&2 & head -c 1000000 /dev/zero; wait"));
    EXPECT_EQ(big.out.size(), 1000000u);
    EXPECT_EQ(big.err.size(), 300000u);
    EXPECT_FALSE(big.timed_out);
}

TEST_F(harness_run, time_limit_kills_the_whole_process_group)
{
    harness::request req = shell("echo started; sleep 100 & echo $!; wait; echo never");
    req.time_limit = std::chrono::milliseconds(300);
    const harness::result r = harness::run(req);
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.term_signal, SIGKILL);
    ASSERT_EQ(r.out.rfind("started\n", 0), 0u) << r.out;
    const pid_t sleeper = std::stoi(r.out.substr(8));
    bool alive = process_alive(sleeper);
    for (int i = 0; i < 100 && alive; ++i) { // an exiting process may linger for a moment
        usleep(10000);
        alive = process_alive(sleeper);
    }
    EXPECT_FALSE(alive) << "sleep " << sleeper << " outlived the run";
}

TEST_F(harness_run, returns_the_files_left_in_the_working_directory)
{
    struct {
        const char* what;
        mode_t umask;
        mode_t new_file_mode;
    } cases[] = {{"umask 022", 022, 0644}, {"umask 0", 0, 0666}, {"umask 077", 077, 0600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        harness::request req = shell("printf abc >a.txt; chmod 640 a.txt; : >Notes.; mkdir sub; "
                                     "ln -s a.txt link; pwd");
        req.umask = c.umask;
        const harness::result r = harness::run(req);
        ASSERT_EQ(r.files.size(), 2u) << harness::describe(r);
        EXPECT_EQ(r.files.at("a.txt").contents, "abc");
        EXPECT_EQ(r.files.at("a.txt").mode, 0640u);
        EXPECT_EQ(r.files.at("Notes.").contents, "");
        EXPECT_EQ(r.files.at("Notes.").mode, c.new_file_mode);
        EXPECT_EQ(r.out, r.workdir + "\n");
        EXPECT_FALSE(std::filesystem::exists(r.workdir));
    }
}

TEST_F(harness_run, tiny_tmpfs_working_directory_fills_up)
{
    harness::request req = shell("head -c 4096 /dev/zero >small; head -c 100000 /dev/zero >big "
                                 "2>/dev/null; echo \"big $?\"");
    req.workdir_tmpfs_kib = 8;
    SKIP_UNLESS_HARNESS_CAN_RUN(req);
    const harness::result r = harness::run(req);
    EXPECT_EQ(r.out, "big 1\n") << harness::describe(r);
    ASSERT_EQ(r.files.count("small"), 1u);
    EXPECT_EQ(r.files.at("small").contents, std::string(4096, '\0'));
    ASSERT_EQ(r.files.count("big"), 1u);
    EXPECT_LT(r.files.at("big").contents.size(), 100000u);
    EXPECT_FALSE(std::filesystem::exists(r.workdir));
}

TEST_F(harness_run, runs_under_the_requested_ids)
{
    if (geteuid() != 0) // the image must belong to someone other than the uid run as
        GTEST_SKIP() << "running as another uid needs root";
    struct {
        const char* what;
        bool read_only;
        bool make_readable;
        const char* want;
    } cases[] = {
        {"writable", false, true, "65534 65534 65534\n65534 755\nok\nVOL"},
        {"read-only", true, true, "65534 65534 65534\n65534 555\ndenied\nVOL"},
        {"image left unreadable", false, false, "65534 65534 65534\n65534 755\nok\nno image\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir scratch;
        harness::request req =
            shell("echo $(id -u) $(id -g) $(id -G); stat -c '%u %a' .; (echo x >f) 2>/dev/null "
                  "&& echo ok || echo denied; cat /dev/vmsusers 2>/dev/null || echo no image");
        req.images = {{"users", scratch.write("u.img", "VOL", 0600)}};
        req.user = harness::identity{65534, 65534};
        req.workdir_read_only = c.read_only;
        req.make_images_readable = c.make_readable;
        SKIP_UNLESS_HARNESS_CAN_RUN(req);
        const harness::result r = harness::run(req);
        EXPECT_EQ(r.out, c.want) << harness::describe(r);
        if (!c.read_only) {
            ASSERT_EQ(r.files.count("f"), 1u);
            EXPECT_EQ(r.files.at("f").uid, 65534u);
        }
    }
}

TEST_F(harness_run, notices_every_image_the_run_changed)
{
    constexpr off_t BIG = 300 << 20; // sparse: mostly holes
    struct {
        const char* what;
        const char* script;
        std::vector<std::string> changed;
    } cases[] = {
        {"read only", "cat /dev/vmsa /dev/vmsbig >/dev/null", {}},
        {"zeros into a hole",
         "head -c 4096 /dev/zero | dd of=/dev/vmsbig bs=4096 seek=20000 "
         "conv=notrunc 2>/dev/null",
         {}},
        {"one byte in a hole",
         "printf Z | dd of=/dev/vmsbig bs=1 seek=157286400 conv=notrunc "
         "2>/dev/null",
         {"big"}},
        {"one byte of data",
         "printf Z | dd of=/dev/vmsa bs=1 seek=3 conv=notrunc 2>/dev/null",
         {"a"}},
        {"grown", "printf Z >>/dev/vmsa", {"a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir scratch;
        const std::string big = scratch.write("big.img", "start");
        ASSERT_EQ(truncate(big.c_str(), BIG), 0);
        harness::request req = shell(c.script);
        req.images = {{"a", scratch.write("a.img", "abcdef")}, {"big", big}};
        const harness::result r = harness::run(req);
        EXPECT_EQ(r.exit_status, 0) << harness::describe(r);
        EXPECT_EQ(r.changed_images, c.changed);
        EXPECT_EQ(r.images_unchanged, c.changed.empty());
    }
}

TEST_F(harness_run, refuses_requests_it_cannot_honour)
{
    struct {
        const char* what;
        harness::request req;
        const char* error_part;
    } cases[] = {
        {"no binary", {}, "no binary"},
        {"slash in device name", {.images = {{"a/b", "/tmp/x"}}, .binary = "/bin/true"}, "a/b"},
        {"binary missing", {.binary = "/nonexistent/odscp"}, "execve /nonexistent/odscp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const harness::result r = harness::run(c.req);
        EXPECT_NE(r.setup_error.find(c.error_part), std::string::npos) << r.setup_error;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(harness_run, runs_the_odscp_binary)
{
    scratch_dir scratch;
    const harness::result r =
        run_odscp({.images = {{"users", scratch.write("u.img", std::string(4096, '\0'))}}});
    EXPECT_EQ(r.term_signal, 0) << harness::describe(r);
    EXPECT_GE(r.exit_status, 0);
}

} // namespace
