// odstar -d NAME: the volume opened as /dev/vmsNAME, in the harness's private
// namespace, as other users; files the VMS protection refuses the caller are
// reported and left out, the rest extracted.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include <unistd.h>

#include "tests/volume_e2e_support.hpp"

namespace {

namespace fs = std::filesystem;

class odstar_device : public volume_e2e {};

// [MAIL] with OTHER.TXT (world read) and LOCKED.TXT (group 8, no world read);
// [PRIVATE] (group 8, no world read) with SECRET.TXT.
vb::built_volume protected_volume()
{
    constexpr std::uint16_t no_world = vb::PROT_DEFAULT | vb::PROT_WORLD_NOREAD;
    vb::volume_builder b;
    const auto mail = b.add_directory(vb::MFD_FILE_NUMBER, "MAIL");
    b.add_file(mail, "OTHER.TXT", {.data = bytes_of("other")});
    b.add_file(mail, "LOCKED.TXT",
               {.data = bytes_of("locked"), .owner_group = 8, .protection = no_world});
    const auto priv =
        b.add_directory(vb::MFD_FILE_NUMBER, "PRIVATE", {.owner_group = 8, .protection = no_world});
    b.add_file(priv, "SECRET.TXT", {.data = bytes_of("secret")});
    return b.build();
}

// The regular files below root, relative to it.
std::set<std::string> files_below(const fs::path& root)
{
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            names.insert(fs::relative(e.path(), root).string());
    return names;
}

} // namespace

TEST_F(odstar_device, extraction_from_a_device_applies_the_protection_rule)
{
    // gid 10 maps to UIC group 8 (its digits read as octal), gid 11 to group 9
    struct {
        const char* what;
        uid_t uid;
        gid_t gid;
        int status;
        std::set<std::string> files;
        std::string err;
    } cases[] = {
        {"superuser extracts everything",
         0,
         0,
         0,
         {"MAIL/LOCKED.TXT", "MAIL/OTHER.TXT", "PRIVATE/SECRET.TXT"},
         ""},
        {"the owner's group reads with group read",
         1000,
         10,
         0,
         {"MAIL/LOCKED.TXT", "MAIL/OTHER.TXT", "PRIVATE/SECRET.TXT"},
         ""},
        {"another group gets only what the world may read",
         1000,
         11,
         1,
         {"MAIL/OTHER.TXT"},
         "[MAIL]LOCKED.TXT;1: not extracted: no access under the VMS protection\n"
         "[000000]PRIVATE.DIR;1: no access to the directory under the VMS protection\n"},
    };
    const std::string path = image(protected_volume());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path out =
            scratch.path("out-" + std::to_string(c.uid) + "-" + std::to_string(c.gid));
        fs::create_directories(out);
        ASSERT_EQ(::chown(out.c_str(), c.uid, c.gid), 0);
        harness::request req{
            .images = {{"DKA0", path}},
            .args = {"-x", "-d", "DKA0", "-C", out.string(), "[MAIL]*.*", "[PRIVATE]*.*"},
            .program_name = "odstar",
            .binary = ODSTAR_BINARY,
            .user = harness::identity{c.uid, c.gid},
            .make_images_readable = true};
        SKIP_UNLESS_HARNESS_CAN_RUN(req);
        const auto r = run_odscp(req);
        EXPECT_EQ(r.exit_status, c.status) << r.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(files_below(out), c.files);
    }
}
