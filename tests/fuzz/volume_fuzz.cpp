// Fuzz target: the input is the image of device DKA0. Each input is mounted and
// listed, every file of its MFD copied in every mode, its directories walked two
// levels down, through the same calls a run of odscp makes for its arguments;
// then, as the companion programs use the library: diagnosed and opened by
// path, its MFD walked as entries, each file's attributes read and formatted,
// and its bytes exported and converted in every format; and as odstar does:
// mounted by path, walked whole and listed long and as JSON, through a
// pattern, and under the protection rule as -d walks it.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diag/report.hpp"
#include "frontend/cli.hpp"
#include "frontend/filespec.hpp"
#include "frontend/resolve.hpp"
#include "harness/child.hpp"
#include "ods2/attributes.hpp"
#include "ods2/directory.hpp"
#include "ods2/file_header.hpp"
#include "ods2/layout.hpp"
#include "ods2/volume.hpp"
#include "ods2/walk.hpp"
#include "odstar/list.hpp"
#include "odstar/options.hpp"
#include "odstar/pattern.hpp"
#include "output/convert.hpp"
#include "output/copy.hpp"
#include "output/export.hpp"
#include "output/records.hpp"

// Last: it defines a BLOCK_SIZE macro of its own.
#include <sys/mount.h>
#undef BLOCK_SIZE

namespace {

constexpr std::size_t MAX_NAMES = 16;            // names taken from one directory
constexpr std::size_t MAX_NESTED_COPIES = 4;     // files copied from each directory below the MFD
constexpr uid_t CALLER_ID = 1;                   // real uid and gid of the run
constexpr const char* SCRATCH_SIZE = "size=16m"; // host copies past this hit a full disk
constexpr std::size_t MAX_LIBRARY_FILES = 16;    // MFD entries exported as the companions do
constexpr std::size_t MAX_CONVERTED = 64 * 1024; // bytes of a file run through every format

char scratch_root[] = "/tmp/odscp-volume-fuzz-XXXXXX";
std::string image_path;
std::string work_path;
int image_fd = -1;
int home_dir_fd = -1;   // the fuzzer's own working directory, restored after each input
bool host_root = false; // started as root, not inside a user namespace

// The argument being processed, as main would hand it over.
char argument[1024];
char* argument_slot[] = {argument, nullptr};

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "volume_fuzz: %s: %s\n", what, std::strerror(errno));
    std::abort();
}

// A private mount namespace whose /dev holds the host's null, zero and full and vmsDKA0, a
// link to the image: as root directly, otherwise inside a user namespace that maps the
// caller's ids to root.
void enter_private_namespace()
{
    host_root = ::geteuid() == 0 && ::getuid() == 0;
    harness::namespace_plan plan;
    plan.mode = host_root ? harness::isolation::mount_ns : harness::isolation::user_ns;
    plan.uid_map = "0 " + std::to_string(::geteuid()) + " 1";
    plan.gid_map = "0 " + std::to_string(::getegid()) + " 1";
    plan.link_paths = {"/dev/vmsDKA0"};
    plan.link_targets = {image_path};
    harness::setup_failure failure;
    if (!harness::enter_private_namespace(plan, failure)) {
        errno = failure.error;
        die(failure.step);
    }
}

// The scratch directory's name, fixed before the namespace so that /dev can link to its image.
void name_scratch()
{
    if (::mkdtemp(scratch_root) == nullptr)
        die("mkdtemp");
    image_path = std::string(scratch_root) + "/image";
    work_path = std::string(scratch_root) + "/work";
}

// A tmpfs on the scratch directory, visible only in this namespace, holding the image and
// the work directory.
void make_scratch()
{
    if (::mount("tmpfs", scratch_root, "tmpfs", MS_NOSUID | MS_NODEV, SCRATCH_SIZE) != 0)
        die("mounting the scratch directory");
    if (::mkdir(work_path.c_str(), 0755) != 0)
        die("mkdir work");
    image_fd = ::open(image_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (image_fd < 0)
        die("image");
    home_dir_fd = ::open(".", O_RDONLY | O_DIRECTORY);
    if (home_dir_fd < 0)
        die("working directory");
}

// Started as root, the process goes on as a set-id installation run by user 1
// of group 1 would: real ids 1, effective ids root. The protection rule then
// applies, and host files are opened with the caller's ids.
void act_as_set_id_caller()
{
    if (!host_root)
        return; // a user namespace maps no other ids
    if (::chmod(work_path.c_str(), 0777) != 0)
        die("chmod work");
    if (::setresgid(CALLER_ID, 0, 0) != 0 || ::setresuid(CALLER_ID, 0, 0) != 0)
        die("setting the caller's ids");
}

void redirect_stdout_to_null()
{
    const int fd = ::open("/dev/null", O_WRONLY);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0)
        die("redirecting standard output");
    ::close(fd);
    prepare_standard_output();
}

