// Directories through the program: the listing, version selection, the ends of
// a directory walk, and the path walk with its messages.
#include <gtest/gtest.h>

#include "tests/volume_e2e_support.hpp"

namespace {

class directories : public volume_e2e {};

// [A.B.C] with a file at each level, [NINECHARS], X.DAT;12 and ;3 in [A].
vb::built_volume nested()
{
    vb::volume_builder b;
    const auto a = b.add_directory(vb::MFD_FILE_NUMBER, "A");
    const auto ab = b.add_directory(a, "B");
    const auto abc = b.add_directory(ab, "C");
    b.add_file(a, "X.DAT", {.data = bytes_of("three"), .version = 3});
    b.add_file(a, "X.DAT", {.data = bytes_of("twelve"), .version = 12});
    b.add_file(ab, "B.TXT", vb::text_file({"in b"}));
    b.add_file(abc, "C.TXT", vb::text_file({"in c"}));
    const auto nine = b.add_directory(vb::MFD_FILE_NUMBER, "ABCDEFGHI");
    b.add_file(nine, "N.TXT", vb::text_file({"nine"}));
    b.add_directory(vb::MFD_FILE_NUMBER, "TWO", {.version = 2});
    return b.build();
}

} // namespace

TEST_F(directories, listing_is_one_line_per_version_in_directory_order)
{
    const auto r = run(nested(), {"-l", "DKA0:[a]", "DKA0:"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "B.DIR;1\nX.DAT;12\nX.DAT;3\n"
                     "000000.DIR;1\nA.DIR;1\nABCDEFGHI.DIR;1\nBADBLK.SYS;1\nBITMAP.SYS;1\n"
                     "CORIMG.SYS;1\nINDEXF.SYS;1\nTWO.DIR;2\n");
}

TEST_F(directories, program_name_starting_with_l_lists)
{
    for (const char* program : {"lsods", "/x/ldir/lsods", "l"}) {
        SCOPED_TRACE(program);
        const auto r = run(nested(), {"[a]", "-c", "-si", "x.dat"}, {.program_name = program});
        EXPECT_EQ(r.out, "B.DIR;1\nX.DAT;12\nX.DAT;3\ntwelve");
    }
    // a directory beginning with l does not count
    const auto r = run(nested(), {"-si", "[a]x.dat;3"}, {.program_name = "ldir/odscp"});
    EXPECT_EQ(r.out, "three");
}

TEST_F(directories, path_walk_reports_the_path_up_to_the_failing_level)
{
    struct {
        const char* spec;
        const char* message;
    } cases[] = {
        {"[]x.y", "Invalid directory ([])"},
        {"[a..b]x.y", "Invalid directory ([A..B])"},
        {"[a.]x.y", "Invalid directory ([A.])"},
        {"[.a]x.y", "Invalid directory ([.A])"},
        {"[nope..b]x.y", "Directory [NOPE] does not exist"}, // found first, checked after
        {"[a*.b]x.y", "Invalid directory ([A*.B])"},
        {"[a.b c]x.y", "Invalid directory ([A.B C])"},
        {"[abcdefghij]x.y", "Invalid directory ([ABCDEFGHIJ])"},
        {"[a.nope.c]x.y", "Directory [A.NOPE] does not exist"},
        {"[a.b.nope]x.y", "Directory [A.B.NOPE] does not exist"},
        {"[two]x.y", "Directory [TWO] does not exist"}, // every level is version 1
        {"[a.x]x.y", "Directory [A.X] does not exist"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spec);
        const auto r = run(nested(), {"-s", c.spec});
        EXPECT_EQ(r.err, std::string(c.spec) + " -- " + c.message + "\n");
        EXPECT_EQ(r.out, "");
    }
    const auto ok = run(nested(), {"-s", "[abcdefghi]n.txt", "[a.b.c]c.txt", "DKA0:[a.b]b.txt"});
    EXPECT_EQ(ok.err, "");
    EXPECT_EQ(ok.out, "nine\nin c\nin b\n");
}

TEST_F(directories, a_failed_walk_keeps_the_current_directory)
{
    const auto r = run(nested(), {"-s", "[a.b]b.txt", "[a.nope]x.y", "b.txt", "[a.b.c]", "b.txt"});
    EXPECT_EQ(r.err, "[a.nope]x.y -- Directory [A.NOPE] does not exist\n"
                     "[a.b.c] -- Filename missing\n"
                     "b.txt -- File does not exist\n");
    EXPECT_EQ(r.out, "in b\nin b\n");
}

TEST_F(directories, version_selection)
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    for (std::uint16_t v : {7, 5, 2})
        b.add_file(d, "X.DAT", {.data = bytes_of("v" + std::to_string(v)), .version = v});
    const auto vol = b.build();
    struct {
        const char* version;
        const char* out;
    } cases[] = {{"", "v7"}, {";0", "v7"}, {";7", "v7"}, {";5", "v5"},    {".2", "v2"},
                 {";6", ""}, {";8", ""},   {";1", ""},   {";65541", "v5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        const std::string spec = std::string("[d]x.dat") + c.version;
        const auto r = run(vol, {"-si", spec});
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, *c.out ? "" : spec + " -- File does not exist\n");
    }
}

