// Tests of the volume builder: every later test trusts its pointers, directory
// records, header locations and end-of-file fields, so they are decoded here again by
// small independent helpers and compared with hand-computed bytes.
#include "volume_builder/volume_builder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace vb = volbuild;

namespace {

using bytes = std::vector<std::uint8_t>;

std::uint16_t u16(const vb::block& b, std::size_t off)
{
    return static_cast<std::uint16_t>(b[off] | b[off + 1] << 8);
}

std::uint32_t u32(const vb::block& b, std::size_t off)
{
    return u16(b, off) | static_cast<std::uint32_t>(u16(b, off + 2)) << 16;
}

// A map entry as the reader sees it: how many blocks from which LBN, in how many words.
struct decoded {
    std::uint32_t count;
    std::uint32_t lbn;
    std::size_t words;
    bool operator==(const decoded&) const = default;
};

decoded decode_pointer(const std::vector<std::uint16_t>& w, std::size_t i)
{
    const unsigned w0 = w[i];
    switch (w0 >> 14) {
    case 0:
        return {0, 0, 1};
    case 1:
        return {(w0 & 0xFF) + 1, (w0 >> 8 & 0x3F) << 16 | w[i + 1], 2};
    case 2:
        return {(w0 & 0x3FFF) + 1, w[i + 1] | static_cast<std::uint32_t>(w[i + 2]) << 16, 3};
    default:
        return {((w0 & 0x3FFF) << 16 | w[i + 1]) + 1,
                w[i + 2] | static_cast<std::uint32_t>(w[i + 3]) << 16, 4};
    }
}

std::vector<std::uint16_t> map_words(const vb::block& header)
{
    std::vector<std::uint16_t> w;
    for (std::size_t i = 0; i < header[58]; ++i)
        w.push_back(u16(header, header[1] * 2U + 2 * i));
    return w;
}

// The LBN of every block a header maps, VBN order; format 0 words map nothing.
std::vector<std::uint64_t> mapped_lbns(const vb::block& header)
{
    const auto w = map_words(header);
    std::vector<std::uint64_t> out;
    for (std::size_t i = 0; i < w.size();) {
        const decoded p = decode_pointer(w, i);
        for (std::uint32_t k = 0; k < p.count; ++k)
            out.push_back(std::uint64_t{p.lbn} + k);
        i += p.words;
    }
    return out;
}

std::uint32_t efblk_of(const vb::block& h)
{
    return static_cast<std::uint32_t>(u16(h, 28)) << 16 | u16(h, 30);
}

std::uint32_t file_number_of(const vb::block& h)
{
    return u16(h, 8) | static_cast<std::uint32_t>(h[13]) << 16;
}

bool checksum_ok(const vb::block& b)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < 510; i += 2)
        sum += u16(b, i);
    return (sum & 0xFFFF) == u16(b, 510);
}

// Header n found the way a reader finds it: VBN n + ibmap_vbn + ibmap_size - 1 of
// the index file, through the index file header at LBN ibmap_lbn + ibmap_size.
std::uint64_t header_lbn_via_index(const vb::block_image& img, std::uint32_t n)
{
    const vb::block home = img.read(1);
    const vb::block index = img.read(std::uint64_t{u32(home, 24)} + u16(home, 32));
    const std::uint64_t vbn = std::uint64_t{n} + u16(home, 22) + u16(home, 32) - 1;
    const auto lbns = mapped_lbns(index);
    return vbn <= lbns.size() ? lbns[vbn - 1] : 0;
}

struct listed {
    std::string name;
    std::uint16_t version;
    std::uint32_t file_number; // all 24 bits
    bool operator==(const listed&) const = default;
};

