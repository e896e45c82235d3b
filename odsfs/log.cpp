// Standard error as a stream of syslog lines.
#include "odsfs/log.hpp"

#include <cstdio>
#include <string>

#include <sys/types.h>
#include <syslog.h>

namespace odsfs {

namespace {

// Text written since the last newline; one syslog line per newline.
std::string partial_line;

ssize_t write_to_syslog(void*, const char* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i] != '\n') {
            partial_line += bytes[i];
            continue;
        }
        syslog(LOG_ERR, "%s", partial_line.c_str());
        partial_line.clear();
    }
    return static_cast<ssize_t>(n);
}

} // namespace

bool send_reports_to_syslog()
{
    openlog("odsfs", LOG_PID, LOG_DAEMON);
    cookie_io_functions_t functions{};
    functions.write = write_to_syslog;
    FILE* stream = fopencookie(nullptr, "w", functions);
    if (stream == nullptr)
        return false;
    setvbuf(stream, nullptr, _IOLBF, 0);
    stderr = stream;
    return true;
}

} // namespace odsfs
