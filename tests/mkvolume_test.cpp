// mkvolume: the host names it takes and refuses, refusals that leave nothing written,
// its options, and host trees that come back unchanged through odscp.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/volume_e2e_support.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string USAGE = "usage: mkvolume [-bv] [-n label] source-dir image\n";

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Makes path below root: a name ending in '/' is a directory, '@' a symbolic link, '|' a
// named pipe (the marks are not part of the name); anything else a file holding bytes.
void put(const fs::path& root, std::string path, const std::string& bytes = "x\n")
{
    const char mark = path.back();
    if (mark == '/' || mark == '@' || mark == '|')
        path.pop_back();
    const fs::path p = root / path;
    fs::create_directories(p.parent_path());
    if (mark == '/')
        fs::create_directories(p);
    else if (mark == '@')
        fs::create_symlink("elsewhere", p);
    else if (mark == '|')
        ASSERT_EQ(mkfifo(p.c_str(), 0644), 0) << p;
    else
        std::ofstream(p, std::ios::binary) << bytes;
}

std::set<std::string> names_in(const fs::path& dir)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

std::vector<std::string> sorted_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct mkvolume_result {
    int status = -1;
    std::string out{};
    std::string err{};
};

// A host tree in tree/, images in images/, and mkvolume run on them.
class host_tree {
  public:
    host_tree()
    {
        fs::create_directories(tree());
        fs::create_directories(images());
    }

    fs::path tree() const { return scratch_.path("tree"); }
    fs::path images() const { return scratch_.path("images"); }
    std::string image(const std::string& name = "volume.img") const
    {
        return (images() / name).string();
    }
    void put(const std::string& path, const std::string& bytes = "x\n") const
    {
        ::put(tree(), path, bytes);
    }

    // Runs mkvolume with args; "TREE" and "IMAGE" stand for the tree and the image path.
    mkvolume_result run(std::vector<std::string> args) const
    {
        for (std::string& a : args)
            a = a == "TREE" ? tree().string() : a == "IMAGE" ? image() : a;
        std::string program = MKVOLUME_BINARY;
        std::vector<char*> argv{program.data()};
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = scratch_.path("out"), err = scratch_.path("err");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = 0;
        const int spawned =
            posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        mkvolume_result r;
        int wait_status = 0;
        if (spawned != 0 || waitpid(pid, &wait_status, 0) != pid) {
            ADD_FAILURE() << "cannot run " << program;
            return r;
        }
        r.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
        r.out = read_file(out);
        r.err = read_file(err);
        return r;
    }

  private:
    scratch_dir scratch_;
};

// Fixture for runs of odscp on volumes mkvolume made.
class made_volume : public end_to_end {
  protected:
    host_tree host;

    // Makes the volume from the tree with the given options; it must succeed.
    void make(std::vector<std::string> options = {})
    {
        options.push_back("TREE");
        options.push_back("IMAGE");
        const mkvolume_result r = host.run(options);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.err, "");
    }

    // Runs odscp with the volume attached as the default device and as DKA0.
    harness::result odscp(std::vector<std::string> args)
    {
        return run_odscp(
            {.images = {{"users", host.image()}, {"DKA0", host.image()}}, .args = std::move(args)});
    }
};

} // namespace

// Names that fit, and what they become on the volume.
TEST_F(made_volume, host_names_become_ods2_names)
{
    const struct {
        const char* host;
        const char* listed;
    } cases[] = {
        {"login.com", "LOGIN.COM;1"},
        {"Mixed.Txt", "MIXED.TXT;1"},
        {"README", "README.;1"},
        {"EMPTY.", "EMPTY.;1"},
        {"123456789.ABC", "123456789.ABC;1"},
        {"a$b-c_d.$-_", "A$B-C_D.$-_;1"},
        {"NOTES.TXT;2", "NOTES.TXT;2"},
        {"notes.txt;32767", "NOTES.TXT;32767"},
        {"n.t;007", "N.T;7"},
        {"VERSION;3", "VERSION.;3"},
        {"Sub_Dir-1/", "SUB_DIR-1.DIR;1"},
        {"abcdefghi/", "ABCDEFGHI.DIR;1"},
    };
    std::vector<std::string> expected = {"000000.DIR;1", "BADBLK.SYS;1", "BITMAP.SYS;1",
                                         "CORIMG.SYS;1", "INDEXF.SYS;1"};
    for (const auto& c : cases) {
        host.put(c.host);
        expected.push_back(c.listed);
    }
    make();
    const auto r = odscp({"-l", "[000000]"});
    EXPECT_EQ(r.err, "");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted_lines(r.out), expected);
}

