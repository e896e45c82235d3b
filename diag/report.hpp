// The one diagnostic writer and what it prefixes every line with: the subject
// of the work in progress (odscp: the argument as typed; a companion program:
// the file it is working on), a separator, the message.
#pragma once

#include <cstdint>

// The argument or file being worked on; its text prefixes every diagnostic line.
extern char* const* current_arg;

// What stands between the subject and the message: " -- " unless a program
// sets its own.
extern const char* report_separator;

// Written before the subject of every line: "" unless a program that keeps a
// line of its own on the terminal (a progress display) sets a sequence that
// clears it.
extern const char* report_line_prefix;

// Lines written by report since the program started, for a program that turns
// failures into its exit status.
extern std::uint64_t report_count;

// Makes subject the prefix of the lines that follow, in place of current_arg's
// element; the text is used, not copied, and must outlive its use.
void set_report_subject(const char* subject);

// One diagnostic line on standard error: the subject, the separator, the message.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));
