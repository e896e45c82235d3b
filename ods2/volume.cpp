// Mounting a volume and reading its logical blocks.
#include "ods2/volume.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diag/report.hpp"
#include "ods2/walk.hpp"

volume_record volume;

namespace {

// "disk$" is dropped once; "vms" is added unless the rest already starts so.
void build_device_path(const char* name)
{
    const char* rest = std::strncmp(name, "disk$", 5) == 0 ? name + 5 : name;
    const char* prefix = std::strncmp(rest, "vms", 3) == 0 ? "" : "vms";
    std::snprintf(volume.path, sizeof volume.path, "/dev/%s%s", prefix, rest);
}

// A device that opened but whose structures could not be read is not mounted.
int unmount(const char* message)
{
    report(message, volume.path);
    ::close(volume.fd);
    volume.fd = -1;
    return 0;
}

// The device's size in blocks, as far as it tells: a regular file or a block
// device gives its size; anything else gives 0.
std::uint64_t device_size_in_blocks(int fd)
{
    const off_t end = ::lseek(fd, 0, SEEK_END);
    return end > 0 ? static_cast<std::uint64_t>(end) / BLOCK_SIZE : 0;
}

int mount_device();

// The wording of a failed read for the programs that ask for detail (their
// manuals list it); odscp never prints these.
constexpr const char* READ_PAST_END = "Read error at block %llu: past the end of the device";
constexpr const char* READ_FAILED = "Read error at block %llu: %s";
// Only the programs that open a volume by its host path print this.
constexpr const char* PATH_TOO_LONG = "Path too long (%s)";

// A block that did not come back whole: past the end of the device when the
// read came back short, else the system's error.
void report_read_error(std::uint64_t lbn, int error)
{
    const auto block_number = static_cast<unsigned long long>(lbn);
    if (!volume.detailed_read_errors)
        report("Read error");
    else if (error == 0)
        report(READ_PAST_END, block_number);
    else
        report(READ_FAILED, block_number, std::strerror(error));
}

} // namespace

std::uint16_t ibmap_vbn(const home_block& home)
{
    return get_u16_le(home.bytes, HB_IBMAP_VBN);
}

std::uint32_t ibmap_lbn(const home_block& home)
{
    return get_u32_le(home.bytes, HB_IBMAP_LBN);
}

std::uint16_t ibmap_size(const home_block& home)
{
    return get_u16_le(home.bytes, HB_IBMAP_SIZE);
}

std::uint64_t header_vbn(std::uint32_t file_number)
{
    return std::uint64_t{file_number} + ibmap_vbn(volume.home) + ibmap_size(volume.home) - 1;
}

int open_volume(const char* name)
{
    if (std::strlen(name) > MAX_DEVICE_NAME) {
        report("Device name too long (%s)", name);
        return 0;
    }
    forget_current_directory();
    build_device_path(name);
    return mount_device();
}

int open_volume_path(const char* path)
{
    if (std::strlen(path) > MAX_VOLUME_PATH) {
        report(PATH_TOO_LONG, path);
        return 0;
    }
    forget_current_directory();
    std::snprintf(volume.path, sizeof volume.path, "%s", path);
    return mount_device();
}

namespace {

// Opens volume.path and reads the three blocks every later step starts from.
int mount_device()
{
    if (volume.fd >= 0)
        ::close(volume.fd); // the volume being replaced is never read again
    volume.fd = ::open(volume.path, O_RDONLY);
    if (volume.fd < 0) {
        report("Can't open %s", volume.path);
        return 0;
    }
    volume.device_blocks = device_size_in_blocks(volume.fd);
    if (!read_lblock(HOME_LBN, volume.home.bytes))
        return unmount("Can't read homeblock on %s");
    const std::uint64_t index_lbn = std::uint64_t{ibmap_lbn(volume.home)} + ibmap_size(volume.home);
    if (!read_lblock(index_lbn, volume.index_header.bytes))
        return unmount("Can't read index file header on %s");
    if (!read_lblock(index_lbn + MFD_FILE_NUMBER - INDEX_FILE_NUMBER, volume.mfd_header.bytes))
        return unmount("Can't read mfd header on %s");
    volume.index_header.file_number = INDEX_FILE_NUMBER;
    volume.mfd_header.file_number = MFD_FILE_NUMBER;
    return 1;
}

} // namespace

