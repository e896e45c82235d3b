// The protection rule and the mapping of host group ids to UIC groups.
#include "ods2/walk.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "tests/unit_support.hpp"

namespace {

file_header owned(std::uint16_t group, std::uint16_t prot)
{
    file_header h;
    unit::put_u16(h.bytes, FH_OWNER_GROUP, group);
    unit::put_u16(h.bytes, FH_PROTECTION, prot);
    return h;
}

// may_read evaluated in a child running with the given real ids; -1 when the
// ids could not be taken (not root).
int may_read_as(uid_t uid, gid_t gid, const file_header& h)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(2);
        ::_exit(may_read(h) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) < 2 ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(gid_to_group, reads_decimal_digits_as_octal)
{
    struct {
        std::int32_t gid, group;
    } cases[] = {
        {0, 0},
        {7, 7},
        {8, 8},
        {10, 8},
        {19, 17},
        {123, 83},
        {377, 255},
        {1234, 796},
        {65534, 41948},
        {-1, -1},
        {-123, -83},
        {INT32_MIN, (INT32_MIN / 100) * 64 + (-4) * 8 + (-8)},
        {INT32_MAX, (INT32_MAX / 100) * 64 + 4 * 8 + 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gid);
        EXPECT_EQ(gid_to_group(c.gid), c.group);
    }
}

TEST(may_read, world_group_and_superuser)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to run the rule under other ids";
    constexpr std::uint16_t WORLD = PROT_WORLD_NOREAD, GROUP = PROT_GROUP_NOREAD;
    struct {
        const char* what;
        uid_t uid;
        gid_t gid;
        std::uint16_t group, prot;
        int want;
    } cases[] = {
        {"world may read, whatever else", 1000, 1000, 5, 0xEFFF, 1},
        {"superuser always", 0, 0, 5, 0xFFFF, 1},
        {"owner group with group read", 1000, 123, 83, WORLD, 1},
        {"owner group without group read", 1000, 123, 83, WORLD | GROUP, 0},
        {"another group", 1000, 124, 83, WORLD, 0},
        {"gid 10 is group 8", 1000, 10, 8, WORLD, 1},
        {"gid 2^31 is negative and matches nothing", 1000, 0x80000000u, 0, WORLD, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(may_read_as(c.uid, c.gid, owned(c.group, c.prot)), c.want);
    }
}
