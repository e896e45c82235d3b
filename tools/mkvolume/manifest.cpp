// Reading the manifest: one line per host path, then key=value settings.
#include "mkvolume/manifest.hpp"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace mkvolume {

namespace {

const std::map<std::string, record_format> FORMATS = {
    {"undefined", record_format::undefined}, {"fixed", record_format::fixed},
    {"variable", record_format::variable},   {"vfc", record_format::vfc},
    {"stream", record_format::stream},       {"stmlf", record_format::stream_lf},
    {"stmcr", record_format::stream_cr},
};

const std::map<std::string, carriage> CARRIAGES = {
    {"none", carriage::none},
    {"cr", carriage::cr},
    {"fortran", carriage::fortran},
    {"print", carriage::print},
};

// Decimal digits from low to high; empty optional for anything else.
std::optional<std::uint32_t> number_of(const std::string& text, std::uint32_t low,
                                       std::uint32_t high)
{
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const auto value = static_cast<std::uint32_t>(std::stoul(text));
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<std::uint16_t> octal_of(const std::string& text)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("01234567") != std::string::npos)
        return std::nullopt;
    const unsigned long value = std::stoul(text, nullptr, 8);
    if (value > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// One category's letters: the 4 bits that deny what they do not name.
std::optional<unsigned> denied_by(const std::string& letters)
{
    unsigned allowed = 0;
    for (const char c : letters) {
        const auto at = std::string("RWED").find(static_cast<char>(std::toupper(c)));
        if (at == std::string::npos || (allowed & (1U << at)) != 0)
            return std::nullopt;
        allowed |= 1U << at;
    }
    return ~allowed & 0xFU;
}

std::vector<std::string> words_of(const std::string& line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) {
        if (w[0] == '#')
            break;
        words.push_back(w);
    }
    return words;
}

// Applies one key=value to s; empty when it fits, else what is wrong.
std::string apply(file_settings& s, const std::string& key, const std::string& value)
{
    if (key == "format") {
        const auto it = FORMATS.find(value);
        if (it == FORMATS.end())
            return "format '" + value +
                   "' is none of undefined, fixed, variable, vfc, stream, stmlf, stmcr";
        s.format = it->second;
    } else if (key == "carriage") {
        const auto it = CARRIAGES.find(value);
        if (it == CARRIAGES.end())
            return "carriage '" + value + "' is none of cr, fortran, print, none";
        s.control = it->second;
    } else if (key == "size") {
        const auto n = number_of(value, 1, 32767);
        if (!n)
            return "size '" + value + "' is not a record size from 1 to 32767";
        s.record_size = static_cast<std::uint16_t>(*n);
    } else if (key == "vfc") {
        const auto n = number_of(value, 1, 255);
        if (!n)
            return "vfc '" + value + "' is not a control size from 1 to 255";
        s.vfc_size = static_cast<std::uint8_t>(*n);
    } else if (key == "owner") {
        s.owner = owner_of(value);
        if (!s.owner)
            return "owner '" + value + "' is not [group,member] in octal, each up to 177777";
    } else if (key == "protection") {
        s.protection = protection_of(value);
        if (!s.protection)
            return "protection '" + value + "' is not (system,owner,group,world) of R W E D";
    } else if (key == "extents") {
        const auto n = number_of(value, 1, MAX_EXTENTS);
        if (!n)
            return "extents '" + value + "' is not a number from 1 to " +
                   std::to_string(MAX_EXTENTS);
        s.extents = *n;
    } else if (key == "headers") {
        const auto n = number_of(value, 1, MAX_HEADERS);
        if (!n)
            return "headers '" + value + "' is not a number from 1 to " +
                   std::to_string(MAX_HEADERS);
        s.headers = *n;
    } else {
        return "unknown setting '" + key +
               "'; known: format carriage size vfc owner protection extents headers";
    }
    return "";
}

// The settings that only make sense together.
std::string check_together(file_settings& s)
{
    if (s.record_size && s.format != record_format::fixed)
        return "size= applies to format=fixed only";
    if (s.vfc_size && s.format != record_format::vfc)
        return "vfc= applies to format=vfc only";
    if (s.headers != 0 && s.extents == 0)
        s.extents = s.headers;
    if (s.headers > s.extents)
        return "headers=" + std::to_string(s.headers) + " needs at least as many extents";
    if (s.headers != 0 && s.extents > POINTERS_PER_HEADER * s.headers)
        return "extents=" + std::to_string(s.extents) + " do not fit in " +
               std::to_string(s.headers) + " headers of " + std::to_string(POINTERS_PER_HEADER);
    return "";
}

// The host path as the tree names it: no "./" in front, no '/' behind.
std::string normal_path(std::string path)
{
    while (path.rfind("./", 0) == 0)
        path.erase(0, 2);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// One line's path and settings; empty when it is blank or a comment.
std::string parse_line(const std::string& line, std::string& path, file_settings& s)
{
    const auto words = words_of(line);
    if (words.empty())
        return "";
    path = normal_path(words[0]);
    if (path.empty() || path[0] == '/' || path.find('=') != std::string::npos)
        return "'" + words[0] + "' is not a path below the source directory";
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto eq = words[i].find('=');
        if (eq == std::string::npos || eq == 0)
            return "'" + words[i] + "' is not key=value";
        if (const auto why = apply(s, words[i].substr(0, eq), words[i].substr(eq + 1));
            !why.empty())
            return why;
    }
    return check_together(s);
}

} // namespace

bool file_settings::only_owner_and_protection() const
{
    return format == record_format::automatic && control == carriage::automatic && !record_size &&
           !vfc_size && extents == 0 && headers == 0;
}

std::optional<owner_uic> owner_of(const std::string& text)
{
    const auto comma = text.find(',');
    if (text.size() < 5 || text.front() != '[' || text.back() != ']' || comma == std::string::npos)
        return std::nullopt;
    const auto group = octal_of(text.substr(1, comma - 1));
    const auto member = octal_of(text.substr(comma + 1, text.size() - comma - 2));
    if (!group || !member)
        return std::nullopt;
    return owner_uic{*group, *member};
}

std::optional<std::uint16_t> protection_of(const std::string& text)
{
    if (text.size() < 5 || text.front() != '(' || text.back() != ')')
        return std::nullopt;
    std::vector<std::string> fields(1);
    for (const char c : text.substr(1, text.size() - 2)) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    if (fields.size() != 4)
        return std::nullopt;
    unsigned word = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto denied = denied_by(fields[i]);
        if (!denied)
            return std::nullopt;
        word |= *denied << (4 * i);
    }
    return static_cast<std::uint16_t>(word);
}

std::map<std::string, file_settings>
parse_manifest(const std::string& name, const std::string& text, std::vector<std::string>& problems)
{
    std::map<std::string, file_settings> out;
    std::istringstream in(text);
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        const std::string where = name + ":" + std::to_string(++number);
        std::string path;
        file_settings s;
        s.where = where;
        if (const auto why = parse_line(line, path, s); !why.empty()) {
            problems.push_back(where + ": " + why);
            continue;
        }
        if (path.empty())
            continue;
        const auto [it, fresh] = out.emplace(path, s);
        if (!fresh)
            problems.push_back(where + ": " + path + " is named already, on line " +
                               it->second.where.substr(name.size() + 1));
    }
    return out;
}

std::map<std::string, file_settings> read_manifest(const std::string& path,
                                                   std::vector<std::string>& problems)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problems.push_back(path + ": cannot read the manifest: " + std::strerror(errno));
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse_manifest(path, text.str(), problems);
}

} // namespace mkvolume
