// Damaged volumes: one row per kind of damage, each listed and copied in every
// mode under a time limit, with the messages it must give and no crash or hang.
#include <gtest/gtest.h>

#include <functional>

#include "tests/volume_e2e_support.hpp"

namespace {

class damaged_volume : public volume_e2e {};

// [D] with F.TXT: three text records, the middle one spanning into block 2.
struct base_volume {
    vb::built_volume v;
    std::uint32_t dir = 0, file = 0;
};

base_volume base()
{
    vb::volume_builder b;
    base_volume out;
    out.dir = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    out.file =
        b.add_file(out.dir, "F.TXT", vb::text_file({"first", std::string(700, 'm'), "last"}));
    b.add_file(out.dir, "G.TXT", vb::text_file({"g"}));
    out.v = b.build();
    return out;
}

const std::vector<std::string> SCRIPT = {"-l", "DKA0:[d]", "-cs", "f.txt", "-T", "f.txt",
                                         "-i", "f.txt",    "-I",  "f.txt", "-b", "f.txt"};

std::string each_copy(const std::string& message)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += "f.txt -- " + message + "\n";
    return s;
}

const std::string BINARY = "f.txt -- Binary mode not yet supported\n";

} // namespace

TEST_F(damaged_volume, every_kind_of_damage_gives_its_own_messages)
{
    struct row {
        const char* what;
        std::function<void(base_volume&)> damage;
        std::string err;
        std::function<void(const std::string&)> check_out = {};
    };
    const std::string no_device = "DKA0:[d] -- ";
    const std::string five_no_device =
        each_copy("No device specified") + "f.txt -- No device specified\n";
    const row rows[] = {
        {"sound", [](base_volume&) {}, BINARY,
         [](const std::string& out) { EXPECT_EQ(out.substr(0, 22), "F.TXT;1\nG.TXT;1\nfirst\n"); }},
        {"short device", [](base_volume& b) { b.v.image.resize(1); },
         no_device + "Read error\n" + no_device + "Can't read homeblock on /dev/vmsDKA0\n" +
             five_no_device},
        {"home block pointing at LBN 0",
         [](base_volume& b) {
             b.v.image.set_u32(1, vb::HB_IBMAP_LBN, 0);
             b.v.image.set_u16(1, vb::HB_IBMAP_SIZE, 0);
         },
         no_device + "Bad block in file\n" + no_device +
             "Can't read index file header on /dev/vmsDKA0\n" + five_no_device},
        {"index file header unreadable",
         [](base_volume& b) { b.v.image.set_u32(1, vb::HB_IBMAP_LBN, 0x7FFFFFF0); },
         no_device + "Read error\n" + no_device + "Can't read index file header on /dev/vmsDKA0\n" +
             five_no_device},
        {"MFD header unreadable",
         [](base_volume& b) { b.v.image.resize(b.v.header_lbn(vb::MFD_FILE_NUMBER)); },
         no_device + "Read error\n" + no_device + "Can't read mfd header on /dev/vmsDKA0\n" +
             five_no_device},
        {"file map past the header",
         [](base_volume& b) { b.v.set_header_u8(b.file, vb::FH_MAP_OFFSET, 254); }, BINARY,
         [](const std::string& out) { EXPECT_EQ(out, "F.TXT;1\nG.TXT;1\n"); }},
        {"pointer to LBN 0",
         [](base_volume& b) {
             const auto h = b.v.header(b.file);
             const std::size_t map = std::size_t{h[vb::FH_MAP_OFFSET]} * 2;
             b.v.set_header_u16(b.file, map, 0x4001); // format 1, 2 blocks
             b.v.set_header_u16(b.file, map + 2, 0);
         },
         each_copy("Bad block in file") + BINARY},
        {"pointer past the device end",
         [](base_volume& b) { b.v.image.resize(b.v.lbn_of_vbn(b.file, 2)); },
         each_copy("Read error") + BINARY,
         [](const std::string& out) {
             // block 1 arrives whole in image and block mode before the error
             EXPECT_NE(out.find("first"), std::string::npos);
         }},
        {"extension chain that loops",
         [](base_volume& b) {
             b.v.set_header_u16(b.file, vb::FH_EXT_FILE_NUMBER, static_cast<std::uint16_t>(b.file));
         },
         BINARY,
         [](const std::string& out) {
             // listing 16 bytes, -t 712, -T 706, -i 716 (up to the end of file);
             // the header continues in itself, so its map ends where it
             // comes back: block mode gets its two blocks once
             EXPECT_EQ(out.size(), 16u + 712 + 706 + 716 + 2 * 512);
         }},
        {"directory continuing in itself, with no end-of-file block",
         [](base_volume& b) {
             b.v.set_header_u16(b.dir, vb::FH_EXT_FILE_NUMBER, static_cast<std::uint16_t>(b.dir));
             b.v.set_header_efblk(b.dir, 0);
         },
         BINARY,
         [](const std::string& out) {
             // the listing, and each lookup, reads the directory's blocks once
             EXPECT_EQ(out.substr(0, 22), "F.TXT;1\nG.TXT;1\nfirst\n");
             EXPECT_EQ(out.find("G.TXT;1", 9), std::string::npos);
         }},
        {"directory whose map names its block more often than the device has blocks",
         [](base_volume& b) {
             // 40 one-block pointers to its only block, on a device of 32 blocks
             const std::size_t map = std::size_t{b.v.header(b.dir)[vb::FH_MAP_OFFSET]} * 2;
             const auto lbn = static_cast<std::uint32_t>(b.v.lbn_of_vbn(b.dir, 1));
             ASSERT_EQ(b.v.image.device_blocks(), 32u);
             for (std::size_t i = 0; i < 40; ++i) {
                 b.v.set_header_u16(b.dir, map + 4 * i,
                                    static_cast<std::uint16_t>(0x4000 | (lbn >> 16) << 8));
                 b.v.set_header_u16(b.dir, map + 4 * i + 2, static_cast<std::uint16_t>(lbn));
             }
             b.v.set_header_u8(b.dir, vb::FH_MAP_IN_USE, 80);
             b.v.set_header_efblk(b.dir, 0);
         },
         BINARY,
         [](const std::string& out) {
             // the walk ends after as many blocks as the device holds
             std::size_t listed = 0;
             for (auto at = out.find("F.TXT;1\n"); at != std::string::npos;
                  at = out.find("F.TXT;1\n", at + 1))
                 ++listed;
             EXPECT_EQ(listed, 32u);
         }},
        {"directory record past the block",
         [](base_volume& b) { b.v.image.set_u16(b.v.lbn_of_vbn(b.dir, 1), 0, 0xFFF0); }, BINARY,
         [](const std::string& out) { EXPECT_EQ(out.substr(0, 8), "F.TXT;1\n"); }},
        {"name_count 255",
         [](base_volume& b) { b.v.image.set_u8(b.v.lbn_of_vbn(b.dir, 1), 5, 255); },
         "f.txt -- File does not exist\n" + each_copy("File does not exist")},
        {"ffbyte above 512",
         [](base_volume& b) { b.v.set_header_u16(b.file, vb::FH_FFBYTE, 0xF000); }, BINARY},
        {"0xFFFF mid-block", // where G.TXT's record starts
         [](base_volume& b) { b.v.image.set_u16(b.v.lbn_of_vbn(b.dir, 1), 20, 0xFFFF); }, BINARY,
         [](const std::string& out) { EXPECT_EQ(out.substr(0, 14), "F.TXT;1\nfirst\n"); }},
        {"efblk 0 with a large map", [](base_volume& b) { b.v.set_header_efblk(b.file, 0); },
         BINARY},
        {"a directory that is not a directory",
         [](base_volume& b) {
             const auto text = vb::encode_records({"not", "a", "directory", std::string(300, 'z')});
             b.v.image.write_block(b.v.lbn_of_vbn(b.dir, 1), text);
         },
         "f.txt -- File does not exist\n" + each_copy("File does not exist")},
        {"a text file that is not a record stream",
         [](base_volume& b) {
             vb::block noise{};
             for (std::size_t i = 0; i < noise.size(); ++i)
                 noise[i] = static_cast<std::uint8_t>(i * 37 + 11);
             b.v.image.write_block(b.v.lbn_of_vbn(b.file, 1), noise);
         },
         BINARY},
        {"a header of zeros", [](base_volume& b) { b.v.image.zero_block(b.v.header_lbn(b.file)); },
         BINARY, [](const std::string& out) { EXPECT_EQ(out, "F.TXT;1\nG.TXT;1\n"); }},
        {"an index file header of zeros",
         [](base_volume& b) { b.v.image.zero_block(b.v.header_lbn(vb::INDEX_FILE_NUMBER)); },
         "DKA0:[d] -- Can't get file header for directory [D]\n" +
             each_copy("No directory specified") + "f.txt -- No directory specified\n"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        base_volume b = base();
        r.damage(b);
        const auto result = run(b.v, SCRIPT, {.time_limit = std::chrono::seconds(20)});
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.term_signal, 0);
        EXPECT_EQ(result.err, r.err);
        if (r.check_out)
            r.check_out(result.out);
    }
}

TEST_F(damaged_volume, read_only_image_owned_by_another_user)
{
    base_volume b = base();
    const std::string path = image(b.v, "ro.img");
    ASSERT_EQ(::chown(path.c_str(), 4242, 4242), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    harness::request req{.images = {{"DKA0", path}},
                         .args = {"-s", "DKA0:[d]f.txt", "-l", "[d]"},
                         .binary = ODSCP_BINARY,
                         .user = harness::identity{1000, 1000}};
    SKIP_UNLESS_HARNESS_CAN_RUN(req);
    const auto r = run_odscp(req);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "first\n" + std::string(700, 'm') + "\nlast\nF.TXT;1\nG.TXT;1\n");
}
