// Shorthands for end-to-end tests that run the odscp binary through the namespace harness:
// a fixture that skips where runs cannot be isolated, run_odscp, and a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>
#include <sys/stat.h>

#include "harness/harness.hpp"

// Fixture for end-to-end tests; derive a fixture of your own from it to name your suite.
// It skips every test, with the reason, on a host that cannot isolate a run.
class end_to_end : public ::testing::Test {
  protected:
    void SetUp() override
    {
        std::string why;
        if (!harness::available(why))
            GTEST_SKIP() << why;
    }
};

// Skips the current test, with the reason, when this host cannot honour the request (say, a
// run as another uid without root).
#define SKIP_UNLESS_HARNESS_CAN_RUN(req)                                                           \
    do {                                                                                           \
        std::string why_not_;                                                                      \
        if (!harness::can_run((req), why_not_))                                                    \
            GTEST_SKIP() << why_not_;                                                              \
    } while (0)

// The command line of a request, for failure messages.
inline std::string command_line(const harness::request& req)
{
    std::string text = req.empty_argv ? "(empty argv)" : req.program_name;
    for (const std::string& arg : req.args)
        text += " '" + arg + "'";
    return text;
}

// Runs req (the odscp binary unless it names another) and expects the run to have started,
// to have ended by itself within its time limit, and to have left every image unchanged.
inline harness::result run_odscp(harness::request req)
{
    if (req.binary.empty())
        req.binary = ODSCP_BINARY;
    harness::result r = harness::run(req);
    const std::string cmd = command_line(req);
    EXPECT_EQ(r.setup_error, "") << cmd;
    EXPECT_FALSE(r.timed_out) << cmd;
    for (const std::string& device : r.changed_images)
        ADD_FAILURE() << cmd << " wrote to the image of device \"" << device << "\"";
    return r;
}

// A temporary directory for image files, removed with its contents. Mode 0755, so that a run
// under another uid can reach the files in it.
class scratch_dir {
  public:
    scratch_dir()
    {
        char templ[] = "/tmp/odscp-scratch-XXXXXX";
        if (mkdtemp(templ) != nullptr && chmod(templ, 0755) == 0)
            dir_ = templ;
        else
            ADD_FAILURE() << "cannot make a scratch directory under /tmp";
    }
    ~scratch_dir()
    {
        std::error_code ec;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ec);
    }
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // Writes bytes to a new file of that name with that mode, and returns its path.
    std::string write(const std::string& name, const std::string& bytes, mode_t mode = 0644) const
    {
        const std::string p = path(name);
        std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
        EXPECT_EQ(chmod(p.c_str(), mode), 0) << p;
        return p;
    }

  private:
    std::string dir_;
};
