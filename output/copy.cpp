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
    if (switch_uid && ::seteuid(euid) != 0) {
    }
    if (switch_gid && ::setegid(egid) != 0) {
    }
    return f;
}

// The n bytes of a block that belong to the file: whole blocks before the
// end-of-file block, ffbyte bytes of it (at most the block).
std::size_t bytes_in_block(std::int64_t vbn, std::int64_t eof_vbn)
{
    if (vbn < eof_vbn)
        return BLOCK_SIZE;
    return std::min<std::size_t>(ffbyte(target_header), BLOCK_SIZE);
}

int copy_blocks()
{
    block buffer;
    for (std::int64_t vbn = 1; read_vblock(vbn, buffer, target_header); ++vbn) {
        if (std::fwrite(buffer.data(), 1, BLOCK_SIZE, output_stream) < BLOCK_SIZE)
            return write_error();
    }
    return 1;
}

// Image and text modes: virtual blocks 1 to efblk, the last one up to ffbyte.
int copy_to_end_of_file(bool decode)
{
    block buffer;
    const std::int64_t eof_vbn = efblk(target_header);
    for (std::int64_t vbn = 1; vbn <= eof_vbn; ++vbn) {
        if (!read_vblock(vbn, buffer, target_header))
            break;
        const std::size_t n = bytes_in_block(vbn, eof_vbn);
        if (decode) {
            for (std::size_t i = 0; i < n; ++i)
                put_record_byte(buffer[i]);
        } else if (std::fwrite(buffer.data(), 1, n, output_stream) < n) {
            return write_error();
        }
    }
    return 1;
}

int copy_text()
{
    reset_record_decoder(); // a copy cut short must not garble the next one
    copy_to_end_of_file(true);
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
    output_stream = f;
    return 1;
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
        return copy_to_end_of_file(false);
    default:
        return copy_text();
    }
}
