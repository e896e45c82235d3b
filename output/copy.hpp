// The output stream and the copy modes: text, image, blocks (binary is refused).
#pragma once

#include <cstdio>

// Where a copy goes: standard output or the host file open_output opened.
extern std::FILE* output_stream;

// Gives standard output a large buffer when it is not a terminal; called once
// before anything is written.
void prepare_standard_output();

// Sets output_stream to standard output or to the host file NAME.TYPE, opened
// with the caller's own ids. 1, or 0 after reporting.
[[nodiscard]] int open_output();

// Whether the caller may open path for writing: an existing writable file, or
// a new file in a writable working directory. Reports and creates nothing.
[[nodiscard]] int can_write(const char* path);

// Copies target_header's file to output_stream in the current mode. 0 after
// reporting a refusal or a write error; 1 otherwise, also when cut short.
[[nodiscard]] int copy_file();
