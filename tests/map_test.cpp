// Retrieval pointers and virtual block reads through a header's map, on a
// scratch device whose blocks carry their own LBN.
#include "ods2/file_header.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/unit_support.hpp"

namespace {

using unit::put_u16;

constexpr std::uint8_t MAP_WORDS_AT = 100; // map area at byte 200, as on a real volume

file_header header_with_map(std::initializer_list<std::uint16_t> words,
                            std::uint8_t map_at = MAP_WORDS_AT)
{
    file_header h;
    h.bytes[FH_MAP_OFFSET] = map_at;
    h.bytes[FH_MAP_IN_USE] = static_cast<std::uint8_t>(words.size());
    std::size_t pos = std::size_t{map_at} * 2;
    for (std::uint16_t w : words) {
        if (pos + 1 < BLOCK_SIZE)
            put_u16(h.bytes, pos, w);
        pos += 2;
    }
    return h;
}

retrieval_pointer pointer(std::initializer_list<std::uint16_t> words)
{
    retrieval_pointer p;
    std::size_t i = 0;
    for (std::uint16_t w : words)
        p.word[i++] = w;
    return p;
}

class read_vblock_test : public unit::scratch_device {
  protected:
    // The LBN that vbn was read from, 0 when nothing was read, and what was reported.
    std::pair<std::uint64_t, std::string> read(std::int64_t vbn, const file_header& h)
    {
        block b{};
        testing::internal::CaptureStderr();
        const int ok = read_vblock(vbn, b, h);
        std::string err = testing::internal::GetCapturedStderr();
        return {ok ? stamp_of(b) : 0, err};
    }
};

} // namespace

TEST(retrieval_pointer, decodes_count_and_lbn_of_every_format)
{
    struct {
        const char* what;
        retrieval_pointer p;
        unsigned format;
        std::uint32_t count, lbn;
    } cases[] = {
        {"placement word", pointer({0x0123}), 0, 0, 0},
        {"format 1, count 3", pointer({0x4002, 100}), 1, 3, 100},
        {"format 1, count 256", pointer({0x40FF, 7}), 1, 256, 7},
        {"format 1, 22-bit lbn", pointer({0x7F00, 0xFFFF}), 1, 1, 4194303},
        {"format 2, count 10", pointer({0x8009, 0x1170, 0x0001}), 2, 10, 70000},
        {"format 2, count 16384", pointer({0xBFFF, 0, 0x8000}), 2, 16384, 0x80000000u},
        {"format 3, count 65537", pointer({0xC001, 0, 5, 0}), 3, 65537, 5},
        {"format 3, count 2^30", pointer({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}), 3, 1u << 30,
         0xFFFFFFFFu},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(pointer_format(c.p), c.format);
        EXPECT_EQ(pointer_count(c.p), c.count);
        EXPECT_EQ(pointer_lbn(c.p), c.lbn);
    }
}

TEST(file_header_fields, efblk_is_stored_high_word_first)
{
    file_header h;
    put_u16(h.bytes, FH_EFBLK_HIGH, 0x0002);
    put_u16(h.bytes, FH_EFBLK_LOW, 0x0003);
    put_u16(h.bytes, FH_FFBYTE, 0x01FF);
    EXPECT_EQ(efblk(h), 0x00020003u);
    EXPECT_EQ(ffbyte(h), 0x01FF);
}

TEST_F(read_vblock_test, walks_pointers_in_order)
{
    for (std::uint64_t lbn : {199, 200, 201, 202, 203, 70000, 70009, 100, 101, 102})
        stamp(lbn);
    // format 1: 4 blocks at 200; format 2: 10 blocks at 70000
    const file_header two = header_with_map({0x4003, 200, 0x8009, 0x1170, 0x0001});
    struct {
        std::int64_t vbn;
        std::uint64_t lbn;
    } cases[] = {{1, 200}, {4, 203}, {5, 70000}, {14, 70009}, {15, 0}, {0, 0}, {-1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vbn);
        EXPECT_EQ(read(c.vbn, two), std::make_pair(c.lbn, std::string()));
    }
    // a placement word maps nothing: VBN 1 is the pointer after it
    const file_header placed = header_with_map({0x0000, 0x4002, 100});
    EXPECT_EQ(read(1, placed).first, 100u);
    EXPECT_EQ(read(3, placed).first, 102u);
    EXPECT_EQ(read(4, placed), std::make_pair(std::uint64_t{0}, std::string()));
}

