// The record converter: a table of tiny records for each format, and the
// streaming converter fed in random pieces against a whole-buffer reference.
#include "output/convert.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/record_support.hpp"

namespace {

using namespace std::string_literals;
using record_support::record;

file_attributes attrs(std::uint8_t format, std::uint8_t attributes, std::uint16_t size = 0,
                      std::uint8_t vfc = 0)
{
    file_attributes a;
    a.record_format = format;
    a.record_attributes = attributes;
    a.record_size = size;
    a.vfc_size = vfc;
    return a;
}

struct result {
    std::string text;
    bool truncated = false;
};

// Converts the whole input, handed over in pieces of at most piece bytes, with
// at most room bytes of output per call.
result convert(const file_attributes& a, const std::string& in, std::int32_t mode = CONVERT_AUTO,
               std::size_t piece = SIZE_MAX, std::size_t room = 4096)
{
    record_converter c;
    start_conversion(c, a, mode);
    result r;
    std::vector<std::uint8_t> out(room);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(in.data());
    std::size_t at = 0;
    int idle = 0;
    while (at < in.size()) {
        const std::size_t n = std::min(piece, in.size() - at);
        std::size_t consumed = 0;
        const std::size_t w = convert_bytes(c, bytes + at, n, consumed, out.data(), out.size());
        EXPECT_TRUE(consumed == n || w == out.size()) << "took less without a full output";
        r.text.append(reinterpret_cast<const char*>(out.data()), w);
        at += consumed;
        idle = consumed == 0 && w == 0 ? idle + 1 : 0;
        if (idle > 2) {
            ADD_FAILURE() << "no progress at " << at;
            break;
        }
    }
    for (int calls = 0; calls < 100000; ++calls) {
        const std::size_t w = finish_conversion(c, out.data(), out.size());
        r.text.append(reinterpret_cast<const char*>(out.data()), w);
        if (w < out.size())
            break;
    }
    r.truncated = c.truncated;
    return r;
}

std::string repeat(const std::string& s, std::size_t n)
{
    std::string r;
    for (std::size_t i = 0; i < n; ++i)
        r += s;
    return r;
}

struct format_case {
    const char* what;
    file_attributes a;
    std::string in;
    std::string out;
    bool truncated = false;
};

void run_table(const std::vector<format_case>& cases)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const result r = convert(c.a, c.in);
        EXPECT_EQ(r.text, c.out);
        EXPECT_EQ(r.truncated, c.truncated);
        // the same, a byte at a time in and out
        const result small = convert(c.a, c.in, CONVERT_AUTO, 1, 1);
        EXPECT_EQ(small.text, c.out);
        EXPECT_EQ(small.truncated, c.truncated);
    }
}

} // namespace

TEST(convert_bytes, variable_records_become_lines)
{
    const file_attributes var = attrs(RECFMT_VARIABLE, RECATTR_IMPLIED_CR);
    const std::string first = record("abc") + record("") + record("de");
    std::vector<format_case> cases = {
        {"odd, empty and even records", var, first, "abc\n\nde\n"},
        {"no attributes: still a line per record", attrs(RECFMT_VARIABLE, 0), first, "abc\n\nde\n"},
        {"bytes inside a record are kept", var, record("a\nb\rc\0"s), "a\nb\rc\0\n"s},
        {"a record crosses a block", var, record(std::string(600, 'q')) + record("z"),
         std::string(600, 'q') + "\nz\n"},
        {"0xFFFF ends the block's records", var,
         record("ab") + "\xFF\xFF" + std::string(506, '\x55') + record("cd"), "ab\ncd\n"},
        {"0xFFFF in the block's last word", var,
         record(std::string(508, 'm')) + "\xFF\xFF" + record("n"), std::string(508, 'm') + "\nn\n"},
        {"the end of file inside a record", var, record("hello") + "\x05\x00wor"s, "hello\nwor\n",
         true},
        {"the end of file inside a length word", var, record("ab") + "\x07"s, "ab\n", true},
        {"a length runs past the end of file", var, record("ab") + "\xFF\x7F" + "cd", "ab\ncd\n",
         true},
        {"the end of file before a pad byte", var, "\x01\x00z"s, "z\n"},
        {"an empty file", var, "", ""},
    };
    run_table(cases);
}

