// Encoding of the record formats.
#include "volume_builder/records.hpp"

#include <stdexcept>

namespace volbuild {

std::vector<std::uint8_t> encode_records(const std::vector<std::string>& lines,
                                         const record_options& options)
{
    const std::span<const std::uint8_t> control =
        options.control_bytes ? std::span<const std::uint8_t>(options.control)
                              : std::span<const std::uint8_t>();
    return encode_variable(lines, control, options.pad);
}

std::vector<std::uint8_t> encode_variable(const std::vector<std::string>& records,
                                          std::span<const std::uint8_t> fixed_control,
                                          std::uint8_t pad)
{
    std::vector<std::uint8_t> out;
    for (const auto& record : records) {
        const std::size_t length = record.size() + fixed_control.size();
        if (length > 0xFFFF)
            throw std::invalid_argument("a record holds at most 65535 bytes");
        out.push_back(static_cast<std::uint8_t>(length & 0xFF));
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        out.insert(out.end(), fixed_control.begin(), fixed_control.end());
        out.insert(out.end(), record.begin(), record.end());
        if (length % 2 != 0)
            out.push_back(pad);
    }
    return out;
}

std::vector<std::uint8_t> encode_fixed(const std::vector<std::string>& records, std::size_t size,
                                       std::uint8_t pad)
{
    std::vector<std::uint8_t> out;
    for (const auto& record : records) {
        if (record.size() != size)
            throw std::invalid_argument("a fixed-length record of another length");
        out.insert(out.end(), record.begin(), record.end());
        if (size % 2 != 0)
            out.push_back(pad);
    }
    return out;
}

std::vector<std::uint8_t> encode_stream(const std::vector<std::string>& records,
                                        std::string_view terminator)
{
    std::vector<std::uint8_t> out;
    for (const auto& record : records) {
        out.insert(out.end(), record.begin(), record.end());
        out.insert(out.end(), terminator.begin(), terminator.end());
    }
    return out;
}

} // namespace volbuild
