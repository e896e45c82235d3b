// What one file specification leaves to the next: the volume, the current
// directory, the default device; and the protection rule as other users.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/volume_e2e_support.hpp"

namespace {

class resolution : public volume_e2e {};

// [MAIL] with NOTES.TXT;4 and ;2 and OTHER.TXT; [OTHER] with X.TXT;
// [PRIVATE] (group 8, no world read) with SECRET.TXT; [MAIL]LOCKED.TXT no world read.
vb::built_volume mailbox()
{
    constexpr std::uint16_t no_world = vb::PROT_DEFAULT | vb::PROT_WORLD_NOREAD;
    vb::volume_builder b;
    const auto mail = b.add_directory(vb::MFD_FILE_NUMBER, "MAIL");
    b.add_file(mail, "NOTES.TXT", {.data = bytes_of("v2"), .version = 2});
    b.add_file(mail, "NOTES.TXT", {.data = bytes_of("v4"), .version = 4});
    b.add_file(mail, "OTHER.TXT", {.data = bytes_of("other")});
    b.add_file(mail, "LOCKED.TXT",
               {.data = bytes_of("locked"), .owner_group = 8, .protection = no_world});
    b.add_file(mail, "GROUP.TXT",
               {.data = bytes_of("group"),
                .owner_group = 8,
                .protection = no_world | vb::PROT_GROUP_NOREAD});
    const auto other = b.add_directory(vb::MFD_FILE_NUMBER, "OTHER");
    b.add_file(other, "X.TXT", {.data = bytes_of("x")});
    const auto priv =
        b.add_directory(vb::MFD_FILE_NUMBER, "PRIVATE", {.owner_group = 8, .protection = no_world});
    b.add_file(priv, "SECRET.TXT", {.data = bytes_of("secret")});
    return b.build();
}

std::string lines(std::initializer_list<std::string> ls)
{
    std::string s;
    for (const auto& l : ls)
        s += l + "\n";
    return s;
}

} // namespace

