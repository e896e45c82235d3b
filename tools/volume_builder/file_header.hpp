// File header blocks: the fields of one header, primary or extension, encoded into
// a 512-byte block with its identification area, map and checksum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume_builder/bytes.hpp"

namespace volbuild {

// A file identification: a 24-bit file number, its sequence and relative volume.
struct file_id {
    std::uint32_t number = 0;
    std::uint16_t sequence = 0;
    std::uint8_t rvn = 0;
};

// 2000-01-01 00:00 in VMS time: 100 ns units since 1858-11-17.
inline constexpr std::uint64_t DEFAULT_DATE = 51544ULL * 86400ULL * 10000000ULL;

struct header_fields {
    file_id id{};
    std::uint16_t segment = 0; // 0 for the primary header
    file_id extension{};       // the next header of the file, or zeros
    std::uint8_t record_type = RT_FIXED;
    std::uint8_t record_attributes = 0;
    std::uint16_t record_size = 512;
    std::uint32_t hiblk = 0;
    std::uint32_t efblk = 1;
    std::uint16_t ffbyte = 0;
    std::uint32_t file_characteristics = 0;
    std::uint16_t owner_member = 1;
    std::uint16_t owner_group = 1;
    std::uint16_t protection = PROT_DEFAULT;
    file_id back_link{};
    std::string ident_name{}; // "NAME.TYPE;VERSION"; empty: no identification area
    std::uint64_t date = DEFAULT_DATE;
    std::uint8_t map_offset = DEFAULT_MAP_OFFSET;
    std::vector<std::uint16_t> map{};
};

// Throws std::invalid_argument when a file number passes 24 bits or the map does
// not fit before the checksum word.
[[nodiscard]] block encode_header(const header_fields& h);

void put_file_id(std::span<std::uint8_t> b, std::size_t offset, const file_id& id);
// efblk, high word first.
void put_efblk(std::span<std::uint8_t> header, std::uint32_t efblk);

} // namespace volbuild
