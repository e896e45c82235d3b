// Copies through the program: the four modes and their byte counts, host file
// names, writability, text decoding across blocks and write errors.
#include <gtest/gtest.h>

#include "tests/volume_e2e_support.hpp"

namespace {

class copying : public volume_e2e {};

using namespace std::string_literals;

// [D]NAME with the given bytes and, when set, efblk and ffbyte.
vb::built_volume one_file(const std::string& name, const std::string& bytes,
                          std::optional<std::uint32_t> efblk = {},
                          std::optional<std::uint16_t> ffbyte = {},
                          std::optional<std::uint32_t> allocated = {})
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(
        d, name,
        {.data = bytes_of(bytes), .allocated_blocks = allocated, .efblk = efblk, .ffbyte = ffbyte});
    return b.build();
}

} // namespace

TEST_F(copying, image_mode_copies_up_to_the_end_of_file)
{
    const std::string data = patterned(3 * 512);
    struct {
        const char* what;
        std::uint32_t efblk;
        std::uint16_t ffbyte;
        std::size_t bytes; // (efblk - 1) * 512 + ffbyte
    } cases[] = {
        {"efblk 1, ffbyte 0: empty", 1, 0, 0},
        {"efblk 2, ffbyte 0", 2, 0, 512},
        {"efblk 2, ffbyte 100", 2, 100, 612},
        {"efblk 3, ffbyte 512: whole blocks", 3, 512, 1536},
        {"ffbyte above 512 counts as 512", 3, 600, 1536},
        {"efblk 0: nothing", 0, 300, 0},
        {"end of file past the map: the map ends the copy", 9, 10, 1536},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = run(one_file("F.DAT", data, c.efblk, c.ffbyte), {"-i", "[d]f.dat"});
        EXPECT_EQ(r.err, "");
        ASSERT_EQ(r.files.count("f.dat"), 1u);
        EXPECT_EQ(r.files.at("f.dat").contents, data.substr(0, c.bytes));
    }
}

TEST_F(copying, block_mode_copies_every_mapped_block)
{
    const std::string data = patterned(700);
    for (std::uint32_t efblk : {0u, 1u, 2u}) {
        SCOPED_TRACE(efblk);
        // 4 blocks allocated, 2 holding data: all 4 are copied, whatever efblk says
        const auto r = run(one_file("F.DAT", data, efblk, 0, 4), {"-Is", "[d]f.dat"});
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, data + std::string(4 * 512 - 700, '\0'));
    }
}

TEST_F(copying, a_file_without_blocks_is_empty_in_every_mode)
{
    vb::built_volume v = one_file("F.DAT", "abc");
    // no map words in use; the directory is the first user file, F.DAT the next
    v.set_header_u8(vb::FIRST_USER_FILE_NUMBER + 1, vb::FH_MAP_IN_USE, 0);
    for (const char* mode : {"-t", "-i", "-I", "-T"}) {
        SCOPED_TRACE(mode);
        const auto r = run(v, {mode, "[d]f.dat"});
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.files.at("f.dat").contents, "");
    }
}

TEST_F(copying, host_file_is_named_as_typed)
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(d, "NOTES.TXT", {.data = bytes_of("one"), .version = 1});
    b.add_file(d, "NOTES.TXT", {.data = bytes_of("two"), .version = 2});
    b.add_file(d, "README.", {.data = bytes_of("readme")});
    b.add_file(b.add_directory(vb::MFD_FILE_NUMBER, "E"), "NOTES.TXT", {.data = bytes_of("other dir")});
    const auto v = b.build();
    const auto r =
        run(v, {"-i", "[d]Notes.Txt;1", "readme", "README;", "[e]notes.txt", "[d]notes.txt;1"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.files.size(), 4u);
    EXPECT_EQ(r.files.at("Notes.Txt").contents, "one");
    EXPECT_EQ(r.files.at("readme.").contents, "readme");
    EXPECT_EQ(r.files.at("README.").contents, "readme");
    // the later copy to the same host file replaces the earlier one
    EXPECT_EQ(r.files.at("notes.txt").contents, "one");
    EXPECT_EQ(r.files.at("notes.txt").mode, 0644u);
}

