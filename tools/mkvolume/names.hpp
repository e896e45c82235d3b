// The ODS-2 names that host files and directories become, and the checks that keep
// them inside the format's limits; also the volume label.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mkvolume {

inline constexpr std::size_t MAX_NAME = 9; // characters before the dot
inline constexpr std::size_t MAX_TYPE = 3; // characters after it
inline constexpr std::uint16_t MAX_VERSION = 32767;
inline constexpr std::size_t MAX_LABEL = 12; // the home block's label field

// A host file's name on the volume. error is empty when the host name fits.
struct file_name {
    std::string name_type{}; // "NAME.TYPE", upper case; the dot always there
    std::uint16_t version = 1;
    std::string error{};
};

// "notes.txt" -> NOTES.TXT;1, "README" -> README.;1, "NOTES.TXT;2" -> NOTES.TXT;2.
[[nodiscard]] file_name file_name_of(const std::string& host);

// A host directory's name on the volume (its file is NAME.DIR;1), or an error.
struct directory_name {
    std::string name{}; // upper case, no ".DIR"
    std::string error{};
};

[[nodiscard]] directory_name directory_name_of(const std::string& host);

// The volume label: 1 to 12 characters of A-Z 0-9 $ - _, upper-cased. Empty when
// the text does not fit.
[[nodiscard]] std::string label_of(const std::string& text);

} // namespace mkvolume