void write_image(const std::uint8_t* data, std::size_t size)
{
    if (::ftruncate(image_fd, 0) != 0)
        die("truncating the image");
    if (size > 0 && ::pwrite(image_fd, data, size, 0) != static_cast<ssize_t>(size))
        die("writing the image");
}

// odscp opens the image read-only; any change to it is a fault.
void check_image_unchanged(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> now(size + 1);
    const ssize_t got = ::pread(image_fd, now.data(), now.size(), 0);
    if (got != static_cast<ssize_t>(size) ||
        (size > 0 && std::memcmp(now.data(), data, size) != 0)) {
        std::fprintf(stderr, "volume_fuzz: the image was changed\n");
        std::abort();
    }
}

// Removes the host files the copies left in the work directory.
void empty_work_directory()
{
    DIR* d = ::opendir(work_path.c_str());
    if (d == nullptr)
        die("opendir work");
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

// Every process-wide state a run starts from.
void reset_state()
{
    if (volume.fd >= 0)
        ::close(volume.fd);
    volume = {};
    options = {};
    current_dir = {};
    dir_resolved = false;
    filespec = {};
    filespec_count = 0;
    target_header = {};
    record_decoder = {};
    dir_scan = {};
    output_stream = nullptr;
    current_arg = nullptr;
}

void set_argument(const std::string& text)
{
    const std::size_t n = std::min(text.size(), sizeof argument - 1);
    std::memcpy(argument, text.data(), n);
    argument[n] = '\0';
    current_arg = argument_slot;
}

// One command-line argument, handled as main handles it.
void run_argument(const std::string& text)
{
    set_argument(text);
    if (argument[0] == '-')
        parse_options();
    else
        process_filespec();
}

// NAME.TYPE of the first records of dir, as stored.
std::vector<std::string> record_names(const file_header& dir)
{
    std::vector<std::string> names;
    for (auto r = next_record(dir, true); r && names.size() < MAX_NAMES;
         r = next_record(dir, false)) {
        const std::size_t count = dir_scan.block[*r + DR_NAME_COUNT];
        // an empty name may start at the block's end: point there, read nothing
        names.emplace_back(reinterpret_cast<const char*>(dir_scan.block.data() + *r + DR_NAME),
                           count);
    }
    return names;
}

bool is_directory_name(const std::string& name)
{
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".DIR") == 0;
}

// Copies one file in every mode, to standard output and, when set, to a host file.
void copy_in_every_mode(const std::string& spec, bool host_file_too)
{
    static const char* const modes[] = {"-t", "-T", "-i", "-I", "-b"};
    for (const char* where : {"-s", "-f"}) {
        if (where[1] == 'f' && !host_file_too)
            break;
        run_argument(where);
        for (const char* mode : modes) {
            run_argument(mode);
            run_argument(spec);
        }
    }
    options = {}; // -T counts up: every file starts from plain options
}

std::string without_dir_type(const std::string& name)
{
    return name.substr(0, name.size() - 4);
}

// Lists [D]; when that made D the current directory, lists each directory
// [D.S] in it and copies its first files, naming no device, to standard output.
void explore_directory(const std::string& d)
{
    const file_header before = current_dir;
    run_argument("-l");
    run_argument("[" + d + "]");
    if (!dir_resolved || before.bytes == current_dir.bytes)
        return;
    const std::vector<std::string> names = record_names(current_dir);
    for (const std::string& name : names) {
        if (is_directory_name(name)) {
            run_argument("-l");
            run_argument("[" + d + "." + without_dir_type(name) + "]");
        }
    }
    std::size_t copies = 0;
    for (const std::string& name : names) {
        if (is_directory_name(name))
            continue;
        if (copies++ == MAX_NESTED_COPIES)
            break;
        options = {};
        copy_in_every_mode("[" + d + "]" + name, false);
    }
}

void run_script()
{
    run_argument("-l");
    run_argument("DKA0:");
    run_argument("DKA0:[000000]");
    if (volume.fd < 0)
        return;
    const std::vector<std::string> names = record_names(volume.mfd_header);
    for (const std::string& name : names) {
        options = {};
        copy_in_every_mode("DKA0:" + name, true);
    }
    for (const std::string& name : names) {
        if (is_directory_name(name))
            explore_directory(without_dir_type(name));
    }
}

// The bytes an export handed over, up to MAX_CONVERTED.
struct export_capture {
    std::vector<std::uint8_t> bytes;
};

int capture(void* context, const std::uint8_t* bytes, std::size_t n)
{
    auto* c = static_cast<export_capture*>(context);
    const std::size_t room = MAX_CONVERTED - std::min(MAX_CONVERTED, c->bytes.size());
    c->bytes.insert(c->bytes.end(), bytes, bytes + std::min(n, room));
    return 1;
}

