// The directory scanner on a scratch device: records and entries bounded by
// the data's end, the record's end and the block, lookups by name and
// version, and entries handed out as data.
#include "ods2/directory.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/unit_support.hpp"
#include "volume_builder/directory.hpp"

namespace {

namespace vb = volbuild;
using vb::put_u16;

// Directory blocks start at this LBN of the scratch device.
constexpr std::uint64_t DIR_LBN = 100;
constexpr std::uint8_t MAP_WORDS_AT = 100;

// One name's record with entries version v, file number n, sequence n + 1.
std::vector<std::uint8_t> record(const std::string& name,
                                 std::vector<std::pair<std::uint16_t, std::uint32_t>> entries)
{
    vb::dir_record r{name, 0, 0, {}};
    for (const auto& [version, number] : entries)
        r.entries.push_back(
            vb::dir_entry{version, number, static_cast<std::uint16_t>(number + 1), 0});
    return vb::encode_dir_record(r);
}

// A directory block: the records packed from byte 0, then the end mark when
// there is room for it.
block packed(const std::vector<std::vector<std::uint8_t>>& records, bool end_mark = true)
{
    block b{};
    std::size_t at = 0;
    for (const auto& r : records) {
        std::copy(r.begin(), r.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        at += r.size();
    }
    if (end_mark && at + 2 <= BLOCK_SIZE)
        put_u16(b, at, DIR_END_MARK);
    return b;
}

// The offset in a record of its entry i.
std::size_t entry_at(const std::string& name, std::size_t i)
{
    return DR_NAME + name.size() + (name.size() & 1) + i * DIR_ENTRY_SIZE;
}

// Versions count..1 of one name, file numbers 1000 + version.
std::vector<std::pair<std::uint16_t, std::uint32_t>> versions_down(std::uint16_t count)
{
    std::vector<std::pair<std::uint16_t, std::uint32_t>> v;
    for (auto version = count; version >= 1; --version)
        v.emplace_back(version, 1000u + version);
    return v;
}

std::string listed(const std::string& name, std::uint16_t version, std::uint32_t number)
{
    return name + ";" + std::to_string(version) + " (" + std::to_string(number) + "," +
           std::to_string((number + 1) & 0xFFFF) + ",0)\n";
}

std::string listed_down(const std::string& name, std::uint16_t count)
{
    std::string s;
    for (auto version = count; version >= 1; --version)
        s += listed(name, version, 1000u + version);
    return s;
}

struct lookup {
    const char* text;
    std::uint16_t version;
    std::uint32_t file_number; // 0: not found
};

class directory_scan : public unit::scratch_device {
  protected:
    // The directory: blocks at DIR_LBN on, its end-of-file block and ffbyte.
    file_header directory(const std::vector<block>& blocks, std::uint32_t eof_block,
                          std::uint16_t first_free_byte)
    {
        for (std::size_t i = 0; i < blocks.size(); ++i)
            put_block(DIR_LBN + i, blocks[i]);
        file_header h;
        h.bytes[FH_MAP_OFFSET] = MAP_WORDS_AT;
        h.bytes[FH_MAP_IN_USE] = 2;
        put_u16(h.bytes, std::size_t{MAP_WORDS_AT} * 2,
                static_cast<std::uint16_t>(0x4000 | (blocks.size() - 1)));
        put_u16(h.bytes, std::size_t{MAP_WORDS_AT} * 2 + 2, DIR_LBN);
        put_u16(h.bytes, FH_EFBLK_HIGH, static_cast<std::uint16_t>(eof_block >> 16));
        put_u16(h.bytes, FH_EFBLK_LOW, static_cast<std::uint16_t>(eof_block));
        put_u16(h.bytes, FH_FFBYTE, first_free_byte);
        return h;
    }

    // Every entry as "NAME;VERSION (number,sequence,rvn)" lines, through a scan
    // state of the test's own.
    static std::string entries(const file_header& dir)
    {
        const auto scan = std::make_unique<dir_scan_state>();
        dir_entry_cursor at;
        dir_entry e;
        std::string s;
        while (next_dir_entry(*scan, dir, at, e)) {
            s += std::string(e.name, e.name_length) + ";" + std::to_string(e.version) + " (" +
                 std::to_string(e.fid.number) + "," + std::to_string(e.fid.sequence) + "," +
                 std::to_string(e.fid.rvn) + ")\n";
        }
        EXPECT_FALSE(next_dir_entry(*scan, dir, at, e)); // an ended walk stays ended
        return s;
    }

    // The listing odscp prints for dir.
    static std::string listing(const file_header& dir)
    {
        testing::internal::CaptureStdout();
        list_directory(dir);
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    // The listing derived from entries(): names and versions only.
    static std::string names_and_versions(const std::string& entry_lines)
    {
        std::string s;
        for (std::size_t at = 0; at < entry_lines.size();) {
            const std::size_t end = entry_lines.find('\n', at);
            const std::string line = entry_lines.substr(at, end - at);
            s += line.substr(0, line.find(' ')) + "\n";
            at = end + 1;
        }
        return s;
    }
};

} // namespace

TEST_F(directory_scan, records_and_entries_stay_inside_the_data_and_the_record)
{
    const auto a = record("A.TXT", {{1, 10}});
    const auto b = record("B.TXT", {{2, 11}, {1, 12}});
    const auto c = record("C.TXT", {{1, 13}});
    const std::string full = "ABCDEF.TXT";

    // A record whose size word puts the next one at byte 511: 62 entries, then
    // 3 bytes that are no entry.
    auto odd = record("A.TXT", versions_down(62));
    put_u16(odd, DR_SIZE, static_cast<std::uint16_t>(511 - 2));
    odd.resize(511, 0);

    // The same 62 entries exactly, then a size word at byte 508: the fixed
    // part of that record would cross the block's end.
    block crossing = packed({record("A.TXT", versions_down(62))}, false);
    put_u16(crossing, 508, 16);

    // B's size word ends its record 4 bytes into its last entry, whose
    // sequence word then stands where the next record starts: an end mark.
    auto b_cut = b;
    put_u16(b_cut, DR_SIZE, static_cast<std::uint16_t>(b.size() - 2 - 4));
    put_u16(b_cut, entry_at("B.TXT", 1) + DE_FILE_SEQUENCE, DIR_END_MARK);

    // B's name count says more bytes than the data holds.
    auto b_long_name = b;
    b_long_name[DR_NAME_COUNT] = 200;

    // A, the end mark, then B's record
    block a_mark_b = packed({a});
    std::copy(b.begin(), b.end(), a_mark_b.begin() + static_cast<std::ptrdiff_t>(a.size() + 2));

    // entries stored out of order: 5, 3, 4
    const auto out_of_order = record("V.TXT", {{5, 20}, {3, 21}, {4, 22}});

    struct {
        const char* what;
        std::vector<block> blocks;
        std::uint32_t eof_block;
        std::uint16_t first_free_byte;
        std::vector<lookup> lookups;
        std::string entries;
    } cases[] = {
        {"data end from ffbyte in the end-of-file block",
         {packed({a, b}), packed({c, a})},
         2,
         static_cast<std::uint16_t>(c.size()),
         {{"A.TXT", 0, 10}, {"C.TXT", 1, 13}},
         listed("A.TXT", 1, 10) + listed("B.TXT", 2, 11) + listed("B.TXT", 1, 12) +
             listed("C.TXT", 1, 13)},
        {"ffbyte above 512 counts as 512",
         {packed({record(full, versions_down(62))}, false)},
         1,
         1024,
         {{"ABCDEF.TXT", 1, 1001}, {"ABCDEF.TXT", 0, 1062}},
         listed_down(full, 62)},
        {"ffbyte 0 in the end-of-file block ends the walk there",
         {packed({a}), packed({b})},
         2,
         0,
         {{"A.TXT", 1, 10}, {"B.TXT", 1, 0}},
         listed("A.TXT", 1, 10)},
        {"a size word past the data",
         {packed({odd}, false)},
         1,
         512,
         {{"A.TXT", 1, 1001}},
         listed_down("A.TXT", 62)},
        {"a fixed part past the block",
         {crossing},
         1,
         512,
         {{"A.TXT", 62, 1062}},
         listed_down("A.TXT", 62)},
        {"a fixed part past the data",
         {packed({a, b})},
         1,
         static_cast<std::uint16_t>(a.size() + DR_NAME - 1),
         {{"B.TXT", 0, 0}},
         listed("A.TXT", 1, 10)},
        {"a name past the data ends the block's records",
         {packed({a, b_long_name, c})},
         1,
         static_cast<std::uint16_t>(a.size() + b.size() + c.size()),
         {{"B.TXT", 0, 0}, {"C.TXT", 0, 0}},
         listed("A.TXT", 1, 10)},
        {"an entry straddling its record's end",
         {packed({a, b_cut}), packed({c})},
         2,
         512,
         {{"B.TXT", 2, 11}, {"B.TXT", 1, 0}, {"C.TXT", 1, 13}},
         listed("A.TXT", 1, 10) + listed("B.TXT", 2, 11) + listed("C.TXT", 1, 13)},
        {"an entry straddling the data's end",
         {packed({a, b})},
         1,
         static_cast<std::uint16_t>(a.size() + b.size() - 1),
         {{"B.TXT", 2, 11}, {"B.TXT", 1, 0}},
         listed("A.TXT", 1, 10) + listed("B.TXT", 2, 11)},
        {"0xFFFF mid-block ends the block, not the walk",
         {a_mark_b, packed({c})},
         2,
         512,
         {{"B.TXT", 0, 0}, {"C.TXT", 1, 13}},
         listed("A.TXT", 1, 10) + listed("C.TXT", 1, 13)},
        {"0xFFFF at a block's start ends the walk",
         {packed({a}), packed({}), packed({c})},
         3,
         512,
         {{"A.TXT", 1, 10}, {"C.TXT", 1, 0}},
         listed("A.TXT", 1, 10)},
        {"versions out of order: a lookup stops below the version asked for",
         {packed({out_of_order})},
         1,
         512,
         {{"V.TXT", 0, 20}, {"V.TXT", 5, 20}, {"V.TXT", 3, 21}, {"V.TXT", 4, 0}},
         listed("V.TXT", 5, 20) + listed("V.TXT", 3, 21) + listed("V.TXT", 4, 22)},
        {"24-bit file numbers",
         {packed({record("H.TXT", {{1, 0x012345}})})},
         1,
         512,
         {{"H.TXT", 1, 0x012345}},
         listed("H.TXT", 1, 0x012345)},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        const file_header dir = directory(row.blocks, row.eof_block, row.first_free_byte);
        for (const auto& l : row.lookups) {
            SCOPED_TRACE(std::string(l.text) + ";" + std::to_string(l.version));
            lookup_key key;
            std::snprintf(key.text, sizeof key.text, "%s", l.text);
            key.version = l.version;
            EXPECT_EQ(find_entry(dir, key), l.file_number);
        }
        const std::string got = entries(dir);
        EXPECT_EQ(got, row.entries);
        EXPECT_EQ(listing(dir), names_and_versions(got));
    }
}
