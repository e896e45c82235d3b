// The installed tree (odscp, the lsods link, the manual pages) in a scratch
// DESTDIR, and the manual page: it renders cleanly and documents what odscp says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "tests/process_support.hpp"

namespace {

namespace fs = std::filesystem;

using run_result = process::result;
using process::run;

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool have_program(const char* name)
{
    return run({name, "--version"}).status != 127;
}

const fs::path source_dir = ODSCP_SOURCE_DIR;
const fs::path manual_page = source_dir / "man/odscp.1";

// One file written under the private /dev that the namespace recipe of the
// manual page makes: a volume whose MFD lists README.TXT;3 and README.TXT;1.
void write_small_volume(const fs::path& path)
{
    std::vector<unsigned char> image(16 * 512, 0);
    auto put16 = [&](std::size_t lbn, std::size_t off, unsigned v) {
        image[lbn * 512 + off] = static_cast<unsigned char>(v & 0xFF);
        image[lbn * 512 + off + 1] = static_cast<unsigned char>(v >> 8);
    };
    // Home block: the index file bitmap at VBN 2, LBN 4, one block long, so the
    // index file header lies at LBN 5 and the MFD header at LBN 8.
    put16(1, 22, 2);
    put16(1, 24, 4);
    put16(1, 32, 1);
    // MFD header: map at word 50, two map words, end of file in block 2 at byte 0,
    // world read allowed; one format-1 pointer maps VBN 1 to LBN 10.
    image[8 * 512 + 1] = 50;
    image[8 * 512 + 58] = 2;
    put16(8, 30, 2);
    put16(8, 100, 0x4000);
    put16(8, 102, 10);
    // Directory block: one record README.TXT with versions 3 and 1, then the end mark.
    const std::string name = "README.TXT";
    put16(10, 0, static_cast<unsigned>(4 + name.size() + 16));
    image[10 * 512 + 5] = static_cast<unsigned char>(name.size());
    std::copy(name.begin(), name.end(), image.begin() + 10 * 512 + 6);
    const std::size_t entries = 6 + name.size();
    put16(10, entries, 3);
    put16(10, entries + 2, 7);
    put16(10, entries + 8, 1);
    put16(10, entries + 10, 6);
    put16(10, entries + 16, 0xFFFF);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
}

// Every test here runs against one installation into a scratch DESTDIR with
// prefix /usr, made once per test process and removed afterwards.
class installed_tree : public testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/odscp-install-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        scratch_ = pattern;
        destdir_ = scratch_ / "root";
        install_ = run({ODSCP_CMAKE_COMMAND, "--install", ODSCP_BUILD_DIR, "--prefix", "/usr",
                        "--component", "odscp"},
                       {"DESTDIR=" + destdir_.string()});
    }

    static void TearDownTestSuite()
    {
        std::error_code ignored;
        fs::remove_all(scratch_, ignored);
    }

    void SetUp() override { ASSERT_EQ(install_.status, 0) << install_.out << install_.err; }

    static fs::path installed(const char* relative) { return destdir_ / "usr" / relative; }

    static inline fs::path scratch_;
    static inline fs::path destdir_;
    static inline run_result install_;
};

} // namespace

TEST_F(installed_tree, holds_the_program_the_lsods_link_and_both_pages)
{
    const fs::path odscp = installed("bin/odscp");
    const fs::path lsods = installed("bin/lsods");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(odscp)));
    EXPECT_EQ(::access(odscp.c_str(), X_OK), 0);
    ASSERT_TRUE(fs::is_symlink(lsods));
    EXPECT_EQ(fs::read_symlink(lsods), "odscp"); // relative, so the tree can move

    EXPECT_EQ(read_file(installed("share/man/man1/odscp.1")), read_file(manual_page));
    const fs::path lsods_page = installed("share/man/man1/lsods.1");
    if (fs::is_symlink(lsods_page))
        EXPECT_EQ(fs::read_symlink(lsods_page), "odscp.1");
    else
        EXPECT_NE(read_file(lsods_page).find("\n.so man1/odscp.1\n"), std::string::npos);
}

// mkvolume is installed beside odscp with its own page, and runs from there.
TEST_F(installed_tree, holds_mkvolume_and_its_page)
{
    const fs::path mkvolume = installed("bin/mkvolume");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(mkvolume)));
    EXPECT_EQ(::access(mkvolume.c_str(), X_OK), 0);
    EXPECT_EQ(read_file(installed("share/man/man1/mkvolume.1")),
              read_file(source_dir / "man/mkvolume.1"));
    const run_result r = run({mkvolume.string(), "-h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: mkvolume ", 0), 0u) << r.out;
}

// odstar is installed beside odscp with its own page, and runs from there.
TEST_F(installed_tree, holds_odstar_and_its_page)
{
    const fs::path odstar = installed("bin/odstar");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(odstar)));
    EXPECT_EQ(::access(odstar.c_str(), X_OK), 0);
    EXPECT_EQ(read_file(installed("share/man/man1/odstar.1")),
              read_file(source_dir / "man/odstar.1"));
    const run_result r = run({odstar.string(), "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: odstar ", 0), 0u) << r.out;
}

