// A file's contents through the mount: its bytes at any offset, each read
// mapping only the blocks it needs, or its text converted by record format,
// with the conversion's position kept per open file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ods2/attributes.hpp"
#include "ods2/file_header.hpp"
#include "odsfs/nodes.hpp"
#include "output/convert.hpp"

namespace odsfs {

// The most bytes one read hands back.
inline constexpr std::size_t MAX_READ = 1024 * 1024;

// One open file: what it reads, where its map walk is and, for text, where
// the conversion is.
struct open_file {
    file_header header;
    file_attributes attributes;
    std::string spec;
    bool text = false;
    std::uint64_t size = 0; // bytes it shows
    map_cursor cursor;
    // Text: the conversion has taken in_offset bytes of the file and given
    // out_offset bytes of text; finished once the end of file has been given.
    record_converter converter;
    std::uint64_t in_offset = 0;
    std::uint64_t out_offset = 0;
    bool finished = false;
    // Blocks read ahead for the conversion, from input_vbn.
    std::vector<std::uint8_t> input;
    std::int64_t input_vbn = 0;
    std::size_t input_blocks = 0;
};

// True when -o text reads the file through the converter.
[[nodiscard]] bool read_as_text(const file_attributes& a);

[[nodiscard]] std::unique_ptr<open_file> open_content(const node& n);

// Up to size bytes from offset into out; data and length say where they lie.
// 0, or EIO after reporting the failure.
[[nodiscard]] int read_content(open_file& f, std::uint64_t offset, std::size_t size,
                               std::vector<std::uint8_t>& out, const std::uint8_t*& data,
                               std::size_t& length);

// The length of n's converted text; false after reporting a failed read.
[[nodiscard]] bool converted_size(const node& n, std::uint64_t& size);

} // namespace odsfs
