// odstar's command line: what to do, where the volume is, how files are written.
#pragma once

#include <string>
#include <vector>

namespace odstar {

enum class action { none, list, extract };
enum class content { convert, raw, blocks };

struct run_options {
    action what = action::none;
    bool verbose = false;
    bool json = false;
    bool lower = false;
    bool all_versions = false;
    bool keep_old = false;
    content mode = content::convert;
    std::string image{};  // -f
    std::string device{}; // -d
    std::string output_dir = ".";
    std::vector<std::string> patterns{};
    bool help = false;
    bool version = false;
};

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_SOME_FAILED = 1;
inline constexpr int EXIT_UNUSABLE = 2;

// Fills opts from the arguments. Empty when usable, else what was wrong.
[[nodiscard]] std::string parse_command_line(int argc, char** argv, run_options& opts);

void print_usage(bool full);

} // namespace odstar
