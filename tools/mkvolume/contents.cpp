// The rule that tells text from bytes, and the encoding of host files into each
// record format.
#include "mkvolume/contents.hpp"

#include <algorithm>
#include <cctype>

namespace mkvolume {

namespace {

namespace vb = volbuild;

const char* format_name(record_format f)
{
    switch (f) {
    case record_format::undefined:
        return "undefined";
    case record_format::fixed:
        return "fixed";
    case record_format::variable:
        return "variable";
    case record_format::vfc:
        return "vfc";
    case record_format::stream:
        return "stream";
    case record_format::stream_lf:
        return "stmlf";
    case record_format::stream_cr:
        return "stmcr";
    default:
        return "automatic";
    }
}

const char* carriage_name(carriage c)
{
    switch (c) {
    case carriage::cr:
        return "cr";
    case carriage::fortran:
        return "fortran";
    case carriage::print:
        return "print";
    default:
        return "none";
    }
}

std::uint8_t attributes_of(carriage c)
{
    switch (c) {
    case carriage::cr:
        return vb::RA_CR;
    case carriage::fortran:
        return vb::RA_FORTRAN;
    case carriage::print:
        return vb::RA_PRINT;
    default:
        return 0;
    }
}

// The carriage control a format takes when none is named.
carriage default_carriage(record_format f)
{
    switch (f) {
    case record_format::variable:
    case record_format::stream:
    case record_format::stream_lf:
    case record_format::stream_cr:
        return carriage::cr;
    case record_format::vfc:
        return carriage::print;
    default:
        return carriage::none;
    }
}

stored_contents refused(std::string why)
{
    stored_contents out;
    out.error = std::move(why);
    return out;
}

bool ends_as_text(std::string_view bytes)
{
    return bytes.empty() || bytes.back() == '\n';
}

// Fortran carriage control: each record a space first, "the record on a new line".
std::vector<std::string> with_fortran_space(std::vector<std::string> lines)
{
    for (auto& line : lines)
        line.insert(line.begin(), ' ');
    return lines;
}

std::size_t longest(const std::vector<std::string>& records)
{
    std::size_t n = 0;
    for (const auto& r : records)
        n = std::max(n, r.size());
    return n;
}

stored_contents as_records(std::vector<std::uint8_t> data, std::uint8_t type, carriage c,
                           std::uint16_t record_size)
{
    stored_contents out;
    out.file.data = std::move(data);
    out.file.record_type = type;
    out.file.record_attributes = attributes_of(c);
    out.file.record_size = record_size;
    out.file.max_record = record_size;
    return out;
}

// Variable-length or VFC records, one per line, each led by the fixed control bytes.
stored_contents variable_records(std::string_view bytes, carriage c,
                                 const std::vector<std::uint8_t>& control)
{
    if (!ends_as_text(bytes))
        return refused("records need a file that is empty or ends with a newline");
    auto records = lines_of(bytes);
    if (c == carriage::fortran)
        records = with_fortran_space(std::move(records));
    const std::size_t size = longest(records);
    if (size + control.size() > MAX_RECORD)
        return refused("a line is longer than a record can hold (65535 bytes)");
    const std::uint8_t type = control.empty() ? vb::RT_VARIABLE : vb::RT_VFC;
    stored_contents out = as_records(vb::encode_variable(records, control), type, c,
                                     static_cast<std::uint16_t>(size));
    out.file.vfc_size = static_cast<std::uint8_t>(control.size());
    return out;
}

stored_contents vfc_records(std::string_view bytes, carriage c, std::uint8_t vfc)
{
    if (c == carriage::print && vfc < 2)
        return refused("print-file carriage control needs vfc=2 or more");
    std::vector<std::uint8_t> control(vfc, 0);
    if (c == carriage::print) {
        control[0] = vb::PRINT_NEW_LINE;
        control[1] = vb::PRINT_RETURN;
    }
    return variable_records(bytes, c, control);
}

stored_contents fixed_records(std::string_view bytes, carriage c, std::uint16_t size)
{
    if (c == carriage::print)
        return refused("print-file carriage control needs format=vfc");
    if (c == carriage::none) {
        if (size % 2 != 0)
            return refused("an odd size= needs carriage control: its records carry a pad byte");
        return as_records({bytes.begin(), bytes.end()}, vb::RT_FIXED, c, size);
    }
    if (!ends_as_text(bytes))
        return refused("records need a file that is empty or ends with a newline");
    auto records = lines_of(bytes);
    const std::size_t want = c == carriage::fortran ? size - 1U : size;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].size() != want)
            return refused("line " + std::to_string(i + 1) + " holds " +
                           std::to_string(records[i].size()) + " bytes, not " +
                           std::to_string(want) + " as size=" + std::to_string(size) + " needs");
    if (c == carriage::fortran)
        records = with_fortran_space(std::move(records));
    return as_records(vb::encode_fixed(records, size), vb::RT_FIXED, c, size);
}

