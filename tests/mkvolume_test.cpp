// mkvolume: the host names it takes and refuses, refusals that leave nothing written,
// its options, host trees that come back unchanged through odscp, and manifests of
// record formats, owners, protections and extents, read back field by field.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/process_support.hpp"
#include "tests/volume_e2e_support.hpp"

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

using mkvolume_result = process::result;

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
        std::vector<std::string> argv{MKVOLUME_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        const mkvolume_result r = process::run(argv);
        if (!r.started) {
            ADD_FAILURE() << "cannot run " << MKVOLUME_BINARY;
            return {};
        }
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

namespace {

// Little-endian fields of an image held in memory, with the layout's names.
struct image_reader {
    std::string bytes;

    std::uint8_t u8(std::uint64_t lbn, std::size_t off) const
    {
        return static_cast<std::uint8_t>(bytes.at(lbn * 512 + off));
    }
    std::uint16_t u16(std::uint64_t lbn, std::size_t off) const
    {
        return static_cast<std::uint16_t>(u8(lbn, off) | u8(lbn, off + 1) << 8);
    }
    std::uint32_t u32(std::uint64_t lbn, std::size_t off) const
    {
        return u16(lbn, off) | static_cast<std::uint32_t>(u16(lbn, off + 2)) << 16;
    }
    std::uint64_t u64(std::uint64_t lbn, std::size_t off) const
    {
        return u32(lbn, off) | static_cast<std::uint64_t>(u32(lbn, off + 4)) << 32;
    }
    std::string text(std::uint64_t lbn, std::size_t off, std::size_t len) const
    {
        return bytes.substr(lbn * 512 + off, len);
    }

    // LBN of header n: mkvolume's index file holds every header right after the bitmap.
    std::uint64_t header_lbn(std::uint32_t n) const
    {
        return std::uint64_t{u32(vb::HOME_LBN, vb::HB_IBMAP_LBN)} +
               u16(vb::HOME_LBN, vb::HB_IBMAP_SIZE) + n - 1;
    }

    // The file number whose header's identification area names name_version.
    std::uint32_t file_named(const std::string& name_version) const
    {
        for (std::uint32_t n = vb::FIRST_USER_FILE_NUMBER; header_lbn(n + 1) * 512 <= bytes.size();
             ++n) {
            const std::uint64_t h = header_lbn(n);
            const std::string name =
                text(h, u8(h, vb::FH_IDENT_OFFSET) * 2U + vb::FI_FILENAME, vb::FI_FILENAME_LEN);
            if (u16(h, vb::FH_SEGMENT) == 0 && name.substr(0, name.find(' ')) == name_version)
                return n;
        }
        ADD_FAILURE() << "no header names " << name_version;
        return 0;
    }

    // Retrieval pointers in header n's map (format 0 words apart).
    std::size_t pointers_in(std::uint32_t n) const
    {
        const std::uint64_t h = header_lbn(n);
        std::size_t count = 0;
        const std::size_t start = u8(h, vb::FH_MAP_OFFSET) * 2U;
        const std::size_t end = start + 2U * u8(h, vb::FH_MAP_IN_USE);
        for (std::size_t at = start; at < end;) {
            const unsigned format = u16(h, at) >> 14;
            count += format != 0;
            at += 2 * (format + 1);
        }
        return count;
    }

    // The headers of file n: the primary, then its extension headers in order.
    std::vector<std::uint32_t> chain(std::uint32_t n) const
    {
        std::vector<std::uint32_t> out;
        while (n != 0 && out.size() < 100) {
            out.push_back(n);
            const std::uint64_t h = header_lbn(n);
            n = u16(h, vb::FH_EXT_FILE_NUMBER) |
                static_cast<std::uint32_t>(u8(h, vb::FH_EXT_FILE_NUMBER_HIGH)) << 16;
        }
        return out;
    }
};

// A second codec for the round trips: the host bytes a file's records stand for, by
// its record format and attributes, as a converter by record format gives them.
std::string converted(const std::string& raw, std::uint8_t type, std::uint8_t attributes,
                      std::uint16_t record_size, std::uint8_t vfc)
{
    const bool fortran = (attributes & vb::RA_FORTRAN) != 0;
    const bool print = (attributes & vb::RA_PRINT) != 0;
    const auto line = [&](std::string record) {
        if (fortran) {
            EXPECT_EQ(record.substr(0, 1), " ") << "Fortran control other than a space";
            record.erase(0, 1);
        }
        return record + "\n";
    };
    std::string out;
    switch (type) {
    case vb::RT_VARIABLE:
    case vb::RT_VFC:
        for (std::size_t at = 0; at + 2 <= raw.size();) {
            const std::size_t n =
                static_cast<unsigned char>(raw[at]) | static_cast<unsigned char>(raw[at + 1]) << 8;
            const std::size_t control = type == vb::RT_VFC ? vfc : 0;
            EXPECT_LE(at + 2 + n, raw.size());
            EXPECT_GE(n, control);
            if (print) {
                EXPECT_EQ(raw.substr(at + 2, 2), "\x01\x8D") << "not the usual print record";
            }
            out += line(raw.substr(at + 2 + control, n - control));
            at += 2 + n + n % 2;
        }
        return out;
    case vb::RT_FIXED:
        if ((attributes & (vb::RA_CR | vb::RA_FORTRAN)) == 0)
            return raw;
        for (std::size_t at = 0; at + record_size <= raw.size();
             at += record_size + record_size % 2)
            out += line(raw.substr(at, record_size));
        return out;
    case vb::RT_STREAM:
        for (std::size_t at = 0; at < raw.size();) {
            const std::size_t end = raw.find("\r\n", at);
            EXPECT_NE(end, std::string::npos) << "a record without its CR LF";
            out += raw.substr(at, end - at) + "\n";
            at = end + 2;
        }
        return out;
    case vb::RT_STREAM_CR:
        out = raw;
        std::replace(out.begin(), out.end(), '\r', '\n');
        return out;
    default: // undefined, stream-LF
        return raw;
    }
}

// The VMS time of a host file's modification and, where kept, birth.
struct host_times {
    std::uint64_t modified = 0;
    std::uint64_t born = 0;
};

host_times times_of(const fs::path& p)
{
    struct statx st {};
    host_times t;
    if (statx(AT_FDCWD, p.c_str(), AT_SYMLINK_NOFOLLOW, STATX_MTIME | STATX_BTIME, &st) != 0)
        return t;
    t.modified = vb::vms_time(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
    t.born = (st.stx_mask & STATX_BTIME) != 0
                 ? vb::vms_time(st.stx_btime.tv_sec, st.stx_btime.tv_nsec)
                 : t.modified;
    return t;
}

} // namespace

// Every record format and carriage control a manifest can ask for: each file's header
// says what was asked, field by field, and its records, read back by an image-mode
// copy and converted by their format, give the host file exactly.
TEST_F(made_volume, manifest_formats_come_back_through_their_records)
{
    const std::string text = "one\ntwo\n\nthree, odd\n";
    const std::string binary = "\x7F"
                               "ELF\x00\x01\n"s +
                               patterned(1300);
    const struct {
        const char* host;
        std::string bytes;
        const char* settings;
        std::uint8_t type, attributes;
        std::uint16_t record_size;
        std::uint8_t vfc;
        const char* how; // as -v shows it
    } files[] = {
        {"VAR.TXT", text, "format=variable", vb::RT_VARIABLE, vb::RA_CR, 10, 0, "variable, cr"},
        {"VARFOR.TXT", text, "format=variable carriage=fortran", vb::RT_VARIABLE, vb::RA_FORTRAN,
         11, 0, "variable, fortran"},
        {"VARPRN.TXT", text, "format=variable carriage=print", vb::RT_VFC, vb::RA_PRINT, 10, 2,
         "vfc 2, print"},
        {"VARNONE.TXT", text, "format=variable carriage=none", vb::RT_VARIABLE, 0, 10, 0,
         "variable, none"},
        {"AUTOFOR.TXT", text, "carriage=fortran", vb::RT_VARIABLE, vb::RA_FORTRAN, 11, 0,
         "variable, fortran"},
        {"REPORT.LIS", text + "\f page two\n", "format=vfc", vb::RT_VFC, vb::RA_PRINT, 10, 2,
         "vfc 2, print"},
        {"VFC4.TXT", text, "format=vfc vfc=4 carriage=cr", vb::RT_VFC, vb::RA_CR, 10, 4,
         "vfc 4, cr"},
        {"VFC1.TXT", text, "format=vfc vfc=1 carriage=none", vb::RT_VFC, 0, 10, 1, "vfc 1, none"},
        {"VFC3FOR.TXT", text, "format=vfc vfc=3 carriage=fortran", vb::RT_VFC, vb::RA_FORTRAN, 11,
         3, "vfc 3, fortran"},
        {"CARDS.DAT", "abcde\nfghij\n\0\0\0\0\0\n"s, "format=fixed size=5 carriage=cr",
         vb::RT_FIXED, vb::RA_CR, 5, 0, "fixed 5, cr"},
        {"FORT.DAT", "abc\ndef\n", "format=fixed size=4 carriage=fortran", vb::RT_FIXED,
         vb::RA_FORTRAN, 4, 0, "fixed 4, fortran"},
        {"PROG.EXE", binary, "format=fixed size=512", vb::RT_FIXED, 0, 512, 0, "fixed 512, none"},
        {"REC80.DAT", patterned(200), "format=fixed size=80", vb::RT_FIXED, 0, 80, 0,
         "fixed 80, none"},
        {"CRLF.TXT", "dos\r\nline\n\n", "format=stream", vb::RT_STREAM, vb::RA_CR, 0, 0,
         "stream, cr"},
        {"STM.TXT", text, "format=stream carriage=none", vb::RT_STREAM, 0, 0, 0, "stream, none"},
        {"NOTES.TXT;1", "a\0b\nc\n"s, "format=stmlf", vb::RT_STREAM_LF, vb::RA_CR, 0, 0,
         "stmlf, cr"},
        {"MAC.TXT", text, "format=stmcr", vb::RT_STREAM_CR, vb::RA_CR, 0, 0, "stmcr, cr"},
        {"RAW.BIN", binary, "format=undefined", vb::RT_UNDEFINED, 0, 0, 0, "undefined, none"},
        {"EMPTY.TXT", "", "format=vfc", vb::RT_VFC, vb::RA_PRINT, 0, 2, "vfc 2, print"},
    };
    std::string manifest = "# every format\n\n";
    for (const auto& f : files) {
        host.put("USER/"s + f.host, f.bytes);
        manifest += "USER/"s + f.host + "   " + f.settings + "  # " + f.how + "\n";
    }
    const std::string manifest_path = (host.images() / "manifest").string();
    std::ofstream(manifest_path) << manifest;
    const fs::path dated = host.tree() / "USER/VAR.TXT";
    const timespec times[2] = {{1000000000, 0}, {1234567890, 123456700}};
    ASSERT_EQ(utimensat(AT_FDCWD, dated.c_str(), times, 0), 0);

    const mkvolume_result made = host.run(
        {"-v", "-m", manifest_path, "-o", "[100,3]", "-p", "(RWED,RWED,RE,)", "TREE", "IMAGE"});
    ASSERT_EQ(made.status, 0) << made.err;
    const image_reader img{read_file(host.image())};
    for (const auto& f : files) {
        SCOPED_TRACE(f.host);
        const std::string host_path = (host.tree() / "USER" / f.host).string();
        EXPECT_NE(made.out.find(host_path + " -> "), std::string::npos);
        EXPECT_NE(made.out.find("(" + std::string(f.how) + ")\n"), std::string::npos) << made.out;

        const std::string name = std::string(f.host).find(';') == std::string::npos
                                     ? std::string(f.host) + ";1"
                                     : std::string(f.host);
        const std::uint32_t n = img.file_named(name);
        ASSERT_NE(n, 0u);
        const std::uint64_t h = img.header_lbn(n);
        EXPECT_EQ(img.u8(h, vb::FH_RTYPE), f.type);
        EXPECT_EQ(img.u8(h, vb::FH_RATTRIB), f.attributes);
        EXPECT_EQ(img.u16(h, vb::FH_RSIZE), f.record_size);
        EXPECT_EQ(img.u8(h, vb::FH_VFCSIZE), f.vfc);
        EXPECT_EQ(img.u16(h, vb::FH_OWNER_GROUP), 0100);
        EXPECT_EQ(img.u16(h, vb::FH_OWNER_MEMBER), 3);
        EXPECT_EQ(img.u16(h, vb::FH_PROTECTION), 0xFA00);
        const std::size_t id = img.u8(h, vb::FH_IDENT_OFFSET) * 2U;
        const host_times t = times_of(host_path);
        EXPECT_EQ(img.u64(h, id + vb::FI_REVDATE), t.modified);
        EXPECT_EQ(img.u64(h, id + vb::FI_CREDATE), t.born);
        EXPECT_EQ(img.u64(h, id + vb::FI_EXPDATE), 0u);
        EXPECT_EQ(img.u16(h, id + vb::FI_REVISION), 1);

        const auto r = odscp({"-is", "[user]"s + name});
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(converted(r.out, f.type, f.attributes, f.record_size, f.vfc) == f.bytes)
            << converted(r.out, f.type, f.attributes, f.record_size, f.vfc);
    }
    const std::uint64_t var = img.header_lbn(img.file_named("VAR.TXT;1"));
    const std::size_t id = img.u8(var, vb::FH_IDENT_OFFSET) * 2U;
    EXPECT_EQ(img.u64(var, id + vb::FI_REVDATE),
              0xA871BBA9568B87ULL); // 2009-02-13 23:31:30.1234567
}

// Fragmented files: extents=N puts the blocks in N extents and headers=H spreads their
// map over H headers; the file still copies whole through the extension headers.
TEST_F(made_volume, manifest_extents_and_extension_headers)
{
    const struct {
        const char* host;
        std::size_t blocks;
        const char* settings;
        std::vector<std::size_t> pointers; // per header: its length is the headers
    } files[] = {
        {"BIG.DAT", 9, "extents=6 headers=3", {2, 2, 2}},    {"FRAG.DAT", 4, "extents=4", {4}},
        {"ODD.DAT", 5, "extents=5 headers=4", {2, 1, 1, 1}}, {"TINY.DAT", 1, "headers=2", {1, 1}},
        {"WIDE.DAT", 120, "extents=100", {77, 23}}, // 2-word pointers, as many as fit
    };
    std::string manifest;
    for (const auto& f : files) {
        host.put("D/"s + f.host, patterned(f.blocks * 512 - 7));
        manifest += "D/"s + f.host + " " + f.settings + "\n";
    }
    const std::string manifest_path = (host.images() / "manifest").string();
    std::ofstream(manifest_path) << manifest;
    make({"-b", "-m", manifest_path});
    const image_reader img{read_file(host.image())};
    for (const auto& f : files) {
        SCOPED_TRACE(f.host);
        const auto chain = img.chain(img.file_named(f.host + ";1"s));
        ASSERT_EQ(chain.size(), f.pointers.size());
        for (std::size_t i = 0; i < chain.size(); ++i) {
            EXPECT_EQ(img.u16(img.header_lbn(chain[i]), vb::FH_SEGMENT), i);
            EXPECT_EQ(img.pointers_in(chain[i]), f.pointers[i]);
        }
        const auto r = odscp({"-is", "[d]"s + f.host});
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(r.out == patterned(f.blocks * 512 - 7)) << r.out.size() << " bytes";
    }
}

// A manifest that cannot be followed: each problem named by manifest:line, and nothing
// written, the old image left as it was.
TEST(mkvolume, refuses_a_manifest_it_cannot_follow_and_writes_nothing)
{
    const struct {
        const char* line;
        const char* reason; // after "manifest:2: "
    } cases[] = {
        {"OK.TXT colour=red", "unknown setting 'colour'"},
        {"OK.TXT format", "'format' is not key=value"},
        {"OK.TXT format=indexed", "format 'indexed' is none of undefined, fixed"},
        {"OK.TXT carriage=lf", "carriage 'lf' is none of cr, fortran, print, none"},
        {"OK.TXT size=80", "size= applies to format=fixed only"},
        {"OK.TXT format=fixed size=0", "size '0' is not a record size from 1 to 32767"},
        {"OK.TXT format=vfc vfc=256", "vfc '256' is not a control size from 1 to 255"},
        {"OK.TXT vfc=2", "vfc= applies to format=vfc only"},
        {"OK.TXT owner=[8,1]", "owner '[8,1]' is not [group,member] in octal"},
        {"OK.TXT owner=100,3", "owner '100,3' is not [group,member]"},
        {"OK.TXT protection=(RWED,RWED,RE)", "protection '(RWED,RWED,RE)' is not"},
        {"OK.TXT protection=(RWXD,,,)", "protection '(RWXD,,,)' is not"},
        {"OK.TXT extents=0", "extents '0' is not a number from 1 to 10000"},
        {"OK.TXT extents=2 headers=3", "headers=3 needs at least as many extents"},
        {"OK.TXT extents=77 headers=2", "extents=77 do not fit in 2 headers of 38"},
        {"/abs/OK.TXT", "'/abs/OK.TXT' is not a path below the source directory"},
        {"OK.TXT\nOK.TXT format=stmlf", "OK.TXT is named already, on line 2"},
        {"NONE.TXT format=stmlf", "NONE.TXT: no such file or directory below the source"},
        {"OK.TXT format=fixed size=3 carriage=cr", "OK.TXT: line 1 holds 2 bytes, not 3"},
        {"OK.TXT format=fixed size=3", "OK.TXT: an odd size= needs carriage control"},
        {"OK.TXT format=fixed carriage=print", "OK.TXT: print-file carriage control needs "
                                               "format=vfc"},
        {"OK.TXT format=vfc vfc=1 carriage=print", "OK.TXT: print-file carriage control needs "
                                                   "vfc=2 or more"},
        {"OK.TXT format=undefined carriage=cr", "OK.TXT: format=undefined takes no carriage"},
        {"OK.TXT format=stream carriage=fortran", "OK.TXT: stream formats take carriage=cr"},
        {"NOEOL.TXT format=stmlf", "NOEOL.TXT: stream formats need a file that is empty or ends"},
        {"NOEOL.TXT format=variable", "NOEOL.TXT: records need a file that is empty or ends"},
        {"FF.TXT format=stream", "FF.TXT: format=stream ends a record at a form feed"},
        {"CR.TXT format=stmcr", "CR.TXT: format=stmcr ends a record at a carriage return"},
        {"SUB format=stmlf", "SUB: a directory takes owner= and protection= only"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        host_tree host;
        host.put("OK.TXT", "ab\n");
        host.put("NOEOL.TXT", "no end");
        host.put("FF.TXT", "a\fb\n");
        host.put("CR.TXT", "a\rb\n");
        host.put("SUB/");
        const std::string manifest = (host.images() / "manifest").string();
        std::ofstream(manifest) << "# first line\n" << c.line << "\n";
        std::ofstream(host.image(), std::ios::binary) << "what was there";
        const mkvolume_result r = host.run({"-m", manifest, "TREE", "IMAGE"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        const std::size_t line = std::string(c.line).find('\n') == std::string::npos ? 2 : 3;
        EXPECT_NE(
            r.err.find("mkvolume: " + manifest + ":" + std::to_string(line) + ": " + c.reason),
            std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("mkvolume: nothing written to " + host.image() + "\n"),
                  std::string::npos);
        EXPECT_EQ(read_file(host.image()), "what was there");
        EXPECT_EQ(names_in(host.images()), (std::set<std::string>{"manifest", "volume.img"}));
    }

    host_tree host;
    host.put("OK.TXT");
    const std::string missing = (host.images() / "none").string();
    const mkvolume_result r = host.run({"-m", missing, "TREE", "IMAGE"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("mkvolume: " + missing + ": cannot read the manifest: ", 0), 0u) << r.err;
    EXPECT_TRUE(names_in(host.images()).empty());
}

TEST(mkvolume, owner_and_protection_options)
{
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"-o", "[1,2,3]", "TREE", "IMAGE"},
         2,
         "mkvolume: owner '[1,2,3]' is not [group,member] in octal, each up to 177777\n"},
        {{"-o", "[200000,1]", "TREE", "IMAGE"},
         2,
         "mkvolume: owner '[200000,1]' is not [group,member] in octal, each up to 177777\n"},
        {{"-p", "RWED", "TREE", "IMAGE"},
         2,
         "mkvolume: protection 'RWED' is not (system,owner,group,world) of R W E D\n"},
        {{"-p", "(RR,,,)", "TREE", "IMAGE"},
         2,
         "mkvolume: protection '(RR,,,)' is not (system,owner,group,world) of R W E D\n"},
        {{"TREE", "IMAGE", "-o"}, 2, "mkvolume: needs a source directory and an image file\n"},
        {{"-o"}, 2, "mkvolume: option -o needs an owner [group,member]\n"},
        {{"-p"}, 2, "mkvolume: option -p needs a protection (system,owner,group,world)\n"},
        {{"-m"}, 2, "mkvolume: option -m needs a manifest file\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        host_tree host;
        host.put("A.TXT");
        const mkvolume_result r = host.run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.message + USAGE);
        EXPECT_TRUE(names_in(host.images()).empty());
    }

    // -o and -p reach every file and directory; the manifest overrides them per entry.
    host_tree host;
    host.put("D/A.TXT");
    host.put("D/B.TXT");
    const std::string manifest = (host.images() / "manifest").string();
    std::ofstream(manifest) << "D/B.TXT owner=[377,177777] protection=(,,,)\n"
                            << "D/ protection=(rwed,rwed,rwed,r)\n";
    ASSERT_EQ(
        host.run({"-o", "[17,4]", "-p", "(RWE,RWED,R,)", "-m", manifest, "TREE", "IMAGE"}).status,
        0);
    const image_reader img{read_file(host.image())};
    const struct {
        const char* name;
        std::uint16_t group, member, protection;
    } want[] = {
        {"D.DIR;1", 017, 4, 0xE000},
        {"A.TXT;1", 017, 4, 0xFE08},
        {"B.TXT;1", 0377, 0xFFFF, 0xFFFF},
    };
    for (const auto& w : want) {
        SCOPED_TRACE(w.name);
        const std::uint64_t h = img.header_lbn(img.file_named(w.name));
        EXPECT_EQ(img.u16(h, vb::FH_OWNER_GROUP), w.group);
        EXPECT_EQ(img.u16(h, vb::FH_OWNER_MEMBER), w.member);
        EXPECT_EQ(img.u16(h, vb::FH_PROTECTION), w.protection);
    }
}