// Converts bytes as a file of every record format and attribute set would be,
// fed in uneven pieces into a small output.
void convert_in_every_format(const file_attributes& read, const std::vector<std::uint8_t>& bytes)
{
    std::uint8_t out[7];
    for (std::uint8_t format = 0; format <= RECFMT_STREAM_CR + 1; ++format) {
        for (const int attributes : {0, 1, 2, 4, 5, 8, 10, 15}) {
            file_attributes a = read;
            a.record_format = format;
            a.record_attributes = static_cast<std::uint8_t>(attributes);
            a.organization = 0;
            record_converter c;
            start_conversion(c, a, CONVERT_AUTO);
            static_cast<void>(converts_to_text(a));
            std::size_t at = 0;
            for (std::size_t piece = 1; at < bytes.size(); piece = piece % 13 + 1) {
                std::size_t consumed = 0;
                const std::size_t n = std::min(piece, bytes.size() - at);
                static_cast<void>(
                    convert_bytes(c, bytes.data() + at, n, consumed, out, sizeof out));
                at += consumed;
            }
            while (finish_conversion(c, out, sizeof out) == sizeof out) {
            }
        }
    }
}

// One file as a companion reads it: attributes, their text forms, every export.
void export_like_a_companion(const file_header& h)
{
    file_attributes a;
    read_file_attributes(h, a);
    char protection_text[PROTECTION_TEXT];
    char uic_text[UIC_TEXT];
    char format_text[RECORD_FORMAT_TEXT];
    char time_text[TIME_TEXT];
    format_protection(a.protection, protection_text);
    format_uic(a.owner, uic_text);
    format_record_format(a, format_text);
    for (const vms_time* t : {&a.created, &a.revised, &a.expires, &a.backup})
        format_time(*t, time_text);
    export_capture raw;
    for (std::int32_t mode : {CONVERT_AUTO, EXPORT_BLOCKS, CONVERT_RAW}) {
        export_capture discard;
        static_cast<void>(export_file(h, mode, capture, mode == CONVERT_RAW ? &raw : &discard));
    }
    convert_in_every_format(a, raw.bytes);
}

// The volume as the companion programs use it: diagnosed and opened by path,
// the MFD walked as entries with a scan state of their own, each file exported.
void run_library()
{
    char message[256];
    static_cast<void>(diagnose_volume(image_path.c_str(), message, sizeof message));
    set_report_subject("library");
    volume.boot_block_readable = true;
    volume.detailed_read_errors = true;
    if (!open_volume_path(image_path.c_str()))
        return;
    static dir_scan_state scan;
    scan = {};
    dir_entry_cursor at;
    dir_entry e;
    std::size_t files = 0;
    static file_header h;
    while (files < MAX_LIBRARY_FILES && next_dir_entry(scan, volume.mfd_header, at, e)) {
        ++files;
        h = {};
        if (read_file_header(e.fid.number, h) == 1)
            export_like_a_companion(h);
    }
}

// One listing of the mounted volume, as odstar -t with these options and
// pattern (none when empty) makes it.
void list_like_odstar(const odstar::run_options& opts, const char* pattern_text)
{
    odstar::selection chosen;
    chosen.every_version_by_default = true;
    odstar::pattern p;
    if (pattern_text[0] != '\0' && odstar::parse_pattern(pattern_text, p).empty())
        chosen.patterns.push_back(p);
    report_count = 0;
    static_cast<void>(odstar::list_volume(opts, chosen));
}

// The volume as odstar reads it: diagnosed and opened by path with LBN 0
// readable, then walked whole three times: listed long, as JSON through a
// subtree pattern, and under the protection rule (-d).
void run_odstar()
{
    const char* const separator = report_separator;
    report_separator = ": ";
    set_report_subject("odstar");
    volume.boot_block_readable = true;
    volume.detailed_read_errors = true;
    char message[256];
    if (diagnose_volume(image_path.c_str(), message, sizeof message) &&
        open_volume_path(image_path.c_str()) != 0) {
        odstar::run_options opts;
        opts.what = odstar::action::list;
        opts.image = image_path;
        opts.verbose = true;
        list_like_odstar(opts, "");
        opts.json = true;
        list_like_odstar(opts, "[*...]%*.*;*");
        opts.image.clear();
        opts.device = "DKA0";
        list_like_odstar(opts, "");
    }
    report_separator = separator;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    name_scratch();
    enter_private_namespace();
    make_scratch();
    redirect_stdout_to_null();
    act_as_set_id_caller();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    write_image(data, size);
    reset_state();
    if (::chdir(work_path.c_str()) != 0)
        die("chdir work");
    run_script();
    reset_state();
    run_library();
    reset_state();
    run_odstar();
    reset_state();
    if (::fchdir(home_dir_fd) != 0)
        die("fchdir");
    check_image_unchanged(data, size);
    empty_work_directory();
    return 0;
}
