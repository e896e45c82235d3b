// Text mode: the variable-length record stream decoded into lines.
#pragma once

#include <cstddef>
#include <cstdint>

// Decoder states.
inline constexpr std::int32_t EXPECT_LEN_LO = 0; // next byte: low byte of a length word
inline constexpr std::int32_t EXPECT_LEN_HI = 1; // next byte: high byte of a length word
inline constexpr std::int32_t SKIP_CONTROL = 2;  // dropping a record's two leading bytes
inline constexpr std::int32_t COPY_DATA = 3;     // writing a record's data bytes
inline constexpr std::int32_t SKIP_PAD = 4;      // dropping the pad byte after an odd length

struct record_decoder_state {
    std::int32_t remaining = 0; // low length byte, then data bytes still to come
    std::int32_t state = EXPECT_LEN_LO;
    std::int32_t end_state = EXPECT_LEN_LO; // state after the record's last data byte
    std::uint8_t first_dropped = 0;         // first leading byte already dropped
};

extern record_decoder_state record_decoder;

// Starts the decoder afresh, at a length word; done when a text copy begins.
void reset_record_decoder();

// Consumes one byte of the record stream, writing data and line ends to output_stream.
void put_record_byte(std::uint8_t b);

// Consumes n bytes of the record stream into out, exactly as n calls of
// put_record_byte would write them, and returns how many bytes it put there:
// at most n + 1, since only a record's last data byte gives two. out_end is
// the end of out's buffer, which must hold at least n + 1 bytes; those past the
// count returned are scratch.
[[nodiscard]] std::size_t put_record_span(const std::uint8_t* bytes, std::size_t n,
                                          std::uint8_t* out, const std::uint8_t* out_end);
