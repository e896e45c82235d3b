// odstar: lists and extracts whole Files-11 ODS-2 (VMS) volumes the way tar
// does, from an image file or a device, without privileges. Exit status 0
// when everything was done, 1 when some files failed, 2 on wrong usage or a
// volume that cannot be read at all.
#include <cstdio>
#include <string>

#include <unistd.h>

#include "diag/report.hpp"
#include "ods2/volume.hpp"
#include "ods2/walk.hpp"
#include "odstar/extract.hpp"
#include "odstar/list.hpp"
#include "odstar/names.hpp"
#include "odstar/options.hpp"
#include "odstar/pattern.hpp"

namespace {

using namespace odstar;

constexpr const char* VERSION_TEXT = "odstar 0.1\n";

int usage_error(const std::string& problem)
{
    std::fprintf(stderr, "odstar: %s\n", problem.c_str());
    print_usage(false);
    return EXIT_UNUSABLE;
}

// Says why the host path holds no volume odstar can read; true when it does.
bool volume_usable(const char* path)
{
    char why[256];
    if (diagnose_volume(path, why, sizeof why))
        return true;
    report("%s", why);
    return false;
}

// Opens the volume named by -f or -d; false after reporting.
bool mount(const run_options& opts, std::string& subject)
{
    volume.boot_block_readable = true;
    volume.detailed_read_errors = true;
    subject = terminal_text(opts.image.empty() ? opts.device : opts.image);
    set_report_subject(subject.c_str());
    if (!opts.image.empty() &&
        (!volume_usable(opts.image.c_str()) || open_volume_path(opts.image.c_str()) == 0))
        return false;
    if (opts.image.empty() &&
        (open_volume(opts.device.c_str()) == 0 || !volume_usable(volume.path)))
        return false;
    if (!opts.device.empty() && !may_read(volume.mfd_header)) {
        report("no access to the MFD [000000] under the VMS protection");
        return false;
    }
    return true;
}

// The patterns from the command line; empty when all parse, else the problem.
std::string take_patterns(const run_options& opts, selection& chosen)
{
    chosen.all_versions = opts.all_versions;
    chosen.every_version_by_default = opts.what == action::list;
    for (const std::string& text : opts.patterns) {
        pattern p;
        const std::string problem = parse_pattern(text, p);
        if (!problem.empty()) {
            std::string message = "pattern '";
            message += text;
            message += "': ";
            message += problem;
            return message;
        }
        chosen.patterns.push_back(std::move(p));
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    report_separator = ": ";
    if (::getuid() != ::geteuid() || ::getgid() != ::getegid()) {
        std::fputs("odstar: refusing to run set-user-id or set-group-id (real and effective "
                   "ids differ)\n",
                   stderr);
        return EXIT_UNUSABLE;
    }
    run_options opts;
    const std::string problem = parse_command_line(argc, argv, opts);
    if (!problem.empty())
        return usage_error(problem);
    if (opts.help) {
        print_usage(true);
        return EXIT_OK;
    }
    if (opts.version) {
        std::fputs(VERSION_TEXT, stdout);
        return EXIT_OK;
    }
    selection chosen;
    if (const std::string bad = take_patterns(opts, chosen); !bad.empty())
        return usage_error(bad);
    std::string subject;
    if (!mount(opts, subject))
        return EXIT_UNUSABLE;
    return opts.what == action::list ? list_volume(opts, chosen) : extract_volume(opts, chosen);
}
