// Host names to ODS-2 names: upper-casing, the character set and the length limits.
#include "mkvolume/names.hpp"

#include <cstdio>

namespace mkvolume {

namespace {

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool allowed(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '$' || c == '-' || c == '_';
}

// A character as a message shows it: itself when printable, else \xNN.
std::string shown(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F)
        return std::string("'") + c + "'";
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

// Upper-cases part and checks it: empty when it is 1 (or 0, when may_be_empty) to max
// allowed characters, else what is wrong with it.
std::string check_part(std::string& part, const char* what, std::size_t max, bool may_be_empty)
{
    for (char& c : part) {
        c = upper(c);
        if (!allowed(c))
            return std::string(what) + " holds " + shown(c) +
                   "; only A-Z, 0-9, $, - and _ may be used";
    }
    if (part.empty() && !may_be_empty)
        return std::string(what) + " is empty";
    if (part.size() > max)
        return std::string(what) + " has more than " + std::to_string(max) + " characters";
    return "";
}

// Decimal digits from 1 to MAX_VERSION; 0 for anything else.
std::uint16_t version_of(const std::string& text)
{
    if (text.empty() || text.size() > 5)
        return 0;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value <= MAX_VERSION ? static_cast<std::uint16_t>(value) : 0;
}

} // namespace

file_name file_name_of(const std::string& host)
{
    file_name out;
    std::string base = host;
    if (const auto semi = host.find(';'); semi != std::string::npos) {
        base = host.substr(0, semi);
        out.version = version_of(host.substr(semi + 1));
        if (out.version == 0) {
            out.error =
                "version after ';' is not a number from 1 to " + std::to_string(MAX_VERSION);
            return out;
        }
    }
    const auto dot = base.find('.');
    if (dot != std::string::npos && base.find('.', dot + 1) != std::string::npos) {
        out.error = "name holds more than one dot";
        return out;
    }
    std::string name = base.substr(0, dot);
    std::string type = dot == std::string::npos ? "" : base.substr(dot + 1);
    out.error = check_part(name, "name", MAX_NAME, false);
    if (out.error.empty())
        out.error = check_part(type, "type", MAX_TYPE, true);
    if (out.error.empty() && type == "DIR")
        out.error = "type DIR is kept for directories";
    out.name_type = name + "." + type;
    return out;
}

directory_name directory_name_of(const std::string& host)
{
    directory_name out;
    out.name = host;
    if (host.find('.') != std::string::npos)
        out.error = "directory name holds a dot";
    else
        out.error = check_part(out.name, "directory name", MAX_NAME, false);
    return out;
}

std::string label_of(const std::string& text)
{
    std::string label = text;
    return check_part(label, "label", MAX_LABEL, false).empty() ? label : "";
}

} // namespace mkvolume
