// The variable-length record decoder: a length word, the data, a pad byte after
// an odd length; each record becomes its data bytes and a newline.
#include "output/records.hpp"

#include <algorithm>
#include <cstdio>

#include "frontend/cli.hpp"
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

void put_record_span(const std::uint8_t* bytes, std::size_t n)
{
    while (n > 0) {
        if (record_decoder.state != COPY_DATA) {
            put_record_byte(*bytes++);
            --n;
            continue;
        }
        const std::size_t k = std::min(n, static_cast<std::size_t>(record_decoder.remaining));
        std::fwrite(bytes, 1, k, output_stream);
        bytes += k;
        n -= k;
        record_decoder.remaining -= static_cast<std::int32_t>(k);
        if (record_decoder.remaining == 0) {
            std::putc('\n', output_stream);
            record_decoder.state = record_decoder.end_state;
        }
    }
}
