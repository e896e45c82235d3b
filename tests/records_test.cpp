// The variable-length record decoder, fed byte by byte.
#include "output/records.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "frontend/cli.hpp"
#include "output/copy.hpp"
#include "tests/record_support.hpp"

namespace {

using record_support::record;

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

namespace {

// A random record stream of lengths 0 to 300 (and now and then a long one),
// possibly cut anywhere; pads and data bytes are random too.
std::string random_stream(std::mt19937& rng)
{
    std::string s;
    const int records = std::uniform_int_distribution<int>(0, 40)(rng);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < records; ++i) {
        const bool long_one = std::uniform_int_distribution<int>(0, 50)(rng) == 0;
        const int length =
            std::uniform_int_distribution<int>(0, long_one ? 70000 : 300)(rng) & 0xFFFF;
        std::string data(static_cast<std::size_t>(length), '\0');
        for (char& c : data)
            c = static_cast<char>(byte(rng));
        s += record(data, static_cast<char>(byte(rng)));
    }
    if (!s.empty() && std::uniform_int_distribution<int>(0, 2)(rng) == 0)
        s.resize(std::uniform_int_distribution<std::size_t>(0, s.size() - 1)(rng));
    return s;
}

// Feeds the stream in spans cut at random points; a span boundary may fall
// anywhere, a length word or the middle of a record included. Each span's
// output must fit in its length plus one.
std::string decode_in_spans(const std::string& bytes, int drop, std::mt19937& rng)
{
    options.drop_control = drop;
    reset_record_decoder();
    std::string out;
    std::vector<std::uint8_t> span_out;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t left = bytes.size(); left > 0;) {
        const std::size_t n =
            std::min(left, std::uniform_int_distribution<std::size_t>(0, 1100)(rng));
        span_out.assign(n + 1, 0);
        const std::size_t produced =
            put_record_span(p, n, span_out.data(), span_out.data() + span_out.size());
        EXPECT_LE(produced, n + 1);
        out.append(span_out.begin(), span_out.begin() + static_cast<std::ptrdiff_t>(produced));
        p += n;
        left -= n;
    }
    options.drop_control = 0;
    return out;
}

} // namespace

TEST(put_record_span, gives_exactly_what_the_byte_decoder_gives)
{
    std::mt19937 rng(20261210);
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const std::string in = random_stream(rng);
        for (int drop : {0, 1}) {
            const std::string want = decode(in, drop);
            ASSERT_EQ(decode_in_spans(in, drop, rng), want);
        }
    }
}