// Every entry of a directory, reading its blocks up to the end-of-file block.
std::vector<listed> list_directory(const vb::block_image& img, const vb::block& header)
{
    std::vector<listed> out;
    const auto lbns = mapped_lbns(header);
    for (std::size_t v = 0; v + 1 < efblk_of(header) && v < lbns.size(); ++v) {
        const vb::block b = img.read(lbns[v]);
        for (std::size_t at = 0; at + 2 <= 512 && u16(b, at) != 0xFFFF;) {
            const std::size_t end = at + 2 + u16(b, at);
            EXPECT_LE(end, 512U) << "record crosses the block";
            const std::size_t count = b[at + 5];
            const std::string name(b.begin() + static_cast<long>(at + 6),
                                   b.begin() + static_cast<long>(at + 6 + count));
            for (std::size_t e = at + 6 + count + count % 2; e < end; e += 8)
                out.push_back({name, u16(b, e), u16(b, e + 2) | std::uint32_t{b[e + 7]} << 16});
            at = end;
        }
    }
    return out;
}

bytes numbered_blocks(std::size_t blocks)
{
    bytes data(blocks * 512);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i / 512 * 7 + i % 251 + 1);
    return data;
}

} // namespace

// Retrieval pointer words, each format, the limits of each field, and the smallest
// format chosen when none is asked for.
TEST(volume_builder_pointers, encode_to_hand_computed_words)
{
    struct {
        const char* what;
        vb::pointer p;
        std::vector<std::uint16_t> want;
    } cases[] = {
        {"format 0 keeps 14 placement bits", vb::placement_word(0xC123), {0x0123}},
        {"format 1, one block at LBN 0", vb::run(1, 0, 1), {0x4000, 0x0000}},
        {"format 1, count 256", vb::run(256, 100, 1), {0x40FF, 0x0064}},
        {"format 1, 22-bit LBN 4194303", vb::run(3, 4194303, 1), {0x7F02, 0xFFFF}},
        {"format 2, count 16384", vb::run(16384, 70000, 2), {0xBFFF, 0x1170, 0x0001}},
        {"format 2, LBN low word first", vb::run(1, 0x12345678, 2), {0x8000, 0x5678, 0x1234}},
        {"format 3, count 65537", vb::run(65537, 0x00ABCDEF, 3), {0xC001, 0x0000, 0xCDEF, 0x00AB}},
        {"format 3, count 2^30", vb::run(1U << 30, 1, 3), {0xFFFF, 0xFFFF, 0x0001, 0x0000}},
        {"auto: 256 blocks at 4194303 is format 1", vb::run(256, 4194303), {0x7FFF, 0xFFFF}},
        {"auto: 257 blocks is format 2", vb::run(257, 5), {0x8100, 0x0005, 0x0000}},
        {"auto: LBN 2^22 is format 2", vb::run(1, 4194304), {0x8000, 0x0000, 0x0040}},
        {"auto: 16385 blocks is format 3", vb::run(16385, 0), {0xC000, 0x4000, 0x0000, 0x0000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(vb::encode_pointer(c.p), c.want);
        if (c.p.format != 0) {
            const decoded d = decode_pointer(c.want, 0);
            EXPECT_EQ(d, (decoded{c.p.count, c.p.lbn, c.want.size()}));
        }
    }
}

TEST(volume_builder_pointers, refuse_what_a_format_cannot_hold)
{
    const vb::pointer bad[] = {
        vb::run(257, 0, 1), vb::run(1, 1U << 22, 1), vb::run(16385, 0, 2),
        vb::run(0, 5, 1),   vb::run(0, 5),           vb::run(1, 0, 4),
    };
    for (const auto& p : bad)
        EXPECT_THROW((void)vb::encode_pointer(p), std::invalid_argument)
            << p.count << " blocks at " << p.lbn << " format " << p.format;
}

TEST(volume_builder_records, encode_lengths_control_bytes_and_pad)
{
    vb::record_options ff;
    ff.pad = 0xFF;
    vb::record_options control;
    control.control_bytes = true;
    struct {
        const char* what;
        std::vector<std::string> lines;
        vb::record_options options;
        bytes want;
    } cases[] = {
        {"odd length padded, empty record", {"abc", ""}, {}, {3, 0, 'a', 'b', 'c', 0, 0, 0}},
        {"pad value chosen", {"abc", "de"}, ff, {3, 0, 'a', 'b', 'c', 0xFF, 2, 0, 'd', 'e'}},
        {"control bytes counted", {"x"}, control, {3, 0, 0x01, 0x8D, 'x', 0}},
        {"no records", {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(vb::encode_records(c.lines, c.options), c.want);
    }
    EXPECT_THROW((void)vb::encode_records({std::string(65534, 'a')}, control),
                 std::invalid_argument);
}

// One record of an odd-length name with two versions given lowest first: the entries
// come out highest first, the file number's high byte in entry byte 7, and the end
// mark follows.
TEST(volume_builder_directory, record_layout_byte_for_byte)
{
    vb::dir_record r{"LOGIN.COM", 3, 0, {{2, 0x0123, 7, 0}, {3, 0x10045, 2, 0}}};
    const auto blocks = vb::encode_directory({r});
    ASSERT_EQ(blocks.size(), 1U);
    const bytes want = {
        0x1E,
        0x00,
        0x03,
        0x00,
        0x00,
        0x09,
        'L',
        'O',
        'G',
        'I',
        'N',
        '.',
        'C',
        'O',
        'M',
        0x00,
        0x03,
        0x00,
        0x45,
        0x00,
        0x02,
        0x00,
        0x00,
        0x01, // version 3, file
              // 0x10045, seq 2
        0x02,
        0x00,
        0x23,
        0x01,
        0x07,
        0x00,
        0x00,
        0x00, // version 2, file 0x123, seq 7
        0xFF,
        0xFF,
    };
    EXPECT_EQ(bytes(blocks[0].begin(), blocks[0].begin() + 34), want);
    EXPECT_EQ(std::count(blocks[0].begin() + 34, blocks[0].end(), 0), 512 - 34);

    // A 510-byte record leaves room for the mark alone; the next record moves on.
    vb::dir_record full{std::string(248, 'A'), 0, 0, std::vector<vb::dir_entry>(32)};
    for (std::uint16_t i = 0; i < 32; ++i)
        full.entries[i].version = static_cast<std::uint16_t>(i + 1);
    const auto two = vb::encode_directory({full, {"B.C", 0, 0, {{}}}});
    ASSERT_EQ(two.size(), 2U);
    EXPECT_EQ(u16(two[0], 0), 508);
    EXPECT_EQ(u16(two[0], 510), 0xFFFF);
    EXPECT_EQ(u16(two[0], 6 + 248), 32); // highest version first
    EXPECT_EQ(two[1][5], 3);
    EXPECT_EQ(u16(two[1], 2 + u16(two[1], 0)), 0xFFFF);
}

// Many names: sorted, no record across a block, 0xFFFF where a block has room left,
// efblk one past the blocks used; a name over the per-record limit goes on in a
// second record of the same name.
TEST(volume_builder_directory, many_names_fill_blocks_in_order)
{
    vb::volume_builder v;
    const std::uint32_t dir =
        v.add_directory(vb::MFD_FILE_NUMBER, "MANY", {.max_entries_per_record = 2});
    std::vector<listed> want;
    for (int i = 39; i >= 0; --i) {
        const std::string name = "FILE_WITH_A_LONG_NAME_" + std::to_string(100 + i) + ".DAT";
        const std::uint32_t n = v.add_file(dir, name);
        want.push_back({name, 1, n});
    }
    for (std::uint16_t ver = 2; ver <= 3; ++ver)
        v.add_file(dir, "ZZ.TXT", {.version = ver});
    const auto vol = v.build();
    std::sort(want.begin(), want.end(),
              [](const listed& a, const listed& b) { return a.name < b.name; });
    const auto got = list_directory(vol.image, vol.header(dir));
    ASSERT_EQ(got.size(), want.size() + 2);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin()));
    EXPECT_EQ(got[40].name, "ZZ.TXT");
    EXPECT_EQ(got[40].version, 3);
    EXPECT_EQ(got[41].version, 2);

    const vb::block h = vol.header(dir);
    const std::uint32_t used = vol.file(dir).used_blocks;
    EXPECT_GT(used, 2U);
    EXPECT_EQ(efblk_of(h), used + 1);
    EXPECT_EQ(u16(h, 32), 0);
    for (std::uint32_t vbn = 1; vbn <= used; ++vbn) {
        const vb::block b = vol.image.read(vol.lbn_of_vbn(dir, vbn));
        std::size_t at = 0;
        while (at < 512 && u16(b, at) != 0xFFFF)
            at += 2U + u16(b, at);
        EXPECT_TRUE(at == 512 || u16(b, at) == 0xFFFF) << "block " << vbn;
    }
}

// Home block identification and the header positions a reader computes: with
// ibmap_lbn 10 and ibmap_size 2 the index file header is LBN 12 and the MFD header
// LBN 15; every other header through the index file's map. The MFD lists itself.
TEST(volume_builder_volume, home_block_and_header_locations)
{
    vb::volume_builder v({.ibmap_lbn = 10, .ibmap_size = 2});
    const std::uint32_t user = v.add_directory(vb::MFD_FILE_NUMBER, "USER", {.protection = 0x1100});
    const std::uint32_t notes = v.add_file(user, "NOTES.TXT", vb::text_file({"one", "two"}));
    const auto vol = v.build();
    const vb::block home = vol.image.read(1);
    EXPECT_EQ(u16(home, 12), 0x0201);
    EXPECT_EQ(u16(home, 22), 5);
    EXPECT_EQ(u32(home, 24), 10U);
    EXPECT_EQ(u16(home, 32), 2);
    EXPECT_EQ(std::string(home.begin() + 496, home.begin() + 508), "DECFILE11B  ");
    EXPECT_TRUE(checksum_ok(home));

    EXPECT_EQ(file_number_of(vol.image.read(12)), vb::INDEX_FILE_NUMBER);
    EXPECT_EQ(file_number_of(vol.image.read(15)), vb::MFD_FILE_NUMBER);
    for (const std::uint32_t n :
         {vb::INDEX_FILE_NUMBER, vb::BITMAP_FILE_NUMBER, vb::MFD_FILE_NUMBER, user, notes}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(header_lbn_via_index(vol.image, n), 10U + 2 + n - 1);
        EXPECT_EQ(vol.header_lbn(n), 10U + 2 + n - 1);
        const vb::block h = vol.image.read(vol.header_lbn(n));
        EXPECT_EQ(file_number_of(h), n);
        EXPECT_EQ(u16(h, 6), 0x0201);
        EXPECT_TRUE(checksum_ok(h));
    }
    EXPECT_EQ(u16(vol.header(user), 64), 0x1100);
    const std::vector<listed> mfd = {
        {"000000.DIR", 1, 4}, {"BADBLK.SYS", 1, 3}, {"BITMAP.SYS", 1, 2},
        {"CORIMG.SYS", 1, 5}, {"INDEXF.SYS", 1, 1}, {"USER.DIR", 1, user},
    };
    EXPECT_EQ(list_directory(vol.image, vol.image.read(15)), mfd);
    // bits for files 1 to 7 in the index file bitmap
    EXPECT_EQ(vol.image.get_u8(10, 0), 0x7F);
}

// Headers past the primary slots lie in an extent of their own, which only the index
// file's map finds.
TEST(volume_builder_volume, headers_past_primary_slots_follow_the_index_map)
{
    vb::volume_builder v({.primary_header_slots = 8});
    std::vector<std::uint32_t> files;
    for (int i = 0; i < 6; ++i)
        files.push_back(v.add_file(vb::MFD_FILE_NUMBER, "F" + std::to_string(i) + ".DAT",
                                   vb::binary_file(numbered_blocks(1))));
    const auto vol = v.build();
    const std::uint64_t first = vol.ibmap_lbn() + vol.ibmap_size();
    for (const std::uint32_t n : files) {
        SCOPED_TRACE(n);
        const std::uint64_t lbn = header_lbn_via_index(vol.image, n);
        EXPECT_EQ(file_number_of(vol.image.read(lbn)), n);
        EXPECT_EQ(lbn == first + n - 1, n <= 8);
    }
    EXPECT_GT(header_lbn_via_index(vol.image, 9), header_lbn_via_index(vol.image, 8) + 1);
}

// efblk is stored high word first; efblk and ffbyte come from the byte length.
TEST(volume_builder_eof, efblk_ffbyte_and_hiblk_from_length)
{
    struct {
        std::uint64_t size;
        std::optional<std::uint32_t> allocated;
        std::uint16_t efblk_high, efblk_low, ffbyte;
        std::uint32_t hiblk;
    } cases[] = {
        {0, {}, 0, 1, 0, 0},
        {1, {}, 0, 1, 1, 1},
        {511, {}, 0, 1, 511, 1},
        {512, {}, 0, 2, 0, 1},
        {513, {}, 0, 2, 1, 2},
        {100, 10, 0, 1, 100, 10},
        {512ULL * 70000 + 3, {}, 1, 0x1171, 3, 70001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        vb::volume_builder v;
        const auto f = v.add_file(vb::MFD_FILE_NUMBER, "A.DAT",
                                  {.size_bytes = c.size, .allocated_blocks = c.allocated});
        const vb::block h = v.build().header(f);
        EXPECT_EQ(u16(h, 28), c.efblk_high);
        EXPECT_EQ(u16(h, 30), c.efblk_low);
        EXPECT_EQ(u16(h, 32), c.ffbyte);
        EXPECT_EQ(static_cast<std::uint32_t>(u16(h, 24)) << 16 | u16(h, 26), c.hiblk);
        EXPECT_EQ(mapped_lbns(h).size(), c.hiblk);
    }
}

// A file number of 17 bits: its low word and high byte in the directory entry and
// in the header's file id, its header at the VBN the full number gives.
TEST(volume_builder_volume, file_numbers_above_65535)
{
    vb::volume_builder v;
    const std::uint32_t big = 0x11170;
    ASSERT_EQ(v.add_file(vb::MFD_FILE_NUMBER, "BIG.DAT", {.data = {1, 2, 3}, .file_number = big}),
              big);
    const auto vol = v.build();
    const vb::block mfd_block = vol.image.read(vol.lbn_of_vbn(vb::MFD_FILE_NUMBER, 1));
    // BIG.DAT sorts after 000000.DIR and BADBLK.SYS, two records of 24 bytes
    const std::size_t entry = 2 * 24 + 6 + 8;
    ASSERT_EQ(std::string(mfd_block.begin() + 48 + 6, mfd_block.begin() + 48 + 13), "BIG.DAT");
    EXPECT_EQ(u16(mfd_block, entry + 2), 0x1170);
    EXPECT_EQ(mfd_block[entry + 7], 0x01);

    const std::uint64_t lbn = header_lbn_via_index(vol.image, big);
    ASSERT_NE(lbn, 0U);
    const vb::block h = vol.image.read(lbn);
    EXPECT_EQ(u16(h, 8), 0x1170);
    EXPECT_EQ(h[13], 0x01);
    EXPECT_EQ(vol.image.read(mapped_lbns(h).at(0))[2], 3);
    const std::uint64_t bit = big - 1;
    EXPECT_NE(vol.image.get_u8(vol.ibmap_lbn() + bit / 4096, bit % 4096 / 8) & (1 << bit % 8), 0);
}

// A fragmented file whose map is cut at 6 words per header: following the extension
// links from the primary header maps every block, in order, onto the file's data.
TEST(volume_builder_extensions, chain_maps_all_of_a_fragmented_file)
{
    vb::volume_builder v;
    const bytes data = numbered_blocks(40);
    vb::file_options o = vb::binary_file(data);
    o.place = {.kind = vb::layout::fragmented,
               .fragments = 20,
               .leading_placement_words = 1,
               .max_map_words = 6};
    const std::uint32_t f = v.add_file(vb::MFD_FILE_NUMBER, "FRAG.DAT", o);
    const auto vol = v.build();

    std::vector<std::uint64_t> lbns;
    std::set<std::uint32_t> seen;
    std::uint32_t n = f;
    for (std::uint16_t segment = 0; n != 0; ++segment) {
        ASSERT_TRUE(seen.insert(n).second) << "extension chain loops";
        const vb::block h = vol.image.read(header_lbn_via_index(vol.image, n));
        EXPECT_EQ(file_number_of(h), n);
        EXPECT_EQ(u16(h, 4), segment);
        EXPECT_LE(h[58], 6);
        const auto part = mapped_lbns(h);
        lbns.insert(lbns.end(), part.begin(), part.end());
        n = u16(h, 14) | static_cast<std::uint32_t>(h[19]) << 16;
    }
    EXPECT_GE(seen.size(), 7U);
    EXPECT_EQ(vol.header_chain(f), std::vector<std::uint32_t>(seen.begin(), seen.end()));
    ASSERT_EQ(lbns, vol.block_lbns(f));
    bytes read;
    for (std::size_t i = 0; i < lbns.size(); ++i) {
        if (i > 0 && i % 2 == 0) {
            EXPECT_GT(lbns[i], lbns[i - 1] + 1) << "fragments touch";
        }
        const vb::block b = vol.image.read(lbns[i]);
        read.insert(read.end(), b.begin(), b.end());
    }
    EXPECT_EQ(read, data);
}

// An explicit map is written word for word, and the data goes where it points.
TEST(volume_builder_extensions, explicit_map_is_written_as_given)
{
    vb::volume_builder v;
    vb::file_options o = vb::binary_file(numbered_blocks(4));
    o.place = {.kind = vb::layout::explicit_map,
               .pointers = {vb::placement_word(0x12), vb::run(3, 900, 2), vb::run(1, 4194303, 1)}};
    const std::uint32_t f = v.add_file(vb::MFD_FILE_NUMBER, "X.DAT", o);
    const auto vol = v.build();
    const vb::block h = vol.header(f);
    const std::vector<std::uint16_t> want = {0x0012, 0x8002, 900, 0, 0x7F00, 0xFFFF};
    EXPECT_EQ(map_words(h), want);
    EXPECT_EQ(vol.image.read(902)[0], numbered_blocks(4)[2 * 512]);
    EXPECT_EQ(vol.image.read(4194303)[0], numbered_blocks(4)[3 * 512]);
    EXPECT_EQ(vol.image.device_blocks(), 4194304U);
}

// A 256 MiB file costs almost no disk: only non-zero blocks are written. The file
// holds exactly the bytes of the in-memory image, and building twice gives the same.
TEST(volume_builder_image, written_sparsely_and_deterministically)
{
    const auto make = [] {
        vb::volume_builder v;
        v.add_file(vb::MFD_FILE_NUMBER, "HUGE.DAT", {.data = {9}, .size_bytes = 256ULL << 20});
        return v.build();
    };
    const auto vol = make();
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("volbuild_sparse_" + std::to_string(::getpid()) + ".img"))
                                 .string();
    vol.write_to(path);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), vol.image.device_blocks() * 512);
    EXPECT_GT(st.st_size, 256LL << 20);
    EXPECT_LT(st.st_blocks * 512LL, 1LL << 20);
    std::filesystem::remove(path);

    vb::volume_builder small;
    small.add_file(vb::MFD_FILE_NUMBER, "T.TXT", vb::text_file({"hello"}));
    const auto a = small.build();
    a.write_to(path);
    std::ifstream in(path, std::ios::binary);
    const bytes on_disk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    EXPECT_EQ(on_disk, a.bytes());
    EXPECT_EQ(small.build().bytes(), a.bytes());
    EXPECT_EQ(make().image.read(vol.header_lbn(6)), vol.image.read(vol.header_lbn(6)));
}

