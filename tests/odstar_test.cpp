// odstar end to end: host trees through mkvolume and back, listings against the
// attributes written, patterns, hostile names, read errors, usage, and the real
// VAX volume extracted whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/harness_support.hpp"
#include "tests/process_support.hpp"
#include "volume_builder/volume_builder.hpp"

namespace {

namespace fs = std::filesystem;
namespace vb = volbuild;

using odstar_result = process::result;

// Runs program with args, standard input from /dev/null, in cwd when given.
odstar_result run_program(const std::string& program, const std::vector<std::string>& args,
                          const std::string& cwd = {})
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return process::run(argv, {}, cwd);
}

odstar_result odstar(const std::vector<std::string>& args, const std::string& cwd = {})
{
    return run_program(ODSTAR_BINARY, args, cwd);
}

std::string read_file(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

void set_mtime(const fs::path& p, std::time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << p;
}

std::time_t mtime_of(const fs::path& p)
{
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

// Every path below root with its kind, contents (size and hash) and modification time.
std::map<std::string, std::string> tree_of(const fs::path& root)
{
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).string();
        const std::string when = std::to_string(mtime_of(e.path()));
        const std::string bytes = e.is_directory() ? "" : read_file(e.path());
        tree[rel] = e.is_directory()
                        ? "dir@" + when
                        : std::to_string(bytes.size()) + " bytes, hash " +
                              std::to_string(std::hash<std::string>{}(bytes)) + " @" + when;
    }
    return tree;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string binary_bytes(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return s;
}

class odstar_e2e : public testing::Test {
  protected:
    scratch_dir scratch;

    fs::path tree() const { return scratch.path("tree"); }
    fs::path out() const { return scratch.path("out"); }
    std::string image() const { return scratch.path("volume.img"); }

    void make_volume(std::vector<std::string> options = {})
    {
        options.push_back(tree().string());
        options.push_back(image());
        const odstar_result r = run_program(MKVOLUME_BINARY, options);
        ASSERT_EQ(r.status, 0) << r.err;
    }

    std::string write(const vb::built_volume& v)
    {
        v.write_to(image());
        return image();
    }

    // Nothing but the expected names below out: no temporary file is left.
    std::set<std::string> names_below(const fs::path& root) const
    {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(root))
            names.insert(fs::relative(e.path(), root).string());
        return names;
    }
};

} // namespace

