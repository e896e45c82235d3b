// A file's contents read to its end through its map, converted, and handed
// piece by piece to a program's sink: what the companion programs extract.
#pragma once

#include "ods2/attributes.hpp"
#include "ods2/file_header.hpp"
#include "output/convert.hpp"

#include <cstddef>
#include <cstdint>

// Takes n bytes; 1 to go on, 0 to stop the export (the sink has reported why).
using export_sink = int (*)(void* context, const std::uint8_t* bytes, std::size_t n);

// Besides CONVERT_AUTO and CONVERT_RAW: every block the map gives, whole,
// without regard to the end of file.
inline constexpr std::int32_t EXPORT_BLOCKS = 2;

// Reads the file of header h (its bytes to the end of file, or every
// allocated block for EXPORT_BLOCKS) and hands what mode makes of them to
// sink. 1 when all came; 0 after reporting: a read error or a map that ends
// before the end of file (what came before it was handed over), a record cut
// short by the end of file (reported once, the records before it and its
// bytes handed over), or the sink stopping it. Memory is fixed: one buffer of
// blocks and one of output, on the stack.
[[nodiscard]] int export_file(const file_header& h, std::int32_t mode, export_sink sink,
                              void* context);
