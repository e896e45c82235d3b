// Mounting through the program: device names and their paths, the three reads
// of a mount and the pair of messages for each failure.
#include <gtest/gtest.h>

#include "tests/volume_e2e_support.hpp"

namespace {

class mount : public volume_e2e {
  protected:
    // A volume with [MAIL]A.TXT holding one line.
    static vb::built_volume sample(vb::volume_options options = {})
    {
        vb::volume_builder b(options);
        const auto mail = b.add_directory(vb::MFD_FILE_NUMBER, "MAIL");
        b.add_file(mail, "A.TXT", vb::text_file({"alpha"}));
        return b.build();
    }
};

} // namespace

TEST_F(mount, device_names_become_dev_paths)
{
    struct {
        const char* device;
        const char* path;
    } cases[] = {
        {"disk$users", "/dev/vmsusers"},
        {"vms0", "/dev/vms0"},
        {"disk$vms1", "/dev/vms1"},
        {"DKA100", "/dev/vmsDKA100"},
        {"DISK$USERS", "/dev/vmsDISK$USERS"},
        {"VMS0", "/dev/vmsVMS0"},
        {"disk$disk$a", "/dev/vmsdisk$a"},
        {"disk$", "/dev/vms"},
        {"", "/dev/vms"},
        {"abcdefghijklmnopqrst", "/dev/vmsabcdefghijklmnopqrst"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        const std::string arg = std::string(c.device) + ":[mail]a.txt";
        const auto r = run_odscp({.args = {arg}});
        EXPECT_EQ(r.err, arg + " -- Can't open " + c.path + "\n");
    }
    // attached under the path it maps to, each device is found
    const std::string path = image(sample());
    struct {
        const char *attached, *device;
    } found[] = {
        {"users", "disk$users"}, {"DISK$USERS", "DISK$USERS"}, {"", "disk$"}, {"0", "vms0"}};
    for (const auto& c : found) {
        SCOPED_TRACE(c.device);
        const auto r = run_odscp({.images = {{c.attached, path}},
                                  .args = {"-s", std::string(c.device) + ":[mail]a.txt"}});
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, "alpha\n");
    }
}

TEST_F(mount, too_long_a_name_changes_nothing)
{
    const std::string name21 = "disk$" + std::string(16, 'a');
    const auto r = run(sample(), {"-s", "DKA0:[mail]a.txt", name21 + ":[mail]a.txt", "a.txt"});
    EXPECT_EQ(r.err, name21 + ":[mail]a.txt -- Device name too long (" + name21 + ")\n");
    EXPECT_EQ(r.out, "alpha\nalpha\n");
}

TEST_F(mount, each_failed_read_gives_its_pair_of_messages)
{
    const vb::built_volume sound = sample();
    const std::uint64_t index_lbn = std::uint64_t{sound.ibmap_lbn()} + sound.ibmap_size();
    struct {
        const char* what;
        std::uint64_t device_blocks; // 0: as built
        bool zero_bitmap_fields;
        const char* messages;
    } cases[] = {
        {"a device of one block", 1, false, "Read error\n|Can't read homeblock on /dev/vmsDKA0\n"},
        {"bitmap fields of zero", 0, true,
         "Bad block in file\n|Can't read index file header on /dev/vmsDKA0\n"},
        {"index file header past the end", index_lbn, false,
         "Read error\n|Can't read index file header on /dev/vmsDKA0\n"},
        {"MFD header past the end", index_lbn + 3, false,
         "Read error\n|Can't read mfd header on /dev/vmsDKA0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vb::built_volume v = sample();
        if (c.device_blocks)
            v.image.resize(c.device_blocks);
        if (c.zero_bitmap_fields) {
            v.image.set_u32(1, vb::HB_IBMAP_LBN, 0);
            v.image.set_u16(1, vb::HB_IBMAP_SIZE, 0);
        }
        // the volume is not mounted afterwards: the next file specification has none
        const auto r = run(v, {"-s", "DKA0:[MAIL]A.TXT", "[mail]a.txt"});
        std::string want;
        std::string m = c.messages;
        for (std::size_t at; (at = m.find('|')) != std::string::npos; m.erase(0, at + 1))
            want += "DKA0:[MAIL]A.TXT -- " + m.substr(0, at);
        want += "DKA0:[MAIL]A.TXT -- " + m + "[mail]a.txt -- No device specified\n";
        EXPECT_EQ(r.err, want);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(mount, headers_follow_the_bitmap)
{
    // bitmap at LBN 10, two blocks: the index file header is LBN 12, the MFD's LBN 15
    const vb::built_volume v = sample({.ibmap_lbn = 10, .ibmap_size = 2});
    ASSERT_EQ(v.header_lbn(vb::INDEX_FILE_NUMBER), 12u);
    ASSERT_EQ(v.header_lbn(vb::MFD_FILE_NUMBER), 15u);
    const auto r = run(v, {"-s", "DKA0:[mail]a.txt", "-l", "[000000]"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "alpha\n000000.DIR;1\nBADBLK.SYS;1\nBITMAP.SYS;1\nCORIMG.SYS;1\nINDEXF.SYS;"
                     "1\nMAIL.DIR;1\n");
}

TEST_F(mount, a_new_device_replaces_the_volume)
{
    // dka0 mounts; dkb9 does not exist, so afterwards no volume is mounted
    const auto r = run(sample(), {"-s", "DKA0:[mail]a.txt", "dkb9:[mail]a.txt", "[mail]a.txt"});
    EXPECT_EQ(r.out, "alpha\n");
    EXPECT_EQ(r.err, "dkb9:[mail]a.txt -- Can't open /dev/vmsdkb9\n"
                     "[mail]a.txt -- No device specified\n");
}

TEST_F(mount, replaced_volumes_do_not_use_up_descriptors)
{
    // 40 file specifications that each name the device, with room for 16 descriptors
    std::vector<std::string> args = {"-c", "ulimit -n 16 && exec \"$0\" \"$@\"", ODSCP_BINARY, "-s"};
    std::string want;
    for (int i = 0; i < 40; ++i) {
        args.push_back("DKA0:[mail]a.txt");
        want += "alpha\n";
    }
    const auto r = run(sample(), args, {.program_name = "sh", .binary = "/bin/sh"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, want);
}
