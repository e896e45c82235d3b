// The least a reader of a fragmented file must do: read each extent of the
// file from the image with pread and write the bytes out through one 512 KiB
// buffer, as odscp's image mode does, with no volume structure read at all.
// The benchmark's floor for the rows whose file is in many extents.
//
//     odscp_read_extents EXTENTS IMAGE OUTPUT
//
// EXTENTS holds one "LBN COUNT" line per extent, in VBN order, as
// odscp_make_volumes writes it beside each image.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t BLOCK = 512;
constexpr std::size_t BUFFER_BLOCKS = 1024;
unsigned char buffer[BUFFER_BLOCKS * BLOCK];
std::size_t filled = 0; // blocks in buffer

bool fail(const char* what)
{
    std::fprintf(stderr, "odscp_read_extents: %s: %s\n", what, std::strerror(errno));
    return false;
}

bool flush_buffer(int out)
{
    std::size_t done = 0;
    while (done < filled * BLOCK) {
        const ssize_t n = ::write(out, buffer + done, filled * BLOCK - done);
        if (n <= 0)
            return fail("write");
        done += static_cast<std::size_t>(n);
    }
    filled = 0;
    return true;
}

// Reads count blocks from lbn on, in pieces that fit what is left of the buffer.
bool copy_extent(int image, int out, std::uint64_t lbn, std::uint64_t count)
{
    while (count > 0) {
        if (filled == BUFFER_BLOCKS && !flush_buffer(out))
            return false;
        const std::uint64_t room = BUFFER_BLOCKS - filled;
        const std::size_t blocks = static_cast<std::size_t>(count < room ? count : room);
        const ssize_t n = ::pread(image, buffer + filled * BLOCK, blocks * BLOCK,
                                  static_cast<off_t>(lbn * BLOCK));
        if (n != static_cast<ssize_t>(blocks * BLOCK))
            return fail("pread");
        filled += blocks;
        lbn += blocks;
        count -= blocks;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s EXTENTS IMAGE OUTPUT\n", argv[0]);
        return 2;
    }
    std::FILE* extents = std::fopen(argv[1], "r");
    const int image = ::open(argv[2], O_RDONLY);
    const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (extents == nullptr || image < 0 || out < 0) {
        fail("open");
        return 1;
    }
    unsigned long long lbn = 0, count = 0;
    while (std::fscanf(extents, "%llu %llu", &lbn, &count) == 2) {
        if (!copy_extent(image, out, lbn, count))
            return 1;
    }
    return flush_buffer(out) && ::close(out) == 0 ? 0 : 1;
}
