// Drawing the progress line in place with a carriage return and erase-to-end.
#include "odstar/progress.hpp"

#include <cstdio>

#include <unistd.h>

#include "diag/report.hpp"

namespace odstar {

namespace {

constexpr auto REDRAW = std::chrono::milliseconds(200);
// Written before every diagnostic line while the display is up: back to the
// line's start, erase it.
constexpr const char* CLEAR_LINE = "\r\033[K";

double mib(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

} // namespace

progress::progress(std::uint64_t total_files, std::uint64_t total_bytes)
    : total_files_(total_files), total_bytes_(total_bytes)
{
    enabled_ = ::isatty(STDERR_FILENO) == 1 &&
               (total_files >= PROGRESS_MIN_FILES || total_bytes >= PROGRESS_MIN_BYTES);
    start_ = last_ = std::chrono::steady_clock::now();
    if (enabled_)
        report_line_prefix = CLEAR_LINE;
}

progress::~progress()
{
    clear();
    if (enabled_)
        report_line_prefix = "";
}

void progress::add_bytes(std::uint64_t n)
{
    bytes_ += n;
    update(false);
}

void progress::file_done()
{
    ++files_;
    update(false);
}

void progress::clear()
{
    if (!drawn_)
        return;
    std::fputs(CLEAR_LINE, stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void progress::update(bool force)
{
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - last_ < REDRAW)
        return;
    if (!force && !drawn_ && now - start_ < REDRAW)
        return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? mib(bytes_) / seconds : 0.0;
    std::fprintf(stderr, "%sodstar: %llu/%llu files, %.1f/%.1f MiB, %.1f MiB/s", CLEAR_LINE,
                 static_cast<unsigned long long>(files_),
                 static_cast<unsigned long long>(total_files_), mib(bytes_), mib(total_bytes_),
                 rate);
    std::fflush(stderr);
    drawn_ = true;
}

} // namespace odstar
