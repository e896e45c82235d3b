// mkvolume: makes an ODS-2 volume image holding a host directory tree, for trying out
// odscp and for its tests. Nothing is written unless every host name fits the volume.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "mkvolume/make_volume.hpp"
#include "mkvolume/manifest.hpp"
#include "mkvolume/names.hpp"
#include "mkvolume/tree.hpp"

namespace {

constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_USAGE = 2;

const char USAGE[] = "usage: mkvolume [-bv] [-n label] source-dir image\n";

const char HELP[] =
    "\n"
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
    "Each file's revision date is its modification time, its creation date its\n"
    "birth time where the host keeps one, else its modification time.\n"
    "\n"
    "  -b           store every file as bytes\n"
    "  -m manifest  store the files it names as it says (below)\n"
    "  -n label     volume label, 1-12 characters of A-Z 0-9 $ - _ (default USERS)\n"
    "  -o [g,m]     owner of every file and directory, octal (default [1,1])\n"
    "  -p (s,o,g,w) their protection (default (RWED,RWED,RE,RE))\n"
    "  -v           print each file and directory as it is stored\n"
    "  -h           print this help\n"
    "\n"
    "The manifest has one line per host path below source-dir, then settings:\n"
    "\n"
    "  USER/REPORT.LIS format=vfc vfc=2 carriage=print\n"
    "  USER/PROG.EXE format=fixed size=512 owner=[100,3] protection=(RWED,RWED,RE,)\n"
    "  USER/BIG.DAT extents=6 headers=3\n"
    "  USER/NOTES.TXT;1 format=stmlf\n"
    "\n"
    "  format=     undefined, fixed, variable, vfc, stream, stmlf or stmcr;\n"
    "              default: variable for text, fixed 512 for bytes, as above\n"
    "  carriage=   cr (implied carriage return), fortran (a space leads each\n"
    "              record), print (VFC bytes 0x01 0x8D: one line each) or none;\n"
    "              default cr, for vfc print, for fixed and undefined none\n"
    "  size=N      format=fixed: record size 1-32767 (default 512); with carriage\n"
    "              control every line is N bytes (N-1 for fortran), else the\n"
    "              bytes are stored as they are and N is even\n"
    "  vfc=N       format=vfc: fixed control bytes per record, 1-255 (default 2)\n"
    "  owner=[g,m] protection=(s,o,g,w)   as -o and -p, for this entry\n"
    "  extents=N   the file's blocks in N separate extents (1-10000)\n"
    "  headers=N   its map spread over N headers, N-1 of them extension\n"
    "              headers (1-1000; at most N*38 extents)\n"
    "\n"
    "Records hold one line each, without its newline, so that converting them\n"
    "back by their format gives the host file: files with records, and the\n"
    "stream formats, must be empty or end with a newline; stream stores CR LF,\n"
    "stmlf LF, stmcr CR after each line; variable with carriage=print is vfc 2.\n"
    "A directory takes owner= and protection= only. '#' starts a comment. A\n"
    "bad line, a path that names nothing, or a file that cannot be stored as\n"
    "its line says is reported as manifest:line and nothing is written.\n"
    "\n"
    "Exit status: 0 made, 1 refused or failed, 2 wrong usage.\n";

struct command_line {
    mkvolume::volume_settings settings{};
    std::string manifest{};
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

int missing_argument(int letter)
{
    switch (letter) {
    case 'm':
        return usage_error("option -m needs a manifest file");
    case 'n':
        return usage_error("option -n needs a label");
    case 'o':
        return usage_error("option -o needs an owner [group,member]");
    case 'p':
        return usage_error("option -p needs a protection (system,owner,group,world)");
    default:
        return usage_error(std::string("unknown option -") + static_cast<char>(letter));
    }
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
    case 'm':
        cmd.manifest = optarg;
        return 0;
    case 'n':
        cmd.settings.label = mkvolume::label_of(optarg);
        if (cmd.settings.label.empty())
            return usage_error(std::string("label '") + optarg +
                               "' is not 1-12 characters of A-Z 0-9 $ - _");
        return 0;
    case 'o':
        cmd.settings.owner = mkvolume::owner_of(optarg);
        if (!cmd.settings.owner)
            return usage_error(std::string("owner '") + optarg +
                               "' is not [group,member] in octal, each up to 177777");
        return 0;
    case 'p':
        cmd.settings.protection = mkvolume::protection_of(optarg);
        if (!cmd.settings.protection)
            return usage_error(std::string("protection '") + optarg +
                               "' is not (system,owner,group,world) of R W E D");
        return 0;
    default:
        return missing_argument(optopt);
    }
}

// Fills cmd from the arguments; 0 when they are usable, else the exit status.
int parse_command_line(int argc, char** argv, command_line& cmd)
{
    opterr = 0;
    for (int letter; (letter = getopt(argc, argv, "+bhm:n:o:p:v")) != -1;)
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
    mkvolume::volume_settings settings = cmd.settings;
    if (!cmd.manifest.empty())
        settings.manifest = mkvolume::read_manifest(cmd.manifest, problems);
    std::vector<std::string> tree_problems;
    const mkvolume::host_directory tree = mkvolume::scan_tree(cmd.source, tree_problems);
    if (!tree_problems.empty()) {
        problems.insert(problems.end(), tree_problems.begin(), tree_problems.end());
        return refuse(problems, cmd.image);
    }
    std::vector<std::string> stored;
    const volbuild::built_volume volume = mkvolume::make_volume(tree, settings, stored, problems);
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
