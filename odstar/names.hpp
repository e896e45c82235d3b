// Names read from the volume made safe to show and to create: escaped for a
// terminal, escaped for JSON, and checked before they become host names.
#pragma once

#include <string>
#include <string_view>

namespace odstar {

// The bytes as ls -b shows them: printable ASCII as it is, a backslash doubled,
// every other byte (controls, DEL, bytes above 127) as \ooo.
[[nodiscard]] std::string terminal_text(std::string_view bytes);

// The bytes as a JSON string's contents: quote, backslash and controls escaped,
// bytes above 127 that are not UTF-8 as \u00XX (the byte's value), so that the
// line stays valid JSON whatever the volume holds.
[[nodiscard]] std::string json_text(std::string_view bytes);

// Why a name from the volume cannot be a host file or directory name: it holds
// a slash or a NUL, is empty, "." or "..". Empty when it can.
[[nodiscard]] std::string unsafe_name_reason(std::string_view name);

// The host name of a VMS NAME.TYPE: as stored, or lower-cased (A-Z only); an
// empty type loses its dot ("README." gives "README").
[[nodiscard]] std::string host_file_name(std::string_view name_type, bool lower);

// The host name of a directory file's entry NAME.DIR: NAME, as stored or lower-cased.
[[nodiscard]] std::string host_directory_name(std::string_view name_type, bool lower);

// The directory's name part of NAME.DIR (everything before the last dot).
[[nodiscard]] std::string_view directory_part(std::string_view name_type);

} // namespace odstar
