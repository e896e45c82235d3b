// Reading a file's attributes from its header, and their text forms.
#include "ods2/attributes.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ods2/layout.hpp"

namespace {

// Days from 1858-11-17 (where VMS time starts) to 1970-01-01, and to 10000-01-01.
constexpr std::int64_t VMS_EPOCH_TO_UNIX_DAYS = 40587;
constexpr std::uint64_t VMS_EPOCH_TO_YEAR_10000_DAYS = 2973484;
constexpr std::uint64_t TICKS_PER_SECOND = 10000000;
constexpr std::uint64_t SECONDS_PER_DAY = 86400;
constexpr std::uint64_t TICKS_LIMIT =
    VMS_EPOCH_TO_YEAR_10000_DAYS * SECONDS_PER_DAY * TICKS_PER_SECOND;

std::uint64_t get_u64_le(std::span<const std::uint8_t> b, std::size_t off)
{
    return static_cast<std::uint64_t>(get_u32_le(b, off)) |
           static_cast<std::uint64_t>(get_u32_le(b, off + 4)) << 32;
}

file_id read_file_id(const block& b, std::size_t at)
{
    file_id id;
    id.number = static_cast<std::uint32_t>(get_u8(b, at + FID_NUMBER_HIGH)) << 16 |
                get_u16_le(b, at + FID_NUMBER);
    id.sequence = get_u16_le(b, at + FID_SEQUENCE);
    id.rvn = get_u8(b, at + FID_RVN);
    return id;
}

std::uint32_t high_word_first(const block& b, std::size_t at)
{
    return static_cast<std::uint32_t>(get_u16_le(b, at)) << 16 | get_u16_le(b, at + 2);
}

vms_time to_vms_time(std::uint64_t ticks)
{
    vms_time t;
    t.ticks = ticks;
    if (ticks == 0 || ticks >= TICKS_LIMIT)
        return t;
    t.known = true;
    const auto seconds = static_cast<std::int64_t>(ticks / TICKS_PER_SECOND);
    t.unix_seconds = seconds - VMS_EPOCH_TO_UNIX_DAYS * static_cast<std::int64_t>(SECONDS_PER_DAY);
    t.nanoseconds = static_cast<std::uint32_t>(ticks % TICKS_PER_SECOND * 100);
    return t;
}

// Where the identification area starts, when the whole of it lies after the
// fixed area and before the checksum word; 0 when it does not.
std::size_t ident_area_start(const block& b)
{
    const std::size_t at = std::size_t{get_u8(b, FH_IDENT_OFFSET)} * 2;
    return at >= FH_FIXED_AREA_END && fits(FH_CHECKSUM, at, FI_SIZE) ? at : 0;
}

// The stored name: its first part, then its continuation, trailing blanks (and
// the NULs of an area never written) removed.
void read_ident_name(const block& b, std::size_t at, file_attributes& out)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < FI_NAME_LENGTH; ++i)
        out.name[n++] = static_cast<char>(b[at + FI_NAME + i]);
    for (std::size_t i = 0; i < FI_NAME_EXT_LENGTH; ++i)
        out.name[n++] = static_cast<char>(b[at + FI_NAME_EXT + i]);
    while (n > 0 && (out.name[n - 1] == ' ' || out.name[n - 1] == '\0'))
        --n;
    out.name[n] = '\0';
    out.name_length = n;
}

void read_ident_area(const block& b, file_attributes& out)
{
    const std::size_t at = ident_area_start(b);
    if (at == 0)
        return;
    out.ident_known = true;
    read_ident_name(b, at, out);
    out.revision_count = get_u16_le(b, at + FI_REVISION);
    out.created = to_vms_time(get_u64_le(b, at + FI_CREATED));
    out.revised = to_vms_time(get_u64_le(b, at + FI_REVISED));
    out.expires = to_vms_time(get_u64_le(b, at + FI_EXPIRES));
    out.backup = to_vms_time(get_u64_le(b, at + FI_BACKUP));
}

void read_record_attributes(const block& b, file_attributes& out)
{
    const std::uint8_t type = get_u8(b, FH_RECORD_TYPE);
    out.record_format = type & FH_RECORD_FORMAT_MASK;
    out.organization = static_cast<std::uint8_t>(type >> FH_ORGANIZATION_SHIFT);
    out.record_attributes = get_u8(b, FH_RECORD_ATTRIBUTES);
    out.record_size = get_u16_le(b, FH_RECORD_SIZE);
    out.vfc_size = get_u8(b, FH_VFC_SIZE);
    out.highest_block = high_word_first(b, FH_HIBLK_HIGH);
    out.eof_block = high_word_first(b, FH_EFBLK_HIGH);
    out.first_free_byte = get_u16_le(b, FH_FFBYTE);
}

// Bytes to the end of file as a copy reads them: whole blocks before the
// end-of-file block, then first_free_byte of it (at most a block).
void derive_sizes(file_attributes& a)
{
    if (a.eof_block == 0)
        return;
    const std::uint32_t last = std::min<std::uint32_t>(a.first_free_byte, BLOCK_SIZE);
    a.size_bytes = std::uint64_t{a.eof_block - 1u} * BLOCK_SIZE + last;
    a.blocks_used = last == 0 ? a.eof_block - 1 : a.eof_block;
}

