// The program as a whole, without a volume: usage, option letters, the length
// limit and the form of diagnostics.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/harness_support.hpp"

namespace {

class command_line : public end_to_end {};

const std::string USAGE_TAIL = " [-t] [-i] [-b] [-d] [-f] [-s] vmsfile\n";

} // namespace

TEST_F(command_line, usage_without_arguments)
{
    for (const char* program : {"odscp", "/usr/local/bin/lsods", "l"}) {
        SCOPED_TRACE(program);
        const auto r = run_odscp({.program_name = program});
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, std::string("usage: ") + program + USAGE_TAIL);
    }
}

TEST_F(command_line, empty_argument_vector_gives_usage)
{
    // Linux 5.18 and later hand such a program one empty argument instead;
    // without that, odscp names itself.
    const auto r = run_odscp({.empty_argv = true});
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_TRUE(r.err == "usage: odscp" + USAGE_TAIL || r.err == "usage: " + USAGE_TAIL) << r.err;
}

TEST_F(command_line, option_letters)
{
    struct {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{"-t", "-T", "-iIbsdflc", "-", "-sss"}, ""},
        {{"-xs"}, "Invalid option (x)\n"},
        {{"--"}, "Invalid option (-)\n"},
        {{"-a-Z", "-q"},
         "Invalid option (a)\nInvalid option (-)\nInvalid option (Z)\nInvalid option (q)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        const auto r = run_odscp({.args = c.args});
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
    }
}

TEST_F(command_line, length_limit_and_diagnostic_prefix)
{
    const std::string at_limit = "[" + std::string(88, 'a') + "]abc.def;12"; // 100 characters
    const std::string over = at_limit + "3";
    ASSERT_EQ(at_limit.size(), 100u);
    const auto r = run_odscp({.args = {over, "a%b", "[lower.case]x.y"}});
    EXPECT_EQ(r.exit_status, 0);
    // the first counts for nothing, so the second is the first resolved and
    // fails on its syntax; the third tries no default device after that
    EXPECT_EQ(r.err, over + " -- Filespec too long\n"
                            "a%b -- Bad filename syntax\n"
                            "[lower.case]x.y -- No device specified\n");
    const auto at = run_odscp({.args = {at_limit}});
    EXPECT_EQ(at.err, at_limit + " -- Can't open /dev/vmsusers\n");
}
