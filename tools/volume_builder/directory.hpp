// Directory files: records of one name with its version entries, packed into
// 512-byte blocks in name order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume_builder/bytes.hpp"

namespace volbuild {

struct dir_entry {
    std::uint16_t version = 1;
    std::uint32_t file_number = 0; // 24 bits: low word, then the high byte at entry byte 7
    std::uint16_t sequence = 1;
    std::uint8_t rvn = 0;
};

struct dir_record {
    std::string name{}; // "NAME.TYPE", no version
    std::uint16_t version_limit = 0;
    std::uint8_t flags = 0;
    std::vector<dir_entry> entries{}; // stored in the order given
};

// The record's bytes: size word, version limit, flags, name count, name, pad byte
// when the count is odd, entries. Throws when it would not fit in one block.
[[nodiscard]] std::vector<std::uint8_t> encode_dir_record(const dir_record& r);

// A whole directory: records sorted by name, entries by descending version, a name
// with more entries than fit (or than max_entries_per_record, when not 0) split into
// several records. A record never crosses a block; a block whose records leave room
// ends with DIR_END_MARK. An empty directory is one block starting with the mark.
[[nodiscard]] std::vector<block> encode_directory(std::vector<dir_record> records,
                                                  std::size_t max_entries_per_record = 0);

} // namespace volbuild
