// Opening the output and copying a file's virtual blocks to it in one of the
// copy modes.
#include "output/copy.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unistd.h>

#include "frontend/cli.hpp"
#include "frontend/filespec.hpp"
#include "frontend/resolve.hpp"
#include "ods2/file_header.hpp"
#include "output/records.hpp"

std::FILE* output_stream = nullptr;

namespace {

// Stream buffers: one for standard output, one for the host file being
// written (only one is open at a time).
constexpr std::size_t STREAM_BUFFER_SIZE = std::size_t{64} * 1024;
char stdout_buffer[STREAM_BUFFER_SIZE];
char file_buffer[STREAM_BUFFER_SIZE];

int write_error()
{
    report("write error");
    return 0;
}

int refuse_binary()
{
    report("Binary mode not yet supported");
    return 0;
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
        f = std::fopen(name, "w");
    // A failed restore leaves the process with the caller's ids: fewer
    // privileges, never more, so it is not an error here.
    [[maybe_unused]] const bool restored =
        (!switch_uid || ::seteuid(euid) == 0) && (!switch_gid || ::setegid(egid) == 0);
    return f;
}

// Blocks are read a run at a time: as many consecutive blocks as one retrieval
// pointer maps, up to the size of this buffer, with one system call.
constexpr std::size_t RUN_BLOCKS = 256;
std::uint8_t run_buffer[RUN_BLOCKS * BLOCK_SIZE];

// The bytes of blocks first .. first + n - 1 that belong to the file: whole
// blocks before the end-of-file block, ffbyte bytes of it (at most the block).
std::size_t bytes_in_run(std::int64_t first, std::size_t n, std::int64_t eof_vbn)
{
    const std::int64_t last = first + static_cast<std::int64_t>(n) - 1;
    if (last < eof_vbn)
        return n * BLOCK_SIZE;
    return (n - 1) * BLOCK_SIZE + std::min<std::size_t>(ffbyte(target_header), BLOCK_SIZE);
}

// Reads the file's blocks from VBN 1 through last_vbn, or until its map or a
// read ends, handing each run to emit; stops early when emit returns 0.
template <typename Emit> int for_each_run(std::int64_t last_vbn, Emit emit)
{
    map_cursor cursor;
    for (std::int64_t vbn = 1; vbn <= last_vbn;) {
        const auto left = static_cast<std::uint64_t>(last_vbn - vbn) + 1;
        const auto max = static_cast<std::size_t>(std::min<std::uint64_t>(left, RUN_BLOCKS));
        const std::size_t n = read_vblocks(vbn, max, run_buffer, target_header, cursor);
        if (n == 0)
            break;
        if (!emit(vbn, n))
            return 0;
        vbn += static_cast<std::int64_t>(n);
    }
    return 1;
}

int write_out(std::size_t bytes)
{
    return std::fwrite(run_buffer, 1, bytes, output_stream) < bytes ? write_error() : 1;
}

// Every block the map delivers, whole, without regard to the end of file.
int copy_blocks()
{
    return for_each_run(INT64_MAX,
                        [](std::int64_t, std::size_t n) { return write_out(n * BLOCK_SIZE); });
}

// Virtual blocks 1 to efblk, the last one up to ffbyte, unchanged.
int copy_image()
{
    const std::int64_t eof_vbn = efblk(target_header);
    return for_each_run(eof_vbn, [eof_vbn](std::int64_t vbn, std::size_t n) {
        return write_out(bytes_in_run(vbn, n, eof_vbn));
    });
}

// The same bytes as image mode, decoded from records into lines.
int copy_text()
{
    reset_record_decoder(); // a copy cut short must not garble the next one
    const std::int64_t eof_vbn = efblk(target_header);
    for_each_run(eof_vbn, [eof_vbn](std::int64_t vbn, std::size_t n) {
        put_record_span(run_buffer, bytes_in_run(vbn, n, eof_vbn));
        return 1;
    });
    return std::ferror(output_stream) ? write_error() : 1;
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
    std::setvbuf(f, file_buffer, _IOFBF, sizeof file_buffer);
    output_stream = f;
    return 1;
}

void prepare_standard_output()
{
    if (!::isatty(STDOUT_FILENO))
        std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
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