TEST(convert_bytes, vfc_records_lose_their_header)
{
    const file_attributes vfc = attrs(RECFMT_VFC, RECATTR_IMPLIED_CR, 0, 2);
    const file_attributes vfc3 = attrs(RECFMT_VFC, RECATTR_IMPLIED_CR, 0, 3);
    const file_attributes prn = attrs(RECFMT_VFC, RECATTR_PRINT, 0, 2);
    const file_attributes prn0 = attrs(RECFMT_VFC, RECATTR_PRINT, 0, 0); // 0 stands for 2
    std::vector<format_case> cases = {
        {"a header of 2", vfc,
         record("\x01\x8D"s
                "abc") +
             record("\x11\x22xy"),
         "abc\nxy\n"},
        {"a header of 3", vfc3, record("HHHabc") + record("HHH"), "abc\n\n"},
        {"the usual print records", prn,
         record("\x01\x8D"s
                "one") +
             record("\x01\x8D"s
                    "two"),
         "one\ntwo\n"},
        {"a vfc size of 0 is 2", prn0,
         record("\x01\x8D"s
                "one"),
         "one\n"},
        {"double spacing: a blank line before each", prn,
         record("\x02\x8D"s
                "a") +
             record("\x02\x8D"s
                    "b"),
         "\na\n\nb\n"},
        {"a form feed before, then a carriage return", prn,
         record("\x01\x8D"s
                "a") +
             record("\x8C\x8D"s
                    "page") +
             record("\x01\x8D"s
                    "b"),
         "a\n\fpage\nb\n"},
        {"line feeds after the data", prn,
         record("\x00\x01"s
                "a") +
             record("\x00\x03"s
                    "b"),
         "a\nb\n\n\n"},
        {"a prefix of 1 and nothing after: lines end at the next line feed", prn,
         record("\x01\x00"s
                "a") +
             record("\x01\x00"s
                    "b"),
         "a\nb\n"},
        {"overprinting: no line feed after a carriage return", prn,
         record("\x01\x8D"s
                "abc") +
             record("\x00\x8D"s
                    "___"),
         "abc\r___\n"},
        {"a device channel is one line feed", prn,
         record("\xC3\x8D"s
                "a") +
             record("\xC1\x8D"s
                    "b"),
         "a\nb\n"},
        {"a C0 character after the data", prn,
         record("\x01\x87"s
                "bell"),
         "bell\a\n"},
        {"a record shorter than its header", prn,
         record("\x01"s) + record("") +
             record("\x01\x8D"s
                    "x"),
         "\n\nx\n"},
        {"the end of file inside the header", prn,
         record("\x01\x8D"s
                "a") +
             "\x04\x00\x01"s,
         "a\n", true},
        {"print control on a record crossing blocks", prn,
         record("\x01\x8D"s + std::string(520, 'r')), std::string(520, 'r') + "\n"},
    };
    run_table(cases);
}

TEST(convert_bytes, fortran_carriage_control)
{
    const file_attributes ftn = attrs(RECFMT_VARIABLE, RECATTR_FORTRAN);
    const file_attributes ftn_fix = attrs(RECFMT_FIXED, RECATTR_FORTRAN, 3);
    std::vector<format_case> cases = {
        {"space: a new line each", ftn, record(" ab") + record(" cd"), "ab\ncd\n"},
        {"0: a blank line first", ftn, record(" ab") + record("0cd"), "ab\n\ncd\n"},
        {"1: a form feed first", ftn, record(" ab") + record("1cd"), "ab\n\fcd\n"},
        {"+: overprint", ftn, record(" ab") + record("+__"), "ab\r__\n"},
        {"$: a prompt, no line end after it", ftn, record("$name? ") + record(" yes"),
         "name? \nyes\n"},
        {"NUL: no control", ftn, record(" ab") + record("\0cd"s), "ab\rcd\n"},
        {"any other byte: a space", ftn, record("Xab") + record("*cd"), "ab\ncd\n"},
        {"an empty record: a line", ftn, record(" a") + record("") + record(" b"), "a\n\nb\n"},
        {"0 first in the file: one blank line", ftn, record("0a"), "\na\n"},
        {"fixed records with Fortran control", ftn_fix,
         " ab\xEE"
         "0cd\xEE"
         "+__\xEE"s,
         "ab\n\ncd\r__\n"},
        {"the end of file after the control byte", ftn, record(" a") + "\x03\x00 "s, "a\n\n", true},
    };
    run_table(cases);
}

