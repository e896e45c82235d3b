// odsfs through a real FUSE mount: trees mkvolume made compared with their
// sources, attributes, versions, text, random reads, refused writes, damaged
// volumes and the real VAX disk. Skipped, saying so, where FUSE is unusable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "ods2/attributes.hpp"
#include "ods2/file_header.hpp"
#include "ods2/volume.hpp"
#include "output/convert.hpp"
#include "tests/damage_table.hpp"
#include "tests/volume_e2e_support.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct command_result {
    int status = -1; // exit status; -1 when it did not exit
    std::string out{};
    std::string err{};
};

// Runs argv (found on PATH) with its output collected; waits for it.
command_result run_command(const std::vector<std::string>& argv, const scratch_dir& scratch)
{
    std::vector<char*> args;
    std::vector<std::string> copy = argv;
    for (std::string& a : copy)
        args.push_back(a.data());
    args.push_back(nullptr);
    const std::string out = scratch.path("cmd.out"), err = scratch.path("cmd.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    command_result r;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid)
        return r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

// Why the FUSE tests cannot run here; empty when they can.
std::string fuse_unavailable()
{
#ifndef ODSFS_BINARY
    return "odsfs is not built (libfuse 3 was not found)";
#else
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return std::string("/dev/fuse is not usable (") + std::strerror(errno) + ")";
    return "";
#endif
}

bool is_mount_point(const std::string& path)
{
    std::ifstream mounts("/proc/self/mounts");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string device, where;
        fields >> device >> where;
        if (where == path)
            return true;
    }
    return false;
}

// One run of odsfs -f in a child process, mounted at a fresh directory and
// unmounted when the object goes, also when a test fails.
class odsfs_mount {
  public:
    odsfs_mount(const scratch_dir& scratch, const std::string& image,
                const std::vector<std::string>& mount_options = {}, const std::string& name = "mnt")
        : point_(fs::weakly_canonical(scratch.path(name)).string()),
          err_(scratch.path(name + ".err"))
    {
#ifdef ODSFS_BINARY
        fs::create_directories(point_);
        std::vector<std::string> argv = {ODSFS_BINARY, image, point_, "-f"};
        argv.insert(argv.end(), mount_options.begin(), mount_options.end());
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        wait_for_mount();
#else
        (void)image;
        (void)mount_options;
#endif
    }

    ~odsfs_mount()
    {
        if (pid_ > 0) {
            EXPECT_EQ(unmount(), 0) << "odsfs did not end cleanly: " << err();
        }
    }

    odsfs_mount(const odsfs_mount&) = delete;
    odsfs_mount& operator=(const odsfs_mount&) = delete;

    [[nodiscard]] bool mounted() const
    {
        return mounted_;
    }
    // The mount failed for want of permission: the tests cannot run here.
    [[nodiscard]] bool lacks_permission() const
    {
        const std::string e = err();
        return !mounted_ && (e.find("Permission denied") != std::string::npos ||
                             e.find("Operation not permitted") != std::string::npos ||
                             e.find("fuse: device not found") != std::string::npos);
    }
    [[nodiscard]] const std::string& point() const
    {
        return point_;
    }
    [[nodiscard]] std::string path(const std::string& below) const
    {
        return point_ + "/" + below;
    }
    [[nodiscard]] std::string err() const
    {
        return slurp(err_);
    }
    [[nodiscard]] int exit_status() const
    {
        return exit_status_;
    }

    // Unmounts with fusermount3 -u and waits for odsfs to end; its exit status,
    // -1 when a signal ended it or it had to be killed.
    int unmount()
    {
        if (pid_ <= 0)
            return exit_status_;
        if (mounted_) {
            scratch_dir quiet;
            if (run_command({"fusermount3", "-u", point_}, quiet).status != 0)
                (void)run_command({"umount", "-l", point_}, quiet);
            mounted_ = false;
        }
        exit_status_ = reap(std::chrono::seconds(20));
        pid_ = -1;
        return exit_status_;
    }

  private:
    void wait_for_mount()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            if (is_mount_point(point_)) {
                mounted_ = true;
                return;
            }
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    int reap(std::chrono::seconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "odsfs did not end after the unmount; killed";
                ::kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string point_;
    std::string err_;
    pid_t pid_ = -1;
    bool mounted_ = false;
    int exit_status_ = -1;
};

// Skips the test, with one line saying why, where FUSE cannot be used.
#define SKIP_WITHOUT_FUSE()                                                                        \
    do {                                                                                           \
        const std::string why = fuse_unavailable();                                                \
        if (!why.empty())                                                                          \
            GTEST_SKIP() << "FUSE tests skipped: " << why;                                         \
    } while (0)

// Asserts the mount is up, or skips when it failed for want of permission.
#define MOUNTED_OR_SKIP(m)                                                                         \
    do {                                                                                           \
        if ((m).lacks_permission())                                                                \
            GTEST_SKIP() << "FUSE tests skipped: mounting is not permitted here: " << (m).err();   \
        ASSERT_TRUE((m).mounted()) << "odsfs did not mount: " << (m).err();                        \
    } while (0)

std::string xattr(const std::string& path, const char* name)
{
    char value[256];
    const ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string("error: ") + std::strerror(errno)
                 : std::string(value, static_cast<std::size_t>(n));
}

// A host tree below tree/ and the volume mkvolume makes of it.
class odsfs_test : public testing::Test {
  protected:
    scratch_dir scratch;

    void SetUp() override { SKIP_WITHOUT_FUSE(); }

    std::string tree() const { return scratch.path("tree"); }
    std::string image() const { return scratch.path("volume.img"); }

    void put(const std::string& path, const std::string& bytes, std::int64_t mtime = 0) const
    {
        const fs::path p = fs::path(tree()) / path;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
        if (mtime != 0) {
            // 100 ns steps, as VMS keeps time
            const struct timespec times[2] = {{mtime, 123456700}, {mtime, 123456700}};
            ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
        }
    }

    void make_volume(std::vector<std::string> options = {})
    {
        options.insert(options.begin(), MKVOLUME_BINARY);
        options.push_back(tree());
        options.push_back(image());
        const command_result r = run_command(options, scratch);
        ASSERT_EQ(r.status, 0) << r.err;
    }

    // The file's converted text as the core's converter gives it, read from the
    // image in this process by the file id the mount shows.
    std::string converted_in_process(const std::string& mounted_path, const std::string& raw)
    {
        unsigned number = 0, sequence = 0, rvn = 0;
        const std::string fid = xattr(mounted_path, "user.vms.fileid");
        EXPECT_EQ(std::sscanf(fid.c_str(), "(%u,%u,%u)", &number, &sequence, &rvn), 3) << fid;
        volume.boot_block_readable = true;
        EXPECT_EQ(open_volume_path(image().c_str()), 1);
        file_header h;
        EXPECT_EQ(read_file_header(number, h), 1);
        file_attributes a;
        read_file_attributes(h, a);
        record_converter c;
        start_conversion(c, a, CONVERT_AUTO);
        std::string text;
        std::uint8_t out[4096];
        const auto* in = reinterpret_cast<const std::uint8_t*>(raw.data());
        for (std::size_t at = 0, consumed = 0; at < raw.size(); at += consumed) {
            const std::size_t n =
                convert_bytes(c, in + at, raw.size() - at, consumed, out, sizeof out);
            text.append(reinterpret_cast<const char*>(out), n);
        }
        for (std::size_t n = sizeof out; n == sizeof out;) {
            n = finish_conversion(c, out, sizeof out);
            text.append(reinterpret_cast<const char*>(out), n);
        }
        ::close(volume.fd);
        volume = volume_record{};
        return text;
    }
};

std::set<std::string> listing(const std::string& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

} // namespace

// A tree stored as bytes comes back through the mount, and through cp -a,
// with its contents and modification times.
TEST_F(odsfs_test, tree_comes_back_with_contents_and_times)
{
    put("USER/LOGIN.COM", "$ set noverify\n", 1'000'000'000);
    put("USER/EMPTY.DAT", "", 1'100'000'000);
    put("USER/DATA.BIN", patterned(5000), 1'200'000'000);
    put("USER/MAIL/NOTE.TXT", std::string(70'000, 'n'), 1'300'000'000);
    put("USER/MAIL/DEEP/X.Y", "x", 1'400'000'000);
    make_volume({"-b"});
    odsfs_mount m(scratch, image());
    MOUNTED_OR_SKIP(m);
    EXPECT_EQ(run_command({"diff", "-r", tree() + "/USER", m.path("USER")}, scratch).status, 0);
    const std::string rescue = scratch.path("rescue");
    const command_result cp = run_command({"cp", "-a", m.path("USER"), rescue}, scratch);
    EXPECT_EQ(cp.status, 0) << cp.err;
    EXPECT_EQ(run_command({"diff", "-r", tree() + "/USER", rescue}, scratch).status, 0);
    for (const char* f : {"USER/LOGIN.COM", "USER/EMPTY.DAT", "USER/DATA.BIN", "USER/MAIL/NOTE.TXT",
                          "USER/MAIL/DEEP/X.Y"}) {
        SCOPED_TRACE(f);
        struct stat source {
        }, shown{}, copied{};
        ASSERT_EQ(::stat((tree() + "/" + f).c_str(), &source), 0);
        ASSERT_EQ(::stat(m.path(f).c_str(), &shown), 0);
        ASSERT_EQ(::stat((rescue + "/" + std::string(f).substr(5)).c_str(), &copied), 0);
        EXPECT_EQ(shown.st_mtim.tv_sec, source.st_mtim.tv_sec);
        EXPECT_EQ(shown.st_mtim.tv_nsec, source.st_mtim.tv_nsec);
        EXPECT_EQ(copied.st_mtim.tv_sec, source.st_mtim.tv_sec);
        EXPECT_EQ(shown.st_size, source.st_size);
    }
    EXPECT_EQ(listing(m.point()).count("000000"), 0u) << "the MFD's entry for itself is hidden";
    EXPECT_EQ(listing(m.point()).count("USER"), 1u);
}

// stat and the extended attributes say what the volume holds.
TEST_F(odsfs_test, stat_and_extended_attributes_show_the_header)
{
    put("USER/PROG.EXE", patterned(1500), 1'500'000'000);
    put("USER/OPEN.TXT", "a\n", 1'500'000'000);
    put("USER/MANIFEST", "");
    std::ofstream(scratch.path("manifest"))
        << "USER/PROG.EXE format=fixed size=512 owner=[100,3] protection=(RWED,RWED,RE,)\n"
        << "USER/OPEN.TXT protection=(RWED,RWED,R,RE)\n";
    make_volume({"-m", scratch.path("manifest")});
    odsfs_mount m(scratch, image(), {"-o", "uid=123,gid=456"});
    MOUNTED_OR_SKIP(m);
    struct stat st {};
    ASSERT_EQ(::stat(m.path("USER/PROG.EXE").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | 0440u);
    EXPECT_EQ(st.st_uid, 123u);
    EXPECT_EQ(st.st_gid, 456u);
    EXPECT_EQ(st.st_size, 1500);
    EXPECT_EQ(st.st_blocks, 3);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'500'000'000);
    EXPECT_EQ(st.st_ctim.tv_sec, 1'500'000'000);
    EXPECT_EQ(xattr(m.path("USER/PROG.EXE"), "user.vms.owner"), "[100,3]");
    EXPECT_EQ(xattr(m.path("USER/PROG.EXE"), "user.vms.protection"), "(RWED,RWED,RE,)");
    EXPECT_EQ(xattr(m.path("USER/PROG.EXE"), "user.vms.recfmt"), "FIX 512");
    EXPECT_EQ(xattr(m.path("USER/PROG.EXE"), "user.vms.revised"), "2017-07-14T02:40:00.1234567Z");
    EXPECT_EQ(xattr(m.path("USER/PROG.EXE"), "user.vms.expires"), "unknown");
    EXPECT_EQ(xattr(m.path("USER/PROG.EXE"), "user.vms.nonesuch"),
              std::string("error: ") + std::strerror(ENODATA));
    // Labels and ACLs are not supported at all, which ls -l learns from one file.
    for (const char* name : {"security.selinux", "system.posix_acl_access"})
        EXPECT_EQ(xattr(m.path("USER/PROG.EXE"), name),
                  std::string("error: ") + std::strerror(EOPNOTSUPP))
            << name;
    const std::string fid = xattr(m.path("USER/PROG.EXE"), "user.vms.fileid");
    unsigned number = 0, sequence = 0, rvn = 0;
    ASSERT_EQ(std::sscanf(fid.c_str(), "(%u,%u,%u)", &number, &sequence, &rvn), 3) << fid;
    EXPECT_EQ(st.st_ino & 0xFFFFFF, number);
    ASSERT_EQ(::stat(m.path("USER/OPEN.TXT").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | 0444u);
    EXPECT_EQ(xattr(m.path("USER/OPEN.TXT"), "user.vms.recfmt"), "VAR CR");
    ASSERT_EQ(::stat(m.path("USER").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0555u);
    char names[512];
    const ssize_t n = ::listxattr(m.path("USER/PROG.EXE").c_str(), names, sizeof names);
    ASSERT_GT(n, 0);
    std::set<std::string> listed;
    for (const char* at = names; at < names + n; at += std::strlen(at) + 1)
        listed.insert(at);
    EXPECT_EQ(listed,
              (std::set<std::string>{"user.vms.fileid", "user.vms.owner", "user.vms.protection",
                                     "user.vms.recfmt", "user.vms.created", "user.vms.revised",
                                     "user.vms.expires", "user.vms.backup", "user.vms.revisions"}));
    struct statvfs vfs {};
    ASSERT_EQ(::statvfs(m.point().c_str(), &vfs), 0);
    EXPECT_EQ(vfs.f_frsize, 512u);
    EXPECT_GT(vfs.f_blocks, 0u);
    EXPECT_LE(vfs.f_bfree, vfs.f_blocks);
    EXPECT_NE(vfs.f_flag & ST_RDONLY, 0u);
}

// The newest version under NAME.TYPE; -o versions adds NAME.TYPE;N; -o lower;
// lookups ignore case.
TEST_F(odsfs_test, versions_lower_case_and_lookups_in_any_case)
{
    put("NOTES.TXT;1", "old\n");
    put("NOTES.TXT;2", "new\n");
    put("D/F.DAT", "f\n");
    make_volume({"-b"});
    {
        odsfs_mount m(scratch, image());
        MOUNTED_OR_SKIP(m);
        EXPECT_EQ(listing(m.point()).count("NOTES.TXT"), 1u);
        EXPECT_EQ(listing(m.point()).count("NOTES.TXT;1"), 0u);
        EXPECT_EQ(slurp(m.path("NOTES.TXT")), "new\n");
        EXPECT_EQ(slurp(m.path("notes.Txt")), "new\n");
        EXPECT_EQ(slurp(m.path("d/f.dat")), "f\n");
    }
    {
        odsfs_mount m(scratch, image(), {"-o", "versions,lower"}, "mnt2");
        MOUNTED_OR_SKIP(m);
        const auto names = listing(m.point());
        for (const char* n : {"notes.txt", "notes.txt;1", "notes.txt;2", "d"})
            EXPECT_EQ(names.count(n), 1u) << n;
        EXPECT_EQ(listing(m.path("d")), (std::set<std::string>{"f.dat", "f.dat;1"}));
        EXPECT_EQ(slurp(m.path("notes.txt;1")), "old\n");
        EXPECT_EQ(slurp(m.path("NOTES.TXT;2")), "new\n");
        struct stat newest {
        }, two{};
        ASSERT_EQ(::stat(m.path("notes.txt").c_str(), &newest), 0);
        ASSERT_EQ(::stat(m.path("notes.txt;2").c_str(), &two), 0);
        EXPECT_EQ(newest.st_ino, two.st_ino);
    }
}

// -o text gives what the converter gives, and what mkvolume was given; reads
// at any offset and in small pieces agree with it.
TEST_F(odsfs_test, text_option_gives_the_converted_text)
{
    std::string lines;
    for (int i = 0; i < 3000; ++i)
        lines +=
            "line " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 97), 'x') + "\n";
    put("T/VAR.TXT", lines);
    put("T/LF.TXT", "one\ntwo\n");
    put("T/CR.TXT", "three\nfour\n");
    put("T/VFC.LIS", "page\nbreak\n");
    put("T/BIN.DAT", patterned(3000));
    std::ofstream(scratch.path("manifest")) << "T/LF.TXT format=stmlf\n"
                                            << "T/CR.TXT format=stmcr\n"
                                            << "T/VFC.LIS format=vfc vfc=2 carriage=print\n";
    make_volume({"-m", scratch.path("manifest")});
    odsfs_mount raw(scratch, image(), {}, "raw");
    MOUNTED_OR_SKIP(raw);
    odsfs_mount m(scratch, image(), {"-o", "text"}, "text");
    MOUNTED_OR_SKIP(m);
    for (const char* f : {"T/VAR.TXT", "T/LF.TXT", "T/CR.TXT", "T/VFC.LIS", "T/BIN.DAT"}) {
        SCOPED_TRACE(f);
        const std::string text = slurp(m.path(f));
        EXPECT_EQ(text, converted_in_process(raw.path(f), slurp(raw.path(f))));
        EXPECT_EQ(text, slurp(tree() + "/" + f));
        EXPECT_EQ(fs::file_size(m.path(f)), text.size());
    }
    const std::string text = slurp(tree() + "/T/VAR.TXT");
    const int fd = ::open(m.path("T/VAR.TXT").c_str(), O_RDONLY | O_DIRECT);
    const int plain = ::open(m.path("T/VAR.TXT").c_str(), O_RDONLY);
    ASSERT_GE(plain, 0);
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        const std::size_t off = random() % (text.size() + 10), len = 1 + random() % 9000;
        std::string got(len, '\0');
        const ssize_t n = ::pread(plain, got.data(), len, static_cast<off_t>(off));
        ASSERT_GE(n, 0);
        got.resize(static_cast<std::size_t>(n));
        EXPECT_EQ(got, off < text.size() ? text.substr(off, len) : "") << off << "+" << len;
    }
    if (fd >= 0)
        ::close(fd);
    ::close(plain);
}

// Reads at random offsets give the file's bytes, through a map of several
// extents and extension headers.
TEST_F(odsfs_test, reads_at_random_offsets_give_the_bytes)
{
    const std::string bytes = patterned(700'000);
    put("BIG.DAT", bytes);
    std::ofstream(scratch.path("manifest")) << "BIG.DAT extents=40 headers=3\n";
    make_volume({"-b", "-m", scratch.path("manifest")});
    odsfs_mount m(scratch, image());
    MOUNTED_OR_SKIP(m);
    const int fd = ::open(m.path("BIG.DAT").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::mt19937 random(11);
    for (int i = 0; i < 300; ++i) {
        const std::size_t off = random() % (bytes.size() + 100), len = 1 + random() % 200'000;
        std::string got(len, '\0');
        const ssize_t n = ::pread(fd, got.data(), len, static_cast<off_t>(off));
        ASSERT_GE(n, 0);
        got.resize(static_cast<std::size_t>(n));
        ASSERT_EQ(got, off < bytes.size() ? bytes.substr(off, len) : "") << off << "+" << len;
    }
    ::close(fd);
    EXPECT_EQ(slurp(m.path("BIG.DAT")), bytes);
}

// Every change is refused with EROFS, and the mount ends cleanly.
TEST_F(odsfs_test, every_change_is_refused)
{
    put("D/F.TXT", "f\n");
    make_volume();
    odsfs_mount m(scratch, image());
    MOUNTED_OR_SKIP(m);
    const std::string f = m.path("D/F.TXT"), d = m.path("D");
    const struct {
        const char* what;
        std::function<int()> change;
    } changes[] = {
        {"open for writing", [&] { return ::open(f.c_str(), O_WRONLY); }},
        {"open to append", [&] { return ::open(f.c_str(), O_RDWR | O_APPEND); }},
        {"create", [&] { return ::open((d + "/NEW").c_str(), O_WRONLY | O_CREAT, 0644); }},
        {"truncate", [&] { return ::truncate(f.c_str(), 0); }},
        {"mkdir", [&] { return ::mkdir((d + "/X").c_str(), 0755); }},
        {"unlink", [&] { return ::unlink(f.c_str()); }},
        {"rmdir", [&] { return ::rmdir(d.c_str()); }},
        {"rename", [&] { return ::rename(f.c_str(), (d + "/G.TXT").c_str()); }},
        {"link", [&] { return ::link(f.c_str(), (d + "/H.TXT").c_str()); }},
        {"symlink", [&] { return ::symlink("F.TXT", (d + "/L").c_str()); }},
        {"chmod", [&] { return ::chmod(f.c_str(), 0777); }},
        {"chown", [&] { return ::chown(f.c_str(), 1, 1); }},
        {"utimes", [&] { return ::utimes(f.c_str(), nullptr); }},
        {"setxattr", [&] { return ::setxattr(f.c_str(), "user.x", "1", 1, 0); }},
        {"removexattr", [&] { return ::removexattr(f.c_str(), "user.vms.owner"); }},
        {"mknod", [&] { return ::mknod((d + "/P").c_str(), S_IFIFO | 0644, 0); }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.what);
        errno = 0;
        const int r = c.change();
        EXPECT_EQ(r, -1);
        EXPECT_EQ(errno, EROFS) << std::strerror(errno);
        if (r >= 0)
            ::close(r);
    }
    EXPECT_EQ(slurp(f), slurp(f)); // still readable
    EXPECT_EQ(m.unmount(), 0) << m.err();
    EXPECT_FALSE(is_mount_point(m.point()));
}

// Images that are not ODS-2 volumes are refused before anything is mounted.
TEST_F(odsfs_test, images_that_are_not_volumes_are_refused_before_mounting)
{
    fs::create_directories(scratch.path("adir"));
    scratch.write("short.img", "tiny");
    scratch.write("zeros.img", std::string(64 * 512, '\0'));
    const struct {
        const char* what;
        std::string image;
        const char* says;
    } cases[] = {
        {"missing", scratch.path("nonesuch.img"), "nonesuch.img"},
        {"a directory", scratch.path("adir"), "directory"},
        {"shorter than a home block", scratch.path("short.img"), "short.img"},
        {"not ODS-2", scratch.path("zeros.img"), "zeros.img"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        odsfs_mount m(scratch, c.image, {}, "refused");
        EXPECT_FALSE(m.mounted());
        EXPECT_EQ(m.exit_status(), 1);
        EXPECT_NE(m.err().find(c.says), std::string::npos) << m.err();
        const std::string err = m.err();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_FALSE(is_mount_point(m.point()));
    }
}

namespace {

// Walks everything below dir as a user would: lists, stats, reads whole files
// and their attributes. Failures are allowed; the count of calls made is returned.
int walk_everything(const std::string& dir, int depth)
{
    int calls = 0;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr)
        return 1;
    std::vector<std::string> names;
    for (dirent* e = ::readdir(d); e != nullptr && names.size() < 10000; e = ::readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    ::closedir(d);
    for (const std::string& n : names) {
        const std::string p = dir + "/" + n;
        struct stat st {};
        ++calls;
        if (::lstat(p.c_str(), &st) != 0)
            continue;
        char value[256];
        calls += 2;
        (void)::getxattr(p.c_str(), "user.vms.recfmt", value, sizeof value);
        (void)::listxattr(p.c_str(), value, sizeof value);
        if (S_ISDIR(st.st_mode) && depth < 6) {
            calls += walk_everything(p, depth + 1);
        } else if (S_ISREG(st.st_mode)) {
            const int fd = ::open(p.c_str(), O_RDONLY);
            char buffer[65536];
            while (fd >= 0 && ++calls < 100000 && ::read(fd, buffer, sizeof buffer) > 0) {
            }
            if (fd >= 0)
                ::close(fd);
        }
    }
    return calls;
}

} // namespace

// Damaged volumes through the mount: each call fails or succeeds, none crashes
// odsfs, and the mount keeps working until it is unmounted.
TEST_F(odsfs_test, damaged_volumes_fail_calls_never_the_mount)
{
    using damage_table::base_volume;
    // What odsfs makes of each kind of damage the end-to-end tests share, where
    // it is more than a mount that survives every call.
    struct expectation {
        const char* what;
        bool mounts = true;
        std::string log = {}; // a line the log must hold
        bool lists = true;    // some call on the tree succeeds
    };
    const expectation expected[] = {
        {"short device", false},
        // LBN 0 reads like any block: the boot block is taken as the index
        // file's bitmap, and no header of the tree is found
        {"home block pointing at LBN 0", true, "", false},
        {"index file header unreadable", false},
        {"MFD header unreadable", false},
        {"pointer past the device end", true, "odsfs: [D]F.TXT;1: Read error at block "},
    };
    struct row {
        std::string what;
        std::function<void(base_volume&)> damage;
        bool mounts = true;
        std::string log = {};
        bool lists = true;
        std::function<void(vb::volume_builder&, std::uint32_t)> add = {};
    };
    std::vector<row> rows;
    for (const auto& d : damage_table::damages()) {
        row r{d.what, d.apply};
        for (const auto& e : expected)
            if (r.what == e.what) {
                r.mounts = e.mounts;
                r.log = e.log;
                r.lists = e.lists;
            }
        rows.push_back(r);
    }
    rows.push_back({"end of file far past the map",
                    [](base_volume& b) { b.v.set_header_efblk(b.file, 0x7FFFFFFF); }, true,
                    "odsfs: [D]F.TXT;1: Block 3 of the file is not mapped"});
    rows.push_back({"entries naming a file past the index file, the MFD and the directory itself",
                    [](base_volume&) {}, true, "", true,
                    [](vb::volume_builder& b, std::uint32_t dir) {
                        b.add_entry(dir, "GHOST.TXT", {.file_number = 60000});
                        b.add_entry(dir, "UP.DIR", {.file_number = vb::MFD_FILE_NUMBER});
                        b.add_entry(dir, "SELF.DIR", {.file_number = dir});
                        b.add_entry(dir, "AGAIN.DIR", {.file_number = dir});
                    }});
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        base_volume b = damage_table::base(r.add);
        r.damage(b);
        b.v.write_to(image());
        odsfs_mount m(scratch, image(), {"-o", "text"}, "damaged");
        if (m.lacks_permission())
            GTEST_SKIP() << "FUSE tests skipped: mounting is not permitted here: " << m.err();
        if (!r.mounts) {
            EXPECT_FALSE(m.mounted());
            EXPECT_EQ(m.exit_status(), 1) << m.err();
            EXPECT_NE(m.err(), "");
            continue;
        }
        ASSERT_TRUE(m.mounted()) << m.err();
        const int calls = walk_everything(m.point(), 0);
        if (r.lists) {
            EXPECT_GT(calls, 0);
        }
        (void)slurp(m.path("D/F.TXT"));
        struct stat st {};
        EXPECT_EQ(::stat(m.point().c_str(), &st), 0) << "the mount survives";
        EXPECT_EQ(m.unmount(), 0) << m.err();
        if (!r.log.empty()) {
            EXPECT_NE(m.err().find(r.log), std::string::npos) << m.err();
        }
    }
}

// The real VAX disk: its whole tree copies out with cp -a.
TEST_F(odsfs_test, real_vax_disk_copies_out_with_cp)
{
    const std::string original = ODSCP_SOURCE_DIR "/../shared/volumes/vax-diags-2018.dsk";
    if (!fs::exists(original))
        GTEST_SKIP() << "the VAX volume is not here: " << original;
    fs::copy_file(original, image());
    odsfs_mount m(scratch, image());
    MOUNTED_OR_SKIP(m);
    const std::string rescue = scratch.path("rescue");
    const command_result cp = run_command({"cp", "-a", m.path("SYSMAINT"), rescue}, scratch);
    EXPECT_EQ(cp.status, 0) << cp.err;
    EXPECT_EQ(run_command({"diff", "-r", m.path("SYSMAINT"), rescue}, scratch).status, 0);
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(rescue)) {
        ++files;
        EXPECT_EQ(fs::file_size(e.path()),
                  fs::file_size(m.path("SYSMAINT/" + e.path().filename().string())));
    }
    EXPECT_GT(files, 5u);
    EXPECT_EQ(m.err(), "");
    EXPECT_EQ(m.unmount(), 0);
    EXPECT_EQ(slurp(image()), slurp(original)) << "the image is unchanged";
}

// The manual page renders without a warning and names every option, attribute
// and exit status; the installed tree holds the program and the page.
TEST(odsfs_manual, renders_cleanly_and_names_every_option_and_attribute)
{
    scratch_dir scratch;
    const std::string page = ODSCP_SOURCE_DIR "/man/odsfs.1";
    const command_result r = run_command({"groff", "-man", "-Tutf8", "-ww", "-z", page}, scratch);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string text = slurp(page);
    for (const char* word : {"versions",
                             "lower",
                             "text",
                             "uid=",
                             "gid=",
                             "\\-f",
                             "\\-d",
                             "\\-h",
                             "\\-V",
                             "EROFS",
                             "user.vms.fileid",
                             "user.vms.owner",
                             "user.vms.protection",
                             "user.vms.recfmt",
                             "user.vms.created",
                             "user.vms.revised",
                             "user.vms.expires",
                             "user.vms.backup",
                             "user.vms.revisions",
                             "EXIT STATUS",
                             "user_allow_other",
                             "fusermount3"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
#ifdef ODSFS_BINARY
    const std::string root = scratch.path("root");
    const command_result install =
        run_command({"env", "DESTDIR=" + root, ODSCP_CMAKE_COMMAND, "--install", ODSCP_BUILD_DIR,
                     "--prefix", "/usr", "--component", "odscp"},
                    scratch);
    ASSERT_EQ(install.status, 0) << install.err;
    EXPECT_EQ(::access((root + "/usr/bin/odsfs").c_str(), X_OK), 0);
    EXPECT_EQ(slurp(root + "/usr/share/man/man1/odsfs.1"), text);
#endif
}
