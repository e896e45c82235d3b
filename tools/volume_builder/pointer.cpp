// Encoding of retrieval pointers: bits 15-14 of the first word give the format.
#include "volume_builder/pointer.hpp"

#include <stdexcept>

namespace volbuild {

namespace {

constexpr std::uint32_t FORMAT1_MAX_LBN = (1U << 22) - 1;

std::uint16_t word(unsigned value)
{
    return static_cast<std::uint16_t>(value & 0xFFFF);
}

int resolved_format(const pointer& p)
{
    return p.format == FORMAT_AUTO ? smallest_format(p.count, p.lbn) : p.format;
}

void check_fits(int format, const pointer& p)
{
    if (format < 0 || format > 3)
        throw std::invalid_argument("retrieval pointer format must be 0 to 3");
    if (format == 0)
        return;
    if (p.count == 0 || p.count > max_count(format))
        throw std::invalid_argument("retrieval pointer count does not fit its format");
    if (format == 1 && p.lbn > FORMAT1_MAX_LBN)
        throw std::invalid_argument("format 1 holds a 22-bit LBN only");
}

} // namespace

pointer placement_word(std::uint16_t bits)
{
    return pointer{0, 0, 0, bits};
}

pointer run(std::uint32_t count, std::uint32_t lbn, int format)
{
    return pointer{format, count, lbn, 0};
}

std::uint32_t max_count(int format)
{
    switch (format) {
    case 1:
        return 1U << 8;
    case 2:
        return 1U << 14;
    case 3:
        return 1U << 30;
    default:
        return 0;
    }
}

int smallest_format(std::uint32_t count, std::uint32_t lbn)
{
    if (count == 0)
        throw std::invalid_argument("a pointer that maps blocks maps at least one");
    if (count <= max_count(1) && lbn <= FORMAT1_MAX_LBN)
        return 1;
    if (count <= max_count(2))
        return 2;
    if (count <= max_count(3))
        return 3;
    throw std::invalid_argument("no retrieval pointer maps more than 2^30 blocks");
}

std::size_t pointer_words(const pointer& p)
{
    return static_cast<std::size_t>(resolved_format(p)) + 1;
}

// Word 0 holds the format in bits 15-14; the count is stored less one.
std::vector<std::uint16_t> encode_pointer(const pointer& p)
{
    const int format = resolved_format(p);
    check_fits(format, p);
    const std::uint32_t c = p.count - 1;
    switch (format) {
    case 0:
        return {word(p.placement & 0x3FFFU)};
    case 1:
        return {word(0x4000U | (p.lbn >> 16) << 8 | c), word(p.lbn)};
    case 2:
        return {word(0x8000U | c), word(p.lbn), word(p.lbn >> 16)};
    default:
        return {word(0xC000U | c >> 16), word(c), word(p.lbn), word(p.lbn >> 16)};
    }
}

} // namespace volbuild
