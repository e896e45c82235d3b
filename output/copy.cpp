// Opening the output and copying a file's virtual blocks to it in one of the
// copy modes.
#include "output/copy.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "diag/report.hpp"
#include "frontend/filespec.hpp"
#include "frontend/options.hpp"
#include "frontend/resolve.hpp"
#include "ods2/file_header.hpp"
#include "ods2/volume.hpp"
#include "output/records.hpp"

std::FILE* output_stream = nullptr;

namespace {

// Listings go through standard output's buffer; copies write whole buffers
// of their own.
char stdout_buffer[std::size_t{64} * 1024];

[[nodiscard]] int write_error()
{
    report("write error");
    return 0;
}

[[nodiscard]] int refuse_binary()
{
    report("Binary mode not yet supported");
    return 0;
}

// Whether the file open on fd is the device the volume is read from (the
// same file, or a device node for the same device).
bool is_the_volume(const struct stat& file)
{
    struct stat device {};
    if (volume.fd < 0 || ::fstat(volume.fd, &device) != 0)
        return false;
    if (file.st_dev == device.st_dev && file.st_ino == device.st_ino)
        return true;
    const bool both_block = S_ISBLK(file.st_mode) && S_ISBLK(device.st_mode);
    const bool both_char = S_ISCHR(file.st_mode) && S_ISCHR(device.st_mode);
    return (both_block || both_char) && file.st_rdev == device.st_rdev;
}

// Opens the host file as fopen's "w" would, but empties it only after making
// sure that it is not the volume being read; nullptr when it cannot be opened
// or is the volume, which is then left as it was.
std::FILE* open_host_file(const char* name)
{
    const int fd = ::open(name, O_WRONLY | O_CREAT, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    std::FILE* f = nullptr;
    if (::fstat(fd, &st) == 0 && !is_the_volume(st) &&
        (!S_ISREG(st.st_mode) || ::ftruncate(fd, 0) == 0))
        f = ::fdopen(fd, "w");
    if (f == nullptr)
        ::close(fd);
    return f;
}

// Opens the host file with the caller's real ids as the effective ones, so an
// installation with set-id bits creates or truncates only what the caller may.
std::FILE* open_as_caller(const char* name)
{
    const uid_t euid = ::geteuid();
    const gid_t egid = ::getegid();
    const bool switch_gid = egid != ::getgid();
    const bool switch_uid = euid != ::getuid();
    if (switch_gid && ::setegid(::getgid()) != 0)
        return nullptr;
    std::FILE* f = nullptr;
    if (!switch_uid || ::seteuid(::getuid()) == 0)
        f = open_host_file(name);
    // A failed restore leaves the process with the caller's ids: fewer
    // privileges, never more, so it is not an error here.
    [[maybe_unused]] const bool restored =
        (!switch_uid || ::seteuid(euid) == 0) && (!switch_gid || ::setegid(egid) == 0);
    return f;
}

// Blocks are read a run at a time: as many consecutive blocks as one retrieval
// pointer maps, with one system call, into this buffer, which is filled from
// as many runs as it holds before its contents are written out.
constexpr std::size_t RUN_BLOCKS = 1024;
constexpr std::size_t RUN_BUFFER_BYTES = RUN_BLOCKS * BLOCK_SIZE;
std::uint8_t run_buffer[RUN_BUFFER_BYTES];
// Text decoded from a full run buffer (each record's data and its newline,
// at most one byte more than the run) after the tail that the last write
// held back: text is written in whole pages, which the host's page cache
// takes faster than writes that end inside a page.
constexpr std::size_t TEXT_PAGE = 4096;
std::uint8_t text_buffer[TEXT_PAGE + RUN_BUFFER_BYTES + 1];

// A copy to a pipe writes a run buffer at a time; a pipe that holds one whole
// takes it without the writer waiting for the reader several times over. The
// pipe stays as it is when it cannot grow (a limit on pipe sizes).
void grow_standard_output_pipe()
{
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode))
        return;
    const int size = ::fcntl(STDOUT_FILENO, F_GETPIPE_SZ);
    if (size >= 0 && static_cast<std::size_t>(size) < RUN_BUFFER_BYTES)
        static_cast<void>(::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, static_cast<int>(RUN_BUFFER_BYTES)));
}

// The bytes of blocks first .. first + n - 1 that belong to the file: whole
// blocks before the end-of-file block, ffbyte bytes of it (at most the block).
std::size_t bytes_in_run(std::int64_t first, std::size_t n, std::int64_t eof_vbn)
{
    const std::int64_t last = first + static_cast<std::int64_t>(n) - 1;
    if (last < eof_vbn)
        return n * BLOCK_SIZE;
    return (n - 1) * BLOCK_SIZE + std::min<std::size_t>(ffbyte(target_header), BLOCK_SIZE);
}

// Fills run_buffer with the file's blocks from vbn on, at most through
// last_vbn; returns how many it holds. ended is set when the map or a read
// ended the file before the buffer was full.
std::size_t fill_run_buffer(std::int64_t& vbn, std::int64_t last_vbn, map_cursor& cursor,
                            bool& ended)
{
    std::size_t held = 0;
    while (held < RUN_BLOCKS && vbn <= last_vbn) {
        const auto left = static_cast<std::uint64_t>(last_vbn - vbn) + 1;
        const auto max = static_cast<std::size_t>(std::min<std::uint64_t>(left, RUN_BLOCKS - held));
        const std::size_t n =
            read_vblocks(vbn, max, run_buffer + held * BLOCK_SIZE, target_header, cursor);
        if (n == 0) {
            ended = true;
            break;
        }
        held += n;
        vbn += static_cast<std::int64_t>(n);
    }
    return held;
}

