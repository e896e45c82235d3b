// Parsing odstar's options with getopt_long, and its usage text.
#include "odstar/options.hpp"

#include <cstdio>
#include <cstring>

#include <getopt.h>

namespace odstar {

namespace {

constexpr int OPT_JSON = 256;
constexpr int OPT_LOWER = 257;
constexpr int OPT_ALL_VERSIONS = 258;
constexpr int OPT_CONVERT = 259;
constexpr int OPT_RAW = 260;
constexpr int OPT_BLOCKS = 261;
constexpr int OPT_HELP = 262;
constexpr int OPT_VERSION = 263;

const option LONG_OPTIONS[] = {
    {"list", no_argument, nullptr, 't'},
    {"extract", no_argument, nullptr, 'x'},
    {"verbose", no_argument, nullptr, 'v'},
    {"file", required_argument, nullptr, 'f'},
    {"device", required_argument, nullptr, 'd'},
    {"directory", required_argument, nullptr, 'C'},
    {"keep-old-files", no_argument, nullptr, 'k'},
    {"json", no_argument, nullptr, OPT_JSON},
    {"lower", no_argument, nullptr, OPT_LOWER},
    {"all-versions", no_argument, nullptr, OPT_ALL_VERSIONS},
    {"convert", required_argument, nullptr, OPT_CONVERT},
    {"raw", no_argument, nullptr, OPT_RAW},
    {"blocks", no_argument, nullptr, OPT_BLOCKS},
    {"help", no_argument, nullptr, OPT_HELP},
    {"version", no_argument, nullptr, OPT_VERSION},
    {nullptr, 0, nullptr, 0},
};

const char USAGE[] = "usage: odstar -t [-v] [--json] (-f IMAGE | -d NAME) [PATTERN...]\n"
                     "       odstar -x [-vk] (-f IMAGE | -d NAME) [-C DIR] [PATTERN...]\n";

const char HELP[] =
    "\n"
    "Lists or extracts the files of a Files-11 ODS-2 (VMS) volume, every directory\n"
    "from the MFD down. PATTERN is a VMS file specification, case-insensitive:\n"
    "[DIR.SUB]NAME.TYPE;VERSION, with % for one character and * for any, [...] or\n"
    "[DIR...] for a whole subtree; no version means the newest, ;* every version.\n"
    "\n"
    "  -t, --list             list the files, one [DIR]NAME.TYPE;VERSION a line\n"
    "  -x, --extract          extract the files into host directories\n"
    "  -v, --verbose          -t: long format; -x: name each file as it is done\n"
    "  -f, --file IMAGE       the volume: an image file or a block device\n"
    "  -d, --device NAME      the volume /dev/vmsNAME, under the VMS protection\n"
    "  -C, --directory DIR    extract below DIR (default: the working directory)\n"
    "      --json             -t: one JSON object a file, every attribute\n"
    "      --lower            -x: host names in lower case\n"
    "      --all-versions     every version, extracted as NAME.TYPE;N\n"
    "      --convert=auto     contents by record format: lines for record files (default)\n"
    "      --raw              contents as bytes to the end of file\n"
    "      --blocks           contents as every allocated block\n"
    "  -k, --keep-old-files   keep host files that exist, reporting each\n"
    "      --help             print this help\n"
    "      --version          print the version\n"
    "\n"
    "Exit status: 0 all done, 1 some files failed, 2 wrong usage or an unreadable volume.\n";

// Applies one option; empty, or what was wrong.
std::string take_option(int letter, run_options& opts)
{
    switch (letter) {
    case 't':
    case 'x': {
        const action wanted = letter == 't' ? action::list : action::extract;
        if (opts.what != action::none && opts.what != wanted)
            return "-t and -x exclude each other";
        opts.what = wanted;
        return {};
    }
    case 'v':
        opts.verbose = true;
        return {};
    case 'f':
        opts.image = optarg;
        return {};
    case 'd':
        opts.device = optarg;
        return {};
    case 'C':
        opts.output_dir = optarg;
        return {};
    case 'k':
        opts.keep_old = true;
        return {};
    case OPT_JSON:
        opts.json = true;
        return {};
    case OPT_LOWER:
        opts.lower = true;
        return {};
    case OPT_ALL_VERSIONS:
        opts.all_versions = true;
        return {};
    case OPT_CONVERT:
        if (std::strcmp(optarg, "auto") != 0)
            return std::string("--convert takes only auto, not '") + optarg + "'";
        opts.mode = content::convert;
        return {};
    case OPT_RAW:
        opts.mode = content::raw;
        return {};
    case OPT_BLOCKS:
        opts.mode = content::blocks;
        return {};
    case OPT_HELP:
        opts.help = true;
        return {};
    case OPT_VERSION:
        opts.version = true;
        return {};
    default:
        return "unknown option or missing argument";
    }
}

// The combinations that make no sense; empty when the options agree.
std::string check_combination(const run_options& opts)
{
    if (opts.what == action::none)
        return "one of -t and -x is needed";
    if (opts.image.empty() == opts.device.empty())
        return "one of -f IMAGE and -d NAME is needed";
    if (opts.image == "-")
        return "-f - is refused: the volume must be a seekable file or device";
    if (opts.json && opts.what != action::list)
        return "--json goes with -t";
    return {};
}

} // namespace

std::string parse_command_line(int argc, char** argv, run_options& opts)
{
    opterr = 0;
    int letter = 0;
    while ((letter = getopt_long(argc, argv, "txvf:d:C:k", LONG_OPTIONS, nullptr)) != -1) {
        if (letter == '?' || letter == ':') {
            const char* arg = optind > 0 && optind <= argc ? argv[optind - 1] : "";
            return std::string("unknown option or missing argument: ") + arg;
        }
        std::string problem = take_option(letter, opts);
        if (!problem.empty())
            return problem;
    }
    for (int i = optind; i < argc; ++i)
        opts.patterns.emplace_back(argv[i]);
    if (opts.help || opts.version)
        return {};
    return check_combination(opts);
}

void print_usage(bool full)
{
    std::fputs(USAGE, full ? stdout : stderr);
    if (full)
        std::fputs(HELP, stdout);
}

} // namespace odstar