TEST(convert_bytes, fixed_records)
{
    const file_attributes cr4 = attrs(RECFMT_FIXED, RECATTR_IMPLIED_CR, 4);
    const file_attributes cr3 = attrs(RECFMT_FIXED, RECATTR_IMPLIED_CR, 3);
    const file_attributes nospan = attrs(RECFMT_FIXED, RECATTR_IMPLIED_CR | RECATTR_NO_SPAN, 200);
    const file_attributes plain = attrs(RECFMT_FIXED, 0, 512);
    const std::string three_blocks_of_200 = std::string(200, 'a') + std::string(200, 'b') +
                                            std::string(112, '\0') + std::string(200, 'c');
    std::vector<format_case> cases = {
        {"implied CR: a line each", cr4, "abcdefgh", "abcd\nefgh\n"},
        {"odd size: a pad byte after each", cr3,
         "abc\xEE"
         "def\xEE"s,
         "abc\ndef\n"},
        {"no span: a record does not cross a block", nospan, three_blocks_of_200,
         std::string(200, 'a') + "\n" + std::string(200, 'b') + "\n" + std::string(200, 'c') +
             "\n"},
        {"spanning records cross blocks", cr4, std::string(510, 'x') + "yyzz",
         repeat("xxxx\n", 127) + "xxyy\nzz\n", true},
        {"without carriage control: the bytes", plain, "ab\0\n\xFF"s, "ab\0\n\xFF"s},
        {"a record size of 0: the bytes", attrs(RECFMT_FIXED, RECATTR_IMPLIED_CR, 0), "abc", "abc"},
        {"the end of file inside a record", cr4, "abcdef", "abcd\nef\n", true},
    };
    run_table(cases);
}

TEST(convert_bytes, stream_formats_give_lines_ending_in_lf)
{
    const file_attributes stm = attrs(RECFMT_STREAM, RECATTR_IMPLIED_CR);
    const file_attributes stmlf = attrs(RECFMT_STREAM_LF, RECATTR_IMPLIED_CR);
    const file_attributes stmcr = attrs(RECFMT_STREAM_CR, RECATTR_IMPLIED_CR);
    std::vector<format_case> cases = {
        {"stream: CR LF becomes LF", stm, "a\r\nb\r\n", "a\nb\n"},
        {"stream: LF, FF and VT stay", stm, "a\nb\fc\vd\n", "a\nb\fc\vd\n"},
        {"stream: a lone CR stays", stm, "a\rb\r\r\nc\r", "a\rb\r\nc\r"},
        {"stream: no line end is added", stm, "a\r\nlast", "a\nlast"},
        {"stream-LF: the bytes", stmlf, "ab\ncd\r\n\0"s, "ab\ncd\r\n\0"s},
        {"stream-CR: CR becomes LF", stmcr, "ab\rcd\r\n", "ab\ncd\n\n"},
        {"undefined: the bytes", attrs(RECFMT_UNDEFINED, 0),
         "\x03\x00"
         "abc"s,
         "\x03\x00"
         "abc"s},
        {"an unknown format: the bytes", attrs(9, RECATTR_IMPLIED_CR),
         "\x03\x00"
         "abc"s,
         "\x03\x00"
         "abc"s},
    };
    run_table(cases);
}

TEST(convert_bytes, raw_gives_the_bytes_for_every_format)
{
    const std::string in = record("abc") + "\r\n\x01\x8D"s;
    for (std::uint8_t format = 0; format < 8; ++format) {
        for (std::uint8_t attributes : {0, 1, 2, 4, 8, 15}) {
            const result r = convert(attrs(format, attributes, 3, 2), in, CONVERT_RAW, 3, 5);
            EXPECT_EQ(r.text, in);
            EXPECT_FALSE(r.truncated);
        }
    }
}

TEST(convert_bytes, other_organizations_give_the_bytes)
{
    file_attributes a = attrs(RECFMT_VARIABLE, RECATTR_IMPLIED_CR);
    a.organization = 2; // indexed
    EXPECT_EQ(convert(a, record("abc")).text, record("abc"));
}

