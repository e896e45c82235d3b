// File attributes read from headers the volume builder encodes, their text
// forms, and headers whose values cannot be trusted.
#include "ods2/attributes.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "volume_builder/file_header.hpp"

namespace vb = volbuild;

namespace {

file_header header_of(const vb::header_fields& f)
{
    file_header h;
    h.bytes = vb::encode_header(f);
    return h;
}

file_attributes attributes_of(const file_header& h)
{
    file_attributes a;
    read_file_attributes(h, a);
    return a;
}

std::string record_format_text(const file_attributes& a)
{
    char text[RECORD_FORMAT_TEXT];
    format_record_format(a, text);
    return text;
}

std::string time_text(const vms_time& t)
{
    char text[TIME_TEXT];
    format_time(t, text);
    return text;
}

std::string protection_text(std::uint16_t p)
{
    char text[PROTECTION_TEXT];
    format_protection(p, text);
    return text;
}

std::string uic_text(uic u)
{
    char text[UIC_TEXT];
    format_uic(u, text);
    return text;
}

// 2026-12-10 11:51:00.25 UTC in VMS time.
constexpr std::uint64_t A_TIME = 53036202602500000ULL;

void put_u64(block& b, std::size_t at, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

TEST(read_file_attributes, reads_every_field_the_builder_writes)
{
    struct row {
        const char* what;
        vb::header_fields f;
        std::string format;
        std::uint64_t size_bytes;
        std::uint32_t blocks_used;
    };
    const row rows[] = {
        {"variable records with carriage return",
         {.id = {7, 3, 0},
          .record_type = RECFMT_VARIABLE,
          .record_attributes = RECATTR_IMPLIED_CR,
          .record_size = 80,
          .hiblk = 4,
          .efblk = 2,
          .ffbyte = 488,
          .back_link = {4, 4, 0},
          .ident_name = "NOTES.TXT;1"},
         "VAR CR",
         1000,
         2},
        {"fixed 512, end of file on a block boundary",
         {.id = {0x123456, 0xBEEF, 2},
          .record_type = RECFMT_FIXED,
          .record_size = 512,
          .hiblk = 0x12345,
          .efblk = 0x10001,
          .ffbyte = 0,
          .back_link = {0xABCDEF, 9, 1},
          .ident_name = "PROG.EXE;32767"},
         "FIX 512",
         std::uint64_t{0x10000} * 512,
         0x10000},
        {"Fortran, no span",
         {.record_type = RECFMT_VARIABLE,
          .record_attributes = RECATTR_FORTRAN | RECATTR_NO_SPAN,
          .efblk = 1,
          .ffbyte = 3,
          .ident_name = "OUT.DAT;2"},
         "VAR FTN NOSPAN",
         3,
         1},
        {"stream-LF",
         {.record_type = RECFMT_STREAM_LF,
          .record_attributes = RECATTR_IMPLIED_CR,
          .efblk = 0,
          .ident_name = "A.C;1"},
         "STMLF CR",
         0,
         0},
        {"stream, stream-CR, undefined, unknown bits",
         {.record_type = RECFMT_STREAM_CR, .record_attributes = 0x32, .efblk = 1, .ffbyte = 600},
         "STMCR CR 0x30",
         512,
         1},
        {"a name continued past 20 characters",
         {.record_type = RECFMT_UNDEFINED,
          .ident_name = "A_RATHER_LONG_FILE_NAME_FOR_VMS.TEXT_FILE;12"},
         "UDF",
         0,
         0},
        {"an unknown record format", {.record_type = 0x0C, .ident_name = "X.Y;1"}, "FMT 12", 0, 0},
        {"an indexed file", {.record_type = 0x22, .record_attributes = 2}, "VAR CR IDX", 0, 0},
        {"an unknown organization", {.record_type = 0xF1, .record_size = 9}, "FIX 9 ORG 15", 0, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const file_attributes a = attributes_of(header_of(r.f));
        EXPECT_EQ(a.fid.number, r.f.id.number);
        EXPECT_EQ(a.fid.sequence, r.f.id.sequence);
        EXPECT_EQ(a.fid.rvn, r.f.id.rvn);
        EXPECT_EQ(a.back_link.number, r.f.back_link.number);
        EXPECT_EQ(a.back_link.sequence, r.f.back_link.sequence);
        EXPECT_EQ(a.back_link.rvn, r.f.back_link.rvn);
        EXPECT_EQ(a.record_format, r.f.record_type & 0x0F);
        EXPECT_EQ(a.organization, r.f.record_type >> 4);
        EXPECT_EQ(a.record_attributes, r.f.record_attributes);
        EXPECT_EQ(a.record_size, r.f.record_size);
        EXPECT_EQ(a.highest_block, r.f.hiblk);
        EXPECT_EQ(a.eof_block, r.f.efblk);
        EXPECT_EQ(a.first_free_byte, r.f.ffbyte);
        EXPECT_EQ(a.size_bytes, r.size_bytes);
        EXPECT_EQ(a.blocks_used, r.blocks_used);
        EXPECT_EQ(a.owner.group, r.f.owner_group);
        EXPECT_EQ(a.owner.member, r.f.owner_member);
        EXPECT_EQ(a.protection, r.f.protection);
        EXPECT_FALSE(a.directory);
        EXPECT_EQ(record_format_text(a), r.format);
        EXPECT_TRUE(a.ident_known); // the builder's area lies in place, named or zeros
        EXPECT_EQ(std::string(a.name, a.name_length), r.f.ident_name);
        EXPECT_EQ(std::strlen(a.name), a.name_length);
        if (r.f.ident_name.empty()) {
            EXPECT_FALSE(a.created.known);
        } else {
            EXPECT_EQ(a.revision_count, 1u);
            EXPECT_TRUE(a.created.known);
            EXPECT_EQ(a.created.ticks, vb::DEFAULT_DATE);
            EXPECT_EQ(time_text(a.created), "2000-01-01T00:00:00Z");
            EXPECT_EQ(time_text(a.revised), "2000-01-01T00:00:00Z");
            EXPECT_FALSE(a.expires.known); // the builder leaves them 0
            EXPECT_FALSE(a.backup.known);
        }
    }
}

TEST(read_file_attributes, directory_owner_protection_vfc_size_and_dates)
{
    vb::header_fields f{.record_type = RECFMT_VFC,
                        .record_attributes = RECATTR_PRINT,
                        .file_characteristics = 0x2000,
                        .owner_member = 012,
                        .owner_group = 0300,
                        .protection = 0xFA08,
                        .ident_name = "REPORT.LIS;3"};
    file_header h = header_of(f);
    h.bytes[35] = 3;                              // VFC header size
    h.bytes[80 + 20] = 7;                         // revision count
    put_u64(h.bytes, 80 + 30, A_TIME);            // revised
    put_u64(h.bytes, 80 + 38, 1);                 // expires: 100 ns after the start
    put_u64(h.bytes, 80 + 46, A_TIME + 10000000); // backup
    const file_attributes a = attributes_of(h);
    EXPECT_TRUE(a.directory);
    EXPECT_EQ(a.file_characteristics, 0x2000u);
    EXPECT_EQ(a.vfc_size, 3);
    EXPECT_EQ(record_format_text(a), "VFC 3 PRN");
    EXPECT_EQ(uic_text(a.owner), "[300,12]");
    EXPECT_EQ(protection_text(a.protection), "(RWE,RWED,RE,)");
    EXPECT_EQ(a.revision_count, 7);
    EXPECT_EQ(time_text(a.revised), "2026-12-10T11:51:00.25Z");
    EXPECT_EQ(a.revised.unix_seconds, 1796903460);
    EXPECT_EQ(a.revised.nanoseconds, 250000000u);
    EXPECT_EQ(time_text(a.expires), "1858-11-17T00:00:00.0000001Z");
    EXPECT_EQ(a.expires.unix_seconds, -3506716800LL);
    EXPECT_EQ(time_text(a.backup), "2026-12-10T11:51:01.25Z");
    file_attributes vfc0 = a;
    vfc0.vfc_size = 0;
    EXPECT_EQ(record_format_text(vfc0), "VFC 2 PRN");
}

TEST(format_protection, letters_allowed_for_each_class)
{
    EXPECT_EQ(protection_text(0x0000), "(RWED,RWED,RWED,RWED)");
    EXPECT_EQ(protection_text(0xFFFF), "(,,,)");
    EXPECT_EQ(protection_text(0xAA00), "(RWED,RWED,RE,RE)");
    EXPECT_EQ(protection_text(0x8421), "(WED,RED,RWD,RWE)");
    EXPECT_EQ(uic_text({0177777, 0177777}), "[177777,177777]");
    EXPECT_EQ(uic_text({1, 4}), "[1,4]");
}

// Damaged headers: what cannot be trusted is unknown, and nothing is read outside the block.
TEST(read_file_attributes, values_out_of_range_are_unknown)
{
    struct row {
        const char* what;
        std::uint8_t ident_offset; // words
        std::uint64_t created;
        bool ident_known;
        bool created_known;
    };
    const row rows[] = {
        {"sound", 40, A_TIME, true, true},
        {"a date of 0", 40, 0, true, false},
        {"the last tick of 9999", 40, 2973484ULL * 864000000000ULL - 1, true, true},
        {"the year 10000", 40, 2973484ULL * 864000000000ULL, true, false},
        {"a negative (delta) time", 40, 0xFFFFFFFFFF676980ULL, true, false},
        {"the ident area over the fixed area", 39, A_TIME, false, false},
        {"the ident area at offset 0", 0, A_TIME, false, false},
        {"the ident area over the checksum", 196, A_TIME, false, false},
        {"the ident area past the block", 255, A_TIME, false, false},
        {"the last place it fits", 195, A_TIME, true, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        file_header h = header_of({.ident_name = "F.TXT;1"});
        h.bytes[0] = r.ident_offset;
        const std::size_t at = std::size_t{r.ident_offset} * 2;
        if (at + 30 <= BLOCK_SIZE)
            put_u64(h.bytes, at + 22, r.created);
        const file_attributes a = attributes_of(h);
        EXPECT_EQ(a.ident_known, r.ident_known);
        EXPECT_EQ(a.created.known, r.created_known);
        if (!r.ident_known) {
            EXPECT_EQ(a.name_length, 0u);
        }
        if (!r.created_known) {
            EXPECT_EQ(time_text(a.created), "unknown");
        }
    }
    // a first free byte past the block counts as the whole block, as in copies
    file_header h = header_of({.efblk = 3, .ffbyte = 0xFFFF});
    EXPECT_EQ(attributes_of(h).size_bytes, 3u * 512);
    // an end-of-file block at its largest
    h = header_of({.efblk = 0xFFFFFFFF, .ffbyte = 1});
    EXPECT_EQ(attributes_of(h).size_bytes, std::uint64_t{0xFFFFFFFE} * 512 + 1);
    // every byte of the name area set: 86 bytes, no blanks to remove
    h = header_of({.ident_name = std::string(86, '\xFF')});
    const file_attributes a = attributes_of(h);
    EXPECT_EQ(a.name_length, MAX_IDENT_NAME);
    EXPECT_EQ(a.name[MAX_IDENT_NAME], '\0');
}

// The real VAX volume: the index file's own header.
TEST(read_file_attributes, index_file_header_of_a_volume_vms_wrote)
{
    const char* path = ODSCP_SOURCE_DIR "/../shared/volumes/vax-diags-2018.dsk";
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        GTEST_SKIP() << "no VAX volume at " << path;
    file_header h;
    const bool read = std::fseek(f, 7 * 512, SEEK_SET) == 0 &&
                      std::fread(h.bytes.data(), 1, BLOCK_SIZE, f) == BLOCK_SIZE;
    std::fclose(f);
    ASSERT_TRUE(read);
    const file_attributes a = attributes_of(h);
    EXPECT_EQ(std::string(a.name, a.name_length), "INDEXF.SYS;1");
    EXPECT_EQ(a.fid.number, 1u);
    EXPECT_EQ(a.fid.sequence, 1u);
    EXPECT_EQ(a.back_link.number, 4u);
    EXPECT_EQ(a.back_link.sequence, 4u);
    EXPECT_EQ(record_format_text(a), "FIX 512");
    EXPECT_EQ(a.highest_block, 108u);
    EXPECT_EQ(a.eof_block, 109u);
    EXPECT_EQ(a.blocks_used, 108u);
    EXPECT_EQ(uic_text(a.owner), "[1,4]");
    EXPECT_EQ(protection_text(a.protection), "(RWED,RWED,RE,)");
    EXPECT_EQ(a.revision_count, 1u);
    EXPECT_EQ(time_text(a.created), "2018-09-27T03:28:28.1Z");
    EXPECT_FALSE(a.expires.known);
    EXPECT_FALSE(a.directory);
}
