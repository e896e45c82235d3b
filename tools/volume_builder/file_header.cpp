// Encoding of file headers.
#include "volume_builder/file_header.hpp"

#include <algorithm>
#include <stdexcept>

namespace volbuild {

namespace {

void put_text(std::span<std::uint8_t> b, std::size_t offset, std::string_view text,
              std::size_t width)
{
    check_field(b.size(), offset, width);
    for (std::size_t i = 0; i < width; ++i)
        b[offset + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
}

// The name's first 20 characters, then its continuation; both blank-padded.
void put_ident_area(block& b, const header_fields& h)
{
    const std::size_t at = std::size_t{h.ident_offset} * 2;
    if (at + FI_SIZE > FH_CHECKSUM)
        throw std::invalid_argument("the identification area does not fit in the header");
    const std::string_view name = h.ident_name;
    const std::size_t head = std::min(name.size(), FI_FILENAME_LEN);
    put_text(b, at + FI_FILENAME, name.substr(0, head), FI_FILENAME_LEN);
    put_text(b, at + FI_FILENAMEXT, name.substr(head), FI_FILENAMEXT_LEN);
    put_u16(b, at + FI_REVISION, h.revision_count);
    put_u64(b, at + FI_CREDATE, h.dates.creation);
    put_u64(b, at + FI_REVDATE, h.dates.revision);
    put_u64(b, at + FI_EXPDATE, h.dates.expiration);
    put_u64(b, at + FI_BAKDATE, h.dates.backup);
}

void put_record_attributes(block& b, const header_fields& h)
{
    b[FH_RTYPE] = h.record_type;
    b[FH_RATTRIB] = h.record_attributes;
    put_u16(b, FH_RSIZE, h.record_size);
    put_u32_high_first(b, FH_HIBLK_HIGH, h.hiblk);
    put_efblk(b, h.efblk);
    put_u16(b, FH_FFBYTE, h.ffbyte);
    b[FH_VFCSIZE] = h.vfc_size;
    put_u16(b, FH_MAXREC, h.max_record);
}

void put_map(block& b, const header_fields& h)
{
    const std::size_t at = std::size_t{h.map_offset} * 2;
    if (at + 2 * h.map.size() > FH_CHECKSUM)
        throw std::invalid_argument("map does not fit in the header");
    for (std::size_t i = 0; i < h.map.size(); ++i)
        put_u16(b, at + 2 * i, h.map[i]);
    b[FH_MAP_IN_USE] = static_cast<std::uint8_t>(h.map.size());
}

} // namespace

void put_file_id(std::span<std::uint8_t> b, std::size_t offset, const file_id& id)
{
    if (id.number > MAX_FILE_NUMBER)
        throw std::invalid_argument("file numbers have 24 bits");
    put_u16(b, offset, static_cast<std::uint16_t>(id.number & 0xFFFF));
    put_u16(b, offset + 2, id.sequence);
    put_u8(b, offset + 4, id.rvn);
    put_u8(b, offset + 5, static_cast<std::uint8_t>(id.number >> 16));
}

void put_efblk(std::span<std::uint8_t> header, std::uint32_t efblk)
{
    put_u32_high_first(header, FH_EFBLK_HIGH, efblk);
}

block encode_header(const header_fields& h)
{
    block b{};
    b[FH_IDENT_OFFSET] = h.ident_offset;
    b[FH_MAP_OFFSET] = h.map_offset;
    b[FH_ACL_OFFSET] = NO_ACL_OFFSET;
    b[FH_RESERVED_OFFSET] = NO_ACL_OFFSET;
    put_u16(b, FH_SEGMENT, h.segment);
    put_u16(b, FH_STRUCTURE_LEVEL, STRUCTURE_LEVEL);
    put_file_id(b, FH_FILE_NUMBER, h.id);
    put_file_id(b, FH_EXT_FILE_NUMBER, h.extension);
    put_record_attributes(b, h);
    put_u32(b, FH_FILE_CHAR, h.file_characteristics);
    put_u16(b, FH_OWNER_MEMBER, h.owner_member);
    put_u16(b, FH_OWNER_GROUP, h.owner_group);
    put_u16(b, FH_PROTECTION, h.protection);
    put_file_id(b, FH_BACKLINK, h.back_link);
    put_u32(b, FH_HIGHWATER, h.efblk);
    if (!h.ident_name.empty())
        put_ident_area(b, h);
    put_map(b, h); // after the ident area: a low map offset overlays it
    put_block_checksum(b);
    return b;
}

} // namespace volbuild
