// Fuzz target: the input is one command-line argument. An option argument goes
// through the option letters; a file specification through the length rule,
// parsing and key making, as process_filespec and the resolution take it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "frontend/cli.hpp"
#include "frontend/filespec.hpp"

namespace {

// The key a copy looks up: absent type and version count as empty.
void make_copy_key()
{
    if (!(filespec.flags & FS_NAME))
        return;
    const char* type = (filespec.flags & FS_TYPE) ? filespec.type : "";
    const char* version = (filespec.flags & FS_VERSION) ? filespec.version : "";
    lookup_key key;
    // Only the key making is exercised; whether it succeeded does not matter here.
    static_cast<void>(make_key(filespec.name, type, version, key));
}

// process_filespec up to the point where it would open a device.
void take_filespec(const char* arg)
{
    const std::size_t length = ::strnlen(arg, MAX_FILESPEC + 1);
    if (length > MAX_FILESPEC) {
        report("Filespec too long");
        return;
    }
    std::memcpy(filespec.buffer, arg, length + 1);
    if (parse_filespec())
        make_copy_key();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An argument ends at its first NUL; its bytes lie in a buffer of exactly that size.
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t length = end ? static_cast<std::size_t>(end - data) : size;
    const auto text = std::make_unique<char[]>(length + 1);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';
    char* slot[] = {text.get(), nullptr};
    current_arg = slot;
    filespec = {};
    options = {};
    if (text[0] == '-')
        parse_options();
    else
        take_filespec(text.get());
    current_arg = nullptr;
    return 0;
}
