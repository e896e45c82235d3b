// The streaming record converter: a state machine over the file's bytes that
// writes lines or bytes, holding only the few bytes of a field in progress.
#include "output/convert.hpp"

#include <algorithm>
#include <cstring>

#include "ods2/layout.hpp"

namespace {

// How the bytes are taken.
constexpr std::uint8_t KIND_BYTES = 0;     // unchanged
constexpr std::uint8_t KIND_STREAM = 1;    // CR LF becomes LF
constexpr std::uint8_t KIND_STREAM_CR = 2; // CR becomes LF
constexpr std::uint8_t KIND_RECORDS = 3;   // records with their carriage control

// Where the next byte falls, for records.
constexpr std::int32_t AT_RECORD = 0;  // a record starts here (after any skip)
constexpr std::int32_t IN_LENGTH = 1;  // the length word; carry holds its low byte
constexpr std::int32_t IN_HEADER = 2;  // the VFC fixed header
constexpr std::int32_t IN_CONTROL = 3; // the Fortran carriage control byte
constexpr std::int32_t IN_DATA = 4;    // the record's data; remaining bytes to come
constexpr std::int32_t IN_PAD = 5;     // the pad byte after an odd length
constexpr std::int32_t IN_SKIP = 6;    // the unused rest of a block; remaining bytes
constexpr std::int32_t ENDING = 7;     // the end of file was reached; a last line end to come
constexpr std::int32_t FINISHED = 8;   // all written

constexpr std::uint16_t UNUSED_REST = 0xFFFF; // length word: no more records in this block

// Carriage control, in the print-file encoding.
constexpr std::uint8_t CC_NONE = 0x00;
constexpr std::uint8_t CC_LINE_FEED = 0x01;
constexpr std::uint8_t CC_TWO_LINE_FEEDS = 0x02;
constexpr std::uint8_t CC_FORM_FEED = 0x8C;
constexpr std::uint8_t CC_CARRIAGE_RETURN = 0x8D;

bool uses_length_words(const record_converter& c)
{
    return c.record_format == RECFMT_VARIABLE || c.record_format == RECFMT_VFC;
}

bool has_carriage_control(std::uint8_t attributes)
{
    return (attributes & (RECATTR_FORTRAN | RECATTR_IMPLIED_CR)) != 0;
}

bool print_control(const record_converter& c)
{
    return c.record_format == RECFMT_VFC && (c.record_attributes & RECATTR_PRINT) != 0;
}

bool fortran_control(const record_converter& c)
{
    return !print_control(c) && (c.record_attributes & RECATTR_FORTRAN) != 0;
}

std::uint8_t kind_for(const record_converter& c, std::uint8_t organization)
{
    if (c.mode == CONVERT_RAW || organization != 0)
        return KIND_BYTES;
    switch (c.record_format) {
    case RECFMT_VARIABLE:
    case RECFMT_VFC:
        return KIND_RECORDS;
    case RECFMT_FIXED:
        return c.record_size != 0 && has_carriage_control(c.record_attributes) ? KIND_RECORDS
                                                                               : KIND_BYTES;
    case RECFMT_STREAM:
        return KIND_STREAM;
    case RECFMT_STREAM_CR:
        return KIND_STREAM_CR;
    default: // undefined, stream-LF, unknown
        return KIND_BYTES;
    }
}

// Output owed: pending line ends, then pending_byte.
void owe_newlines(record_converter& c, std::uint32_t n)
{
    if (n == 0)
        return;
    c.pending += n;
    c.produced = true;
    c.at_line_start = true;
}

void owe_byte(record_converter& c, std::uint8_t b)
{
    c.pending_byte = b;
    c.has_pending_byte = true;
    c.produced = true;
    c.at_line_start = b == '\n';
}

// Writes what is owed into out; false when out filled first.
bool drain(record_converter& c, std::uint8_t* out, std::size_t capacity, std::size_t& written)
{
    while (c.pending > 0 && written < capacity) {
        out[written++] = '\n';
        --c.pending;
    }
    if (c.pending > 0)
        return false;
    if (c.has_pending_byte) {
        if (written == capacity)
            return false;
        out[written++] = c.pending_byte;
        c.has_pending_byte = false;
    }
    return true;
}

// One control byte in the print-file encoding, before (leading) or after a
// record's data. A held CR goes into a line feed that follows, ends the line
// before a form feed or other character, and stays a CR before data or a CR;
// the first line feed that leads a file is dropped.
void apply_control(record_converter& c, std::uint8_t code, bool leading)
{
    const bool held = c.owed_cr;
    c.owed_cr = false;
    if (code == CC_NONE) {
        if (held)
            owe_byte(c, '\r');
        return;
    }
    const auto ch = static_cast<std::uint8_t>(code & 0x1F);
    const bool c0 = (code & 0xC0) == 0x80;
    if (!c0 || ch == '\n') {
        std::uint32_t feeds = (code & 0x80) == 0 ? code : 1u;
        if (leading && !c.produced && !held)
            --feeds;
        owe_newlines(c, feeds);
        return;
    }
    if (ch == '\r') {
        if (leading || held)
            owe_byte(c, '\r');
        else
            c.owed_cr = true;
        return;
    }
    if (held)
        owe_newlines(c, 1);
    owe_byte(c, ch);
}

// Fortran carriage control: the record's leading and trailing controls.
void fortran_controls(std::uint8_t first, std::uint8_t& prefix, std::uint8_t& postfix)
{
    postfix = CC_CARRIAGE_RETURN;
    switch (first) {
    case '0':
        prefix = CC_TWO_LINE_FEEDS;
        break;
    case '1':
        prefix = CC_FORM_FEED;
        break;
    case '+':
        prefix = CC_NONE;
        break;
    case '$':
        prefix = CC_LINE_FEED;
        postfix = CC_NONE;
        break;
    case '\0':
        prefix = CC_NONE;
        postfix = CC_NONE;
        break;
    default: // a space, and any other byte taken as one
        prefix = CC_LINE_FEED;
        break;
    }
}

void start_data(record_converter& c, std::uint8_t prefix, std::uint8_t postfix)
{
    apply_control(c, prefix, true);
    c.postfix = postfix;
    c.state = IN_DATA;
}

// The record's header (if any) is behind: its controls are known, or come
// with the Fortran byte.
void after_header(record_converter& c)
{
    if (print_control(c)) {
        const std::uint8_t prefix = c.header_seen >= 1 ? c.carry[0] : CC_LINE_FEED;
        const std::uint8_t postfix = c.header_seen >= 2 ? c.carry[1] : CC_CARRIAGE_RETURN;
        start_data(c, prefix, postfix);
    } else if (fortran_control(c) && c.remaining > 0) {
        c.state = IN_CONTROL;
    } else {
        start_data(c, CC_LINE_FEED, CC_CARRIAGE_RETURN);
    }
}

void start_record(record_converter& c, std::uint16_t length)
{
    c.record_length = length;
    c.remaining = length;
    c.header_seen = 0;
    c.header_left = 0;
    if (c.record_format == RECFMT_VFC) {
        const std::uint32_t header = c.vfc_size == 0 ? 2u : c.vfc_size;
        c.header_left = static_cast<std::uint8_t>(std::min<std::uint32_t>(header, length));
    }
    if (c.header_left > 0)
        c.state = IN_HEADER;
    else
        after_header(c);
}

void end_record(record_converter& c)
{
    apply_control(c, c.postfix, false);
    c.state = (c.record_length & 1) != 0 ? IN_PAD : AT_RECORD;
}

// Bytes from the current offset to the end of its block.
std::uint32_t rest_of_block(const record_converter& c)
{
    return static_cast<std::uint32_t>((BLOCK_SIZE - c.in_offset % BLOCK_SIZE) % BLOCK_SIZE);
}

void skip_rest_of_block(record_converter& c)
{
    c.remaining = rest_of_block(c);
    c.state = c.remaining > 0 ? IN_SKIP : AT_RECORD;
}

// A fixed record starts here, unless records do not span blocks and this one
// would cross into the next: then it starts there.
void at_fixed_record(record_converter& c)
{
    const std::uint32_t size = c.record_size + (c.record_size & 1u);
    const std::uint32_t rest = rest_of_block(c);
    if ((c.record_attributes & RECATTR_NO_SPAN) != 0 && rest != 0 && size <= BLOCK_SIZE &&
        size > rest) {
        skip_rest_of_block(c);
        return;
    }
    start_record(c, c.record_size);
}

void take_length_byte(record_converter& c, std::uint8_t b)
{
    if (c.carry_count == 0) {
        c.carry[0] = b;
        c.carry_count = 1;
        return;
    }
    c.carry_count = 0;
    const auto length = static_cast<std::uint16_t>(c.carry[0] | static_cast<unsigned>(b) << 8);
    if (length == UNUSED_REST)
        skip_rest_of_block(c);
    else
        start_record(c, length);
}

void take_header_byte(record_converter& c, std::uint8_t b)
{
    if (c.header_seen < 2)
        c.carry[c.header_seen] = b;
    ++c.header_seen;
    --c.header_left;
    --c.remaining;
    if (c.header_left == 0)
        after_header(c);
}

void take_control_byte(record_converter& c, std::uint8_t b)
{
    --c.remaining;
    std::uint8_t prefix = 0;
    std::uint8_t postfix = 0;
    fortran_controls(b, prefix, postfix);
    start_data(c, prefix, postfix);
}

// Record data, as much as lies in the input and fits in the output.
std::size_t copy_data(record_converter& c, const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                      std::size_t room)
{
    const std::size_t k = std::min({n, room, static_cast<std::size_t>(c.remaining)});
    if (k == 0)
        return 0;
    std::memcpy(out, in, k);
    c.remaining -= static_cast<std::uint32_t>(k);
    c.produced = true;
    c.at_line_start = out[k - 1] == '\n';
    return k;
}

// One step of a record file: consumes some input, writes some output.
void step_records(record_converter& c, const std::uint8_t* in, std::size_t n, std::size_t& used,
                  std::uint8_t* out, std::size_t capacity, std::size_t& written)
{
    switch (c.state) {
    case AT_RECORD:
        if (uses_length_words(c))
            c.state = IN_LENGTH;
        else
            at_fixed_record(c);
        return;
    case IN_DATA: {
        if (c.remaining == 0) {
            end_record(c);
            return;
        }
        const std::size_t k = copy_data(c, in + used, n - used, out + written, capacity - written);
        used += k;
        written += k;
        c.in_offset += k;
        return;
    }
    case IN_SKIP: {
        const std::size_t k = std::min(n - used, static_cast<std::size_t>(c.remaining));
        used += k;
        c.in_offset += k;
        c.remaining -= static_cast<std::uint32_t>(k);
        if (c.remaining == 0)
            c.state = AT_RECORD;
        return;
    }
    default:
        break;
    }
    const std::uint8_t b = in[used++];
    ++c.in_offset;
    if (c.state == IN_LENGTH)
        take_length_byte(c, b);
    else if (c.state == IN_HEADER)
        take_header_byte(c, b);
    else if (c.state == IN_CONTROL)
        take_control_byte(c, b);
    else // IN_PAD
        c.state = AT_RECORD;
}

// One step of a stream file. carry_count 1: a CR held, to see whether LF follows.
void step_stream(record_converter& c, const std::uint8_t* in, std::size_t n, std::size_t& used,
                 std::uint8_t* out, std::size_t capacity, std::size_t& written)
{
    if (c.carry_count == 1) {
        c.carry_count = 0;
        if (in[used] == '\n') {
            ++used;
            ++c.in_offset;
            owe_newlines(c, 1);
        } else {
            owe_byte(c, '\r');
        }
        return;
    }
    const std::size_t room = std::min(n - used, capacity - written);
    const std::uint8_t* start = in + used;
    const auto* cr = static_cast<const std::uint8_t*>(std::memchr(start, '\r', room));
    const std::size_t k = cr == nullptr ? room : static_cast<std::size_t>(cr - start);
    std::memcpy(out + written, start, k);
    written += k;
    used += k;
    c.in_offset += k;
    if (cr != nullptr) {
        ++used;
        ++c.in_offset;
        c.carry_count = 1;
    }
}

void step_bytes(record_converter& c, const std::uint8_t* in, std::size_t n, std::size_t& used,
                std::uint8_t* out, std::size_t capacity, std::size_t& written)
{
    const std::size_t k = std::min(n - used, capacity - written);
    std::memcpy(out + written, in + used, k);
    if (c.kind == KIND_STREAM_CR)
        std::replace(out + written, out + written + k, std::uint8_t{'\r'}, std::uint8_t{'\n'});
    used += k;
    written += k;
    c.in_offset += k;
}

// The end of file: a held CR, a record cut short.
void end_input(record_converter& c)
{
    if (c.kind == KIND_STREAM && c.carry_count == 1) {
        c.carry_count = 0;
        owe_byte(c, '\r');
    }
    if (c.kind != KIND_RECORDS)
        return;
    switch (c.state) {
    case IN_LENGTH:
        c.truncated = c.carry_count != 0;
        break;
    case IN_HEADER:
    case IN_CONTROL:
        c.truncated = true;
        break;
    case IN_DATA:
        c.truncated = c.remaining != 0;
        apply_control(c, c.postfix, false);
        break;
    default:
        break;
    }
}

// Record data ends with a line end.
void end_last_line(record_converter& c)
{
    if (c.kind == KIND_RECORDS && (c.owed_cr || !c.at_line_start)) {
        c.owed_cr = false;
        owe_newlines(c, 1);
    }
}

} // namespace

