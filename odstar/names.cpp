// Escaping names for the terminal and for JSON, and host names from VMS names.
#include "odstar/names.hpp"

#include <algorithm>

#include <cstdint>
#include <cstdio>

namespace odstar {

namespace {

void append_octal(std::string& out, unsigned char c)
{
    char text[8];
    std::snprintf(text, sizeof text, "\\%03o", static_cast<unsigned>(c));
    out += text;
}

// Length of the well-formed UTF-8 sequence at i (shortest forms, no surrogates);
// 0 when there is none.
std::size_t utf8_length(std::string_view s, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    std::size_t n = 0;
    std::uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        code = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        code = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        code = c & 0x07u;
    } else {
        return 0;
    }
    if (s.size() - i < n)
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((at(i + k) & 0xC0u) != 0x80u)
            return 0;
        code = code << 6 | (at(i + k) & 0x3Fu);
    }
    const bool overlong = (n == 3 && code < 0x800) || (n == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return overlong || surrogate || code > 0x10FFFF ? 0 : n;
}

} // namespace

std::string terminal_text(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c < 0x7F)
            out += ch;
        else
            append_octal(out, c);
    }
    return out;
}

std::string json_text(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + 2);
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        char text[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (const std::size_t n = c >= 0x80 ? utf8_length(bytes, i) : 0; n > 0) {
            out.append(bytes.substr(i, n));
            i += n;
            continue;
        } else {
            std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(c));
            out += text;
        }
        ++i;
    }
    return out;
}

std::string unsafe_name_reason(std::string_view name)
{
    if (name.empty())
        return "the name is empty";
    if (name == "." || name == "..")
        return "the name is \"" + std::string(name) + "\"";
    if (name.find('/') != std::string_view::npos)
        return "the name holds a '/'";
    if (name.find('\0') != std::string_view::npos)
        return "the name holds a NUL byte";
    return {};
}

namespace {

std::string cased(std::string_view text, bool lower)
{
    std::string out(text);
    if (lower)
        std::transform(out.begin(), out.end(), out.begin(), [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        });
    return out;
}

} // namespace

std::string host_file_name(std::string_view name_type, bool lower)
{
    if (name_type.size() > 1 && name_type.back() == '.')
        name_type.remove_suffix(1);
    return cased(name_type, lower);
}

std::string_view directory_part(std::string_view name_type)
{
    const std::size_t dot = name_type.rfind('.');
    return dot == std::string_view::npos ? name_type : name_type.substr(0, dot);
}

std::string host_directory_name(std::string_view name_type, bool lower)
{
    return cased(directory_part(name_type), lower);
}

} // namespace odstar
