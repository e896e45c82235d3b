// File specification patterns in VMS syntax, matched case-insensitively
// against the files a walk of the volume meets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace odstar {

// [DIR.SUB]NAME.TYPE;VERSION with % (one character) and * (any run) in every
// part. The directory part: absent matches every directory; [000000] the MFD;
// a trailing "..." ([...], [A...], [A.B...]) that directory and all below it.
// A missing name or type is *; a missing version (or ;0) the newest, ;* every
// version, ;N version N. A device ("DKA0:") before the directory is ignored.
struct pattern {
    bool any_directory = true;
    std::vector<std::string> directories{}; // upper case
    bool subtree = false;
    std::string name = "*";
    std::string type = "*";
    enum class which { newest, all, exact } version = which::newest;
    std::uint16_t version_number = 0;
};

// Parses text; empty when it is a pattern, else what is wrong with it.
[[nodiscard]] std::string parse_pattern(std::string_view text, pattern& out);

// True when text matches glob (% one character, * any), case-insensitively.
[[nodiscard]] bool glob_match(std::string_view glob, std::string_view text);

// What a pattern is matched against.
struct candidate {
    const std::vector<std::string>* directories = nullptr; // as stored, from the MFD down
    std::string_view name_type{};                          // NAME.TYPE as stored
    std::uint16_t version = 0;
    bool newest = false; // the highest version of its name in the directory
};

// all_versions makes a pattern without a version match every version.
[[nodiscard]] bool pattern_matches(const pattern& p, const candidate& c, bool all_versions);

// Whether a directory's contents can hold a match: the walk does not enter a
// directory no pattern can match in or below.
[[nodiscard]] bool may_match_below(const pattern& p, const std::vector<std::string>& directories);

} // namespace odstar

namespace odstar {

// The patterns of one run. Without patterns every file is selected: in a
// listing every version, in an extraction the newest unless all_versions.
struct selection {
    std::vector<pattern> patterns{};
    bool all_versions = false;
    bool every_version_by_default = false;

    [[nodiscard]] bool selects(const candidate& c) const;
    [[nodiscard]] bool may_select_below(const std::vector<std::string>& directories) const;
};

} // namespace odstar
