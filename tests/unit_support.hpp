// In-process test support: a scratch device file that stands in for the
// mounted volume, and the run-wide state a test starts from.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "frontend/cli.hpp"
#include "ods2/layout.hpp"
#include "ods2/volume.hpp"

namespace unit {

// A sparse file whose blocks the test writes one by one; while the fixture
// lives, it is the mounted volume's descriptor.
class scratch_device : public testing::Test {
  protected:
    void SetUp() override
    {
        std::strcpy(path_, "/tmp/odscp-unit-XXXXXX");
        fd_ = ::mkstemp(path_);
        ASSERT_GE(fd_, 0);
        volume = volume_record{};
        volume.fd = ::open(path_, O_RDONLY);
        ASSERT_GE(volume.fd, 0);
        std::strcpy(arg_, "arg");
        current_arg = args_;
    }

    void TearDown() override
    {
        if (volume.fd >= 0)
            ::close(volume.fd);
        volume.fd = -1;
        ::close(fd_);
        ::unlink(path_);
    }

    void put_block(std::uint64_t lbn, const block& b)
    {
        ASSERT_EQ(::pwrite(fd_, b.data(), BLOCK_SIZE, static_cast<off_t>(lbn * BLOCK_SIZE)),
                  static_cast<ssize_t>(BLOCK_SIZE));
    }

    // A block that names its own LBN in its first eight bytes.
    void stamp(std::uint64_t lbn)
    {
        block b{};
        for (int i = 0; i < 8; ++i)
            b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(lbn >> (8 * i));
        put_block(lbn, b);
    }

    void set_device_blocks(std::uint64_t blocks)
    {
        ASSERT_EQ(::ftruncate(fd_, static_cast<off_t>(blocks * BLOCK_SIZE)), 0);
    }

    static std::uint64_t stamp_of(const block& b)
    {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = v << 8 | b[static_cast<std::size_t>(i)];
        return v;
    }

  private:
    char path_[32];
    int fd_ = -1;
    char arg_[8];
    char* args_[2] = {arg_, nullptr};
};

inline void put_u16(block& b, std::size_t off, std::uint16_t v)
{
    b[off] = static_cast<std::uint8_t>(v);
    b[off + 1] = static_cast<std::uint8_t>(v >> 8);
}

} // namespace unit