namespace {

std::uint64_t u64(const vb::block& b, std::size_t off)
{
    return u32(b, off) | static_cast<std::uint64_t>(u32(b, off + 4)) << 32;
}

std::string text_at(const vb::block& b, std::size_t off, std::size_t len)
{
    return std::string(b.begin() + static_cast<long>(off),
                       b.begin() + static_cast<long>(off + len));
}

} // namespace

// Every attribute a header holds, set per file, read back from the header by the
// offsets of a real ODS-2 header: the record attribute area at byte 0x14 (rtype,
// rattrib, rsize, hiblk and efblk word-swapped, ffbyte, bktsize, vfcsize, maxrec),
// owner at 60, protection at 64, back link at 66, and the identification area at the
// word offset in byte 0 (name, revision count, four dates, name continuation).
TEST(volume_builder_header, every_attribute_lies_where_a_reader_finds_it)
{
    const struct {
        const char* what;
        vb::file_options o;
        std::uint8_t ident_words; // byte 0
    } cases[] = {
        {"defaults of a binary file", vb::binary_file(bytes(700, 'b')), 40},
        {"VFC with print control",
         {.data = bytes(10, 'v'),
          .version = 7,
          .owner_group = 0100,
          .owner_member = 3,
          .protection = 0xEE00,
          .record_type = vb::RT_VFC,
          .record_attributes = vb::RA_PRINT,
          .record_size = 0,
          .vfc_size = 2,
          .max_record = 134,
          .dates = {.creation = 0x00A1B2C3D4E5F607ULL,
                    .revision = 0x00A1B2C3D4E5F708ULL,
                    .expiration = 0x00A1B2C3D4E5F809ULL,
                    .backup = 0x00A1B2C3D4E5F90AULL},
          .revision_count = 42},
         40},
        {"stream-LF, Fortran and no-span bits, a name and link of its own",
         {.data = bytes(3, 's'),
          .record_type = vb::RT_STREAM_LF,
          .record_attributes = vb::RA_FORTRAN | vb::RA_NOSPAN,
          .record_size = 0,
          .ident_name = "A_VERY_LONG_NAME_THAT_GOES_ON.TXT;3",
          .ident_offset = 36,
          .back_link = vb::file_id{0x12345, 9, 1}},
         36},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vb::volume_builder v;
        const auto f = v.add_file(vb::MFD_FILE_NUMBER, "F.DAT", c.o);
        const auto vol = v.build();
        const vb::block h = vol.image.read(header_lbn_via_index(vol.image, f));
        EXPECT_TRUE(checksum_ok(h));
        EXPECT_EQ(h[0], c.ident_words);
        EXPECT_EQ(h[0x14], c.o.record_type);
        EXPECT_EQ(h[0x15], c.o.record_attributes);
        EXPECT_EQ(u16(h, 0x16), c.o.record_size);
        const std::uint32_t blocks = static_cast<std::uint32_t>((c.o.data.size() + 511) / 512);
        EXPECT_EQ(static_cast<std::uint32_t>(u16(h, 0x18)) << 16 | u16(h, 0x1A), blocks);
        EXPECT_EQ(efblk_of(h), c.o.data.size() / 512 + 1);
        EXPECT_EQ(u16(h, 0x20), c.o.data.size() % 512);
        EXPECT_EQ(h[0x22], 0); // bucket size
        EXPECT_EQ(h[0x23], c.o.vfc_size);
        EXPECT_EQ(u16(h, 0x24), c.o.max_record);
        EXPECT_EQ(u16(h, 60), c.o.owner_member);
        EXPECT_EQ(u16(h, 62), c.o.owner_group);
        EXPECT_EQ(u16(h, 64), c.o.protection);
        const vb::file_id link = c.o.back_link.value_or(vb::file_id{4, 4, 0});
        EXPECT_EQ(u16(h, 66) | static_cast<std::uint32_t>(h[71]) << 16, link.number);
        EXPECT_EQ(u16(h, 68), link.sequence);
        EXPECT_EQ(h[70], link.rvn);

        const std::size_t id = h[0] * 2U;
        const std::string name = c.o.ident_name.value_or("F.DAT;" + std::to_string(c.o.version));
        std::string stored = text_at(h, id, 20) + text_at(h, id + 54, 66);
        EXPECT_EQ(stored.substr(0, name.size()), name);
        EXPECT_EQ(stored.find_first_not_of(' ', name.size()), std::string::npos);
        EXPECT_EQ(u16(h, id + 20), c.o.revision_count);
        EXPECT_EQ(u64(h, id + 22), c.o.dates.creation);
        EXPECT_EQ(u64(h, id + 30), c.o.dates.revision);
        EXPECT_EQ(u64(h, id + 38), c.o.dates.expiration);
        EXPECT_EQ(u64(h, id + 46), c.o.dates.backup);
    }
}

