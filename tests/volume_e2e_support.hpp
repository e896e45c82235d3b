// End-to-end tests on built volumes: a fixture that writes images into a
// scratch directory and runs odscp with them attached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/harness_support.hpp"
#include "volume_builder/volume_builder.hpp"

namespace vb = volbuild;

inline std::vector<std::uint8_t> bytes_of(const std::string& s)
{
    return {s.begin(), s.end()};
}

// A file of n bytes that differ from block to block and within a block.
inline std::string patterned(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 512) & 0xFF);
    return s;
}

class volume_e2e : public end_to_end {
  protected:
    scratch_dir scratch;

    // Writes the volume's image and returns its path.
    std::string image(const vb::built_volume& v, const std::string& name = "volume.img")
    {
        const std::string path = scratch.path(name);
        v.write_to(path);
        return path;
    }

    // Runs odscp with the volume attached as the default device and as DKA0.
    harness::result run(const vb::built_volume& v, std::vector<std::string> args,
                        harness::request req = {})
    {
        const std::string path = image(v);
        req.images.push_back({"users", path});
        req.images.push_back({"DKA0", path});
        req.args = std::move(args);
        return run_odscp(req);
    }
};
