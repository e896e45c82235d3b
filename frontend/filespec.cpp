// File specification parsing, in place in the filespec buffer, and the lookup key.
#include "frontend/filespec.hpp"

#include <cstring>

#include "diag/report.hpp"

filespec_record filespec;

bool is_name_char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '$' ||
           c == '-' || c == '_';
}

char to_upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

namespace {

void report_bad_syntax()
{
    report("Bad filename syntax");
}

[[nodiscard]] int syntax_error()
{
    report_bad_syntax();
    return 0;
}

// "[" where an item begins: the directory runs to "]" and is upper-cased in place.
// Returns the character after the "]", or nullptr after reporting.
[[nodiscard]] char* parse_directory(char* p)
{
    if (filespec.flags & (FS_DIRECTORY | FS_NAME | FS_TYPE | FS_VERSION)) {
        report_bad_syntax();
        return nullptr;
    }
    char* text = ++p;
    for (; *p != ']'; ++p) {
        if (*p == '\0') {
            report_bad_syntax();
            return nullptr;
        }
        *p = to_upper(*p);
    }
    *p = '\0';
    filespec.directory = text;
    filespec.flags |= FS_DIRECTORY;
    return p + 1;
}

// A word ended by "." ";" or NUL fills the first of name, type and version
// still absent. ";" right after a name also stands for an empty type.
[[nodiscard]] int take_word(const char* word, char terminator)
{
    if (!(filespec.flags & FS_NAME)) {
        if (*word == '\0') {
            report("Filename missing");
            return 0;
        }
        filespec.name = word;
        filespec.flags |= FS_NAME;
        if (terminator == ';') {
            filespec.type = "";
            filespec.flags |= FS_TYPE;
        }
    } else if (!(filespec.flags & FS_TYPE)) {
        filespec.type = word;
        filespec.flags |= FS_TYPE;
    } else if (!(filespec.flags & FS_VERSION)) {
        filespec.version = word;
        filespec.flags |= FS_VERSION;
    } else {
        return syntax_error();
    }
    return 1;
}

} // namespace

int parse_filespec()
{
    filespec.flags = 0;
    char* p = filespec.buffer;
    for (;;) {
        if (*p == '[') {
            p = parse_directory(p);
            if (p == nullptr)
                return 0;
            continue;
        }
        if (*p == '\0')
            return 1;
        char* word = p;
        while (is_name_char(*p))
            ++p;
        const char terminator = *p;
        if (terminator == ':') {
            if (filespec.flags != 0)
                return syntax_error();
            filespec.device = word;
            filespec.flags |= FS_DEVICE;
        } else if (terminator == '.' || terminator == ';' || terminator == '\0') {
            *p = '\0';
            if (!take_word(word, terminator))
                return 0;
            if (terminator == '\0')
                return 1;
        } else {
            return syntax_error();
        }
        *p++ = '\0';
    }
}

int make_key(const char* name, const char* type, const char* version, lookup_key& key)
{
    const std::size_t name_length = std::strlen(name);
    const std::size_t type_length = std::strlen(type);
    if (name_length > MAX_NAME) {
        report("Filename longer than 9 characters");
        return 0;
    }
    if (type_length > MAX_TYPE) {
        report("File type longer than 3 characters");
        return 0;
    }
    char* out = key.text;
    for (const char* p = name; *p != '\0'; ++p)
        *out++ = to_upper(*p);
    *out++ = '.';
    for (const char* p = type; *p != '\0'; ++p)
        *out++ = to_upper(*p);
    *out = '\0';
    std::uint32_t number = 0;
    for (const char* p = version; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            report("Non-digit in version number");
            return 0;
        }
        number = (number * 10 + static_cast<std::uint32_t>(*p - '0')) & 0xFFFFu;
    }
    key.version = static_cast<std::uint16_t>(number);
    return 1;
}
