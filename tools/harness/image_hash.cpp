// Content fingerprints of volume image files, which may be large and sparse, so that a run
// that wrote to an image is noticed.
#include "harness/image_hash.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harness {
namespace {

constexpr std::size_t CHUNK = 1 << 20;
constexpr std::uint64_t MULTIPLIER = 0x9e3779b97f4a7c15ULL; // odd, so each step is a bijection

// Every step is invertible, so a change in any one word always changes the result.
std::uint64_t hash_bytes(const unsigned char* p, std::size_t n)
{
    std::uint64_t h = n;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * MULTIPLIER;
        h ^= h >> 29;
    }
    for (; i < n; ++i)
        h = (h ^ p[i]) * MULTIPLIER;
    return h ^ (h >> 32);
}

std::uint64_t zero_chunk_hash(std::size_t n)
{
    static const std::vector<unsigned char> zeros(CHUNK, 0);
    static const std::uint64_t full = hash_bytes(zeros.data(), CHUNK);
    return n == CHUNK ? full : hash_bytes(zeros.data(), n);
}

// The start of the first data extent at or after off; size when there is
// none, off when the file system cannot tell.
off_t next_data(int fd, off_t off, off_t size)
{
    const off_t data = lseek(fd, off, SEEK_DATA);
    if (data < 0)
        return errno == ENXIO ? size : off;
    return data;
}

bool read_fully(int fd, unsigned char* buf, std::size_t len, off_t off)
{
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = pread(fd, buf + done, len - done, off + static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::uint64_t hash_file(int fd, off_t size)
{
    std::vector<unsigned char> buf(CHUNK);
    std::uint64_t h = static_cast<std::uint64_t>(size);
    off_t data = 0; // where the next data extent may start: one lookup spans a whole hole
    for (off_t off = 0; off < size; off += static_cast<off_t>(CHUNK)) {
        const auto len = static_cast<std::size_t>(std::min<off_t>(size - off, CHUNK));
        if (data < off)
            data = next_data(fd, off, size);
        std::uint64_t chunk;
        if (data >= off + static_cast<off_t>(len))
            chunk = zero_chunk_hash(len);
        else if (read_fully(fd, buf.data(), len, off))
            chunk = hash_bytes(buf.data(), len);
        else
            chunk = ~0ULL; // unreadable now: differs from any state that was readable
        h = (h ^ chunk) * MULTIPLIER;
    }
    return h;
}

} // namespace

image_state fingerprint(const std::string& path)
{
    image_state s;
    // not blocking: an image may be a FIFO, which is not hashed
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        s.exists = access(path.c_str(), F_OK) == 0;
        if (fd >= 0)
            close(fd);
        return s;
    }
    s.exists = true;
    s.size = st.st_size;
    if (S_ISREG(st.st_mode))
        s.hash = hash_file(fd, st.st_size);
    close(fd);
    return s;
}

} // namespace harness