// Entries that cannot go on the volume: each is refused, named by its host path, and
// the image is left exactly as it was, with no file of mkvolume's beside it.
TEST(mkvolume, refuses_entries_that_do_not_fit_and_writes_nothing)
{
    const struct {
        const char* what;
        std::vector<std::string> entries; // put() notation; the last one is refused
        const char* reason;
    } cases[] = {
        {"name of 10", {"ABCDEFGHIJ.TXT"}, "name has more than 9 characters"},
        {"type of 4", {"A.TEXT"}, "type has more than 3 characters"},
        {"two dots", {"A.B.C"}, "name holds more than one dot"},
        {"no name", {".profile"}, "name is empty"},
        {"blank", {"my file.txt"}, "name holds ' '"},
        {"non-ASCII", {"caf\xC3\xA9.txt"}, "name holds \\xC3"},
        {"bad type character", {"A.T+T"}, "type holds '+'"},
        {"version 0", {"A.TXT;0"}, "version after ';' is not a number from 1 to 32767"},
        {"version 32768", {"A.TXT;32768"}, "version after ';'"},
        {"empty version", {"A.TXT;"}, "version after ';'"},
        {"version not digits", {"A.TXT;1a"}, "version after ';'"},
        {"type DIR", {"X.DIR"}, "type DIR is kept for directories"},
        {"directory with a dot", {"MAIL.OLD/"}, "directory name holds a dot"},
        {"directory of 10", {"ABCDEFGHIJ/"}, "directory name has more than 9 characters"},
        {"directory with a blank", {"my dir/"}, "directory name holds ' '"},
        {"deep below", {"USER/MAIL/bad name"}, "name holds ' '"},
        {"case clash", {"NOTES.TXT", "notes.txt"}, "becomes NOTES.TXT;1, as"},
        {"version 1 named and not", {"A.TXT", "a.txt;1"}, "becomes A.TXT;1, as"},
        {"no type, dot or not", {"README", "readme."}, "becomes README.;1, as"},
        {"directory case clash", {"MAIL/", "mail/"}, "becomes MAIL.DIR;1, as"},
        {"the MFD's own file", {"indexf.sys"}, "INDEXF.SYS is the name of a file the volume"},
        {"the MFD's own directory", {"000000/"}, "000000.DIR is the name of a file"},
        {"symbolic link", {"LINK.TXT@"}, "a symbolic link"},
        {"named pipe", {"PIPE|"}, "neither a regular file nor a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host_tree host;
        host.put("OK.TXT");
        for (const std::string& e : c.entries)
            host.put(e);
        std::ofstream(host.image(), std::ios::binary) << "what was there";
        const mkvolume_result r = host.run({"TREE", "IMAGE"});
        EXPECT_EQ(r.status, 1);
        std::string refused = c.entries.back();
        if (std::string("/@|").find(refused.back()) != std::string::npos)
            refused.pop_back();
        const std::string line = "mkvolume: " + (host.tree() / refused).string() + ": " + c.reason;
        EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("mkvolume: nothing written to " + host.image() + "\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(read_file(host.image()), "what was there");
        EXPECT_EQ(names_in(host.images()), std::set<std::string>{"volume.img"});
    }
}

TEST(mkvolume, reports_every_problem_and_creates_no_image)
{
    host_tree host;
    host.put("GOOD.TXT");
    host.put("first bad");
    host.put("SUB/second bad");
    host.put("SUB/ALSO.OK");
    const mkvolume_result r = host.run({"TREE", "IMAGE"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string tree = host.tree().string();
    EXPECT_EQ(r.err, "mkvolume: " + tree + "/SUB/second bad: name holds ' '; only A-Z, 0-9, " +
                         "$, - and _ may be used\n" + "mkvolume: " + tree +
                         "/first bad: name holds ' '; only A-Z, 0-9, $, - and _ may be used\n" +
                         "mkvolume: nothing written to " + host.image() + "\n");
    EXPECT_TRUE(names_in(host.images()).empty());
}

TEST(mkvolume, usage_errors_and_help)
{
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message; // before the usage line on standard error
    } cases[] = {
        {{}, 2, "mkvolume: needs a source directory and an image file\n"},
        {{"TREE"}, 2, "mkvolume: needs a source directory and an image file\n"},
        {{"TREE", "IMAGE", "more"}, 2, "mkvolume: needs a source directory and an image file\n"},
        {{"-x", "TREE", "IMAGE"}, 2, "mkvolume: unknown option -x\n"},
        {{"TREE", "IMAGE", "-n"}, 2, "mkvolume: needs a source directory and an image file\n"},
        {{"-n"}, 2, "mkvolume: option -n needs a label\n"},
        {{"-n", "two words", "TREE", "IMAGE"},
         2,
         "mkvolume: label 'two words' is not 1-12 characters of A-Z 0-9 $ - _\n"},
        {{"-n", "THIRTEENCHARS", "TREE", "IMAGE"},
         2,
         "mkvolume: label 'THIRTEENCHARS' is not 1-12 characters of A-Z 0-9 $ - _\n"},
        {{"-n", "", "TREE", "IMAGE"},
         2,
         "mkvolume: label '' is not 1-12 characters of A-Z 0-9 $ - _\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        host_tree host;
        host.put("A.TXT");
        const mkvolume_result r = host.run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.message + USAGE);
        EXPECT_TRUE(names_in(host.images()).empty());
    }

    host_tree host;
    const mkvolume_result help = host.run({"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind(USAGE, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("holds no NUL byte, is empty or ends with a newline"),
              std::string::npos);

    const mkvolume_result no_tree = host.run({(host.tree() / "none").string(), "IMAGE"});
    EXPECT_EQ(no_tree.status, 1);
    EXPECT_EQ(no_tree.err.rfind(
                  "mkvolume: " + (host.tree() / "none").string() + ": not a directory\n", 0),
              0u)
        << no_tree.err;
    EXPECT_TRUE(names_in(host.images()).empty());
}

// A tree of text and other files, in the MFD, a directory and one below it: text files
// come back from text-mode copies and the rest from image-mode copies byte for byte.
TEST_F(made_volume, files_come_back_unchanged)
{
    const std::string line_65535(65535, 'm');
    const std::string line_65536(65536, 'n');
    const std::string binary = "\x7F"
                               "ELF\x00\x01\x02\n"s +
                               patterned(1500);
    const struct {
        const char* host;
        const char* spec; // as odscp is given it
        std::string bytes;
        bool text;
    } files[] = {
        {"TOP.TXT", "[000000]top.txt", "in the MFD\n", true},
        {"USER/LOGIN.COM", "[user]login.com", "$ SET PROMPT=\"$ \"\n$ EXIT\n", true},
        {"USER/NOTES.TXT;1", "[user]notes.txt;1", "first\n", true},
        {"USER/NOTES.TXT;2", "[user]notes.txt;2", "second\n\nwith an empty line\n", true},
        {"USER/CRLF.TXT", "[user]crlf.txt", "carriage\r\nreturns\r\n", true},
        {"USER/ODD.TXT", "[user]odd.txt", "odd\neven\n", true},
        {"USER/EMPTY.TXT", "[user]empty.txt", "", true},
        {"USER/LONGEST.TXT", "[user]longest.txt", line_65535 + "\nafter\n", true},
        {"USER/TOOLONG.TXT", "[user]toolong.txt", line_65536 + "\n", false},
        {"USER/NOEOL.TXT", "[user]noeol.txt", "no newline at the end", false},
        {"USER/NUL.TXT", "[user]nul.txt", "a\0b\n"s, false},
        {"USER/MAIL/DATA.BIN", "[user.mail]data.bin", binary, false},
        {"USER/MAIL/BLOCK.BIN", "[user.mail]block.bin", patterned(512), false},
    };
    for (const auto& f : files)
        host.put(f.host, f.bytes);
    std::ofstream(host.image(), std::ios::binary) << "an old image, replaced";
    make();

    for (const auto& f : files) {
        SCOPED_TRACE(f.host);
        const auto r = odscp({f.text ? "-s" : "-is", f.spec});
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.out == f.bytes) << r.out.size() << " bytes, not " << f.bytes.size();
    }

    const auto listings = odscp({"-l", "[user]", "[user.mail]"});
    EXPECT_EQ(listings.err, "");
    EXPECT_EQ(listings.out, "CRLF.TXT;1\nEMPTY.TXT;1\nLOGIN.COM;1\nLONGEST.TXT;1\nMAIL.DIR;1\n"
                            "NOEOL.TXT;1\nNOTES.TXT;2\nNOTES.TXT;1\nNUL.TXT;1\nODD.TXT;1\n"
                            "TOOLONG.TXT;1\n"
                            "BLOCK.BIN;1\nDATA.BIN;1\n");
}

// Text is stored as records, one per line, and the rest as bytes, whole blocks allocated.
TEST_F(made_volume, text_is_stored_as_records_and_the_rest_as_blocks)
{
    host.put("D/T.TXT", "odd\nlines\n");
    host.put("D/B.BIN", "abc");
    make();
    const auto r = odscp({"-is", "[d]t.txt", "b.bin", "-I", "b.bin", "-T", "-s", "t.txt"});
    EXPECT_EQ(r.err, "");
    const auto records = volbuild::encode_records({"odd", "lines"});
    EXPECT_EQ(r.out, std::string(records.begin(), records.end()) + "abc" + "abc" +
                         std::string(509, '\0') + "d\nnes\n");
}

TEST_F(made_volume, b_stores_every_file_as_bytes)
{
    host.put("D/T.TXT", "odd\nlines\n");
    make({"-b"});
    const auto r = odscp({"-is", "[d]t.txt"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "odd\nlines\n");
}

TEST(mkvolume, n_sets_the_volume_label)
{
    const struct {
        std::vector<std::string> options;
        const char* label; // the home block's 12-byte field
    } cases[] = {
        {{}, "USERS       "},
        {{"-n", "Dka100$_-9"}, "DKA100$_-9  "},
        {{"-n", "ABCDEFGHIJKL"}, "ABCDEFGHIJKL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        host_tree host;
        host.put("A.TXT");
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"TREE", "IMAGE"});
        ASSERT_EQ(host.run(args).status, 0);
        const std::string image = read_file(host.image());
        ASSERT_GE(image.size(), 2 * volbuild::BLOCK_SIZE);
        EXPECT_EQ(image.substr(volbuild::HOME_LBN * volbuild::BLOCK_SIZE + volbuild::HB_VOLUME_NAME,
                               volbuild::HB_TEXT_FIELD),
                  c.label);
    }
}

TEST(mkvolume, v_prints_each_entry_as_it_is_stored)
{
    host_tree host;
    host.put("USER/notes.txt;2", "text\n");
    host.put("USER/DATA.BIN", "bytes");
    host.put("README", "");
    const mkvolume_result r = host.run({"-v", "TREE", "IMAGE"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string t = host.tree().string();
    EXPECT_EQ(r.out, t + "/README -> README.;1 (text)\n" + t + "/USER -> USER.DIR;1 (directory)\n" +
                         t + "/USER/DATA.BIN -> DATA.BIN;1 (bytes)\n" + t +
                         "/USER/notes.txt;2 -> NOTES.TXT;2 (text)\n");
}
