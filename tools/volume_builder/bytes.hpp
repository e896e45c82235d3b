// Little-endian field access inside a block, checked against the block's end, and
// the word checksum that home blocks and file headers carry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "volume_builder/layout.hpp"

namespace volbuild {

using block = std::array<std::uint8_t, BLOCK_SIZE>;

inline void check_field(std::size_t size, std::size_t offset, std::size_t width)
{
    if (offset > size || width > size - offset)
        throw std::out_of_range("field lies outside the block");
}

inline void put_u8(std::span<std::uint8_t> b, std::size_t offset, std::uint8_t value)
{
    check_field(b.size(), offset, 1);
    b[offset] = value;
}

inline void put_u16(std::span<std::uint8_t> b, std::size_t offset, std::uint16_t value)
{
    check_field(b.size(), offset, 2);
    b[offset] = static_cast<std::uint8_t>(value & 0xFF);
    b[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void put_u32(std::span<std::uint8_t> b, std::size_t offset, std::uint32_t value)
{
    put_u16(b, offset, static_cast<std::uint16_t>(value & 0xFFFF));
    put_u16(b, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void put_u64(std::span<std::uint8_t> b, std::size_t offset, std::uint64_t value)
{
    put_u32(b, offset, static_cast<std::uint32_t>(value & 0xFFFFFFFF));
    put_u32(b, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

// A 32-bit value stored as two words, high word first (hiblk, efblk).
inline void put_u32_high_first(std::span<std::uint8_t> b, std::size_t offset, std::uint32_t value)
{
    put_u16(b, offset, static_cast<std::uint16_t>(value >> 16));
    put_u16(b, offset + 2, static_cast<std::uint16_t>(value & 0xFFFF));
}

[[nodiscard]] inline std::uint8_t get_u8(std::span<const std::uint8_t> b, std::size_t offset)
{
    check_field(b.size(), offset, 1);
    return b[offset];
}

[[nodiscard]] inline std::uint16_t get_u16(std::span<const std::uint8_t> b, std::size_t offset)
{
    check_field(b.size(), offset, 2);
    return static_cast<std::uint16_t>(b[offset] | static_cast<unsigned>(b[offset + 1]) << 8);
}

[[nodiscard]] inline std::uint32_t get_u32(std::span<const std::uint8_t> b, std::size_t offset)
{
    return get_u16(b, offset) | static_cast<std::uint32_t>(get_u16(b, offset + 2)) << 16;
}

// Sum modulo 2^16 of the first `words` little-endian words.
[[nodiscard]] inline std::uint16_t word_sum(std::span<const std::uint8_t> b, std::size_t words)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < words; ++i)
        sum += get_u16(b, 2 * i);
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

// Sets the last word of a block to the sum of the 255 words before it.
inline void put_block_checksum(std::span<std::uint8_t> b)
{
    put_u16(b, BLOCK_SIZE - 2, word_sum(b, BLOCK_SIZE / 2 - 1));
}

} // namespace volbuild