namespace {

// The printer model over a whole string, for the reference below.
struct reference_printer {
    std::string out;
    bool held = false; // a carriage return not yet written

    void control(std::uint8_t code, bool leading)
    {
        const bool was_held = held;
        held = false;
        if (code == 0) {
            if (was_held)
                out += '\r';
            return;
        }
        const char ch = static_cast<char>(code & 0x1F);
        if ((code & 0xC0) != 0x80 || ch == '\n') {
            std::size_t feeds = (code & 0x80) == 0 ? code : 1;
            if (leading && out.empty() && !was_held)
                --feeds;
            out.append(feeds, '\n');
        } else if (ch == '\r') {
            if (leading || was_held)
                out += '\r';
            else
                held = true;
        } else {
            if (was_held)
                out += '\n';
            out += ch;
        }
    }
};

void fortran(std::uint8_t first, std::uint8_t& prefix, std::uint8_t& postfix)
{
    prefix = 0x01;
    postfix = 0x8D;
    if (first == '0')
        prefix = 0x02;
    else if (first == '1')
        prefix = 0x8C;
    else if (first == '+')
        prefix = 0;
    else if (first == '$')
        postfix = 0;
    else if (first == 0)
        prefix = postfix = 0;
}

// Records taken from the whole input at once, by position.
result reference_records(const file_attributes& a, const std::string& in)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(in[i]); };
    const bool length_words = a.record_format == RECFMT_VARIABLE || a.record_format == RECFMT_VFC;
    const bool prn = a.record_format == RECFMT_VFC && (a.record_attributes & RECATTR_PRINT);
    const bool ftn = !prn && (a.record_attributes & RECATTR_FORTRAN);
    reference_printer p;
    result r;
    std::size_t pos = 0;
    while (pos < in.size()) {
        std::size_t length = a.record_size;
        if (length_words) {
            if (pos + 2 > in.size()) {
                r.truncated = true;
                break;
            }
            length = byte(pos) | byte(pos + 1) << 8;
            pos += 2;
            if (length == 0xFFFF) {
                pos = (pos + 511) / 512 * 512;
                continue;
            }
        } else {
            const std::size_t padded = length + (length & 1);
            if ((a.record_attributes & RECATTR_NO_SPAN) && pos % 512 != 0 && padded <= 512 &&
                pos % 512 + padded > 512) {
                pos = (pos + 511) / 512 * 512;
                continue;
            }
        }
        const std::size_t end = pos + length;
        const std::size_t header = a.record_format == RECFMT_VFC
                                       ? std::min<std::size_t>(a.vfc_size ? a.vfc_size : 2, length)
                                       : 0;
        if (pos + header > in.size()) {
            r.truncated = true;
            break;
        }
        std::uint8_t prefix = 0x01;
        std::uint8_t postfix = 0x8D;
        if (prn) {
            if (header >= 1)
                prefix = byte(pos);
            if (header >= 2)
                postfix = byte(pos + 1);
        }
        pos += header;
        if (ftn && end > pos) {
            if (pos >= in.size()) {
                r.truncated = true;
                break;
            }
            fortran(byte(pos++), prefix, postfix);
        }
        p.control(prefix, true);
        p.out.append(in, pos, std::min(end, in.size()) - pos);
        p.control(postfix, false);
        if (end > in.size()) {
            r.truncated = true;
            break;
        }
        pos = end + (length & 1);
    }
    if (p.held || (!p.out.empty() && p.out.back() != '\n'))
        p.out += '\n';
    r.text = p.out;
    return r;
}

result reference(const file_attributes& a, std::int32_t mode, const std::string& in)
{
    const bool sequential = a.organization == 0 && mode == CONVERT_AUTO;
    const bool carriage = (a.record_attributes & (RECATTR_FORTRAN | RECATTR_IMPLIED_CR)) != 0;
    if (sequential && (a.record_format == RECFMT_VARIABLE || a.record_format == RECFMT_VFC ||
                       (a.record_format == RECFMT_FIXED && a.record_size != 0 && carriage)))
        return reference_records(a, in);
    result r;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (sequential && a.record_format == RECFMT_STREAM && in[i] == '\r' && i + 1 < in.size() &&
            in[i + 1] == '\n')
            continue; // the LF that follows stands for both
        if (sequential && a.record_format == RECFMT_STREAM_CR && in[i] == '\r')
            r.text += '\n';
        else
            r.text += in[i];
    }
    return r;
}