stored_contents stream_records(std::string_view bytes, record_format f, carriage c)
{
    if (c != carriage::cr && c != carriage::none)
        return refused("stream formats take carriage=cr or carriage=none");
    if (!ends_as_text(bytes))
        return refused("stream formats need a file that is empty or ends with a newline");
    if (f == record_format::stream && bytes.find_first_of("\f\v") != std::string_view::npos)
        return refused("format=stream ends a record at a form feed or vertical tab, and the "
                       "file holds one");
    if (f == record_format::stream_cr && bytes.find('\r') != std::string_view::npos)
        return refused("format=stmcr ends a record at a carriage return, and the file holds one");
    const auto lines = lines_of(bytes);
    const char* end = f == record_format::stream      ? "\r\n"
                      : f == record_format::stream_lf ? "\n"
                                                      : "\r";
    const std::uint8_t type = f == record_format::stream      ? vb::RT_STREAM
                              : f == record_format::stream_lf ? vb::RT_STREAM_LF
                                                              : vb::RT_STREAM_CR;
    stored_contents out = as_records(vb::encode_stream(lines, end), type, c, 0);
    out.file.max_record = static_cast<std::uint16_t>(std::min<std::size_t>(longest(lines), 0xFFFF));
    return out;
}

stored_contents encode_as(std::string_view bytes, record_format f, carriage c,
                          const file_settings& s)
{
    switch (f) {
    case record_format::undefined:
        if (c != carriage::none)
            return refused("format=undefined takes no carriage control");
        return as_records({bytes.begin(), bytes.end()}, vb::RT_UNDEFINED, c, 0);
    case record_format::fixed:
        return fixed_records(bytes, c, s.record_size.value_or(512));
    case record_format::variable:
        if (c == carriage::print) // print-file control lives in two VFC bytes
            return vfc_records(bytes, c, 2);
        return variable_records(bytes, c, {});
    case record_format::vfc:
        return vfc_records(bytes, c, s.vfc_size.value_or(2));
    default:
        return stream_records(bytes, f, c);
    }
}

} // namespace

bool is_text(std::string_view bytes)
{
    if (bytes.empty())
        return true;
    if (bytes.back() != '\n' || bytes.find('\0') != std::string_view::npos)
        return false;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find('\n', start);
        if (end - start > MAX_RECORD)
            return false;
        start = end + 1;
    }
    return true;
}

std::vector<std::string> lines_of(std::string_view bytes)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        lines.emplace_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

stored_contents encode_contents(std::string_view bytes, const file_settings& s, bool all_bytes)
{
    const bool automatic = s.format == record_format::automatic;
    const bool text = !all_bytes && is_text(bytes);
    if (automatic && s.control == carriage::automatic) {
        stored_contents out;
        out.file =
            text ? vb::text_file(lines_of(bytes)) : vb::binary_file({bytes.begin(), bytes.end()});
        out.how = text ? "text" : "bytes";
        return out;
    }
    const record_format f =
        automatic ? (text ? record_format::variable : record_format::fixed) : s.format;
    const carriage c = s.control == carriage::automatic ? default_carriage(f) : s.control;
    stored_contents out = encode_as(bytes, f, c, s);
    if (out.error.empty()) {
        out.how = format_name(f);
        if (f == record_format::fixed)
            out.how += " " + std::to_string(out.file.record_size);
        if (out.file.record_type == vb::RT_VFC)
            out.how = "vfc " + std::to_string(out.file.vfc_size);
        out.how += std::string(", ") + carriage_name(c);
    }
    return out;
}

} // namespace mkvolume