TEST_F(copying, text_mode_decodes_records_across_blocks)
{
    // a length word in the last two bytes of block 1 whose record spans blocks
    // 2 to 4, then the longest record there is (odd, so padded)
    const std::string first(504, 'a');
    const std::string spanning(1300, 'b');
    const std::string longest(65535, 'c');
    const auto data = vb::encode_records({first, "xy", spanning, longest, "end"}, {.pad = 0xEE});
    ASSERT_EQ(data[510] | data[511] << 8, 1300);
    const auto v = one_file("T.TXT", std::string(data.begin(), data.end()));
    const auto r = run(v, {"-s", "[d]t.txt"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, first + "\nxy\n" + spanning + "\n" + longest + "\nend\n");
}

TEST_F(copying, control_bytes_are_dropped_after_T)
{
    const std::string stream = "\x03\x00"
                               "abc\xFF"
                               "\x00\x00"
                               "\x02\x00"
                               "de"
                               "\x01\x00"
                               "z\xEE"
                               "\x04\x00"
                               "\x01\x8Dok"s;
    const auto v = one_file("T.TXT", stream);
    // -T stays on through -t; -i in between copies the bytes as they are
    const auto r = run(v, {"-s", "[d]t.txt", "-T", "t.txt", "-i", "t.txt", "-t", "t.txt"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "abc\n\nde\nz\n\x01\x8Dok\n"s +
                         "c\n\n\n\n"
                         "ok\n"s +
                         stream + "c\n\n\n\nok\n");
}

TEST_F(copying, a_copy_cut_short_does_not_garble_the_next)
{
    // the record claims 2000 bytes but the end of file comes after 600
    const std::string cut = "\xD0\x07"s + std::string(598, 'x');
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(d, "CUT.TXT", {.data = bytes_of(cut)});
    b.add_file(d, "OK.TXT", vb::text_file({"fine", "lines"}));
    const auto r = run(b.build(), {"-s", "[d]cut.txt", "ok.txt"});
    EXPECT_EQ(r.out, std::string(598, 'x') + "fine\nlines\n");
}

TEST_F(copying, read_errors_stop_the_copy_and_keep_what_was_written)
{
    vb::built_volume v = one_file("F.DAT", patterned(3 * 512));
    const std::uint64_t second = v.lbn_of_vbn(7, 2);
    v.image.resize(second); // blocks 2 and 3 lie past the end of the device
    for (const char* mode : {"-i", "-I", "-t"}) {
        SCOPED_TRACE(mode);
        const auto r = run(v, {mode, "[d]f.dat", "[d]f.dat;1"});
        EXPECT_EQ(r.err, "[d]f.dat -- Read error\n[d]f.dat;1 -- Read error\n");
        if (std::string(mode) != "-t") {
            EXPECT_EQ(r.files.at("f.dat").contents, patterned(512));
        }
    }
}

TEST_F(copying, binary_mode_is_refused_before_anything_is_opened)
{
    const auto v = one_file("F.DAT", "bytes");
    const std::string existing = scratch.path("work");
    ASSERT_EQ(::mkdir(existing.c_str(), 0755), 0);
    scratch.write("work/f.dat", "keep me");
    const auto r = run(v, {"-b", "[d]f.dat", "-s", "f.dat", "-i", "f.dat"}, {.workdir = existing});
    EXPECT_EQ(
        r.err,
        "[d]f.dat -- Binary mode not yet supported\nf.dat -- Binary mode not yet supported\n");
    EXPECT_EQ(r.out, "bytes");
    EXPECT_EQ(r.files.at("f.dat").contents, "keep me");
}

TEST_F(copying, options_act_on_the_arguments_after_them)
{
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(d, "A.TXT", vb::text_file({"a"}));
    b.add_file(d, "B.TXT", vb::text_file({"b"}));
    const auto r =
        run(b.build(), {"[d]a.txt", "-s", "b.txt", "-d", "b.txt", "-l", "[d]", "-cf", "a.txt"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "b\nA.TXT;1\nB.TXT;1\n");
    EXPECT_EQ(r.files.at("a.txt").contents, "a\n");
    EXPECT_EQ(r.files.at("b.txt").contents, "b\n");
}

TEST_F(copying, write_errors_are_reported_once)
{
    // a small file fails only when the stream is flushed or closed, a large one
    // while it is written; either way each file specification reports it once
    vb::volume_builder b;
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    b.add_file(d, "SMALL.TXT", vb::text_file({"short"}));
    b.add_file(d, "LARGE.TXT", vb::text_file(std::vector<std::string>(3000, std::string(99, 'w'))));
    const auto v = b.build();
    for (const char* name : {"small.txt", "large.txt"}) {
        SCOPED_TRACE(name);
        const std::string spec = std::string("[d]") + name;
        const std::string once = spec + " -- write error\n";
        const auto full =
            run(v, {"-s", spec, "-i", spec, "-I", spec, "-l", "[d]"}, {.stdout_to_full = true});
        EXPECT_EQ(full.err, once + once + once + "[d] -- write error\n");
        EXPECT_EQ(full.exit_status, 0);
        const auto disk = run(v, {"-t", spec, "-i", spec, "-I", spec}, {.workdir_tmpfs_kib = 4});
        const bool small = std::string(name) == "small.txt";
        EXPECT_EQ(disk.err, small ? "" : once + once + once);
        EXPECT_EQ(disk.exit_status, 0);
    }
}

TEST_F(copying, fragmented_files_and_extension_headers)
{
    const std::string data = patterned(300 * 512 + 77);
    vb::volume_builder b({.header_slots = 400, .primary_header_slots = 20});
    const auto d = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    const auto f = b.add_file(d, "FRAG.DAT",
                              {.data = bytes_of(data),
                               .place = {.kind = vb::layout::fragmented,
                                         .fragments = 150,
                                         .placement_between = true,
                                         .max_map_words = 24}});
    // headers past the first 20 lie in the index file's second extent
    b.add_file(d, "HIGH.DAT", {.data = bytes_of("high"), .file_number = 390});
    const auto v = b.build();
    ASSERT_GT(v.header_chain(f).size(), 10u);
    const auto r = run(v, {"-si", "[d]frag.dat", "high.dat", "-I", "frag.dat"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, data + "high" + data + std::string(512 - 77, '\0'));
}
