// Retrieval pointers: the 1- to 4-word entries of a file header's map that map runs
// of virtual blocks onto logical blocks.
#pragma once

#include <cstdint>
#include <vector>

namespace volbuild {

inline constexpr int FORMAT_AUTO = -1; // the smallest format that holds count and LBN

// One map entry. Format 0 maps nothing and carries placement bits; formats 1 to 3
// map `count` blocks from `lbn` on.
struct pointer {
    int format = FORMAT_AUTO;
    std::uint32_t count = 0;
    std::uint32_t lbn = 0;
    std::uint16_t placement = 0; // format 0: bits 13-0 of its one word
};

[[nodiscard]] pointer placement_word(std::uint16_t bits = 0);
[[nodiscard]] pointer run(std::uint32_t count, std::uint32_t lbn, int format = FORMAT_AUTO);

// Largest count a format holds: 0, 256, 16384 or 2^30.
[[nodiscard]] std::uint32_t max_count(int format);
// Format 1 when count <= 256 and lbn < 2^22, else 2 when count <= 16384, else 3.
[[nodiscard]] int smallest_format(std::uint32_t count, std::uint32_t lbn);
// Words the pointer occupies once its format is resolved: format + 1.
[[nodiscard]] std::size_t pointer_words(const pointer& p);
// The pointer's words; throws std::invalid_argument when count or LBN do not fit.
[[nodiscard]] std::vector<std::uint16_t> encode_pointer(const pointer& p);

} // namespace volbuild