// odstar's page renders cleanly.
TEST(manual_page, odstar_page_renders_cleanly)
{
    if (!have_program("groff"))
        GTEST_SKIP() << "groff is not installed (Debian package groff-base)";
    for (const char* device : {"-z", "-Tutf8"}) {
        SCOPED_TRACE(device);
        const run_result r =
            run({"groff", "-man", "-ww", device, (source_dir / "man/odstar.1").string()});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(installed_tree, each_name_without_arguments_prints_its_usage_line)
{
    for (const char* name : {"bin/odscp", "bin/lsods"}) {
        const std::string path = installed(name).string();
        SCOPED_TRACE(path);
        const run_result r = run({path});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "usage: " + path + " [-t] [-i] [-b] [-d] [-f] [-s] vmsfile\n");
    }
}

TEST_F(installed_tree, lsods_reports_a_device_that_cannot_be_opened)
{
    const run_result r = run({installed("bin/lsods").string(), "nodev:"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "nodev: -- Can't open /dev/vmsnodev\n");
}

// The private-namespace recipe of the manual page, run as written: lsods lists
// the MFD of the attached image, odscp (copy mode) wants a file name instead.
TEST_F(installed_tree, lsods_lists_and_odscp_copies_through_the_namespace_recipe)
{
    if (!have_program("unshare") || run({"unshare", "-rm", "true"}).status != 0)
        GTEST_SKIP() << "unshare -rm cannot make a user and mount namespace here";
    const fs::path image = scratch_ / "disk.img";
    write_small_volume(image);
    // the private /dev holds /dev/null, so that a 2>/dev/null inside discards
    const char* script =
        "d=$(mktemp -d) && mount -t tmpfs tmpfs \"$d\" && "
        "for n in null tty; do [ -e /dev/$n ] || continue; "
        "touch \"$d/$n\" && mount --bind /dev/$n \"$d/$n\" || exit; done && "
        "mount --move \"$d\" /dev && rmdir \"$d\" && ln -s \"$0\" /dev/vmsusers && "
        "\"$1\" users: && \"$2\" users: && \"$2\" nodev: 2>/dev/null && test -c /dev/null";
    const run_result r = run({"unshare", "-rm", "sh", "-c", script, image.string(),
                              installed("bin/lsods").string(), installed("bin/odscp").string()},
                             {}, scratch_.string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "README.TXT;3\nREADME.TXT;1\n");
    EXPECT_EQ(r.err, "users: -- Filename missing\n");
}

TEST_F(installed_tree, lsods_page_renders_through_its_so_request)
{
    if (!have_program("groff"))
        GTEST_SKIP() << "groff is not installed (Debian package groff-base)";
    const run_result r = run({"groff", "-man", "-ww", "-Tutf8", "-P-cbou", "man1/lsods.1"}, {},
                             installed("share/man").string());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("lsods"), std::string::npos);
    EXPECT_NE(r.out.find("DIAGNOSTICS"), std::string::npos);
}

TEST(manual_page, lsods_page_renders_from_the_source_tree)
{
    if (!have_program("groff"))
        GTEST_SKIP() << "groff is not installed (Debian package groff-base)";
    // as "man -l man/lsods.1" reads it, from the top of the tree
    const run_result r =
        run({"groff", "-man", "-ww", "-Tutf8", "-P-cbou", "man/lsods.1"}, {}, source_dir.string());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("lsods"), std::string::npos);
    EXPECT_NE(r.out.find("DIAGNOSTICS"), std::string::npos);
}

TEST(manual_page, renders_without_warnings)
{
    if (!have_program("groff"))
        GTEST_SKIP() << "groff is not installed (Debian package groff-base)";
    const std::vector<std::vector<std::string>> commands = {
        {"groff", "-man", "-ww", "-z", manual_page.string()},
        {"groff", "-man", "-ww", "-Tutf8", manual_page.string()},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[3]);
        const run_result r = run(command);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
    }
}

// mkvolume's page renders cleanly, from the source tree too, and gives every option
// letter of the program an OPTIONS entry.
TEST(manual_page, mkvolume_page_renders_and_documents_every_option)
{
    const fs::path page = source_dir / "man/mkvolume.1";
    if (!have_program("groff"))
        GTEST_SKIP() << "groff is not installed (Debian package groff-base)";
    for (const char* device : {"-z", "-Tutf8"}) {
        SCOPED_TRACE(device);
        const run_result r = run({"groff", "-man", "-ww", device, page.string()});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
    }
    const std::string main = read_file(source_dir / "tools/mkvolume/main.cpp");
    static const std::regex letter_case(R"(case '(.)':)");
    std::set<char> letters;
    for (std::sregex_iterator it(main.begin(), main.end(), letter_case), end; it != end; ++it)
        letters.insert((*it)[1].str()[0]);
    ASSERT_GE(letters.size(), 6u) << "the scan of the option letters found too few";
    std::istringstream text(read_file(page));
    std::string tags;
    bool in_options = false;
    bool tag_next = false;
    for (std::string line; std::getline(text, line);) {
        if (line.rfind(".SH", 0) == 0)
            in_options = line == ".SH OPTIONS";
        else if (in_options && tag_next)
            tags += line + "\n";
        tag_next = in_options && line.rfind(".TP", 0) == 0;
    }
    for (const char c : letters) {
        SCOPED_TRACE(std::string("-") + c);
        EXPECT_NE(tags.find(std::string("\\-") + c), std::string::npos) << "no OPTIONS entry";
    }
}