// A host tree made into a volume comes back byte for byte with its modification
// times: nested directories, text and binary files, an empty file.
TEST_F(odstar_e2e, extracts_a_host_tree_back_byte_for_byte_with_times)
{
    write_file(tree() / "LOGIN.COM", "$ SET DEFAULT [USER]\n$ EXIT\n");
    write_file(tree() / "EMPTY.TXT", "");
    write_file(tree() / "USER" / "NOTES.TXT",
               "one\n\ntwo lines and a long one " + std::string(3000, 'x') + "\n");
    write_file(tree() / "USER" / "PROG.EXE", binary_bytes(70000));
    write_file(tree() / "USER" / "MAIL" / "DEEP" / "ODD.BIN", binary_bytes(513));
    fs::create_directories(tree() / "EMPTYDIR");
    std::time_t when = 1'500'000'000;
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(tree()))
        paths.push_back(e.path());
    std::sort(paths.rbegin(), paths.rend()); // contents before their directories
    for (const fs::path& p : paths)
        set_mtime(p, when += 3600);
    make_volume();
    fs::create_directories(out());
    const odstar_result r = odstar({"-x", "-f", image(), "-C", out().string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::map<std::string, std::string> got = tree_of(out());
    for (const char* system : {"INDEXF.SYS", "BITMAP.SYS", "BADBLK.SYS", "CORIMG.SYS"})
        EXPECT_EQ(got.erase(system), 1u) << system;
    EXPECT_EQ(got, tree_of(tree()));
}

// Versions: the newest as NAME.TYPE, every version as NAME.TYPE;N with
// --all-versions; --lower; -v names each file on standard output.
TEST_F(odstar_e2e, versions_lower_case_and_verbose)
{
    write_file(tree() / "NOTES.TXT;1", "first\n");
    write_file(tree() / "NOTES.TXT;2", "second\n");
    write_file(tree() / "SUB" / "A.DAT;7", "seven\n");
    make_volume();
    fs::create_directories(out() / "newest");
    fs::create_directories(out() / "all");
    odstar_result r =
        odstar({"-xv", "-f", image(), "-C", (out() / "newest").string(), "--lower", "*.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[000000]NOTES.TXT;2\n");
    EXPECT_EQ(read_file(out() / "newest" / "notes.txt"), "second\n");
    EXPECT_EQ(names_below(out() / "newest"), (std::set<std::string>{"notes.txt"}));
    r = odstar({"-x", "--all-versions", "-f", image(), "-C", (out() / "all").string(), "[...]"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(out() / "all" / "NOTES.TXT;1"), "first\n");
    EXPECT_EQ(read_file(out() / "all" / "NOTES.TXT;2"), "second\n");
    EXPECT_EQ(read_file(out() / "all" / "SUB" / "A.DAT;7"), "seven\n");
}

// -t, -tv and --json show the attributes the manifest wrote.
TEST_F(odstar_e2e, listings_show_the_attributes_written)
{
    write_file(tree() / "USER" / "REPORT.LIS", "line one\nline two\n");
    write_file(tree() / "USER" / "PROG.EXE", binary_bytes(1500));
    write_file(tree() / "USER" / "NOTES.TXT", "a\n");
    set_mtime(tree() / "USER" / "NOTES.TXT", 1'700'000'000); // 2023-11-14T22:13:20Z
    write_file(scratch.path("manifest"),
               "USER/REPORT.LIS format=vfc vfc=2 carriage=print\n"
               "USER/PROG.EXE format=fixed size=512 owner=[100,3]\n"
               "USER/NOTES.TXT format=stmlf protection=(RWED,RWED,RE,)\n");
    make_volume({"-m", scratch.path("manifest")});

    odstar_result r = odstar({"-tf", image(), "[USER]"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "[USER]NOTES.TXT;1\n[USER]PROG.EXE;1\n[USER]REPORT.LIS;1\n");

    r = odstar({"-tvf", image(), "[USER]"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\(RWED,RWED,RE,\) +\[1,1\] +2 +1/1 +)"
                                                      R"(2023-11-14T22:13:20Z +STMLF CR +)"
                                                      R"(\[USER\]NOTES\.TXT;1)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\(RWED,RWED,RE,RE\) +\[100,3\] +1500 +)"
                                                      R"(3/3 +\S+ +FIX 512 +\[USER\]PROG\.EXE;1)")))
        << lines[1];
    EXPECT_NE(lines[2].find(" VFC 2 PRN "), std::string::npos) << lines[2];

    r = odstar({"-t", "--json", "-f", image(), "[USER]NOTES.TXT"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* field :
         {"\"path\":\"[USER]NOTES.TXT;1\"", "\"size\":2", "\"record_format\":\"STMLF CR\"",
          "\"owner\":\"[1,1]\"", "\"protection\":\"(RWED,RWED,RE,)\"",
          "\"revised\":\"2023-11-14T22:13:20Z\"", "\"blocks_allocated\":1"})
        EXPECT_NE(r.out.find(field), std::string::npos) << field << " in " << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
}

// Which files a pattern selects, against one tree.
TEST_F(odstar_e2e, patterns_select_in_vms_syntax)
{
    for (const char* p :
         {"TOP.TXT", "A/X.TXT;1", "A/X.TXT;2", "A/Y.EXE", "A/B/Z.EXE", "A/B/C/W.DAT", "AB/Q.EXE"})
        write_file(tree() / p, "x\n");
    make_volume();
    const struct {
        std::vector<std::string> patterns;
        std::vector<std::string> listed;
    } cases[] = {
        {{"[A]*.*"}, {"[A]B.DIR;1", "[A]X.TXT;2", "[A]Y.EXE;1"}},
        {{"[A]*.*;*"}, {"[A]B.DIR;1", "[A]X.TXT;2", "[A]X.TXT;1", "[A]Y.EXE;1"}},
        {{"[A]*.TXT;*"}, {"[A]X.TXT;2", "[A]X.TXT;1"}},
        {{"[a]x.txt;1"}, {"[A]X.TXT;1"}},
        {{"[A...]*.EXE"}, {"[A.B]Z.EXE;1", "[A]Y.EXE;1"}},
        {{"[...]*.EXE"}, {"[A.B]Z.EXE;1", "[A]Y.EXE;1", "[AB]Q.EXE;1"}},
        {{"*.EXE"}, {"[A.B]Z.EXE;1", "[A]Y.EXE;1", "[AB]Q.EXE;1"}},
        {{"[%]*.*"}, {"[A]B.DIR;1", "[A]X.TXT;2", "[A]Y.EXE;1"}},
        {{"[A%]*"}, {"[AB]Q.EXE;1"}},
        {{"[A.*]*"}, {"[A.B]C.DIR;1", "[A.B]Z.EXE;1"}},
        {{"[A.B.C]W.DAT", "[000000]TOP.*"}, {"[A.B.C]W.DAT;1", "[000000]TOP.TXT;1"}},
        {{"[000000]*.DIR"}, {"[000000]000000.DIR;1", "[000000]A.DIR;1", "[000000]AB.DIR;1"}},
        {{"DKA0:[A]Y"}, {"[A]Y.EXE;1"}},
        {{"[A]%.TXT;2"}, {"[A]X.TXT;2"}},
        {{"[NONE]*"}, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"-tf", image()};
        args.insert(args.end(), c.patterns.begin(), c.patterns.end());
        const odstar_result r = odstar(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(lines_of(r.out), c.listed) << testing::PrintToString(c.patterns);
    }
    const odstar_result bad = odstar({"-tf", image(), "[A.]X"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("pattern '[A.]X'"), std::string::npos) << bad.err;
}

// Names that would leave -C, or hold bytes a terminal obeys: each is refused for
// that file with a message, nothing is created outside -C, the rest is extracted.
TEST_F(odstar_e2e, hostile_names_create_nothing_outside_the_directory)
{
    vb::volume_builder v;
    for (const char* name : {"../ESCAPE.TXT", "A/B.TXT", "..", ".", "\x1b]2;X\x07.TXT"})
        v.add_file(vb::MFD_FILE_NUMBER, name, vb::text_file({"hostile"}));
    const auto up = v.add_directory(vb::MFD_FILE_NUMBER, "..");
    v.add_file(up, "UNDER.TXT", vb::text_file({"under"}));
    const auto slash = v.add_directory(vb::MFD_FILE_NUMBER, "X/Y");
    v.add_file(slash, "UNDER.TXT", vb::text_file({"under"}));
    v.add_file(vb::MFD_FILE_NUMBER, "GOOD.TXT", vb::text_file({"good"}));
    write(v.build());
    const fs::path inner = out() / "inner";
    fs::create_directories(inner);
    const odstar_result r = odstar({"-x", "-f", image(), "-C", inner.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        names_below(out()),
        (std::set<std::string>{"inner", "inner/GOOD.TXT", "inner/INDEXF.SYS", "inner/BITMAP.SYS",
                               "inner/BADBLK.SYS", "inner/CORIMG.SYS", "inner/\x1b]2;X\x07.TXT"}));
    for (const char* message :
         {"[000000]../ESCAPE.TXT;1: not extracted: the name holds a '/'\n",
          "[000000]A/B.TXT;1: not extracted: the name holds a '/'\n",
          "[000000]X/Y.DIR;1: not extracted, nor anything below it: the name holds a '/'\n",
          "[000000]...DIR;1: not extracted, nor anything below it: the name is \"..\"\n"})
        EXPECT_NE(r.err.find(message), std::string::npos) << message << "in\n" << r.err;
    // Listings escape what a terminal would obey.
    const odstar_result listed = odstar({"-tf", image(), "*.TXT"});
    EXPECT_NE(listed.out.find("[000000]\\033]2;X\\007.TXT;1\n"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find('\x1b'), std::string::npos);
    const odstar_result json = odstar({"-t", "--json", "-f", image(), "*.TXT"});
    EXPECT_NE(json.out.find("\"name\":\"\\u001b]2;X\\u0007.TXT\""), std::string::npos) << json.out;
}

// A symbolic link in the output tree is replaced, never followed.
TEST_F(odstar_e2e, symbolic_links_in_the_output_are_not_followed)
{
    write_file(tree() / "SUB" / "F.TXT", "inside\n");
    write_file(tree() / "G.TXT", "top\n");
    make_volume();
    fs::create_directories(out() / "target");
    fs::create_directories(out() / "x");
    fs::create_directory_symlink("../target", out() / "x" / "SUB");
    fs::create_symlink("../target/g", out() / "x" / "G.TXT");
    const odstar_result r = odstar({"-x", "-f", image(), "-C", (out() / "x").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_empty(out() / "target"));
    EXPECT_FALSE(fs::is_symlink(out() / "x" / "SUB"));
    EXPECT_EQ(read_file(out() / "x" / "SUB" / "F.TXT"), "inside\n");
    EXPECT_EQ(read_file(out() / "x" / "G.TXT"), "top\n");
}

// -k keeps existing files and reports each; without it they are replaced.
TEST_F(odstar_e2e, keep_old_files_keeps_and_reports)
{
    write_file(tree() / "A.TXT", "new\n");
    make_volume();
    write_file(out() / "A.TXT", "old\n");
    odstar_result r = odstar({"-xk", "-f", image(), "-C", out().string(), "A.TXT"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "[000000]A.TXT;1: a host file of its name exists; kept (-k)\n");
    EXPECT_EQ(read_file(out() / "A.TXT"), "old\n");
    r = odstar({"-x", "-f", image(), "-C", out().string(), "A.TXT"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(out() / "A.TXT"), "new\n");
}

// A read error inside a file (the image ends in the middle of it) leaves no
// file, neither under its name nor a temporary one; the other files are done.
TEST_F(odstar_e2e, a_read_error_leaves_no_partial_file)
{
    vb::volume_builder v;
    v.add_file(vb::MFD_FILE_NUMBER, "GOOD.DAT",
               vb::binary_file(std::vector<std::uint8_t>(1024, 7)));
    const auto big = v.add_file(vb::MFD_FILE_NUMBER, "BIG.DAT",
                                vb::binary_file(std::vector<std::uint8_t>(200 * 512, 9)));
    vb::built_volume vol = v.build();
    const std::uint64_t cut = vol.lbn_of_vbn(big, 100);
    ASSERT_GE(cut, vol.layout_end() - 150) << "BIG.DAT is expected to be laid out last";
    vol.image.resize(cut);
    write(vol);
    fs::create_directories(out());
    const odstar_result r = odstar({"-x", "--raw", "-f", image(), "-C", out().string(), "*.DAT"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "[000000]BIG.DAT;1: Read error at block " + std::to_string(cut) +
                         ": past the end of the device\n");
    EXPECT_EQ(names_below(out()), (std::set<std::string>{"GOOD.DAT"}));
}

// Wrong usage and volumes that cannot be read give status 2 and say why.
TEST_F(odstar_e2e, usage_and_unreadable_volumes)
{
    write_file(scratch.path("zeros.img"), std::string(8192, '\0'));
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"-f", "x.img"}, "one of -t and -x is needed"},
        {{"-t"}, "one of -f IMAGE and -d NAME is needed"},
        {{"-tf", "-"}, "-f - is refused: the volume must be a seekable file or device"},
        {{"-t", "-x", "-f", "x.img"}, "-t and -x exclude each other"},
        {{"-t", "--convert=text", "-f", "x.img"}, "--convert takes only auto"},
        {{"-t", "--bogus"}, "unknown option"},
        {{"-tf", scratch.path("none.img")}, "Can't open"},
        {{"-tf", scratch.path("zeros.img")}, "Not an ODS-2 volume"},
    };
    for (const auto& c : cases) {
        const odstar_result r = odstar(c.args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(c.args);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    vb::volume_builder v;
    vb::built_volume vol = v.build();
    vol.image.set_u16(vb::HOME_LBN, vb::HB_STRUCTURE_LEVEL, 0x0501);
    write(vol);
    const odstar_result ods5 = odstar({"-tf", image()});
    EXPECT_EQ(ods5.status, 2);
    EXPECT_NE(ods5.err.find("ODS-5 volume: not supported"), std::string::npos) << ods5.err;
    const odstar_result help = odstar({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--all-versions"), std::string::npos);
}

// The VAX system disk, written by VMS: extracted whole, INDEXF.SYS included
// (its first block is the boot block, LBN 0), status 0.
TEST_F(odstar_e2e, extracts_the_real_vax_volume_whole)
{
    const std::string source = ODSCP_SOURCE_DIR "/../shared/volumes/vax-diags-2018.dsk";
    if (!fs::exists(source))
        GTEST_SKIP() << "the VAX volume is not at " << source;
    const std::string copy = scratch.path("vax.dsk");
    fs::copy_file(source, copy);
    fs::create_directories(out());
    const odstar_result r = odstar({"-xvf", copy, "-C", out().string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fs::file_size(out() / "INDEXF.SYS"), 55296u);
    const std::string disk = read_file(copy);
    EXPECT_EQ(read_file(out() / "INDEXF.SYS").substr(0, 1024), disk.substr(0, 1024));
    const odstar_result listed = odstar({"-tf", copy, "[...]*.*"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::size_t files = 0;
    for (const std::string& line : lines_of(listed.out))
        files += line.find(".DIR;") == std::string::npos ? 1 : 0;
    EXPECT_EQ(lines_of(r.out).size(), files);
    EXPECT_TRUE(fs::is_regular_file(out() / "SYSMAINT" / "DIAGBOOT.EXE"));
    EXPECT_EQ(mtime_of(out() / "SYSMAINT"), 1538018930); // 2018-09-27T03:28:50Z
}
