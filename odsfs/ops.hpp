// The FUSE operations of odsfs: a read-only tree over the mounted volume.
#pragma once

#include <fuse_lowlevel.h>

namespace odsfs {

// The operation table handed to the FUSE session; every change is refused
// with EROFS.
[[nodiscard]] const fuse_lowlevel_ops& operations();

} // namespace odsfs
