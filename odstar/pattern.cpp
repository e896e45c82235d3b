// Parsing and matching VMS-style file specification patterns.
#include "odstar/pattern.hpp"

#include <algorithm>
#include <cstddef>

namespace odstar {

namespace {

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upper_text(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), upper);
    return out;
}

// Splits "A.B.C" at the dots.
std::vector<std::string> split_components(std::string_view s)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t dot; (dot = s.find('.', start)) != std::string_view::npos; start = dot + 1)
        parts.push_back(upper_text(s.substr(start, dot - start)));
    parts.push_back(upper_text(s.substr(start)));
    return parts;
}

std::string parse_directory(std::string_view inside, pattern& out)
{
    out.any_directory = false;
    if (inside.size() >= 3 && inside.substr(inside.size() - 3) == "...") {
        out.subtree = true;
        inside.remove_suffix(3);
        if (inside.empty())
            return {}; // [...]: every directory from the MFD down
    }
    if (inside.empty())
        return "an empty directory part []";
    out.directories = split_components(inside);
    if (std::any_of(out.directories.begin(), out.directories.end(),
                    [](const std::string& d) { return d.empty(); }))
        return "an empty directory name in the directory part";
    if (out.directories.size() == 1 && out.directories[0] == "000000")
        out.directories.clear();
    else if (!out.directories.empty() && out.directories[0] == "000000")
        out.directories.erase(out.directories.begin());
    return {};
}

std::string parse_version(std::string_view v, pattern& out)
{
    if (v.empty() || v == "0")
        return {};
    if (v == "*") {
        out.version = pattern::which::all;
        return {};
    }
    unsigned long n = 0;
    for (const char c : v) {
        if (c < '0' || c > '9' || n > 65535)
            return "a version that is not a number, 0-65535, or *";
        n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    if (n > 65535)
        return "a version that is not a number, 0-65535, or *";
    out.version = pattern::which::exact;
    out.version_number = static_cast<std::uint16_t>(n);
    return {};
}

} // namespace

std::string parse_pattern(std::string_view text, pattern& out)
{
    out = pattern{};
    if (const std::size_t colon = text.find(':'); colon != std::string_view::npos)
        text.remove_prefix(colon + 1);
    if (!text.empty() && (text.front() == '[' || text.front() == '<')) {
        const char close = text.front() == '[' ? ']' : '>';
        const std::size_t end = text.find(close);
        if (end == std::string_view::npos)
            return "a directory part without its closing bracket";
        std::string problem = parse_directory(text.substr(1, end - 1), out);
        if (!problem.empty())
            return problem;
        text.remove_prefix(end + 1);
    }
    std::string_view version;
    if (const std::size_t semi = text.find(';'); semi != std::string_view::npos) {
        version = text.substr(semi + 1);
        text = text.substr(0, semi);
    }
    if (const std::size_t dot = text.find('.'); dot != std::string_view::npos) {
        out.name = text.substr(0, dot).empty() ? "*" : upper_text(text.substr(0, dot));
        out.type = upper_text(text.substr(dot + 1));
    } else if (!text.empty()) {
        out.name = upper_text(text);
    }
    if (out.type.find('.') != std::string::npos ||
        out.name.find_first_of("[]<>") != std::string::npos)
        return "more than one dot, or a bracket, in NAME.TYPE";
    return parse_version(version, out);
}

bool glob_match(std::string_view glob, std::string_view text)
{
    // Iterative matching with one backtrack point: linear in practice, and
    // never worse than glob length times text length.
    std::size_t g = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (g < glob.size() && glob[g] == '*') {
            star = g++;
            resume = t;
        } else if (g < glob.size() && (glob[g] == '%' || upper(glob[g]) == upper(text[t]))) {
            ++g;
            ++t;
        } else if (star != std::string_view::npos) {
            g = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob[g] == '*')
        ++g;
    return g == glob.size();
}

namespace {

bool directories_match(const pattern& p, const std::vector<std::string>& dirs)
{
    if (p.any_directory)
        return true;
    const std::size_t n = p.directories.size();
    if (dirs.size() < n || (!p.subtree && dirs.size() != n))
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (!glob_match(p.directories[i], dirs[i]))
            return false;
    return true;
}

bool version_matches(const pattern& p, const candidate& c, bool all_versions)
{
    switch (p.version) {
    case pattern::which::all:
        return true;
    case pattern::which::exact:
        return c.version == p.version_number;
    case pattern::which::newest:
        return all_versions || c.newest;
    }
    return false;
}

} // namespace

bool pattern_matches(const pattern& p, const candidate& c, bool all_versions)
{
    if (!directories_match(p, *c.directories) || !version_matches(p, c, all_versions))
        return false;
    const std::size_t dot = c.name_type.find('.');
    const std::string_view name = c.name_type.substr(0, dot);
    const std::string_view type =
        dot == std::string_view::npos ? std::string_view{} : c.name_type.substr(dot + 1);
    return glob_match(p.name, name) && glob_match(p.type, type);
}

bool may_match_below(const pattern& p, const std::vector<std::string>& directories)
{
    if (p.any_directory)
        return true;
    const std::size_t n = p.directories.size();
    if (directories.size() > n && !p.subtree)
        return false;
    for (std::size_t i = 0; i < n && i < directories.size(); ++i)
        if (!glob_match(p.directories[i], directories[i]))
            return false;
    return true;
}

} // namespace odstar

namespace odstar {

bool selection::selects(const candidate& c) const
{
    if (patterns.empty())
        return all_versions || every_version_by_default || c.newest;
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const pattern& p) { return pattern_matches(p, c, all_versions); });
}

bool selection::may_select_below(const std::vector<std::string>& directories) const
{
    if (patterns.empty())
        return true;
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const pattern& p) { return may_match_below(p, directories); });
}

} // namespace odstar
