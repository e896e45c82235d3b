// Stand-ins for the core's attribute reader and converter while they are not
// in the core: sizes, owner and protection only, and bytes unconverted.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ods2/attributes.hpp"
#include "output/convert.hpp"

void read_file_attributes(const file_header& h, file_attributes& out)
{
    out = file_attributes{};
    out.fid.number = h.file_number;
    const std::uint32_t eof = efblk(h);
    out.eof_block = eof;
    out.first_free_byte = ffbyte(h);
    out.size_bytes =
        eof == 0 ? 0 : std::uint64_t{eof - 1} * 512 + std::min<unsigned>(ffbyte(h), 512);
    out.owner.group = owner_group(h);
    out.protection = protection(h);
    out.record_format = static_cast<std::uint8_t>(h.bytes[20] & 0x0F);
}

void format_protection(std::uint16_t p, char (&out)[PROTECTION_TEXT])
{
    std::snprintf(out, sizeof out, "%04x", p);
}
void format_uic(uic owner, char (&out)[UIC_TEXT])
{
    std::snprintf(out, sizeof out, "[%o,%o]", owner.group, owner.member);
}
void format_record_format(const file_attributes& a, char (&out)[RECORD_FORMAT_TEXT])
{
    std::snprintf(out, sizeof out, "%u", a.record_format);
}
void format_time(const vms_time&, char (&out)[TIME_TEXT])
{
    std::snprintf(out, sizeof out, "unknown");
}
void start_conversion(record_converter& c, const file_attributes&, std::int32_t mode)
{
    c = record_converter{};
    c.mode = mode;
}
std::size_t convert_bytes(record_converter& c, const std::uint8_t* in, std::size_t n,
                          std::size_t& consumed, std::uint8_t* out, std::size_t capacity)
{
    consumed = std::min(n, capacity);
    std::memcpy(out, in, consumed);
    c.in_offset += consumed;
    return consumed;
}
std::size_t finish_conversion(record_converter&, std::uint8_t*, std::size_t)
{
    return 0;
}
