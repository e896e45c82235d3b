// Encoding of variable-length records.
#include "volume_builder/records.hpp"

#include <stdexcept>

namespace volbuild {

std::vector<std::uint8_t> encode_records(const std::vector<std::string>& lines,
                                         const record_options& options)
{
    std::vector<std::uint8_t> out;
    for (const auto& line : lines) {
        const std::size_t length = line.size() + (options.control_bytes ? 2 : 0);
        if (length > 0xFFFF)
            throw std::invalid_argument("a record holds at most 65535 bytes");
        out.push_back(static_cast<std::uint8_t>(length & 0xFF));
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        if (options.control_bytes)
            out.insert(out.end(), options.control.begin(), options.control.end());
        out.insert(out.end(), line.begin(), line.end());
        if (length % 2 != 0)
            out.push_back(options.pad);
    }
    return out;
}

} // namespace volbuild