bool converts_to_text(const file_attributes& a)
{
    if (a.organization != 0)
        return false;
    record_converter c;
    start_conversion(c, a, CONVERT_AUTO);
    return c.kind != KIND_BYTES || a.record_format == RECFMT_STREAM_LF;
}

void start_conversion(record_converter& c, const file_attributes& a, std::int32_t mode)
{
    c = record_converter{};
    c.mode = mode;
    c.record_format = a.record_format;
    c.record_attributes = a.record_attributes;
    c.record_size = a.record_size;
    c.vfc_size = a.vfc_size;
    c.kind = kind_for(c, a.organization);
}

std::size_t convert_bytes(record_converter& c, const std::uint8_t* in, std::size_t n,
                          std::size_t& consumed, std::uint8_t* out, std::size_t capacity)
{
    std::size_t used = 0;
    std::size_t written = 0;
    while (c.state < ENDING && drain(c, out, capacity, written)) {
        if (c.kind == KIND_RECORDS && c.state == IN_DATA && c.remaining == 0) {
            end_record(c); // needs no input: a record ends as soon as its data has come
            continue;
        }
        if (used == n || (written == capacity && (c.kind != KIND_RECORDS || c.state == IN_DATA)))
            break;
        if (c.kind == KIND_RECORDS)
            step_records(c, in, n, used, out, capacity, written);
        else if (c.kind == KIND_STREAM)
            step_stream(c, in, n, used, out, capacity, written);
        else
            step_bytes(c, in, n, used, out, capacity, written);
    }
    consumed = c.state >= ENDING ? n : used;
    return written;
}

std::size_t finish_conversion(record_converter& c, std::uint8_t* out, std::size_t capacity)
{
    std::size_t written = 0;
    if (c.state < ENDING) {
        if (!drain(c, out, capacity, written))
            return written;
        end_input(c);
        c.state = ENDING;
    }
    if (c.state == ENDING) {
        if (!drain(c, out, capacity, written))
            return written;
        end_last_line(c);
        c.state = FINISHED;
    }
    drain(c, out, capacity, written);
    return written;
}
