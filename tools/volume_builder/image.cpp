// The sparse block image and its output to memory or to a file.
#include "volume_builder/image.hpp"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace volbuild {

namespace {

bool all_zero(const block& b)
{
    return std::all_of(b.begin(), b.end(), [](std::uint8_t v) { return v == 0; });
}

[[noreturn]] void fail(const std::string& what, const std::string& path)
{
    throw std::system_error(errno, std::generic_category(), what + " " + path);
}

void write_all(int fd, const block& b, std::uint64_t lbn, const std::string& path)
{
    std::size_t done = 0;
    while (done < b.size()) {
        const auto offset = static_cast<off_t>(lbn * BLOCK_SIZE + done);
        const ssize_t n = ::pwrite(fd, b.data() + done, b.size() - done, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("cannot write", path);
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

void block_image::resize(std::uint64_t blocks)
{
    blocks_.erase(blocks_.lower_bound(blocks), blocks_.end());
    size_ = blocks;
}

block block_image::read(std::uint64_t lbn) const
{
    const auto it = blocks_.find(lbn);
    return it == blocks_.end() ? block{} : it->second;
}

block& block_image::at(std::uint64_t lbn)
{
    size_ = std::max(size_, lbn + 1);
    return blocks_[lbn];
}

void block_image::write_block(std::uint64_t lbn, std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > BLOCK_SIZE)
        throw std::out_of_range("a block holds 512 bytes");
    block& b = at(lbn);
    b.fill(0);
    std::copy(bytes.begin(), bytes.end(), b.begin());
}

void block_image::set_u8(std::uint64_t lbn, std::size_t offset, std::uint8_t value)
{
    put_u8(at(lbn), offset, value);
}

void block_image::set_u16(std::uint64_t lbn, std::size_t offset, std::uint16_t value)
{
    put_u16(at(lbn), offset, value);
}

void block_image::set_u32(std::uint64_t lbn, std::size_t offset, std::uint32_t value)
{
    put_u32(at(lbn), offset, value);
}

std::uint8_t block_image::get_u8(std::uint64_t lbn, std::size_t offset) const
{
    return volbuild::get_u8(read(lbn), offset);
}

std::uint16_t block_image::get_u16(std::uint64_t lbn, std::size_t offset) const
{
    return volbuild::get_u16(read(lbn), offset);
}

std::uint32_t block_image::get_u32(std::uint64_t lbn, std::size_t offset) const
{
    return volbuild::get_u32(read(lbn), offset);
}

std::vector<std::uint8_t> block_image::bytes() const
{
    std::vector<std::uint8_t> out(size_ * BLOCK_SIZE, 0);
    for (const auto& [lbn, b] : blocks_)
        std::copy(b.begin(), b.end(), out.begin() + static_cast<long>(lbn * BLOCK_SIZE));
    return out;
}

void block_image::write_to(const std::string& path) const
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        fail("cannot create", path);
    try {
        if (::ftruncate(fd, static_cast<off_t>(size_ * BLOCK_SIZE)) != 0)
            fail("cannot size", path);
        for (const auto& [lbn, b] : blocks_)
            if (!all_zero(b))
                write_all(fd, b, lbn, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        fail("cannot close", path);
}

} // namespace volbuild
