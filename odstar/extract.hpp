// Extracting the volume into a host directory: VMS directories as host
// directories, files written under a temporary name and renamed into place.
#pragma once

#include "odstar/options.hpp"
#include "odstar/pattern.hpp"

namespace odstar {

// Extracts the mounted volume below opts.output_dir; the exit status.
[[nodiscard]] int extract_volume(const run_options& opts, const selection& chosen);

} // namespace odstar