int read_lblock(std::uint64_t lbn, std::span<std::uint8_t, BLOCK_SIZE> buffer)
{
    if (lbn == 0 && !volume.boot_block_readable) {
        report("Bad block in file");
        return 0;
    }
    errno = 0;
    if (read_lblocks(lbn, 1, buffer.data()) != 1) {
        report_read_error(lbn, errno);
        return 0;
    }
    return 1;
}

std::size_t read_lblocks(std::uint64_t lbn, std::size_t count, std::uint8_t* buffer)
{
    // The byte offset of the last block must fit in off_t.
    constexpr std::uint64_t lbn_limit = static_cast<std::uint64_t>(INT64_MAX) / BLOCK_SIZE;
    if (volume.fd < 0 || (lbn == 0 && !volume.boot_block_readable) || count == 0 ||
        lbn > lbn_limit - count)
        return 0;
    const auto offset = static_cast<off_t>(lbn * BLOCK_SIZE);
    const ssize_t got = ::pread(volume.fd, buffer, count * BLOCK_SIZE, offset);
    return got > 0 ? static_cast<std::size_t>(got) / BLOCK_SIZE : 0;
}

namespace {

// The home block's identification: "DECFILE11B" and blanks.
bool identified_as_files11(const block& home)
{
    const std::size_t n = sizeof HB_FORMAT_TEXT - 1;
    return std::memcmp(home.data() + HB_FORMAT, HB_FORMAT_TEXT, n) == 0;
}

// Whether the home block describes a volume that can be mounted; if not, why in message.
bool diagnose_home_block(const block& home, std::uint64_t device_blocks, char* message,
                         std::size_t size)
{
    if (!identified_as_files11(home)) {
        std::snprintf(message, size, "Not an ODS-2 volume: the home block lacks \"%s\"",
                      HB_FORMAT_TEXT);
        return false;
    }
    const std::uint16_t level = get_u16_le(home, HB_STRUCTURE_LEVEL);
    const auto major = static_cast<std::uint8_t>(level >> 8);
    if (major == STRUCTURE_LEVEL_ODS5) {
        std::snprintf(message, size, "ODS-5 volume: not supported yet");
        return false;
    }
    if (level != 0x0201 && level != 0x0202) {
        std::snprintf(message, size, "Not an ODS-2 volume: structure level 0x%04X",
                      static_cast<unsigned>(level));
        return false;
    }
    // The index file's first headers (file 1, then the MFD) follow its bitmap.
    const std::uint64_t index_lbn =
        std::uint64_t{get_u32_le(home, HB_IBMAP_LBN)} + get_u16_le(home, HB_IBMAP_SIZE);
    const std::uint64_t mfd_lbn = index_lbn + MFD_FILE_NUMBER - INDEX_FILE_NUMBER;
    if (mfd_lbn >= device_blocks) {
        std::snprintf(message, size,
                      "Device too small: %llu blocks, but the index file needs block %llu",
                      static_cast<unsigned long long>(device_blocks),
                      static_cast<unsigned long long>(mfd_lbn));
        return false;
    }
    return true;
}

bool diagnose_open_file(int fd, char* message, std::size_t size)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        std::snprintf(message, size, "Can't read: %s", std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::snprintf(message, size, "Is a directory, not a volume");
        return false;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode) && !S_ISCHR(st.st_mode)) {
        std::snprintf(message, size, "Not a regular file or device");
        return false;
    }
    const off_t end = ::lseek(fd, 0, SEEK_END);
    const std::uint64_t bytes = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    block home{};
    errno = 0;
    const ssize_t got = ::pread(fd, home.data(), BLOCK_SIZE, HOME_LBN * BLOCK_SIZE);
    if (got < 0) {
        std::snprintf(message, size, "Can't read: %s", std::strerror(errno));
        return false;
    }
    if (static_cast<std::size_t>(got) < BLOCK_SIZE) {
        std::snprintf(message, size, "Too short for a home block: %llu bytes",
                      static_cast<unsigned long long>(bytes));
        return false;
    }
    return diagnose_home_block(home, bytes / BLOCK_SIZE, message, size);
}

} // namespace

bool diagnose_volume(const char* path, char* message, std::size_t size)
{
    if (size > 0)
        message[0] = '\0';
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        std::snprintf(message, size, "Can't open: %s", std::strerror(errno));
        return false;
    }
    const bool sound = diagnose_open_file(fd, message, size);
    ::close(fd);
    return sound;
}
