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

// VMS times count 100 ns units since 1858-11-17 00:00 UTC.
inline constexpr std::uint64_t VMS_TICKS_PER_SECOND = 10000000ULL;
inline constexpr std::uint64_t VMS_TIME_OF_UNIX_EPOCH = 40587ULL * 86400ULL * VMS_TICKS_PER_SECOND;
// 2000-01-01 00:00 in VMS time.
inline constexpr std::uint64_t DEFAULT_DATE = 51544ULL * 86400ULL * VMS_TICKS_PER_SECOND;

// A Unix time (seconds and nanoseconds since 1970-01-01 UTC) in VMS time; times before
// 1858-11-17 give 0.
[[nodiscard]] constexpr std::uint64_t vms_time(std::int64_t seconds, std::uint32_t nanoseconds)
{
    const std::int64_t epoch =
        static_cast<std::int64_t>(VMS_TIME_OF_UNIX_EPOCH / VMS_TICKS_PER_SECOND);
    if (seconds < -epoch)
        return 0;
    return static_cast<std::uint64_t>(seconds + epoch) * VMS_TICKS_PER_SECOND + nanoseconds / 100;
}

// The four dates of the identification area, VMS times; 0 is "none".
struct file_dates {
    std::uint64_t creation = DEFAULT_DATE;
    std::uint64_t revision = DEFAULT_DATE;
    std::uint64_t expiration = 0;
    std::uint64_t backup = 0;
};

struct header_fields {
    file_id id{};
    std::uint16_t segment = 0; // 0 for the primary header
    file_id extension{};       // the next header of the file, or zeros
    std::uint8_t record_type = RT_FIXED;
    std::uint8_t record_attributes = 0;
    std::uint16_t record_size = 512;
    std::uint8_t vfc_size = 0;    // FH_VFCSIZE: fixed control bytes of VFC records
    std::uint16_t max_record = 0; // FH_MAXREC
    std::uint32_t hiblk = 0;
    std::uint32_t efblk = 1;
    std::uint16_t ffbyte = 0;
    std::uint32_t file_characteristics = 0;
    std::uint16_t owner_member = 1;
    std::uint16_t owner_group = 1;
    std::uint16_t protection = PROT_DEFAULT;
    file_id back_link{};
    std::string ident_name{}; // "NAME.TYPE;VERSION"; empty: no identification area
    file_dates dates{};
    std::uint16_t revision_count = 1;
    std::uint8_t ident_offset = DEFAULT_IDENT_OFFSET; // words
    std::uint8_t map_offset = DEFAULT_MAP_OFFSET;
    std::vector<std::uint16_t> map{};
};

// Throws std::invalid_argument when a file number passes 24 bits, or the map or the
// identification area does not fit before the checksum word.
[[nodiscard]] block encode_header(const header_fields& h);

void put_file_id(std::span<std::uint8_t> b, std::size_t offset, const file_id& id);
// efblk, high word first.
void put_efblk(std::span<std::uint8_t> header, std::uint32_t efblk);

} // namespace volbuild
