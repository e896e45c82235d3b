// Extraction: every name checked before it is created, every host path
// reached through directory descriptors without following symbolic links.
#include "odstar/extract.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diag/report.hpp"
#include "ods2/walk.hpp"
#include "odstar/content.hpp"
#include "odstar/names.hpp"
#include "odstar/progress.hpp"
#include "odstar/walk.hpp"

namespace odstar {

namespace {

// A host directory that stands for a VMS directory being walked. It is
// created when the first file goes into it (or at once when the directory
// itself is selected) and gets its revision date once its contents are done.
struct host_directory {
    int fd = -1;
    std::string name{};    // in the directory above
    std::string subject{}; // the VMS directory file, for messages
    vms_time revised{};
    bool failed = false; // could not be created; reported once
};

constexpr int TEMPORARY_ATTEMPTS = 100;

timespec time_of(const vms_time& t)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t.unix_seconds);
    ts.tv_nsec = static_cast<long>(t.nanoseconds);
    return ts;
}

// Sets the modification time (and the access time to the same), when known.
void set_times(int fd, const vms_time& t)
{
    if (!t.known)
        return;
    const timespec times[2] = {time_of(t), time_of(t)};
    if (::futimens(fd, times) != 0)
        report("cannot set the modification time: %s", std::strerror(errno));
}

class extractor : public walk_visitor {
  public:
    extractor(const run_options& opts, const selection& chosen, int root_fd, progress* shown)
        : opts_(opts), chosen_(chosen), shown_(shown)
    {
        host_directory root;
        root.fd = root_fd;
        dirs_.push_back(std::move(root));
    }

    ~extractor() override
    {
        for (host_directory& d : dirs_)
            if (d.fd >= 0)
                ::close(d.fd);
    }

    extractor(const extractor&) = delete;
    extractor& operator=(const extractor&) = delete;

    bool file(const walk_item& item) override;
    void enter(const walk_item& item) override;
    void leave(const walk_item& item) override;
    bool wanted_below(const std::vector<std::string>& directories) override
    {
        return chosen_.may_select_below(directories);
    }

  private:
    [[nodiscard]] bool selected(const walk_item& item) const;
    [[nodiscard]] bool make_directory(std::size_t index);
    [[nodiscard]] bool open_directory(host_directory& d, int parent_fd);
    void extract_file(const walk_item& item);
    [[nodiscard]] std::string host_name(const walk_item& item) const;
    [[nodiscard]] int create_temporary(int dir_fd, std::string& name);
    [[nodiscard]] bool write_file(const walk_item& item, int dir_fd, const std::string& name);
    void say_done(const walk_item& item);

    const run_options& opts_;
    const selection& chosen_;
    progress* shown_;
    std::vector<host_directory> dirs_;
    unsigned long temporaries_ = 0;
};

bool extractor::selected(const walk_item& item) const
{
    const candidate c{item.directories, std::string_view(item.entry->name, item.entry->name_length),
                      item.entry->version, item.newest};
    return chosen_.selects(c);
}

bool extractor::file(const walk_item& item)
{
    if (item.is_directory) {
        const std::string name = host_directory_name(
            std::string_view(item.entry->name, item.entry->name_length), opts_.lower);
        const std::string why = unsafe_name_reason(name);
        if (why.empty())
            return true;
        report("not extracted, nor anything below it: %s", why.c_str());
        return false;
    }
    if (selected(item))
        extract_file(item);
    return true;
}

void extractor::enter(const walk_item& item)
{
    host_directory d;
    d.name = host_directory_name(std::string_view(item.entry->name, item.entry->name_length),
                                 opts_.lower);
    d.subject = *item.subject;
    d.revised = item.attributes->revised;
    dirs_.push_back(std::move(d));
    if (selected(item))
        (void)make_directory(dirs_.size() -
                             1); // a failure is reported; the files below say nothing more
}

void extractor::leave(const walk_item& item)
{
    (void)item;
    host_directory& d = dirs_.back();
    if (d.fd >= 0) {
        set_report_subject(d.subject.c_str());
        set_times(d.fd, d.revised);
        ::close(d.fd);
    }
    dirs_.pop_back();
}

// Opens the directory d names in parent_fd, never through a symbolic link.
bool extractor::open_directory(host_directory& d, int parent_fd)
{
    d.fd = ::openat(parent_fd, d.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return d.fd >= 0;
}

// Makes the host directory at dirs_[index] and those above it: an existing
// directory is used; anything else of that name (a file, a symbolic link) is
// replaced, unless -k keeps it.
bool extractor::make_directory(std::size_t index)
{
    host_directory& d = dirs_[index];
    if (d.fd >= 0)
        return true;
    if (d.failed || index == 0 || !make_directory(index - 1))
        return false;
    const int parent = dirs_[index - 1].fd;
    set_report_subject(d.subject.c_str());
    if (::mkdirat(parent, d.name.c_str(), 0777) != 0 && errno != EEXIST) {
        report("cannot create the directory: %s", std::strerror(errno));
        d.failed = true;
        return false;
    }
    if (open_directory(d, parent))
        return true;
    if (errno != ENOTDIR && errno != ELOOP) {
        report("cannot open the directory: %s", std::strerror(errno));
    } else if (opts_.keep_old) {
        report("a host file that is not a directory has its name; kept (-k), nothing extracted "
               "below it");
    } else if (::unlinkat(parent, d.name.c_str(), 0) != 0 ||
               ::mkdirat(parent, d.name.c_str(), 0777) != 0 || !open_directory(d, parent)) {
        report("cannot replace the host file of its name with a directory: %s",
               std::strerror(errno));
    } else {
        return true;
    }
    d.failed = true;
    return false;
}

std::string extractor::host_name(const walk_item& item) const
{
    std::string name =
        host_file_name(std::string_view(item.entry->name, item.entry->name_length), opts_.lower);
    if (opts_.all_versions || !item.newest)
        name += ";" + std::to_string(item.entry->version);
    return name;
}

int extractor::create_temporary(int dir_fd, std::string& name)
{
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
        name = ".odstar-" + std::to_string(::getpid()) + "-" + std::to_string(++temporaries_);
        const int fd = ::openat(dir_fd, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0)
                report("cannot create a file: %s", std::strerror(errno));
            return fd;
        }
    }
    report("cannot create a file: no free temporary name");
    return -1;
}