// Appends text at out[n], keeping room for the NUL.
void append(char* out, std::size_t size, std::size_t& n, const char* text)
{
    const int wrote = std::snprintf(out + n, size - n, "%s", text);
    if (wrote > 0)
        n = std::min(size - 1, n + static_cast<std::size_t>(wrote));
}

const char* record_format_name(std::uint8_t format)
{
    static const char* const names[] = {"UDF", "FIX", "VAR", "VFC", "STM", "STMLF", "STMCR"};
    return format < sizeof names / sizeof names[0] ? names[format] : nullptr;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

} // namespace

void read_file_attributes(const file_header& h, file_attributes& out)
{
    out = file_attributes{};
    const block& b = h.bytes;
    out.fid = read_file_id(b, FH_FILE_NUMBER);
    out.back_link = read_file_id(b, FH_BACK_LINK);
    read_record_attributes(b, out);
    derive_sizes(out);
    out.file_characteristics = get_u32_le(b, FH_FILE_CHARACTERISTICS);
    out.directory = (out.file_characteristics & FCH_DIRECTORY) != 0;
    out.owner.member = get_u16_le(b, FH_OWNER_MEMBER);
    out.owner.group = get_u16_le(b, FH_OWNER_GROUP);
    out.protection = get_u16_le(b, FH_PROTECTION);
    read_ident_area(b, out);
}

void format_protection(std::uint16_t protection, char (&out)[PROTECTION_TEXT])
{
    static const char letters[] = "RWED";
    std::size_t n = 0;
    out[n++] = '(';
    for (unsigned field = 0; field < 4; ++field) {
        if (field > 0)
            out[n++] = ',';
        const unsigned denied = protection >> (4 * field) & 0xFu;
        for (unsigned bit = 0; bit < 4; ++bit) {
            if ((denied & 1u << bit) == 0)
                out[n++] = letters[bit];
        }
    }
    out[n++] = ')';
    out[n] = '\0';
}

void format_uic(uic owner, char (&out)[UIC_TEXT])
{
    std::snprintf(out, sizeof out, "[%o,%o]", static_cast<unsigned>(owner.group),
                  static_cast<unsigned>(owner.member));
}

void format_record_format(const file_attributes& a, char (&out)[RECORD_FORMAT_TEXT])
{
    std::size_t n = 0;
    out[0] = '\0';
    char number[24];
    if (const char* name = record_format_name(a.record_format)) {
        append(out, sizeof out, n, name);
    } else {
        std::snprintf(number, sizeof number, "FMT %u", static_cast<unsigned>(a.record_format));
        append(out, sizeof out, n, number);
    }
    if (a.record_format == RECFMT_FIXED) {
        std::snprintf(number, sizeof number, " %u", static_cast<unsigned>(a.record_size));
        append(out, sizeof out, n, number);
    } else if (a.record_format == RECFMT_VFC) {
        std::snprintf(number, sizeof number, " %u", a.vfc_size == 0 ? 2u : a.vfc_size);
        append(out, sizeof out, n, number);
    }
    static const struct {
        std::uint8_t bit;
        const char* text;
    } attributes[] = {{RECATTR_FORTRAN, " FTN"},
                      {RECATTR_IMPLIED_CR, " CR"},
                      {RECATTR_PRINT, " PRN"},
                      {RECATTR_NO_SPAN, " NOSPAN"}};
    std::uint8_t rest = a.record_attributes;
    for (const auto& attribute : attributes) {
        if ((a.record_attributes & attribute.bit) != 0)
            append(out, sizeof out, n, attribute.text);
        rest = static_cast<std::uint8_t>(rest & ~attribute.bit);
    }
    if (rest != 0) {
        std::snprintf(number, sizeof number, " 0x%02X", static_cast<unsigned>(rest));
        append(out, sizeof out, n, number);
    }
    static const char* const organizations[] = {"", " REL", " IDX", " HSH"};
    if (a.organization != 0 && a.organization < 4) {
        append(out, sizeof out, n, organizations[a.organization]);
    } else if (a.organization != 0) {
        std::snprintf(number, sizeof number, " ORG %u", static_cast<unsigned>(a.organization));
        append(out, sizeof out, n, number);
    }
}

void format_time(const vms_time& t, char (&out)[TIME_TEXT])
{
    if (!t.known) {
        std::snprintf(out, sizeof out, "unknown");
        return;
    }
    const std::int64_t day_seconds = static_cast<std::int64_t>(SECONDS_PER_DAY);
    std::int64_t days = t.unix_seconds / day_seconds;
    std::int64_t second_of_day = t.unix_seconds % day_seconds;
    if (second_of_day < 0) {
        second_of_day += day_seconds;
        --days;
    }
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civil_from_days(days, year, month, day);
    char fraction[9] = ""; // "." and up to 7 digits
    if (t.nanoseconds != 0) {
        std::snprintf(fraction, sizeof fraction, ".%07u", t.nanoseconds / 100 % 10000000);
        std::size_t end = std::strlen(fraction);
        while (end > 2 && fraction[end - 1] == '0')
            fraction[--end] = '\0';
    }
    // A known time lies in the years 1858-9999; the remainders only bound the widths.
    const auto seconds = static_cast<unsigned>(second_of_day);
    std::snprintf(out, sizeof out, "%04u-%02u-%02uT%02u:%02u:%02u%sZ",
                  static_cast<unsigned>(year) % 10000, month % 13, day % 32, seconds / 3600 % 24,
                  seconds / 60 % 60, seconds % 60, fraction);
}
