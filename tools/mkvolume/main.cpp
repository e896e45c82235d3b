// mkvolume: makes an ODS-2 volume image holding a host directory tree, for trying out
// odscp and for its tests. Nothing is written unless every host name fits the volume.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "mkvolume/make_volume.hpp"
#include "mkvolume/names.hpp"
#include "mkvolume/tree.hpp"

namespace {

constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_USAGE = 2;

const char USAGE[] = "usage: mkvolume [-bv] [-n label] source-dir image\n";

const char HELP[] = "\n"
                    "Makes an ODS-2 volume image holding the tree below source-dir: its files go\n"
                    "into the MFD, and each directory becomes NAME.DIR;1 in the one above.\n"
                    "Names are upper-cased and must fit the volume: a name of 1-9 and a type of\n"
                    "0-3 characters of A-Z 0-9 $ - _, one dot at most; a directory 1-9 such\n"
                    "characters. A host name NAME.TYPE;N gives version N (1-32767), any other\n"
                    "version 1. A file is stored as text, one variable-length record per line,\n"
                    "when it holds no NUL byte, is empty or ends with a newline, and has no line\n"
                    "over 65535 bytes; any other file as bytes, in fixed 512-byte records. Every\n"
                    "file is world-readable. When a name does not fit, two names clash, or an\n"
                    "entry is a symbolic link or a special file, nothing is written.\n"
                    "\n"
                    "  -b        store every file as bytes\n"
                    "  -n label  volume label, 1-12 characters of A-Z 0-9 $ - _ (default USERS)\n"
                    "  -v        print each file and directory as it is stored\n"
                    "  -h        print this help\n"
                    "\n"
                    "Exit status: 0 made, 1 refused or failed, 2 wrong usage.\n";

struct command_line {
    mkvolume::volume_settings settings{};
    bool verbose = false;
    bool help = false;
    std::string source{};
    std::string image{};
};

int usage_error(const std::string& message)
{
    std::fprintf(stderr, "mkvolume: %s\n%s", message.c_str(), USAGE);
    return EXIT_USAGE;
}

// Applies one option letter; 0, or the exit status of a usage error.
int take_option(int letter, command_line& cmd)
{
    switch (letter) {
    case 'b':
        cmd.settings.all_bytes = true;
        return 0;
    case 'h':
        cmd.help = true;
        return 0;
    case 'v':
        cmd.verbose = true;
        return 0;
    case 'n':
        cmd.settings.label = mkvolume::label_of(optarg);
        if (cmd.settings.label.empty())
            return usage_error(std::string("label '") + optarg +
                               "' is not 1-12 characters of A-Z 0-9 $ - _");
        return 0;
    default:
        if (optopt == 'n')
            return usage_error("option -n needs a label");
        return usage_error(std::string("unknown option -") + static_cast<char>(optopt));
    }
}

// Fills cmd from the arguments; 0 when they are usable, else the exit status.
int parse_command_line(int argc, char** argv, command_line& cmd)
{
    opterr = 0;
    for (int letter; (letter = getopt(argc, argv, "+bhn:v")) != -1;)
        if (const int status = take_option(letter, cmd); status != 0)
            return status;
    if (cmd.help)
        return 0;
    if (argc - optind != 2)
        return usage_error("needs a source directory and an image file");
    cmd.source = argv[optind];
    cmd.image = argv[optind + 1];
    return 0;
}

int refuse(const std::vector<std::string>& problems, const std::string& image)
{
    for (const std::string& p : problems)
        std::fprintf(stderr, "mkvolume: %s\n", p.c_str());
    std::fprintf(stderr, "mkvolume: nothing written to %s\n", image.c_str());
    return EXIT_REFUSED;
}

int make_image(const command_line& cmd)
{
    std::vector<std::string> problems;
    const mkvolume::host_directory tree = mkvolume::scan_tree(cmd.source, problems);
    if (!problems.empty())
        return refuse(problems, cmd.image);
    std::vector<std::string> stored;
    const volbuild::built_volume volume =
        mkvolume::make_volume(tree, cmd.settings, stored, problems);
    if (!problems.empty())
        return refuse(problems, cmd.image);
    if (const std::string why = mkvolume::write_image(volume, cmd.image); !why.empty())
        return refuse({cmd.image + ": " + why}, cmd.image);
    if (cmd.verbose)
        for (const std::string& line : stored)
            std::printf("%s\n", line.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    command_line cmd;
    if (const int status = parse_command_line(argc, argv, cmd); status != 0)
        return status;
    if (cmd.help) {
        std::printf("%s%s", USAGE, HELP);
        return 0;
    }
    try {
        return make_image(cmd);
    } catch (const std::exception& e) {
        return refuse({e.what()}, cmd.image);
    }
}
