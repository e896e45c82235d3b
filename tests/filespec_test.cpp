// File specification parsing and key making, on the run-wide filespec record.
#include "frontend/filespec.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "diag/report.hpp"

namespace {

char arg_text[MAX_FILESPEC + 1];
char* arg_vector[] = {arg_text, nullptr};

struct parsed {
    int ok = 0;
    std::int32_t flags = 0;
    std::string err;
};

// Parses text as the current argument; the diagnostic prefix is the text itself.
parsed parse(const char* text)
{
    std::strncpy(arg_text, text, MAX_FILESPEC);
    current_arg = arg_vector;
    std::strcpy(filespec.buffer, text);
    testing::internal::CaptureStderr();
    parsed p;
    p.ok = parse_filespec();
    p.flags = filespec.flags;
    p.err = testing::internal::GetCapturedStderr();
    return p;
}

constexpr std::int32_t D = FS_DEVICE, R = FS_DIRECTORY, N = FS_NAME, T = FS_TYPE, V = FS_VERSION;

} // namespace

TEST(parse_filespec, splits_items_and_sets_presence_bits)
{
    struct {
        const char* input;
        std::int32_t flags;
        const char *device, *directory, *name, *type, *version;
    } cases[] = {
        {"disk$users:[mail.archive]notes.txt;2", D | R | N | T | V, "disk$users", "MAIL.ARCHIVE",
         "notes", "txt", "2"},
        {"[mail]notes.txt", R | N | T, nullptr, "MAIL", "notes", "txt", nullptr},
        {"notes", N, nullptr, nullptr, "notes", nullptr, nullptr},
        {"notes.", N, nullptr, nullptr, "notes", nullptr, nullptr},
        {"notes;", N | T, nullptr, nullptr, "notes", "", nullptr},
        {"notes;5", N | T | V, nullptr, nullptr, "notes", "", "5"},
        {"notes.txt.5", N | T | V, nullptr, nullptr, "notes", "txt", "5"},
        {"notes..7", N | T | V, nullptr, nullptr, "notes", "", "7"},
        {"Notes.Txt;2", N | T | V, nullptr, nullptr, "Notes", "Txt", "2"},
        {"dev:", D, "dev", nullptr, nullptr, nullptr, nullptr},
        {":notes", D | N, "", nullptr, "notes", nullptr, nullptr},
        {"[]", R, nullptr, "", nullptr, nullptr, nullptr},
        {"[a b]", R, nullptr, "A B", nullptr, nullptr, nullptr},
        {"[x.y$-z_9]", R, nullptr, "X.Y$-Z_9", nullptr, nullptr, nullptr},
        {"", 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const parsed p = parse(c.input);
        ASSERT_EQ(p.ok, 1);
        EXPECT_EQ(p.err, "");
        EXPECT_EQ(p.flags, c.flags);
        if (c.device) {
            EXPECT_STREQ(filespec.device, c.device);
        }
        if (c.directory) {
            EXPECT_STREQ(filespec.directory, c.directory);
        }
        if (c.name) {
            EXPECT_STREQ(filespec.name, c.name);
        }
        if (c.type) {
            EXPECT_STREQ(filespec.type, c.type);
        }
        if (c.version) {
            EXPECT_STREQ(filespec.version, c.version);
        }
    }
}

TEST(parse_filespec, refuses_bad_syntax_with_one_message)
{
    struct {
        const char* input;
        const char* message;
    } cases[] = {
        {".txt", "Filename missing"},
        {";5", "Filename missing"},
        {"[a].x", "Filename missing"},
        {"a:b:c", "Bad filename syntax"},
        {"[a][b]", "Bad filename syntax"},
        {"[a]:x", "Bad filename syntax"},
        {"[mail]dev:x", "Bad filename syntax"},
        {"notes[a]", "Bad filename syntax"},
        {"notes.txt[a]", "Bad filename syntax"},
        {"[a", "Bad filename syntax"},
        {"notes txt", "Bad filename syntax"},
        {"a.b.c.d", "Bad filename syntax"},
        {"a.b;c;d", "Bad filename syntax"},
        {"x/y", "Bad filename syntax"},
        {"n%.txt", "Bad filename syntax"},
        {"a]", "Bad filename syntax"},
        {"caf\xc3\xa9.txt", "Bad filename syntax"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const parsed p = parse(c.input);
        EXPECT_EQ(p.ok, 0);
        EXPECT_EQ(p.err, std::string(c.input) + " -- " + c.message + "\n");
    }
}

TEST(make_key, builds_upper_case_text_and_version)
{
    struct {
        const char *name, *type, *version;
        const char* text;
        std::uint16_t key_version;
    } cases[] = {
        {"notes", "txt", "2", "NOTES.TXT", 2},
        {"notes", "", "", "NOTES.", 0},
        {"Notes", "Txt", "", "NOTES.TXT", 0},
        {"notes", "txt", "007", "NOTES.TXT", 7},
        {"notes", "txt", "65537", "NOTES.TXT", 1},
        {"notes", "txt", "65536", "NOTES.TXT", 0},
        {"abcdefghi", "xyz", "65535", "ABCDEFGHI.XYZ", 65535},
        {"a$-_9", "d", "99999999999", "A$-_9.D", static_cast<std::uint16_t>(99999999999 % 65536)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        current_arg = arg_vector;
        lookup_key key;
        ASSERT_EQ(make_key(c.name, c.type, c.version, key), 1);
        EXPECT_STREQ(key.text, c.text);
        EXPECT_EQ(key.version, c.key_version);
    }
}

TEST(make_key, reports_the_first_failing_check)
{
    struct {
        const char *name, *type, *version, *message;
    } cases[] = {
        {"abcdefghij", "text", "x", "Filename longer than 9 characters"},
        {"abc", "text", "x", "File type longer than 3 characters"},
        {"notes", "txt", "-1", "Non-digit in version number"},
        {"notes", "txt", "abc", "Non-digit in version number"},
        {"notes", "txt", "1 ", "Non-digit in version number"},
    };
    std::strcpy(arg_text, "arg");
    current_arg = arg_vector;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        lookup_key key;
        testing::internal::CaptureStderr();
        EXPECT_EQ(make_key(c.name, c.type, c.version, key), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("arg -- ") + c.message + "\n");
    }
}