TEST(volume_builder_header, unix_times_become_vms_times)
{
    EXPECT_EQ(vb::vms_time(0, 0), 0x007C95674BEB4000ULL); // 1970-01-01
    EXPECT_EQ(vb::vms_time(946684800, 0), vb::DEFAULT_DATE);
    EXPECT_EQ(vb::vms_time(1, 999), 0x007C95674BEB4000ULL + 10000000 + 9);
    EXPECT_EQ(vb::vms_time(-3506716800LL, 0), 0U); // 1858-11-17
    EXPECT_EQ(vb::vms_time(-3506716801LL, 0), 0U);
}

TEST(volume_builder_header, an_identification_area_past_the_header_is_refused)
{
    vb::volume_builder v;
    v.add_file(vb::MFD_FILE_NUMBER, "F.DAT", {.ident_offset = 200});
    EXPECT_THROW((void)v.build(), std::invalid_argument);
}

TEST(volume_builder_records, fixed_vfc_and_stream_encodings)
{
    const std::uint8_t print[] = {0x01, 0x8D, 0x00};
    EXPECT_EQ(vb::encode_variable({"ab", ""}, print),
              (bytes{5, 0, 1, 0x8D, 0, 'a', 'b', 0, 3, 0, 1, 0x8D, 0, 0}));
    EXPECT_EQ(vb::encode_fixed({"abc", "def"}, 3, 0xEE),
              (bytes{'a', 'b', 'c', 0xEE, 'd', 'e', 'f', 0xEE}));
    EXPECT_EQ(vb::encode_fixed({"ab", "cd"}, 2), (bytes{'a', 'b', 'c', 'd'}));
    EXPECT_THROW((void)vb::encode_fixed({"ab", "c"}, 2), std::invalid_argument);
    EXPECT_EQ(vb::encode_stream({"a", ""}, "\r\n"), (bytes{'a', '\r', '\n', '\r', '\n'}));
    EXPECT_EQ(vb::encode_stream({"a", "b"}, "\r"), (bytes{'a', '\r', 'b', '\r'}));
}

