// The damaged volumes of damage_table run through odstar: each listed in both
// formats and extracted in every content mode, as a child under a time limit;
// each run ends by itself with status 0, 1 or 2, and writes only below -C.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/damage_table.hpp"
#include "tests/volume_e2e_support.hpp"

namespace {

namespace fs = std::filesystem;

class odstar_damaged_volume : public volume_e2e {
  protected:
    // Every path below root, relative to it.
    static std::set<std::string> names_below(const fs::path& root)
    {
        std::set<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(root))
            names.insert(fs::relative(e.path(), root).string());
        return names;
    }

    // Runs odstar with args in a fresh working directory that holds only an
    // empty "out" (args may name it with -C), the image attached so that a
    // write to it is seen. Afterwards the working directory holds only out,
    // and out no temporary file.
    harness::result run_odstar(const std::string& image_path, const std::string& run_name,
                               std::vector<std::string> args)
    {
        const fs::path workdir = scratch.path(run_name);
        fs::create_directories(workdir / "out");
        for (std::string& a : args)
            if (a == "OUT")
                a = (workdir / "out").string();
        harness::request req{.images = {{"DKA0", image_path}},
                             .args = std::move(args),
                             .program_name = "odstar",
                             .binary = ODSTAR_BINARY,
                             .workdir = workdir.string(),
                             .time_limit = std::chrono::seconds(20)};
        const harness::result r = run_odscp(req);
        const std::string cmd = command_line(req);
        EXPECT_EQ(r.term_signal, 0) << cmd;
        EXPECT_TRUE(r.exit_status >= 0 && r.exit_status <= 2)
            << cmd << ": " << harness::describe(r);
        // a failure says so on standard error
        if (r.exit_status != 0) {
            EXPECT_NE(r.err, "") << cmd;
        }
        std::set<std::string> allowed = names_in_out(workdir);
        allowed.insert("out");
        EXPECT_EQ(names_below(workdir), allowed) << cmd << " wrote outside -C";
        for (const std::string& name : names_below(workdir / "out"))
            EXPECT_EQ(fs::path(name).filename().string().rfind(".odstar-", 0), std::string::npos)
                << cmd << " left the temporary file " << name;
        return r;
    }

    // "out/NAME" for every path below out: what a run may leave in its workdir.
    static std::set<std::string> names_in_out(const fs::path& workdir)
    {
        std::set<std::string> names;
        for (const std::string& name : names_below(workdir / "out"))
            names.insert((fs::path("out") / name).string());
        return names;
    }
};

const std::vector<std::vector<std::string>> RUNS = {
    {"-tvf", "IMAGE"},
    {"--json", "-tf", "IMAGE"},
    {"-xf", "IMAGE", "-C", "OUT"},
    {"-xf", "IMAGE", "-C", "OUT", "--raw"},
    {"-xf", "IMAGE", "-C", "OUT", "--blocks"},
};

} // namespace

TEST_F(odstar_damaged_volume, every_kind_of_damage_ends_with_a_status_and_writes_only_below_C)
{
    const auto& damages = damage_table::damages();
    for (std::size_t d = 0; d < damages.size(); ++d) {
        SCOPED_TRACE(damages[d].what);
        damage_table::base_volume b = damage_table::base();
        damages[d].apply(b);
        const std::string path = image(b.v, "volume-" + std::to_string(d) + ".img");
        for (std::size_t i = 0; i < RUNS.size(); ++i) {
            std::vector<std::string> args = RUNS[i];
            for (std::string& a : args)
                if (a == "IMAGE")
                    a = path;
            const auto r =
                run_odstar(path, "run-" + std::to_string(d) + "-" + std::to_string(i), args);
            if (d == 0) { // the sound volume: everything done
                EXPECT_EQ(r.exit_status, 0) << r.err;
            }
        }
    }
}

// The sound volume extracts whole in each mode, so the runs above are real.
TEST_F(odstar_damaged_volume, the_sound_volume_extracts_whole)
{
    damage_table::base_volume b = damage_table::base();
    const std::string path = image(b.v);
    const auto r = run_odstar(path, "run", {"-xf", path, "-C", "OUT"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const fs::path out = scratch.path("run") + "/out";
    std::ifstream in(out / "D" / "F.TXT", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(text, "first\n" + std::string(700, 'm') + "\nlast\n");
}
