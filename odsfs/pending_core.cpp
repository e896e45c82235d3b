// A stand-in for the core's converter while it is not in the core: bytes
// unconverted.
#include <algorithm>
#include <cstring>

#include "output/convert.hpp"

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