namespace {

// The words a man(7) macro line shows: quoted or blank-separated arguments,
// run together for the font-alternating macros (.BI, .BR, ...), with spaces
// for .B and .I.
std::string macro_text(const std::string& line)
{
    std::istringstream in(line);
    std::string macro;
    in >> macro;
    std::vector<std::string> args;
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static const std::regex arg(R"re("([^"]*)"|(\S+))re");
    for (std::sregex_iterator it(rest.begin(), rest.end(), arg), end; it != end; ++it)
        args.push_back((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
    const std::string glue = macro.size() == 2 ? " " : "";
    std::string text;
    for (std::size_t i = 0; i < args.size(); ++i)
        text += (i ? glue : "") + args[i];
    return text;
}

// A source line of the page as it reads: font changes and zero-width escapes
// removed, the character escapes this page uses made plain.
std::string plain_line(const std::string& line)
{
    static const std::regex fonts(R"(\\f[BIRP])");
    static const std::regex macro(R"(^\.(B|I|BI|IB|BR|RB|IR|RI)\s)");
    std::string text = std::regex_search(line, macro) ? macro_text(line) : line;
    text = std::regex_replace(text, fonts, "");
    const std::pair<const char*, const char*> escapes[] = {
        {R"(\(aq)", "'"}, {R"(\-)", "-"}, {R"(\&)", ""}, {R"(\|)", ""}, {R"(\e)", "\\"},
    };
    for (const auto& [from, to] : escapes) {
        for (std::size_t at; (at = text.find(from)) != std::string::npos;)
            text.replace(at, std::strlen(from), to);
    }
    return text;
}

std::vector<std::string> plain_page_lines()
{
    std::istringstream page(read_file(manual_page));
    std::vector<std::string> lines;
    for (std::string line; std::getline(page, line);)
        lines.push_back(plain_line(line));
    return lines;
}

// The format texts the program hands to report() and its helpers, or writes
// to standard error itself.
std::vector<std::string> program_messages()
{
    static const std::regex call(
        R"re((?:\breport|\breport_upto|\bunmount|fprintf\(\s*stderr\s*,)\s*\(?\s*"((?:[^"\\]|\\.)*)")re");
    std::vector<std::string> messages;
    for (const char* dir : {"frontend", "ods2", "output"}) {
        for (const auto& entry : fs::directory_iterator(source_dir / dir)) {
            if (entry.path().extension() != ".cpp")
                continue;
            const std::string code = read_file(entry.path());
            for (std::sregex_iterator it(code.begin(), code.end(), call), end; it != end; ++it)
                messages.push_back(std::regex_replace((*it)[1].str(), std::regex(R"(\\n)"), ""));
        }
    }
    return messages;
}

// True when one line holds the literal pieces of format (split at its %
// conversions) in order.
bool line_shows(const std::string& line, const std::string& format)
{
    static const std::regex conversion("%[a-z]");
    std::size_t at = 0;
    for (std::sregex_token_iterator it(format.begin(), format.end(), conversion, -1), end;
         it != end; ++it) {
        at = line.find(it->str(), at);
        if (at == std::string::npos)
            return false;
        at += it->length();
    }
    return true;
}

} // namespace

TEST(manual_page, documents_every_message_the_program_prints)
{
    const std::vector<std::string> messages = program_messages();
    ASSERT_GE(messages.size(), 20u) << "the scan of the sources found too few messages";
    const std::vector<std::string> lines = plain_page_lines();
    for (const std::string& message : messages) {
        SCOPED_TRACE(message);
        bool shown = false;
        for (const std::string& line : lines)
            shown = shown || line_shows(line, message);
        EXPECT_TRUE(shown) << "not in the manual page";
    }
}

TEST(manual_page, documents_every_option_letter)
{
    const std::string cli = read_file(source_dir / "frontend/cli.cpp");
    static const std::regex letter_case(R"(case '(.)':)");
    std::string letters;
    for (std::sregex_iterator it(cli.begin(), cli.end(), letter_case), end; it != end; ++it)
        letters += (*it)[1].str();
    ASSERT_GE(letters.size(), 10u) << "the scan of the option letters found too few";

    // The tags of the OPTIONS section: the line after each .TP.
    std::istringstream page(read_file(manual_page));
    std::string tags;
    bool in_options = false;
    bool tag_next = false;
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".SH", 0) == 0)
            in_options = line == ".SH OPTIONS";
        else if (in_options && tag_next)
            tags += plain_line(line) + "\n";
        tag_next = in_options && line.rfind(".TP", 0) == 0;
    }
    for (const char c : letters) {
        SCOPED_TRACE(std::string("-") + c);
        EXPECT_NE(tags.find(std::string("-") + c), std::string::npos) << "no OPTIONS entry";
    }
}
