// Listing the volume: one line a file, the long format, or one JSON object a file.
#pragma once

#include "odstar/options.hpp"
#include "odstar/pattern.hpp"

namespace odstar {

// Lists the mounted volume to standard output; the exit status.
[[nodiscard]] int list_volume(const run_options& opts, const selection& chosen);

} // namespace odstar
