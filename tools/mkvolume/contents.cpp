// The rule that tells text from bytes, and the split of text into records.
#include "mkvolume/contents.hpp"

namespace mkvolume {

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

} // namespace mkvolume
