// Test support: variable-length records as they are stored, for the decoders' tests.
#pragma once

#include <string>

namespace record_support {

// A record of a length word, the bytes and, after an odd length, a pad byte.
inline std::string record(const std::string& data, char pad = '\xEE')
{
    std::string r;
    r += static_cast<char>(data.size() & 0xFF);
    r += static_cast<char>(data.size() >> 8);
    r += data;
    if (data.size() % 2)
        r += pad;
    return r;
}

} // namespace record_support