TEST_F(directories, only_the_first_record_of_a_name_is_searched)
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D", {.max_entries_per_record = 2});
    for (std::uint16_t v : {1, 2, 3, 4})
        b.add_file(d, "X.DAT", {.data = bytes_of("v" + std::to_string(v)), .version = v});
    const auto r = run(b.build(), {"-l", "[d]", "-c", "-si", "x.dat;4", "x.dat;3", "x.dat;2"});
    // the records hold 4, 3 and 2, 1: the listing shows both, the search only the first
    EXPECT_EQ(r.out, "X.DAT;4\nX.DAT;3\nX.DAT;2\nX.DAT;1\nv4v3");
    EXPECT_EQ(r.err, "x.dat;2 -- File does not exist\n");
}

TEST_F(directories, names_match_in_length_and_bytes)
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(d, "A.BC", {.data = bytes_of("abc")});
    b.add_entry(d, "a.b", {.file_number = 6});
    const auto r = run(b.build(), {"-si", "[d]a.b", "a.bc", "A.Bc"});
    EXPECT_EQ(r.err, "[d]a.b -- File does not exist\n");
    EXPECT_EQ(r.out, "abcabc");
}

namespace {

// [D] with enough names to fill two blocks: F000.TXT to F039.TXT, each one
// record of one entry, all for the same file.
struct two_block_directory {
    vb::built_volume volume;
    std::uint32_t dir = 0;
    std::string first_block_names, all_names;
};

two_block_directory two_blocks()
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    const auto f = b.add_file(d, "F000.TXT", vb::text_file({"f"}));
    for (int i = 1; i < 40; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%03d.TXT", i);
        b.add_entry(d, name, {.file_number = f});
    }
    two_block_directory t{b.build(), d, "", ""};
    // each record is 2 + 4 + 8 + 8 = 22 bytes: 23 fit in a block
    for (int i = 0; i < 40; ++i) {
        char line[24];
        std::snprintf(line, sizeof line, "F%03d.TXT;1\n", i);
        t.all_names += line;
        if (i < 23)
            t.first_block_names += line;
    }
    return t;
}

} // namespace