// A sound file maps no more blocks than its device holds; when the device
// does not tell its size there is no such bound.
std::int64_t device_bound()
{
    const std::uint64_t blocks = volume.device_blocks;
    return blocks == 0 || blocks > static_cast<std::uint64_t>(INT64_MAX)
               ? INT64_MAX
               : static_cast<std::int64_t>(blocks);
}

// Whether the map names virtual block vbn, which the copy does not read.
bool maps_block(std::int64_t vbn, map_cursor& cursor)
{
    block_run run;
    return map_vblock(vbn, target_header, run, cursor);
}

// What a copy's reading ended with: a write error (0), the end of the file
// or of its map (1), or the device's size while the map went on.
constexpr int RUN_WRITE_FAILED = 0;
constexpr int RUN_DONE = 1;
constexpr int RUN_MAP_TOO_LARGE = 2;

// Reads the file's blocks from VBN 1 through last_vbn, or until its map or a
// read ends, handing each buffer of them to emit; stops when emit returns 0.
// No more blocks are read than the device holds: a map that goes on past
// them names blocks again.
template <typename Emit> [[nodiscard]] int for_each_run(std::int64_t last_vbn, Emit emit)
{
    const std::int64_t bound = std::min(last_vbn, device_bound());
    map_cursor cursor;
    bool ended = false;
    std::int64_t vbn = 1;
    while (vbn <= bound && !ended) {
        const std::int64_t first = vbn;
        const std::size_t held = fill_run_buffer(vbn, bound, cursor, ended);
        if (held > 0 && !emit(first, held))
            return RUN_WRITE_FAILED;
    }
    return !ended && vbn <= last_vbn && maps_block(vbn, cursor) ? RUN_MAP_TOO_LARGE : RUN_DONE;
}

// Reports a map cut at the device's size, once everything before it is out.
int copy_ended(int how)
{
    if (how == RUN_MAP_TOO_LARGE)
        report("File map larger than the volume");
    return how == RUN_WRITE_FAILED ? 0 : 1;
}

// Writes straight to the stream's descriptor, after anything the stream still
// holds: a copy writes whole buffers, which the stream would only split.
[[nodiscard]] int write_out(const std::uint8_t* bytes, std::size_t n)
{
    if (std::fflush(output_stream) != 0)
        return write_error();
    const int fd = ::fileno(output_stream);
    while (n > 0) {
        const ssize_t written = ::write(fd, bytes, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return write_error();
        bytes += written;
        n -= static_cast<std::size_t>(written);
    }
    return 1;
}

// Every block the map delivers, whole, without regard to the end of file.
[[nodiscard]] int copy_blocks()
{
    return copy_ended(for_each_run(INT64_MAX, [](std::int64_t, std::size_t n) {
        return write_out(run_buffer, n * BLOCK_SIZE);
    }));
}

// Virtual blocks 1 to efblk, the last one up to ffbyte, unchanged.
[[nodiscard]] int copy_image()
{
    const std::int64_t eof_vbn = efblk(target_header);
    return copy_ended(for_each_run(eof_vbn, [eof_vbn](std::int64_t vbn, std::size_t n) {
        return write_out(run_buffer, bytes_in_run(vbn, n, eof_vbn));
    }));
}

// The same bytes as image mode, decoded from records into lines.
[[nodiscard]] int copy_text()
{
    reset_record_decoder(); // a copy cut short must not garble the next one
    const std::int64_t eof_vbn = efblk(target_header);
    std::size_t held = 0; // decoded bytes not yet written, less than a page
    const int copied = for_each_run(eof_vbn, [eof_vbn, &held](std::int64_t vbn, std::size_t n) {
        held += put_record_span(run_buffer, bytes_in_run(vbn, n, eof_vbn), text_buffer + held,
                                std::end(text_buffer));
        const std::size_t whole = held - held % TEXT_PAGE;
        if (!write_out(text_buffer, whole))
            return 0;
        held -= whole;
        std::memmove(text_buffer, text_buffer + whole, held);
        return 1;
    });
    if (copied == RUN_WRITE_FAILED || !write_out(text_buffer, held))
        return 0;
    return copy_ended(copied);
}

} // namespace

int open_output()
{
    if (options.mode == MODE_BINARY)
        return refuse_binary(); // before any host file is created or emptied
    if (options.to_stdout == 1) {
        output_stream = stdout;
        return 1;
    }
    char name[MAX_FILESPEC + 2];
    std::snprintf(name, sizeof name, "%s.%s", filespec.name, filespec.type);
    std::FILE* f = can_write(name) ? open_as_caller(name) : nullptr;
    if (f == nullptr) {
        report("Can't open output file");
        return 0;
    }
    output_stream = f;
    return 1;
}

void prepare_standard_output()
{
    if (!::isatty(STDOUT_FILENO))
        std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    grow_standard_output_pipe();
}

int can_write(const char* path)
{
    if (::access(path, W_OK) == 0)
        return 1;
    if (::access(path, F_OK) == 0)
        return 0;
    if (std::strchr(path, '/') != nullptr)
        return 0;
    return ::access(".", W_OK) == 0 ? 1 : 0;
}

int copy_file()
{
    switch (options.mode) {
    case MODE_BINARY:
        return refuse_binary();
    case MODE_BLOCKS:
        return copy_blocks();
    case MODE_IMAGE:
        return copy_image();
    default:
        return copy_text();
    }
}
