// Resolution of one file specification against the mounted volume and the
// current directory, both carried over from earlier file specifications.
#include "frontend/resolve.hpp"

#include <cstring>

#include "diag/report.hpp"
#include "frontend/filespec.hpp"
#include "frontend/options.hpp"
#include "ods2/directory.hpp"
#include "ods2/volume.hpp"
#include "ods2/walk.hpp"

std::int32_t filespec_count = 0;
file_header target_header;

namespace {

// Mounting another volume forgets the current directory, which belongs to the
// volume mounted before; a name too long for a device changes nothing.
[[nodiscard]] int mount_volume(const char* name)
{
    if (std::strlen(name) <= MAX_DEVICE_NAME)
        forget_current_directory();
    return open_volume(name);
}

// A named device is mounted now; the default device only for the first
// file specification of the run. Otherwise the volume mounted last stays in use.
[[nodiscard]] int mount_named_volume()
{
    if (filespec.flags & FS_DEVICE)
        return mount_volume(filespec.device);
    if (filespec_count == 1)
        return mount_volume(DEFAULT_DEVICE);
    return 1;
}

// A named directory is walked from the MFD; a device named without one makes
// the MFD current. A file specification naming neither keeps the current directory.
[[nodiscard]] int enter_named_directory()
{
    if (filespec.flags & FS_DIRECTORY)
        return walk_directory();
    if (filespec.flags & FS_DEVICE)
        return enter_master_directory();
    return 1;
}

[[nodiscard]] int check_listing()
{
    if (filespec.flags & (FS_NAME | FS_TYPE | FS_VERSION)) {
        report("Invalid directory specification");
        return 0;
    }
    return 1;
}

[[nodiscard]] int find_target_file()
{
    if (!(filespec.flags & FS_NAME)) {
        report("Filename missing");
        return 0;
    }
    if (!(filespec.flags & FS_TYPE))
        filespec.type = "";
    if (!(filespec.flags & FS_VERSION))
        filespec.version = "";
    lookup_key key;
    if (!make_key(filespec.name, filespec.type, filespec.version, key))
        return 0;
    const std::uint32_t n = find_entry(current_dir, key);
    if (n == 0) {
        report("File does not exist");
        return 0;
    }
    const int r = get_file_header(n, target_header);
    if (r < 0) {
        report("No access privilege for file");
        return 0;
    }
    if (r == 0) {
        report("Can't get file header for file");
        return 0;
    }
    return 1;
}

} // namespace

int resolve_filespec()
{
    ++filespec_count;
    if (!parse_filespec() || !mount_named_volume())
        return 0;
    if (volume.fd < 0) {
        report("No device specified");
        return 0;
    }
    if (!enter_named_directory())
        return 0;
    if (!dir_resolved) {
        report("No directory specified");
        return 0;
    }
    return options.list_count != 0 ? check_listing() : find_target_file();
}