// A map spread over a chosen number of headers: the pointers shared out evenly, the
// first headers taking one more, every block mapped once in order.
TEST(volume_builder_extensions, headers_spread_the_map_evenly)
{
    const struct {
        std::uint32_t fragments;
        std::uint32_t headers;
        std::vector<std::size_t> pointers; // per header
    } cases[] = {
        {6, 3, {2, 2, 2}},
        {5, 4, {2, 1, 1, 1}},
        {3, 3, {1, 1, 1}},
        {4, 1, {4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fragments) + " extents, " + std::to_string(c.headers));
        vb::volume_builder v;
        vb::file_options o = vb::binary_file(numbered_blocks(12));
        o.place = {.kind = vb::layout::fragmented,
                   .fragments = c.fragments,
                   .format = 3,
                   .headers = c.headers};
        const auto f = v.add_file(vb::MFD_FILE_NUMBER, "F.DAT", o);
        const auto vol = v.build();
        ASSERT_EQ(vol.header_chain(f).size(), c.headers);
        EXPECT_EQ(vol.extents(f).size(), c.fragments);
        std::vector<std::uint64_t> lbns;
        for (std::size_t i = 0; i < c.headers; ++i) {
            const vb::block h = vol.header(vol.header_chain(f)[i]);
            EXPECT_EQ(h[58], 4 * c.pointers[i]);
            EXPECT_EQ(u16(h, 4), i);
            const auto part = mapped_lbns(h);
            lbns.insert(lbns.end(), part.begin(), part.end());
        }
        EXPECT_EQ(lbns, vol.block_lbns(f));
    }
    vb::volume_builder v;
    vb::file_options o = vb::binary_file(numbered_blocks(2));
    o.place = {.kind = vb::layout::fragmented, .fragments = 2, .headers = 3};
    v.add_file(vb::MFD_FILE_NUMBER, "F.DAT", o);
    EXPECT_THROW((void)v.build(), std::invalid_argument);
}
