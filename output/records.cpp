// The variable-length record decoder: a length word, the data, a pad byte after
// an odd length; each record becomes its data bytes and a newline.
#include "output/records.hpp"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

#include "frontend/options.hpp"
#include "output/copy.hpp"

record_decoder_state record_decoder;

namespace {

void end_of_data_byte()
{
    if (--record_decoder.remaining == 0) {
        std::putc('\n', output_stream);
        record_decoder.state = record_decoder.end_state;
    }
}

void take_length_high(std::uint8_t b)
{
    record_decoder.remaining += 256 * b;
    if (record_decoder.remaining == 0) {
        std::putc('\n', output_stream);
        record_decoder.state = EXPECT_LEN_LO;
        return;
    }
    record_decoder.end_state = (record_decoder.remaining & 1) ? SKIP_PAD : EXPECT_LEN_LO;
    if (options.drop_control != 0) {
        record_decoder.first_dropped = 0;
        record_decoder.state = SKIP_CONTROL;
    } else {
        record_decoder.state = COPY_DATA;
    }
}

void skip_control_byte()
{
    if (record_decoder.first_dropped)
        record_decoder.state = COPY_DATA;
    else
        record_decoder.first_dropped = 1;
    end_of_data_byte();
}

} // namespace

void reset_record_decoder()
{
    record_decoder = record_decoder_state{};
}

void put_record_byte(std::uint8_t b)
{
    switch (record_decoder.state) {
    case EXPECT_LEN_LO:
        record_decoder.remaining = b;
        record_decoder.state = EXPECT_LEN_HI;
        break;
    case EXPECT_LEN_HI:
        take_length_high(b);
        break;
    case SKIP_CONTROL:
        skip_control_byte();
        break;
    case COPY_DATA:
        std::putc(b, output_stream);
        end_of_data_byte();
        break;
    default: // SKIP_PAD
        record_decoder.state = EXPECT_LEN_LO;
        break;
    }
}

namespace {

// A complete length word: the record's data follows, or an empty record ends here.
std::uint8_t* start_record(std::int32_t length, std::uint8_t* out)
{
    record_decoder.remaining = length;
    if (length == 0) {
        *out++ = '\n';
        record_decoder.state = EXPECT_LEN_LO;
        return out;
    }
    record_decoder.end_state = (length & 1) ? SKIP_PAD : EXPECT_LEN_LO;
    if (options.drop_control != 0) {
        record_decoder.first_dropped = 0;
        record_decoder.state = SKIP_CONTROL;
    } else {
        record_decoder.state = COPY_DATA;
    }
    return out;
}

// The record's data from in on, as much of it as lies before end.
const std::uint8_t* copy_data(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t*& out)
{
    const auto k = std::min(static_cast<std::size_t>(end - in),
                            static_cast<std::size_t>(record_decoder.remaining));
    std::memcpy(out, in, k);
    out += k;
    record_decoder.remaining -= static_cast<std::int32_t>(k);
    if (record_decoder.remaining == 0) {
        *out++ = '\n';
        record_decoder.state = record_decoder.end_state;
    }
    return in + k;
}

void drop_control_byte(std::uint8_t*& out)
{
    if (record_decoder.first_dropped)
        record_decoder.state = COPY_DATA;
    else
        record_decoder.first_dropped = 1;
    if (--record_decoder.remaining == 0) {
        *out++ = '\n';
        record_decoder.state = record_decoder.end_state;
    }
}

// Copies a record's data in 64-byte pieces, the first two always, when the
// span holds all the bytes that the pieces read: fixed-size copies cost a
// short line far less than one copy of a length known only now, and a line
// of up to 128 bytes takes no branch that depends on its length. What the
// pieces write past the data is overwritten by the newline and what follows,
// or lies beyond what the span returns; the output of whole records is
// shorter than their input, so the pieces stay before out_end, which the
// checked builds assert.
void copy_record_data(std::uint8_t* out, [[maybe_unused]] const std::uint8_t* out_end,
                      const std::uint8_t* data, std::size_t length, std::size_t available)
{
    constexpr std::size_t PIECE = 64;
    constexpr std::size_t ALWAYS = 2 * PIECE;
    const std::size_t rounded = std::max(ALWAYS, (length + PIECE - 1) & ~(PIECE - 1));
    if (rounded > available) {
        std::memcpy(out, data, length);
        return;
    }
    assert(rounded <= static_cast<std::size_t>(out_end - out));
    std::memcpy(out, data, PIECE);
    std::memcpy(out + PIECE, data + PIECE, PIECE);
    for (std::size_t i = ALWAYS; i < rounded; i += PIECE)
        std::memcpy(out + i, data + i, PIECE);
}

// Whole records that lie inside the span, taken one per step while no bytes
// are dropped: a record of L bytes is its data and a newline, and the stream
// goes on at a length word again.
const std::uint8_t* copy_whole_records(const std::uint8_t* in, const std::uint8_t* end,
                                       std::uint8_t*& out, const std::uint8_t* out_end)
{
    while (end - in >= 2) {
        const std::size_t length = in[0] | static_cast<std::size_t>(in[1]) << 8;
        if (length + (length & 1) > static_cast<std::size_t>(end - in) - 2)
            break;
        copy_record_data(out, out_end, in + 2, length, static_cast<std::size_t>(end - in) - 2);
        out[length] = '\n';
        out += length + 1;
        in += 2 + length + (length & 1);
    }
    return in;
}

} // namespace

std::size_t put_record_span(const std::uint8_t* bytes, std::size_t n, std::uint8_t* out,
                            const std::uint8_t* out_end)
{
    assert(n < static_cast<std::size_t>(out_end - out));
    const std::uint8_t* in = bytes;
    const std::uint8_t* const end = bytes + n;
    std::uint8_t* const out_start = out;
    while (in < end) {
        if (record_decoder.state == EXPECT_LEN_LO && options.drop_control == 0) {
            in = copy_whole_records(in, end, out, out_end);
            if (in == end)
                break;
        }
        switch (record_decoder.state) {
        case COPY_DATA:
            in = copy_data(in, end, out);
            break;
        case EXPECT_LEN_LO:
            if (end - in >= 2) { // the whole length word at once
                out = start_record(in[0] | in[1] << 8, out);
                in += 2;
            } else {
                record_decoder.remaining = *in++;
                record_decoder.state = EXPECT_LEN_HI;
            }
            break;
        case EXPECT_LEN_HI:
            out = start_record(record_decoder.remaining + 256 * *in++, out);
            break;
        case SKIP_CONTROL:
            ++in;
            drop_control_byte(out);
            break;
        default: // SKIP_PAD
            ++in;
            record_decoder.state = EXPECT_LEN_LO;
            break;
        }
    }
    assert(out <= out_end);
    return static_cast<std::size_t>(out - out_start);
}