// Input that is mostly records of small lengths, with now and then an
// unused-rest mark, a long length, or bytes of carriage control.
std::string random_input(std::mt19937& rng, std::size_t records)
{
    static const char controls[] = {' ',    '0',    '1',    '+',    '$',    '\0', 'x',  '\x01',
                                    '\x8D', '\x8C', '\x02', '\xC1', '\x87', '\r', '\n', '\x7F'};
    std::string s;
    for (std::size_t i = 0; i < records; ++i) {
        const unsigned kind = rng() % 16;
        if (kind == 0) {
            s += "\xFF\xFF";
            s += std::string((512 - s.size() % 512) % 512, '\x55');
            continue;
        }
        const std::size_t length = kind == 1 ? rng() % 700 : rng() % 12;
        s += static_cast<char>(length & 0xFF);
        s += static_cast<char>(length >> 8);
        for (std::size_t j = 0; j < length; ++j)
            s += j < 3 && rng() % 2 ? controls[rng() % sizeof controls] : "ab\r\n"[rng() % 4];
        if (length % 2)
            s += '\xEE';
    }
    if (rng() % 3 == 0 && !s.empty())
        s.resize(rng() % s.size()); // the end of file anywhere
    return s;
}

} // namespace

TEST(convert_bytes, pieces_and_tiny_outputs_give_what_the_whole_input_gives)
{
    std::mt19937 rng(12);
    for (int round = 0; round < 3000; ++round) {
        file_attributes a;
        a.record_format = static_cast<std::uint8_t>(rng() % 8);
        a.record_attributes = static_cast<std::uint8_t>(rng() % 16);
        a.record_size = static_cast<std::uint16_t>(rng() % 4 == 0 ? rng() % 600 : rng() % 9);
        a.vfc_size = static_cast<std::uint8_t>(rng() % 5);
        a.organization = rng() % 20 == 0 ? 1 : 0;
        const std::int32_t mode = rng() % 10 == 0 ? CONVERT_RAW : CONVERT_AUTO;
        const std::string in = random_input(rng, 1 + rng() % 40);
        const std::size_t piece = 1 + rng() % 40;
        const std::size_t room = 1 + rng() % 9;
        SCOPED_TRACE(testing::Message()
                     << "round " << round << " format " << int(a.record_format) << " attributes "
                     << int(a.record_attributes) << " size " << a.record_size << " vfc "
                     << int(a.vfc_size) << " piece " << piece << " room " << room);
        const result want = reference(a, mode, in);
        const result got = convert(a, in, mode, piece, room);
        ASSERT_EQ(got.text, want.text);
        ASSERT_EQ(got.truncated, want.truncated);
        EXPECT_EQ(convert(a, in, mode).text, want.text);
    }
}

TEST(converts_to_text, record_and_stream_files_give_text)
{
    EXPECT_TRUE(converts_to_text(attrs(RECFMT_VARIABLE, 0)));
    EXPECT_TRUE(converts_to_text(attrs(RECFMT_VFC, RECATTR_PRINT)));
    EXPECT_TRUE(converts_to_text(attrs(RECFMT_FIXED, RECATTR_IMPLIED_CR, 80)));
    EXPECT_TRUE(converts_to_text(attrs(RECFMT_STREAM_LF, 0)));
    EXPECT_TRUE(converts_to_text(attrs(RECFMT_STREAM, RECATTR_IMPLIED_CR)));
    EXPECT_TRUE(converts_to_text(attrs(RECFMT_STREAM_CR, 0)));
    EXPECT_FALSE(converts_to_text(attrs(RECFMT_FIXED, 0, 512)));
    EXPECT_FALSE(converts_to_text(attrs(RECFMT_FIXED, RECATTR_IMPLIED_CR, 0)));
    EXPECT_FALSE(converts_to_text(attrs(RECFMT_UNDEFINED, RECATTR_IMPLIED_CR)));
    EXPECT_FALSE(converts_to_text(attrs(9, RECATTR_IMPLIED_CR)));
    file_attributes indexed = attrs(RECFMT_VARIABLE, RECATTR_IMPLIED_CR);
    indexed.organization = 2;
    EXPECT_FALSE(converts_to_text(indexed));
}