TEST_F(read_vblock_test, format_3_pointer_maps_past_65536_blocks)
{
    stamp(10 + 65536);
    const file_header h = header_with_map({0xC001, 0, 10, 0});
    EXPECT_EQ(read(65537, h).first, 10u + 65536);
    EXPECT_EQ(read(65538, h), std::make_pair(std::uint64_t{0}, std::string()));
}

TEST_F(read_vblock_test, reports_bad_blocks_and_reads_past_the_device)
{
    stamp(1);
    set_device_blocks(50);
    const file_header zero_lbn = header_with_map({0x4001, 0});
    EXPECT_EQ(read(1, zero_lbn),
              std::make_pair(std::uint64_t{0}, std::string("arg -- Bad block in file\n")));
    EXPECT_EQ(read(2, zero_lbn).first, 1u);
    const file_header past_end = header_with_map({0x4001, 49});
    EXPECT_EQ(read(1, past_end).second, "");
    EXPECT_EQ(read(2, past_end),
              std::make_pair(std::uint64_t{0}, std::string("arg -- Read error\n")));
}

TEST_F(read_vblock_test, an_lbn_whose_byte_offset_does_not_fit_is_a_read_error)
{
    stamp(1);
    // 2^55 + 1 blocks: the byte offset, taken modulo 2^64, would be block 1's
    block b{};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(read_lblock((std::uint64_t{1} << 55) + 1, b));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "arg -- Read error\n");
    EXPECT_EQ(stamp_of(b), 0u);
}

