// The manifest: per host path, how the file is stored (record format, carriage
// control, record and control sizes), its owner and protection, and its extents.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mkvolume {

enum class record_format {
    automatic,
    undefined,
    fixed,
    variable,
    vfc,
    stream,
    stream_lf,
    stream_cr
};
enum class carriage { automatic, none, cr, fortran, print };

struct owner_uic {
    std::uint16_t group = 1;
    std::uint16_t member = 1;
};

// How one file or directory is stored; unset fields take the defaults.
struct file_settings {
    record_format format = record_format::automatic;
    carriage control = carriage::automatic;
    std::optional<std::uint16_t> record_size{}; // size=, format=fixed only
    std::optional<std::uint8_t> vfc_size{};     // vfc=, format=vfc only
    std::optional<owner_uic> owner{};
    std::optional<std::uint16_t> protection{};
    std::uint32_t extents = 0; // 0: one, contiguous
    std::uint32_t headers = 0; // 0: as many as the map needs
    std::string where{};       // "manifest:line"
    bool only_owner_and_protection() const;
};

inline constexpr std::uint32_t MAX_EXTENTS = 10000;
inline constexpr std::uint32_t MAX_HEADERS = 1000;
inline constexpr std::uint32_t POINTERS_PER_HEADER = 38; // 4-word pointers from word 100

// "[g,m]", both octal, each at most 177777. Empty optional when the text is not one.
[[nodiscard]] std::optional<owner_uic> owner_of(const std::string& text);
// "(S,O,G,W)", each a set of the letters R W E D: the header's protection word, in
// which a set bit denies. Empty optional when the text is not one.
[[nodiscard]] std::optional<std::uint16_t> protection_of(const std::string& text);

// Reads the manifest at path: settings by the host path below the source directory
// (no trailing '/'). Every bad line adds "path:line: reason" to problems.
[[nodiscard]] std::map<std::string, file_settings>
read_manifest(const std::string& path, std::vector<std::string>& problems);

// Parses one manifest's text; name is used in the messages.
[[nodiscard]] std::map<std::string, file_settings>
parse_manifest(const std::string& name, const std::string& text,
               std::vector<std::string>& problems);

} // namespace mkvolume
