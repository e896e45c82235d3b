// Damaged volumes: one row per kind of damage, each listed and copied in every
// mode under a time limit, with the messages it must give and no crash or hang.
#include <gtest/gtest.h>

#include <functional>

#include "tests/damage_table.hpp"
#include "tests/volume_e2e_support.hpp"

namespace {

class damaged_volume : public volume_e2e {};

using damage_table::base;
using damage_table::base_volume;

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
    // What odscp says for each damage of damage_table::damages(), in its order.
    struct row {
        const char* what;
        std::string err;
        std::function<void(const std::string&)> check_out = {};
    };
    const std::string no_device = "DKA0:[d] -- ";
    const std::string five_no_device =
        each_copy("No device specified") + "f.txt -- No device specified\n";
    const row rows[] = {
        {"sound", BINARY,
         [](const std::string& out) { EXPECT_EQ(out.substr(0, 22), "F.TXT;1\nG.TXT;1\nfirst\n"); }},
        {"short device", no_device + "Read error\n" + no_device +
                             "Can't read homeblock on /dev/vmsDKA0\n" + five_no_device},
        {"home block pointing at LBN 0", no_device + "Bad block in file\n" + no_device +
                                             "Can't read index file header on /dev/vmsDKA0\n" +
                                             five_no_device},
        {"index file header unreadable", no_device + "Read error\n" + no_device +
                                             "Can't read index file header on /dev/vmsDKA0\n" +
                                             five_no_device},
        {"MFD header unreadable", no_device + "Read error\n" + no_device +
                                      "Can't read mfd header on /dev/vmsDKA0\n" + five_no_device},
        {"file map past the header", BINARY,
         [](const std::string& out) { EXPECT_EQ(out, "F.TXT;1\nG.TXT;1\n"); }},
        {"pointer to LBN 0", each_copy("Bad block in file") + BINARY},
        {"pointer past the device end", each_copy("Read error") + BINARY,
         [](const std::string& out) {
             // block 1 arrives whole in image and block mode before the error
             EXPECT_NE(out.find("first"), std::string::npos);
         }},
        {"extension chain that loops", BINARY,
         [](const std::string& out) {
             // listing 16 bytes, -t 712, -T 706, -i 716 (up to the end of file);
             // the header continues in itself, so its map ends where it
             // comes back: block mode gets its two blocks once
             EXPECT_EQ(out.size(), 16u + 712 + 706 + 716 + 2 * 512);
         }},
        {"directory continuing in itself, with no end-of-file block", BINARY,
         [](const std::string& out) {
             // the listing, and each lookup, reads the directory's blocks once
             EXPECT_EQ(out.substr(0, 22), "F.TXT;1\nG.TXT;1\nfirst\n");
             EXPECT_EQ(out.find("G.TXT;1", 9), std::string::npos);
         }},
        {"directory whose map names its block more often than the device has blocks", BINARY,
         [](const std::string& out) {
             // the walk ends where the map names its one block again
             std::size_t listed = 0;
             for (auto at = out.find("F.TXT;1\n"); at != std::string::npos;
                  at = out.find("F.TXT;1\n", at + 1))
                 ++listed;
             EXPECT_EQ(listed, 1u);
         }},
        {"directory record past the block", BINARY,
         [](const std::string& out) { EXPECT_EQ(out.substr(0, 8), "F.TXT;1\n"); }},
        {"name_count 255", "f.txt -- File does not exist\n" + each_copy("File does not exist")},
        {"ffbyte above 512", BINARY},
        {"0xFFFF mid-block", BINARY,
         [](const std::string& out) { EXPECT_EQ(out.substr(0, 14), "F.TXT;1\nfirst\n"); }},
        {"efblk 0 with a large map", BINARY},
        {"a directory that is not a directory",
         "f.txt -- File does not exist\n" + each_copy("File does not exist")},
        {"a text file that is not a record stream", BINARY},
        {"a header of zeros", BINARY,
         [](const std::string& out) { EXPECT_EQ(out, "F.TXT;1\nG.TXT;1\n"); }},
        {"an index file header of zeros", "DKA0:[d] -- Can't get file header for directory [D]\n" +
                                              each_copy("No directory specified") +
                                              "f.txt -- No directory specified\n"},
    };
    const auto& damages = damage_table::damages();
    ASSERT_EQ(std::size(rows), damages.size());
    for (std::size_t i = 0; i < damages.size(); ++i) {
        const row& r = rows[i];
        SCOPED_TRACE(r.what);
        ASSERT_STREQ(r.what, damages[i].what);
        base_volume b = base();
        damages[i].apply(b);
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