// Writes the file under a temporary name, then renames it to name; on any
// failure the temporary file is removed and name is left as it was.
bool extractor::write_file(const walk_item& item, int dir_fd, const std::string& name)
{
    std::string temporary;
    const int fd = create_temporary(dir_fd, temporary);
    if (fd < 0)
        return false;
    bool ok = write_contents(*item.header, *item.attributes, opts_.mode, fd, shown_);
    if (ok)
        set_times(fd, item.attributes->revised);
    if (::close(fd) != 0 && ok) {
        report("write error: %s", std::strerror(errno));
        ok = false;
    }
    if (ok && ::renameat(dir_fd, temporary.c_str(), dir_fd, name.c_str()) != 0) {
        report("cannot put the file in place as %s: %s", terminal_text(name).c_str(),
               std::strerror(errno));
        ok = false;
    }
    if (!ok)
        (void)::unlinkat(dir_fd, temporary.c_str(), 0);
    return ok;
}

void extractor::say_done(const walk_item& item)
{
    if (shown_ != nullptr)
        shown_->file_done();
    if (!opts_.verbose)
        return;
    if (shown_ != nullptr)
        shown_->clear();
    std::printf("%s\n", item.subject->c_str());
}

void extractor::extract_file(const walk_item& item)
{
    const std::string name = host_name(item);
    const std::string why = unsafe_name_reason(name);
    if (!why.empty()) {
        report("not extracted: %s", why.c_str());
        return;
    }
    if (!opts_.device.empty() && !may_read(*item.header)) {
        report("not extracted: no access under the VMS protection");
        return;
    }
    if (!make_directory(dirs_.size() - 1))
        return;
    set_report_subject(item.subject->c_str());
    const int dir_fd = dirs_.back().fd;
    struct stat existing {};
    if (opts_.keep_old && ::fstatat(dir_fd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        report("a host file of its name exists; kept (-k)");
        return;
    }
    if (write_file(item, dir_fd, name))
        say_done(item);
}

// Counts what an extraction will write, for the progress display.
class counter : public walk_visitor {
  public:
    counter(const selection& chosen, content mode) : chosen_(chosen), mode_(mode) {}
    bool file(const walk_item& item) override
    {
        const candidate c{item.directories,
                          std::string_view(item.entry->name, item.entry->name_length),
                          item.entry->version, item.newest};
        if (!item.is_directory && chosen_.selects(c)) {
            ++files;
            bytes += volume_bytes(*item.attributes, mode_);
        }
        return true;
    }
    bool wanted_below(const std::vector<std::string>& directories) override
    {
        return chosen_.may_select_below(directories);
    }
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;

  private:
    const selection& chosen_;
    content mode_;
};

} // namespace

int extract_volume(const run_options& opts, const selection& chosen)
{
    const walk_settings settings{.enforce_protection = !opts.device.empty()};
    set_report_subject(opts.output_dir.c_str());
    const int root = ::open(opts.output_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        report("cannot open the directory to extract into: %s", std::strerror(errno));
        return EXIT_UNUSABLE;
    }
    std::unique_ptr<progress> shown;
    if (::isatty(STDERR_FILENO) == 1) {
        // A quiet first walk for the totals; its failures are met again below.
        counter totals(chosen, opts.mode);
        const std::uint64_t reports = report_count;
        const int saved = ::dup(STDERR_FILENO);
        const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved >= 0 && null_fd >= 0) {
            std::fflush(stderr);
            ::dup2(null_fd, STDERR_FILENO);
            walk_volume(settings, totals);
            std::fflush(stderr);
            ::dup2(saved, STDERR_FILENO);
        }
        if (saved >= 0)
            ::close(saved);
        if (null_fd >= 0)
            ::close(null_fd);
        report_count = reports;
        shown = std::make_unique<progress>(totals.files, totals.bytes);
        if (!shown->shown())
            shown.reset();
    }
    {
        extractor x(opts, chosen, root, shown.get());
        walk_volume(settings, x);
    }
    shown.reset();
    set_report_subject("odstar");
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        report("write error on standard output");
    return report_count > 0 ? EXIT_SOME_FAILED : EXIT_OK;
}

} // namespace odstar
