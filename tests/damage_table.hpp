// The damaged volumes shared by the end-to-end tests of odscp and odstar: a
// small sound volume, and one way of damaging it per kind of damage.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "volume_builder/volume_builder.hpp"

namespace damage_table {

namespace vb = volbuild;

// [D] with F.TXT: three text records, the middle one spanning into block 2.
struct base_volume {
    vb::built_volume v;
    std::uint32_t dir = 0, file = 0;
};

// add, when given, puts more into [D] before the volume is built.
inline base_volume
base(const std::function<void(vb::volume_builder&, std::uint32_t)>& add = nullptr)
{
    vb::volume_builder b;
    base_volume out;
    out.dir = b.add_directory(vb::MFD_FILE_NUMBER, "D");
    out.file =
        b.add_file(out.dir, "F.TXT", vb::text_file({"first", std::string(700, 'm'), "last"}));
    b.add_file(out.dir, "G.TXT", vb::text_file({"g"}));
    if (add)
        add(b, out.dir);
    out.v = b.build();
    return out;
}

struct damage {
    const char* what;
    std::function<void(base_volume&)> apply;
};

// Every kind of damage, in a fixed order (the first is the sound volume).
inline const std::vector<damage>& damages()
{
    static const std::vector<damage> table = {
        {"sound", [](base_volume&) {}},
        {"short device", [](base_volume& b) { b.v.image.resize(1); }},
        {"home block pointing at LBN 0",
         [](base_volume& b) {
             b.v.image.set_u32(1, vb::HB_IBMAP_LBN, 0);
             b.v.image.set_u16(1, vb::HB_IBMAP_SIZE, 0);
         }},
        {"index file header unreadable",
         [](base_volume& b) { b.v.image.set_u32(1, vb::HB_IBMAP_LBN, 0x7FFFFFF0); }},
        {"MFD header unreadable",
         [](base_volume& b) { b.v.image.resize(b.v.header_lbn(vb::MFD_FILE_NUMBER)); }},
        {"file map past the header",
         [](base_volume& b) { b.v.set_header_u8(b.file, vb::FH_MAP_OFFSET, 254); }},
        {"pointer to LBN 0",
         [](base_volume& b) {
             const auto h = b.v.header(b.file);
             const std::size_t map = std::size_t{h[vb::FH_MAP_OFFSET]} * 2;
             b.v.set_header_u16(b.file, map, 0x4001); // format 1, 2 blocks
             b.v.set_header_u16(b.file, map + 2, 0);
         }},
        {"pointer past the device end",
         [](base_volume& b) { b.v.image.resize(b.v.lbn_of_vbn(b.file, 2)); }},
        {"extension chain that loops",
         [](base_volume& b) {
             b.v.set_header_u16(b.file, vb::FH_EXT_FILE_NUMBER, static_cast<std::uint16_t>(b.file));
         }},
        {"directory continuing in itself, with no end-of-file block",
         [](base_volume& b) {
             b.v.set_header_u16(b.dir, vb::FH_EXT_FILE_NUMBER, static_cast<std::uint16_t>(b.dir));
             b.v.set_header_efblk(b.dir, 0);
         }},
        {"directory whose map names its block more often than the device has blocks",
         [](base_volume& b) {
             // 40 one-block pointers to its only block, on a device of 32 blocks
             const std::size_t map = std::size_t{b.v.header(b.dir)[vb::FH_MAP_OFFSET]} * 2;
             const auto lbn = static_cast<std::uint32_t>(b.v.lbn_of_vbn(b.dir, 1));
             ASSERT_EQ(b.v.image.device_blocks(), 32u);
             for (std::size_t i = 0; i < 40; ++i) {
                 b.v.set_header_u16(b.dir, map + 4 * i,
                                    static_cast<std::uint16_t>(0x4000 | (lbn >> 16) << 8));
                 b.v.set_header_u16(b.dir, map + 4 * i + 2, static_cast<std::uint16_t>(lbn));
             }
             b.v.set_header_u8(b.dir, vb::FH_MAP_IN_USE, 80);
             b.v.set_header_efblk(b.dir, 0);
         }},
        {"directory record past the block",
         [](base_volume& b) { b.v.image.set_u16(b.v.lbn_of_vbn(b.dir, 1), 0, 0xFFF0); }},
        {"name_count 255",
         [](base_volume& b) { b.v.image.set_u8(b.v.lbn_of_vbn(b.dir, 1), 5, 255); }},
        {"ffbyte above 512",
         [](base_volume& b) { b.v.set_header_u16(b.file, vb::FH_FFBYTE, 0xF000); }},
        {"0xFFFF mid-block", // where G.TXT's record starts
         [](base_volume& b) { b.v.image.set_u16(b.v.lbn_of_vbn(b.dir, 1), 20, 0xFFFF); }},
        {"efblk 0 with a large map", [](base_volume& b) { b.v.set_header_efblk(b.file, 0); }},
        {"a directory that is not a directory",
         [](base_volume& b) {
             const auto text = vb::encode_records({"not", "a", "directory", std::string(300, 'z')});
             b.v.image.write_block(b.v.lbn_of_vbn(b.dir, 1), text);
         }},
        {"a text file that is not a record stream",
         [](base_volume& b) {
             vb::block noise{};
             for (std::size_t i = 0; i < noise.size(); ++i)
                 noise[i] = static_cast<std::uint8_t>(i * 37 + 11);
             b.v.image.write_block(b.v.lbn_of_vbn(b.file, 1), noise);
         }},
        {"a header of zeros", [](base_volume& b) { b.v.image.zero_block(b.v.header_lbn(b.file)); }},
        {"an index file header of zeros",
         [](base_volume& b) { b.v.image.zero_block(b.v.header_lbn(vb::INDEX_FILE_NUMBER)); }},
    };
    return table;
}

} // namespace damage_table
