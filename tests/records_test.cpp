// The variable-length record decoder, fed byte by byte.
#include "output/records.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "frontend/cli.hpp"
#include "output/copy.hpp"

namespace {

// Decodes bytes with drop_control as given, starting from a fresh decoder.
std::string decode(const std::string& bytes, int drop)
{
    char* text = nullptr;
    std::size_t size = 0;
    output_stream = ::open_memstream(&text, &size);
    options.drop_control = drop;
    reset_record_decoder();
    for (char c : bytes)
        put_record_byte(static_cast<std::uint8_t>(c));
    std::fclose(output_stream);
    output_stream = nullptr;
    options.drop_control = 0;
    std::string out(text, size);
    std::free(text);
    return out;
}

std::string record(const std::string& data, char pad = '\xEE')
{
    std::string r;
    r += static_cast<char>(data.size() & 0xFF);
    r += static_cast<char>(data.size() >> 8);
    r += data;
    if (data.size() % 2)
        r += pad;
    return r;
}

} // namespace

TEST(put_record_byte, turns_records_into_lines)
{
    using namespace std::string_literals;
    struct {
        const char* what;
        std::string in;
        std::string off, on; // output with dropping off and on
    } cases[] = {
        {"odd, empty and even records",
         "\x03\x00"
         "abc\xFF"
         "\x00\x00"
         "\x02\x00"
         "de"s,
         "abc\n\nde\n", "c\n\n\n"},
        {"length 1 with its pad", record("x") + record("yz12"), "x\nyz12\n", "\n12\n"},
        {"bytes inside a record are not translated", record("a\nb\rc\0"s), "a\nb\rc\0\n"s,
         "b\rc\0\n"s},
        {"data ends inside a record",
         record("hello") + "\x05\x00"
                           "wor"s,
         "hello\nwor", "llo\nr"},
        {"data ends after a length word", record("ab") + "\x07\x00"s, "ab\n", "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(decode(c.in, 0), c.off);
        EXPECT_EQ(decode(c.in, 1), c.on);
    }
}

TEST(put_record_byte, longest_record_and_its_pad)
{
    const std::string data(65535, 'q');
    const std::string out = decode(record(data, 'P') + record("next"), 0);
    EXPECT_EQ(out, data + "\nnext\n");
}

TEST(put_record_byte, reset_starts_at_a_length_word)
{
    char* text = nullptr;
    std::size_t size = 0;
    output_stream = ::open_memstream(&text, &size);
    for (char c : std::string("\x09\x00"
                              "cut"))
        put_record_byte(static_cast<std::uint8_t>(c));
    EXPECT_NE(record_decoder.state, EXPECT_LEN_LO);
    reset_record_decoder();
    EXPECT_EQ(record_decoder.state, EXPECT_LEN_LO);
    EXPECT_EQ(record_decoder.remaining, 0);
    std::fclose(output_stream);
    output_stream = nullptr;
    std::free(text);
}
