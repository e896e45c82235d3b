// odsfs: mounts an ODS-2 volume image read-only as a directory tree through
// FUSE. The image is checked before anything is mounted; the file system then
// runs single-threaded until it is unmounted.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <time.h>
#include <unistd.h>

#include <fuse_lowlevel.h>
#include <fuse_opt.h>

#include "diag/report.hpp"
#include "ods2/volume.hpp"
#include "odsfs/content.hpp"
#include "odsfs/log.hpp"
#include "odsfs/nodes.hpp"
#include "odsfs/ops.hpp"

namespace {

constexpr int EXIT_REFUSED = 1;
constexpr int EXIT_USAGE = 2;
constexpr unsigned NO_ID = ~0u;

const char USAGE[] = "usage: odsfs IMAGE MOUNTPOINT [-o OPTIONS]\n";

const char HELP[] = "\n"
                    "Mounts the ODS-2 volume image IMAGE read-only at MOUNTPOINT. Unmount with\n"
                    "fusermount3 -u MOUNTPOINT.\n"
                    "\n"
                    "odsfs options:\n"
                    "    -o versions            show every version as NAME.TYPE;N as well\n"
                    "    -o lower               show names in lower case\n"
                    "    -o text                show record files as text, by record format\n"
                    "    -o uid=N               owner of every file (default: the caller)\n"
                    "    -o gid=N               group of every file (default: the caller's)\n"
                    "\n";

struct command_line {
    char* image = nullptr;
    int versions = 0;
    int lower = 0;
    int text = 0;
    unsigned uid = NO_ID;
    unsigned gid = NO_ID;
};

#define ODSFS_OPTION(t, field, value)                                                              \
    {                                                                                              \
        t, offsetof(command_line, field), value                                                    \
    }
const fuse_opt ODSFS_OPTIONS[] = {
    ODSFS_OPTION("versions", versions, 1), ODSFS_OPTION("lower", lower, 1),
    ODSFS_OPTION("text", text, 1),         ODSFS_OPTION("uid=%u", uid, 0),
    ODSFS_OPTION("gid=%u", gid, 0),        FUSE_OPT_END,
};
#undef ODSFS_OPTION

// The first operand is the image; the rest (the mount point) go to libfuse.
int take_operand(void* data, const char* arg, int key, fuse_args*)
{
    auto& cmd = *static_cast<command_line*>(data);
    if (key != FUSE_OPT_KEY_NONOPT || cmd.image != nullptr)
        return 1;
    cmd.image = strdup(arg);
    return 0;
}

// The mount options odsfs always sets: read-only, named after the image.
bool add_mount_options(fuse_args& args, const char* image)
{
    char* option_text = nullptr;
    const std::string fixed = "ro,subtype=odsfs,max_read=" + std::to_string(odsfs::MAX_READ);
    const bool added = fuse_opt_add_opt(&option_text, fixed.c_str()) == 0 &&
                       fuse_opt_add_opt(&option_text, "fsname=") == 0;
    // fsname=IMAGE with the image's commas and backslashes escaped.
    std::string with_name = added ? option_text : "";
    std::free(option_text);
    option_text = nullptr;
    if (!added || fuse_opt_add_opt_escaped(&option_text, image) != 0)
        return false;
    with_name += option_text;
    std::free(option_text);
    return fuse_opt_add_arg(&args, "-o") == 0 && fuse_opt_add_arg(&args, with_name.c_str()) == 0;
}

// The image is mountable: a file or device holding an ODS-2 volume; else
// false after one line saying why.
bool check_image(const char* image)
{
    char why[256];
    if (!diagnose_volume(image, why, sizeof why)) {
        report("%s: %s", image, why);
        return false;
    }
    volume.boot_block_readable = true;
    volume.detailed_read_errors = true;
    return open_volume_path(image) == 1;
}

void take_settings(const command_line& cmd)
{
    odsfs::settings.versions = cmd.versions != 0;
    odsfs::settings.lower = cmd.lower != 0;
    odsfs::settings.text = cmd.text != 0;
    odsfs::settings.uid = cmd.uid == NO_ID ? ::getuid() : static_cast<uid_t>(cmd.uid);
    odsfs::settings.gid = cmd.gid == NO_ID ? ::getgid() : static_cast<gid_t>(cmd.gid);
    ::clock_gettime(CLOCK_REALTIME, &odsfs::settings.mount_time);
}

// Mounts at mountpoint and serves requests until unmounted; the exit status.
int serve(fuse_args& args, const fuse_cmdline_opts& opts)
{
    const fuse_lowlevel_ops& ops = odsfs::operations();
    fuse_session* se = fuse_session_new(&args, &ops, sizeof ops, nullptr);
    if (se == nullptr)
        return EXIT_REFUSED;
    int status = EXIT_REFUSED;
    if (fuse_set_signal_handlers(se) == 0) {
        if (fuse_session_mount(se, opts.mountpoint) == 0) {
            if (fuse_daemonize(opts.foreground) == 0 &&
                (opts.foreground || odsfs::send_reports_to_syslog()))
                status = fuse_session_loop(se) == 0 ? 0 : EXIT_REFUSED;
            fuse_session_unmount(se);
        }
        fuse_remove_signal_handlers(se);
    }
    fuse_session_destroy(se);
    return status;
}

int usage_error(const char* message)
{
    std::fprintf(stderr, "odsfs: %s\n%s", message, USAGE);
    return EXIT_USAGE;
}

} // namespace

int main(int argc, char** argv)
{
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    command_line cmd;
    fuse_cmdline_opts opts{};
    set_report_subject("odsfs");
    report_separator = ": ";
    if (fuse_opt_parse(&args, &cmd, ODSFS_OPTIONS, take_operand) != 0)
        return EXIT_USAGE;
    if (fuse_parse_cmdline(&args, &opts) != 0)
        return EXIT_USAGE;
    int status = 0;
    if (opts.show_help) {
        std::printf("%s%s", USAGE, HELP);
        fuse_cmdline_help();
        fuse_lowlevel_help();
    } else if (opts.show_version) {
        std::printf("odsfs version %s\n", ODSFS_VERSION);
        std::fflush(stdout);
        fuse_lowlevel_version();
    } else if (cmd.image == nullptr || opts.mountpoint == nullptr) {
        status = usage_error(cmd.image == nullptr ? "no image given" : "no mount point given");
    } else if (!check_image(cmd.image) || !add_mount_options(args, cmd.image)) {
        status = EXIT_REFUSED;
    } else {
        take_settings(cmd);
        odsfs::measure_volume();
        status = serve(args, opts);
    }
    std::free(opts.mountpoint);
    std::free(cmd.image);
    fuse_opt_free_args(&args);
    return status;
}