TEST_F(read_vblock_test, never_reads_a_map_outside_the_header)
{
    stamp(300);
    struct {
        const char* what;
        file_header h;
    } cases[] = {
        {"no map words in use", header_with_map({})},
        // a format 2 pointer whose last word would be byte 512
        {"pointer past byte 511", header_with_map({0x8000, 300, 0}, 254)},
        // map_offset 255 puts the map at byte 510; only its first word is inside
        {"map area past byte 511", header_with_map({0x4000, 300}, 255)},
        // a whole pointer ends at byte 511; the words in use go on past it
        {"map words in use past byte 511", header_with_map({0x0000, 0x0000, 0x4000, 300}, 254)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(read(1, c.h), std::make_pair(std::uint64_t{0}, std::string()));
    }
    // the last whole pointer inside the header still counts
    file_header h = header_with_map({0x4000, 300, 0x8000, 0, 0}, 251);
    EXPECT_EQ(read(1, h).first, 300u);
    EXPECT_EQ(read(2, h).first, 0u);
}

// The index file: bitmap VBN 2, one bitmap block, so the header of file n is
// index VBN n + 2; the index file's data starts at LBN 1000, so that header is
// at LBN n + 1001.
class extension_test : public read_vblock_test {
  protected:
    void SetUp() override
    {
        read_vblock_test::SetUp();
        put_u16(volume.home.bytes, HB_IBMAP_VBN, 2);
        put_u16(volume.home.bytes, HB_IBMAP_SIZE, 1);
        volume.index_header = header_with_map({0x8000 | 199, 1000, 0});
    }

    void put_header(std::uint32_t file_number, const file_header& h)
    {
        put_block(file_number + 1001, h.bytes);
    }

    static file_header continued(file_header h, std::uint32_t next)
    {
        put_u16(h.bytes, FH_EXT_FILE_NUMBER, static_cast<std::uint16_t>(next));
        h.bytes[FH_EXT_FILE_NUMBER_HIGH] = static_cast<std::uint8_t>(next >> 16);
        return h;
    }
};

TEST_F(extension_test, map_continues_through_extension_headers)
{
    for (std::uint64_t lbn : {500, 600, 601, 700})
        stamp(lbn);
    const file_header primary = continued(header_with_map({0x4000, 500}), 7);
    put_header(7, continued(header_with_map({0x4001, 600}), 9));
    put_header(9, header_with_map({0x4000, 700}));
    const file_header before = primary;
    EXPECT_EQ(read(1, primary).first, 500u);
    EXPECT_EQ(read(2, primary).first, 600u);
    EXPECT_EQ(read(3, primary).first, 601u);
    EXPECT_EQ(read(4, primary).first, 700u);
    EXPECT_EQ(read(5, primary), std::make_pair(std::uint64_t{0}, std::string()));
    EXPECT_EQ(primary.bytes, before.bytes);

    // one cursor carried forward, then back to the start
    map_cursor cursor;
    block_run run;
    const std::pair<std::int64_t, std::uint64_t> walk[] = {
        {1, 500}, {3, 601}, {4, 700}, {2, 600}, {1, 500}};
    for (const auto& [vbn, lbn] : walk) {
        SCOPED_TRACE(vbn);
        ASSERT_TRUE(map_vblock(vbn, primary, run, cursor));
        EXPECT_EQ(run.lbn, lbn);
    }
    EXPECT_FALSE(map_vblock(5, primary, run, cursor));
}

TEST_F(extension_test, extension_file_number_has_24_bits)
{
    // file 0x10002 sits at index VBN 0x10004, past the index map above
    volume.index_header = header_with_map({0xC000 | 1, 0xFFFF, 1000, 0});
    stamp(500);
    put_header(0x10002, header_with_map({0x4000, 500}));
    const file_header primary = continued(header_with_map({}), 0x10002);
    EXPECT_EQ(read(1, primary).first, 500u);
}

TEST_F(extension_test, a_chain_ends_where_it_comes_back_to_a_header_it_has_walked)
{
    for (std::uint64_t lbn : {500, 600, 700})
        stamp(lbn);
    put_header(8, continued(header_with_map({0x4000, 500}), 8)); // continues in itself
    put_header(9, continued(header_with_map({0x4000, 600}), 10));
    put_header(10, continued(header_with_map({0x4000, 700}), 9)); // back to 9
    struct {
        const char* what;
        file_header primary;
        std::vector<std::uint64_t> lbns; // of VBN 1, 2, ...; the next VBN is unmapped
    } cases[] = {
        {"an extension that continues in itself", continued(header_with_map({}), 8), {500}},
        {"two extensions naming each other", continued(header_with_map({}), 9), {600, 700}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (std::size_t i = 0; i < c.lbns.size(); ++i)
            EXPECT_EQ(read(static_cast<std::int64_t>(i + 1), c.primary).first, c.lbns[i]);
        EXPECT_EQ(read(static_cast<std::int64_t>(c.lbns.size() + 1), c.primary),
                  std::make_pair(std::uint64_t{0}, std::string()));
    }
}

TEST_F(extension_test, a_chain_back_to_the_header_read_by_number_ends_there)
{
    stamp(500);
    stamp(700);
    // file 12 maps LBN 700 and continues in 11, which maps 500 and continues in 12
    file_header primary = continued(header_with_map({0x4000, 700}), 11);
    put_header(12, primary);
    put_header(11, continued(header_with_map({0x4000, 500}), 12));
    primary.file_number = 12;
    EXPECT_EQ(read(2, primary).first, 500u);
    EXPECT_EQ(read(3, primary), std::make_pair(std::uint64_t{0}, std::string()));
}

TEST_F(extension_test, a_chain_longer_than_1024_headers_ends_the_map)
{
    // 1100 distinct headers, each mapping one block and continuing in the next
    volume.index_header = header_with_map({0x8000 | 1199, 1000, 0});
    for (std::uint32_t n = 20; n < 1120; ++n)
        put_header(n, continued(header_with_map({0x4000, 500}), n + 1));
    stamp(500);
    const file_header primary = continued(header_with_map({}), 20);
    EXPECT_EQ(read(1024, primary).first, 500u);
    // the map goes on, so the file is cut short, and that is said
    EXPECT_EQ(read(1025, primary),
              std::make_pair(std::uint64_t{0}, std::string("arg -- File map too long\n")));
}

TEST_F(extension_test, an_unreadable_or_unmapped_extension_ends_the_map)
{
    stamp(500);
    set_device_blocks(1050);
    const file_header unreadable = continued(header_with_map({0x4000, 500}), 150);
    EXPECT_EQ(read(2, unreadable),
              std::make_pair(std::uint64_t{0}, std::string("arg -- Read error\n")));
    const file_header unmapped = continued(header_with_map({0x4000, 500}), 300);
    EXPECT_EQ(read(2, unmapped), std::make_pair(std::uint64_t{0}, std::string()));
}

TEST_F(extension_test, index_file_map_continues_too)
{
    // The index file maps VBN 1-10 at LBN 1000 and continues in file 5 (index
    // VBN 7, LBN 1006), which maps VBN 11-20 at LBN 2000. File 15's header is
    // index VBN 17, so LBN 2006, reachable only through that extension.
    volume.index_header = continued(header_with_map({0x4009, 1000}), 5);
    put_header(5, header_with_map({0x4009, 2000}));
    stamp(800);
    file_header h15 = header_with_map({0x4000, 800});
    put_block(2006, h15.bytes);
    const file_header primary = continued(header_with_map({}), 15);
    EXPECT_EQ(read(1, primary).first, 800u);
}

TEST_F(read_vblock_test, a_run_read_stops_before_the_block_that_fails)
{
    for (std::uint64_t lbn = 40; lbn < 50; ++lbn)
        stamp(lbn);
    set_device_blocks(50);
    // 20 blocks at LBN 40, of which the device holds the first 10
    const file_header h = header_with_map({0x4000 | 19, 40});
    std::vector<std::uint8_t> buffer(32 * BLOCK_SIZE);
    map_cursor cursor;
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_vblocks(1, 32, buffer.data(), h, cursor), 10u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    block last;
    std::copy_n(buffer.begin() + 9 * BLOCK_SIZE, BLOCK_SIZE, last.begin());
    EXPECT_EQ(stamp_of(last), 49u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(read_vblocks(11, 32, buffer.data(), h, cursor), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "arg -- Read error\n");
    // a run never crosses into the next pointer, and max_blocks is honoured
    const file_header two = header_with_map({0x4001, 40, 0x4001, 44});
    EXPECT_EQ(read_vblocks(1, 32, buffer.data(), two, cursor), 2u);
    EXPECT_EQ(read_vblocks(2, 32, buffer.data(), two, cursor), 1u);
    EXPECT_EQ(read_vblocks(3, 1, buffer.data(), two, cursor), 1u);
}

TEST_F(extension_test, nesting_bound_ends_a_self_mapped_index_file)
{
    // The index file maps VBN 1-5 and continues in file 5, whose header is
    // index VBN 7: only file 5's own extension could map it. Each lookup of
    // file 5 needs file 5 again, one level deeper.
    volume.index_header = continued(header_with_map({0x4004, 1000}), 5);
    put_block(1006, continued(header_with_map({0x4004, 1005}), 5).bytes);
    stamp(500);
    put_header(3, header_with_map({0x4000, 500})); // index VBN 5: inside the first pointer
    EXPECT_EQ(read(1, continued(header_with_map({}), 3)).first, 500u);
    EXPECT_EQ(read(1, continued(header_with_map({}), 5)),
              std::make_pair(std::uint64_t{0}, std::string()));
}

TEST_F(extension_test, header_reads_per_lookup_are_bounded)
{
    // The index file maps VBN 1-20 and continues through files 10-16, which
    // map nothing, to file 17, which maps the rest: every header above file 18
    // costs 8 extension reads to find, besides its own read. A file whose VBN
    // v lies in its v-th extension header (files 100 on, one block each) needs
    // 9 v header reads for VBN v; a lookup gets 8192.
    volume.index_header = continued(header_with_map({0x4000 | 19, 1000}), 10);
    for (std::uint32_t n = 10; n < 17; ++n)
        put_header(n, continued(header_with_map({}), n + 1));
    put_header(17, header_with_map({0x8000 | 1179, 1020, 0}));
    for (std::uint32_t n = 100; n < 1100; ++n)
        put_header(n, continued(header_with_map({0x4000, 500}), n + 1));
    stamp(500);
    const file_header primary = continued(header_with_map({}), 100);
    EXPECT_EQ(read(900, primary).first, 500u);
    // the budget spent cuts the map, and says so
    EXPECT_EQ(read(950, primary),
              std::make_pair(std::uint64_t{0}, std::string("arg -- File map too long\n")));
}