TEST_F(resolution, state_carries_from_one_argument_to_the_next)
{
    struct {
        const char* what;
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {"the default device, then the same directory",
         {"-si", "[mail]notes.txt", "other.txt", "notes.txt;2"},
         "v4otherv2",
         ""},
        {"no directory yet",
         {"-si", "notes.txt", "[mail]notes.txt"},
         "v4",
         "notes.txt -- No directory specified\n"},
        {"a failed parse first: no default device later",
         {"-si", "a%b", "[mail]notes.txt"},
         "",
         lines({"a%b -- Bad filename syntax", "[mail]notes.txt -- No device specified"})},
        {"too long a first one does not count",
         {"-si", std::string(101, 'x'), "[mail]notes.txt"},
         "v4",
         std::string(101, 'x') + " -- Filespec too long\n"},
        {"a device named alone is its MFD",
         {"-l", "DKA0:", "-c", "-si", "DKA0:notes.txt"},
         lines({"000000.DIR;1", "BADBLK.SYS;1", "BITMAP.SYS;1", "CORIMG.SYS;1", "INDEXF.SYS;1",
                "MAIL.DIR;1", "OTHER.DIR;1", "PRIVATE.DIR;1"}),
         "DKA0:notes.txt -- File does not exist\n"},
        {"a new device forgets the directory",
         {"-si", "[mail]notes.txt", "DKA0:", "notes.txt"},
         "v4",
         lines({"DKA0: -- Filename missing", "notes.txt -- File does not exist"})},
        {"list mode refuses a file name, but the walk stays",
         {"-l", "[mail]", "[other]notes.txt", ""},
         lines({"GROUP.TXT;1", "LOCKED.TXT;1", "NOTES.TXT;4", "NOTES.TXT;2", "OTHER.TXT;1",
                "X.TXT;1"}),
         "[other]notes.txt -- Invalid directory specification\n"},
        {"a failed lookup keeps the directory",
         {"-si", "[mail]nothere.txt", "other.txt"},
         "other",
         "[mail]nothere.txt -- File does not exist\n"},
        {"versions: exact, or nothing",
         {"-si", "[mail]notes.txt;3", "notes.txt;0", "notes.txt;4"},
         "v4v4",
         "[mail]notes.txt;3 -- File does not exist\n"},
        {"copy mode without a name",
         {"-si", "[mail]", ""},
         "",
         lines({"[mail] -- Filename missing", " -- Filename missing"})},
        {"key limits",
         {"-si", "[mail]abcdefghij.txt", "notes.text", "notes.txt;-1"},
         "",
         lines({"[mail]abcdefghij.txt -- Filename longer than 9 characters",
                "notes.text -- File type longer than 3 characters",
                "notes.txt;-1 -- Non-digit in version number"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = run(mailbox(), c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.exit_status, 0);
    }
}

TEST_F(resolution, listing_order_follows_the_directory)
{
    // names are stored sorted; the listing shows them as stored
    const auto r = run(mailbox(), {"-l", "[mail]"});
    EXPECT_EQ(r.out,
              lines({"GROUP.TXT;1", "LOCKED.TXT;1", "NOTES.TXT;4", "NOTES.TXT;2", "OTHER.TXT;1"}));
}

TEST_F(resolution, no_default_device)
{
    const auto r = run_odscp({.args = {"[mail]notes.txt", "[mail]notes.txt", "DKA0:[mail]x"}});
    EXPECT_EQ(r.err, lines({"[mail]notes.txt -- Can't open /dev/vmsusers",
                            "[mail]notes.txt -- No device specified",
                            "DKA0:[mail]x -- Can't open /dev/vmsDKA0"}));
}

TEST_F(resolution, protection_as_another_user)
{
    // gid 10 maps to UIC group 8 (its digits read as octal)
    struct {
        const char* what;
        uid_t uid;
        gid_t gid;
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {"superuser reads everything",
         0,
         0,
         {"-si", "[private]secret.txt", "[mail]locked.txt", "group.txt"},
         "secretlockedgroup",
         ""},
        {"the owner's group reads with group read",
         1000,
         10,
         {"-si", "[private]secret.txt", "[mail]locked.txt", "group.txt"},
         "secretlocked",
         "group.txt -- No access privilege for file\n"},
        {"another group reads only what the world may",
         1000,
         11,
         {"-si", "[private]secret.txt", "[mail]locked.txt", "other.txt"},
         "other",
         lines({"[private]secret.txt -- No access privilege for directory [PRIVATE]",
                "[mail]locked.txt -- No access privilege for file"})},
        {"a refused directory does not become current",
         1000,
         11,
         {"-si", "[mail]other.txt", "[private]secret.txt", "notes.txt"},
         "otherv4",
         "[private]secret.txt -- No access privilege for directory [PRIVATE]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        harness::request req{.binary = ODSCP_BINARY,
                             .user = harness::identity{c.uid, c.gid},
                             .make_images_readable = true};
        SKIP_UNLESS_HARNESS_CAN_RUN(req);
        const auto r = run(mailbox(), c.args, req);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST_F(resolution, output_file_must_be_writable_by_the_caller)
{
    harness::request as_user{.binary = ODSCP_BINARY,
                             .user = harness::identity{1000, 1000},
                             .make_images_readable = true};
    SKIP_UNLESS_HARNESS_CAN_RUN(as_user);
    const std::string work = scratch.path("work");
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    ASSERT_EQ(::chown(work.c_str(), 1000, 1000), 0);
    scratch.write("work/notes.txt", "old contents, longer than the new");
    scratch.write("work/other.txt", "read-only", 0444);
    ASSERT_EQ(::chown(scratch.path("work/notes.txt").c_str(), 1000, 1000), 0);
    ASSERT_EQ(::chown(scratch.path("work/other.txt").c_str(), 1000, 1000), 0);
    as_user.workdir = work;
    const auto r = run(mailbox(), {"-i", "[mail]notes.txt", "other.txt"}, as_user);
    EXPECT_EQ(r.err, "other.txt -- Can't open output file\n");
    EXPECT_EQ(r.files.at("notes.txt").contents, "v4");
    EXPECT_EQ(r.files.at("other.txt").contents, "read-only");

    harness::request read_only{.workdir_read_only = true,
                               .user = harness::identity{1000, 1000},
                               .make_images_readable = true};
    const auto ro = run(mailbox(), {"-i", "[mail]notes.txt"}, read_only);
    EXPECT_EQ(ro.err, "[mail]notes.txt -- Can't open output file\n");
    EXPECT_TRUE(ro.files.empty());
}

TEST_F(resolution, a_set_user_id_install_creates_files_as_the_caller)
{
    // a copy of odscp owned by root with the set-user-id bit, run by uid 1000
    const std::string setuid_copy = scratch.path("odscp-setuid");
    {
        std::ifstream in(ODSCP_BINARY, std::ios::binary);
        std::ofstream out(setuid_copy, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(::chown(setuid_copy.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(setuid_copy.c_str(), 04755), 0);
    harness::request req{.binary = setuid_copy,
                         .user = harness::identity{1000, 1000},
                         .make_images_readable = true};
    SKIP_UNLESS_HARNESS_CAN_RUN(req);
    const auto r = run(mailbox(), {"-i", "[mail]other.txt"}, req);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.files.count("other.txt"), 1u);
    EXPECT_EQ(r.files.at("other.txt").contents, "other");
    EXPECT_EQ(r.files.at("other.txt").uid, 1000u);
    EXPECT_EQ(r.files.at("other.txt").gid, 1000u);
}
