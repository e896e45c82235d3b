// The diagnostic line: subject, separator, message, newline, on standard error.
#include "diag/report.hpp"

#include <cstdarg>
#include <cstdio>

char* const* current_arg = nullptr;
const char* report_separator = " -- ";
const char* report_line_prefix = "";
std::uint64_t report_count = 0;

namespace {

// The subject a program set; report only reads through it.
char* subject_slot[1] = {nullptr};

} // namespace

void set_report_subject(const char* subject)
{
    subject_slot[0] = const_cast<char*>(subject);
    current_arg = subject_slot;
}

void report(const char* format, ...)
{
    const char* subject = current_arg != nullptr && *current_arg != nullptr ? *current_arg : "";
    std::fprintf(stderr, "%s%s%s", report_line_prefix, subject, report_separator);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    ++report_count;
}
