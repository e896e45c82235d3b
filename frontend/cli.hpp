// The command line: option letters and the per-argument work; it hands on
// the run-wide options and the diagnostic writer.
#pragma once

#include "diag/report.hpp"
#include "frontend/options.hpp"

// Writes the usage line with the program name as invoked and exits with status 255.
[[noreturn]] void show_usage();

namespace odscp {
// The text after the last "/" of path, or path itself; points into path. (In a
// namespace of its own: the C library declares a function of the same name.)
[[nodiscard]] const char* basename(const char* path);
} // namespace odscp

// Applies the option letters of the current argument.
void parse_options();

// Handles the current argument as one file specification.
void process_filespec();
