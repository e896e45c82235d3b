// A volume image held sparsely in memory: LBN n is the block at byte n * 512, blocks
// never written read as zeros, and only non-zero blocks reach the output.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "volume_builder/bytes.hpp"

namespace volbuild {

class block_image {
  public:
    // The device's size in blocks. Writing a block at or past the end grows it.
    [[nodiscard]] std::uint64_t device_blocks() const { return size_; }
    // Sets the device size; blocks at or past the new end are dropped.
    void resize(std::uint64_t blocks);

    [[nodiscard]] block read(std::uint64_t lbn) const;
    [[nodiscard]] bool holds(std::uint64_t lbn) const { return blocks_.count(lbn) != 0; }
    // The block itself, created as zeros when absent.
    block& at(std::uint64_t lbn);
    // Writes up to 512 bytes from the block's start; the rest of the block becomes 0.
    void write_block(std::uint64_t lbn, std::span<const std::uint8_t> bytes);
    void zero_block(std::uint64_t lbn) { write_block(lbn, {}); }

    void set_u8(std::uint64_t lbn, std::size_t offset, std::uint8_t value);
    void set_u16(std::uint64_t lbn, std::size_t offset, std::uint16_t value);
    void set_u32(std::uint64_t lbn, std::size_t offset, std::uint32_t value);
    [[nodiscard]] std::uint8_t get_u8(std::uint64_t lbn, std::size_t offset) const;
    [[nodiscard]] std::uint16_t get_u16(std::uint64_t lbn, std::size_t offset) const;
    [[nodiscard]] std::uint32_t get_u32(std::uint64_t lbn, std::size_t offset) const;

    // The whole device, device_blocks() * 512 bytes.
    [[nodiscard]] std::vector<std::uint8_t> bytes() const;
    // Creates or replaces the file at path: its size set to the device's, then only
    // the non-zero blocks written, so unwritten ranges stay holes. Throws
    // std::system_error on failure.
    void write_to(const std::string& path) const;

  private:
    std::map<std::uint64_t, block> blocks_;
    std::uint64_t size_ = 0;
};

} // namespace volbuild