TEST_F(directories, where_a_directory_walk_ends)
{
    two_block_directory t = two_blocks();
    ASSERT_EQ(t.volume.file(t.dir).used_blocks, 2u);
    const std::uint64_t block1 = t.volume.lbn_of_vbn(t.dir, 1);
    const std::uint64_t block2 = t.volume.lbn_of_vbn(t.dir, 2);
    auto listing = [&](vb::built_volume v) { return run(v, {"-l", "[d]"}).out; };

    EXPECT_EQ(listing(t.volume), t.all_names);
    {
        SCOPED_TRACE("end-of-file block 2 with ffbyte 0: block 2 is not used");
        vb::built_volume v = t.volume;
        v.set_header_efblk(t.dir, 2);
        EXPECT_EQ(listing(v), t.first_block_names);
    }
    {
        SCOPED_TRACE("ffbyte above 512 counts as the whole block");
        vb::built_volume v = t.volume;
        v.set_header_efblk(t.dir, 2);
        v.set_header_u16(t.dir, 32, 0xFFFF);
        EXPECT_EQ(listing(v), t.all_names);
    }
    {
        SCOPED_TRACE("end-of-file block 0: every mapped block is used whole");
        vb::built_volume v = t.volume;
        v.set_header_efblk(t.dir, 0);
        EXPECT_EQ(listing(v), t.all_names);
    }
    {
        SCOPED_TRACE("0xFFFF as the first word of block 2 ends the walk");
        vb::built_volume v = t.volume;
        v.image.set_u16(block2, 0, 0xFFFF);
        EXPECT_EQ(listing(v), t.first_block_names);
    }
    {
        SCOPED_TRACE("0xFFFF after 3 records of block 1 goes on with block 2");
        vb::built_volume v = t.volume;
        v.image.set_u16(block1, 3 * 22, 0xFFFF);
        EXPECT_EQ(listing(v), t.all_names.substr(0, 3 * 11) + t.all_names.substr(23 * 11));
    }
    {
        // the limit holds for block 2 as well: its first two records are used
        SCOPED_TRACE("a record whose name runs past ffbyte ends the records of its block");
        vb::built_volume v = t.volume;
        v.set_header_efblk(t.dir, 1);
        v.set_header_u16(t.dir, 32, 2 * 22 + 10);
        EXPECT_EQ(listing(v), t.all_names.substr(0, 2 * 11) + t.all_names.substr(23 * 11, 2 * 11));
    }
}

TEST_F(directories, damaged_records_stay_inside_the_block)
{
    two_block_directory t = two_blocks();
    const std::uint64_t block1 = t.volume.lbn_of_vbn(t.dir, 1);
    struct {
        const char* what;
        std::size_t offset;
        std::uint16_t value;
        bool word;
        std::string want;
    } cases[] = {
        // record 22 (the last of block 1) claims to run far past the block
        {"size past the block", 22 * 22, 0xFFF0, true, t.all_names},
        // a name of 255 bytes reaches past its record, which then has no entries
        {"name_count 255", 5 + 5 * 22, 255, false,
         t.all_names.substr(0, 5 * 11) + t.all_names.substr(6 * 11)},
        // the first record's size makes the next start at byte 511 (its "entries"
        // are the bytes of the records it swallowed)
        {"next record at byte 511", 0, 509, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vb::built_volume v = t.volume;
        if (c.word)
            v.image.set_u16(block1, c.offset, c.value);
        else
            v.image.set_u8(block1, c.offset, static_cast<std::uint8_t>(c.value));
        const auto r = run(v, {"-l", "[d]"});
        EXPECT_EQ(r.err, "");
        if (!c.want.empty()) {
            EXPECT_EQ(r.out, c.want);
        }
        // whatever block 1 holds, the walk goes on with block 2
        const std::string block2 = t.all_names.substr(23 * 11);
        EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), block2.size())), block2);
    }
}

TEST_F(directories, file_numbers_carry_their_high_byte)
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(d, "LOW.DAT", {.data = bytes_of("low"), .file_number = 7});
    b.add_file(d, "HIGH.DAT", {.data = bytes_of("high"), .file_number = 0x10007});
    const auto r = run(b.build(), {"-si", "[d]high.dat", "low.dat"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "highlow");
}

TEST_F(directories, unreadable_directory_header)
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_entry(d, "GONE.DIR", {.file_number = 60000}); // past the index file's map
    b.add_entry(vb::MFD_FILE_NUMBER, "GONE.DIR", {.file_number = 60000});
    const auto r = run(b.build(), {"-l", "[gone]", "[d.gone]"});
    EXPECT_EQ(r.err, "[gone] -- Can't get file header for directory [GONE]\n"
                     "[d.gone] -- Can't get file header for directory [D.GONE]\n");
}
